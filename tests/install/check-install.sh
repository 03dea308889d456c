#!/usr/bin/env bash
# Installs ZoLib as a user would and uses it from outside the source tree:
#   - a shared and a static Release build, configured for one prefix, are both
#     installed into another, which is then moved: everything must work from
#     where it ends up;
#   - a consumer is built and run with g++ and with clang++, through
#     find_package(ZoLib) and through pkg-config, against each library kind;
#   - the README's "Using the library" commands run exactly as written;
#   - the installed zobag runs, its man page, the licence and the HTML
#     reference are installed, and the reference's main page links resolve;
#   - libzolib.so exports exactly tests/install/symbols.txt;
#   - `cpack -G DEB` makes the runtime and development packages, whose
#     contents are checked and which, unpacked, build a consumer.
# Prints "N passed, M failed"; exits non-zero when anything failed.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
here="$root/tests/install"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
jobs=$(nproc)
passed=0
failed=0

check() {
    local what="$1"; shift
    if "$@" >"$work/$what.log" 2>&1; then
        passed=$((passed + 1)); echo "install: $what ok"
    else
        failed=$((failed + 1)); echo "install: $what FAILED"; tail -n 40 "$work/$what.log"
    fi
}

# ---- build and install: shared and static into one prefix, then moved ----
configured="$work/configured-prefix"   # never created: nothing may point here
common=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DZOLIB_BUILD_TESTS=OFF -DZOLIB_BUILD_EXAMPLES=OFF
        -DCMAKE_INSTALL_PREFIX="$configured")
cmake -S "$root" -B "$work/shared" "${common[@]}" -DZOLIB_BUILD_TOOLS=ON >/dev/null
cmake --build "$work/shared" -j "$jobs" >/dev/null
if command -v doxygen >/dev/null; then
    cmake --build "$work/shared" --target docs >"$work/docs-build.log" 2>&1
fi
cmake -S "$root" -B "$work/static" "${common[@]}" -DZOLIB_BUILD_TOOLS=OFF -DZOLIB_BUILD_SHARED=OFF >/dev/null
cmake --build "$work/static" -j "$jobs" >/dev/null
cmake --install "$work/shared" --prefix "$work/staged" >/dev/null
cmake --install "$work/static" --prefix "$work/staged" >/dev/null
mkdir -p "$work/moved"
mv "$work/staged" "$work/moved/zolib"
prefix="$work/moved/zolib"
libdir="$prefix/lib"

check layout bash -c "
    cd '$prefix' && for f in lib/libzolib.a lib/cmake/ZoLib/ZoLibConfig.cmake \
        lib/cmake/ZoLib/zolib-shared-targets.cmake lib/cmake/ZoLib/zolib-static-targets.cmake \
        lib/pkgconfig/zolib.pc lib/pkgconfig/zolib-static.pc include/zolib/ZoLib.h \
        share/doc/ZoLib/LICENSE share/man/man1/zobag.1; do
        [[ -f \$f ]] || { echo \"missing \$f\"; exit 1; }
    done
    objdump -p lib/libzolib.so | grep -q 'SONAME *libzolib.so.0.0$'
    ! grep -rl '$configured\|$work/staged' lib share"

# ---- consumers: {g++, clang++} x {shared, static} x {find_package, pkg-config} ----
# Neither build names a language level for the compiler: the CMake target and
# the reader of the README (-std=c++17 with pkg-config) supply it.
consume() {  # compiler kind way
    local cxx="$1" kind="$2" way="$3" dir="$work/consumer-$1-$2-$3"
    local static=OFF module=zolib
    [[ $kind == static ]] && static=ON && module=zolib-static
    if [[ $way == cmake ]]; then
        CXX="$cxx" cmake -S "$here/consumer" -B "$dir" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" \
            -DZoLib_USE_STATIC_LIBS=$static
        cmake --build "$dir" -v
    else
        mkdir -p "$dir"
        PKG_CONFIG_PATH="$libdir/pkgconfig" bash -c "$cxx -std=c++17 '$here/consumer/consumer.cpp' \
            -o '$dir/consumer' \$(pkg-config --cflags --libs $module) -Wl,-rpath,'$libdir'"
    fi
    env -u LD_LIBRARY_PATH "$dir/consumer"
    if [[ $kind == shared ]]; then
        readelf -d "$dir/consumer" | grep -q 'NEEDED.*libzolib.so.0.0'
    else
        ! readelf -d "$dir/consumer" | grep -q 'libzolib'
    fi
}
for cxx in g++ clang++; do
    for kind in shared static; do
        for way in cmake pkg-config; do
            check "consumer-$cxx-$kind-$way" consume "$cxx" "$kind" "$way"
        done
    done
done

# A component that is not installed fails find_package, saying which.
missing_component() {
    mkdir -p "$work/component"
    printf 'cmake_minimum_required(VERSION 3.25)\nproject(c CXX)\n%s\n' \
        'find_package(ZoLib CONFIG REQUIRED COMPONENTS nosuch)' >"$work/component/CMakeLists.txt"
    ! cmake -S "$work/component" -B "$work/component/build" -DCMAKE_PREFIX_PATH="$prefix" \
        >"$work/component.out" 2>&1
    grep -q 'component nosuch (shared library zolib_nosuch) is not installed' "$work/component.out"
}
check missing-component missing_component

# The optional libraries as components, each kind through find_package and the
# shared one through pkg-config: a bag to JSON, and (when built) a NATS link
# that finds no server on a closed port.
components() {  # kind
    local dir="$work/components-$1" static=OFF comps=json modules=zolib_json
    [[ $1 == static ]] && static=ON
    [[ -f $libdir/cmake/ZoLib/zolib_nats-$1-targets.cmake ]] && comps="json nats"
    mkdir -p "$dir"
    cat >"$dir/app.cpp" <<'CPP'
#include <zolib/ZoLib.h>
#include <zolib/json/BagJson.h>
#ifdef WITH_NATS
#include <zolib/nats/NatsLink.h>
#endif
#include <string>
int main() {
    ZoBag bag;
    bag.Setint32("n", 7, 0);
    std::string json;
    if (!ZoBagToJson(&bag, 0, &json) || json.find("\"n\"") == std::string::npos) return 1;
#ifdef WITH_NATS
    ZoNatsLink link("nats://127.0.0.1:1");
    if (link.InitCheck()) return 2;
#endif
    return 0;
}
CPP
    local libs="ZoLib::zolib_json" defs=""
    [[ $comps == *nats* ]] && libs+=" ZoLib::zolib_nats" && defs="WITH_NATS"
    printf 'cmake_minimum_required(VERSION 3.25)\nproject(c CXX)\n%s\nadd_executable(app app.cpp)\n%s\n%s\n' \
        "find_package(ZoLib CONFIG REQUIRED COMPONENTS $comps)" \
        "target_link_libraries(app PRIVATE ZoLib::zolib $libs)" \
        "target_compile_definitions(app PRIVATE $defs)" >"$dir/CMakeLists.txt"
    cmake -S "$dir" -B "$dir/build" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" -DZoLib_USE_STATIC_LIBS=$static
    cmake --build "$dir/build"
    env -u LD_LIBRARY_PATH "$dir/build/app"
    [[ $1 == static ]] && return 0
    [[ $comps == *nats* ]] && modules+=" zolib_nats"
    PKG_CONFIG_PATH="$libdir/pkgconfig" bash -c "g++ -std=c++17 ${defs:+-D$defs} '$dir/app.cpp' \
        -o '$dir/app-pc' \$(pkg-config --cflags --libs $modules) -Wl,-rpath,'$libdir'"
    env -u LD_LIBRARY_PATH "$dir/app-pc"
}
check components-shared components shared
check components-static components static

# ---- the README's "Using the library", as written, with each compiler ----
readme() {  # compiler
    local dir="$work/readme-$1"
    mkdir -p "$dir/bin"
    ln -s "$(command -v "$1")" "$dir/bin/c++"
    cp "$here/consumer/consumer.cpp" "$dir/app.cpp"
    local section
    section="$(sed -n '/^## Using the library/,/^## [^U]/p' "$root/README.md")"
    awk '/^```cmake/ {on = 1; next} /^```/ {on = 0} on' <<<"$section" >"$dir/CMakeLists.txt"
    awk '/^```sh/ {on = 1; next} /^```/ {on = 0} on' <<<"$section" |
        sed "s|^prefix=.*|prefix='$prefix'|" >"$dir/commands.sh"
    [[ -s $dir/CMakeLists.txt && -s $dir/commands.sh ]]
    cat "$dir/commands.sh"
    (cd "$dir" && env -u LD_LIBRARY_PATH PATH="$dir/bin:$PATH" CXX="$1" bash -euo pipefail commands.sh)
}
check readme-g++ readme g++
check readme-clang++ readme clang++

check zobag bash -c "
    printf '{\"what\": 7, \"items\": [{\"name\": \"n\", \"type\": \"int32\", \"values\": [1]}]}' \
        >'$work/in.json' &&
    env -u LD_LIBRARY_PATH '$prefix/bin/zobag' from-json '$work/in.json' '$work/a.bag' &&
    env -u LD_LIBRARY_PATH '$prefix/bin/zobag' print '$work/a.bag' | grep -q \"Item 'n' had 1\" &&
    grep -q '^\.SH NAME' '$prefix/share/man/man1/zobag.1'"

check symbols "$here/check-symbols.sh" "$libdir/libzolib.so"

if command -v doxygen >/dev/null; then
    check html-reference "$here/check-docs.sh" "$prefix/share/doc/ZoLib/html"
fi

# ---- Debian packages ----
debs() {
    (cd "$work/shared" && cpack -G DEB)
    local runtime dev
    runtime="$(ls "$work/shared"/libzolib0.0_*.deb)"
    dev="$(ls "$work/shared"/libzolib-dev_*.deb)"
    dpkg-deb -c "$runtime" | awk '{print $6}' >"$work/runtime.list"
    dpkg-deb -c "$dev" | awk '{print $6}' >"$work/dev.list"
    for f in ./usr/lib/libzolib.so.0.0.5 ./usr/lib/libzolib.so.0.0 ./usr/share/doc/ZoLib/LICENSE; do
        grep -qx "$f" "$work/runtime.list" || { echo "runtime package lacks $f"; return 1; }
    done
    for f in ./usr/lib/libzolib.so ./usr/include/zolib/ZoLib.h ./usr/lib/cmake/ZoLib/ZoLibConfig.cmake \
        ./usr/lib/cmake/ZoLib/zolib-shared-targets.cmake ./usr/lib/pkgconfig/zolib.pc ./usr/bin/zobag \
        ./usr/share/man/man1/zobag.1; do
        grep -qx "$f" "$work/dev.list" || { echo "development package lacks $f"; return 1; }
    done
    if grep -q 'include/\|cmake/\|pkgconfig/\|bin/' "$work/runtime.list"; then
        echo "runtime package holds development files"; return 1
    fi
    dpkg-deb -f "$dev" Depends | grep -q 'libzolib0.0 (= 0.0.5)'
    # Unpacked into a scratch root, the packages build and run a program.
    dpkg-deb -x "$runtime" "$work/root"
    dpkg-deb -x "$dev" "$work/root"
    objdump -p "$work/root/usr/lib/libzolib.so.0.0.5" | grep -q 'SONAME *libzolib.so.0.0$'
    PKG_CONFIG_PATH="$work/root/usr/lib/pkgconfig" bash -c "c++ -std=c++17 \
        '$here/consumer/consumer.cpp' -o '$work/deb-consumer' \$(pkg-config --cflags --libs zolib)"
    LD_LIBRARY_PATH="$work/root/usr/lib" "$work/deb-consumer"
}
check debian-packages debs

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
