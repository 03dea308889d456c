#!/usr/bin/env bash
# Installs a release build into a scratch prefix, then builds and runs a tiny
# consumer against it twice: through find_package(ZoLib) and through pkg-config,
# and runs the installed zobag tool.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

check() {
    local what="$1"; shift
    if "$@" >"$work/$what.log" 2>&1; then
        passed=$((passed + 1)); echo "install: $what ok"
    else
        failed=$((failed + 1)); echo "install: $what FAILED"; cat "$work/$what.log"
    fi
}

cmake -S "$root" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOLIB_BUILD_TESTS=OFF \
    -DZOLIB_BUILD_EXAMPLES=OFF -DZOLIB_BUILD_TOOLS=ON -DCMAKE_INSTALL_PREFIX="$work/prefix" >/dev/null
cmake --build "$work/build" -j "$(nproc)" >/dev/null
cmake --install "$work/build" >/dev/null

consumer="$root/tests/install/consumer"
check cmake-package bash -c "
    cmake -S '$consumer' -B '$work/cmake-consumer' -G Ninja -DCMAKE_PREFIX_PATH='$work/prefix' &&
    cmake --build '$work/cmake-consumer' &&
    '$work/cmake-consumer/consumer'"
check pkg-config bash -c "
    export PKG_CONFIG_PATH='$work/prefix/lib/pkgconfig:$work/prefix/lib/x86_64-linux-gnu/pkgconfig' &&
    c++ -std=c++17 '$consumer/consumer.cpp' -o '$work/pc-consumer' \$(pkg-config --cflags --libs zolib) \
        -Wl,-rpath,\$(pkg-config --variable=libdir zolib) &&
    '$work/pc-consumer'"
check zobag bash -c "
    printf '{\"what\": 7, \"items\": [{\"name\": \"n\", \"type\": \"int32\", \"values\": [1]}]}' \
        >'$work/in.json' &&
    env -u LD_LIBRARY_PATH '$work/prefix/bin/zobag' from-json '$work/in.json' '$work/a.bag' &&
    env -u LD_LIBRARY_PATH '$work/prefix/bin/zobag' print '$work/a.bag' | grep -q \"Item 'n' had 1\""
check soname bash -c "objdump -p '$work'/prefix/lib*/libzolib.so* 2>/dev/null | grep -q 'SONAME.*libzolib.so.0.0' ||
    objdump -p \$(ls '$work'/prefix/lib*/*/libzolib.so 2>/dev/null) | grep -q 'SONAME.*libzolib.so.0.0'"

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
