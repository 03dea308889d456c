#!/usr/bin/env bash
# Builds ZoLib for another architecture and runs it under qemu-user.
#
#   scripts/cross.sh ARCH                  builds the library, tools and tests for ARCH and runs
#                                          the whole test suite under qemu-user
#   scripts/cross.sh ARCH -R REGEX         the same, running only the tests matching REGEX
#   scripts/cross.sh ARCH --install DIR    builds only the library and installs it for a board:
#                                          DIR/include, DIR/lib with libzolib and the target's zlib
#   scripts/cross.sh ARCH --smoke          builds only the library and the bag tests (byte order,
#                                          every architecture's fixtures) and runs them
#   scripts/cross.sh ARCH --fixtures       builds for ARCH and writes the bag fixtures of ARCH
#                                          into tests/bag/fixtures/ARCH (then commit them)
#
# ARCH is armhf, arm64 or s390x (big-endian). Run as root on a fresh Debian 12
# machine it installs what it needs: the cross compilers and qemu-user. The
# target's zlib, GoogleTest, libsodium and nlohmann-json are not installed
# system-wide (foreign -dev packages often cannot be, their versions must match
# the host's exactly): they are downloaded and unpacked into a private sysroot
# under build/cross-ARCH/. Builds go to build/cross-ARCH/ too.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

usage() {
    echo "usage: $0 armhf|arm64|s390x [-R REGEX | --install DIR | --smoke | --fixtures]" >&2
    exit 2
}
[[ $# -ge 1 ]] || usage
arch=$1
shift
case "$arch" in
    armhf) triplet=arm-linux-gnueabihf qemu=qemu-arm ;;
    arm64) triplet=aarch64-linux-gnu qemu=qemu-aarch64 ;;
    s390x) triplet=s390x-linux-gnu qemu=qemu-s390x ;;
    *) usage ;;
esac
mode=test
filter=""
install_dir=""
while [[ $# -gt 0 ]]; do
    case "$1" in
        --install) [[ $# -ge 2 ]] || usage; mode=install install_dir=$(realpath -m "$2"); shift 2 ;;
        -R) [[ $# -ge 2 ]] || usage; filter=$2; shift 2 ;;
        --fixtures) mode=fixtures; shift ;;
        --smoke) mode=smoke; shift ;;
        *) usage ;;
    esac
done
jobs=${ZOLIB_JOBS:-$(nproc)}
work="$root/build/cross-$arch"
sysroot="$work/sysroot"

# ---- packages of the build machine ----
ZOLIB_EXTRA_PACKAGES="crossbuild-essential-$arch qemu-user ${ZOLIB_EXTRA_PACKAGES:-}" scripts/deps.sh

# ---- the target's libraries, in a private sysroot ----
target_packages=(zlib1g zlib1g-dev libgtest-dev libgmock-dev libsodium23 libsodium-dev)
shared_packages=(nlohmann-json3-dev)   # architecture-independent
stamp="$sysroot/.packages"
wanted="${target_packages[*]} ${shared_packages[*]}"
if [[ ! -f "$stamp" || "$(cat "$stamp")" != "$wanted" ]]; then
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        [[ $(id -u) -eq 0 ]] || { echo "cross: run as root once to add architecture $arch" >&2; exit 1; }
        dpkg --add-architecture "$arch"
    fi
    if [[ -z "$(apt-cache madison "zlib1g:$arch" 2>/dev/null)" ]]; then
        [[ $(id -u) -eq 0 ]] || { echo "cross: run as root once to update the $arch index" >&2; exit 1; }
        apt-get update -qq -o DPkg::Lock::Timeout=600
    fi
    debs="$work/debs"
    rm -rf "$sysroot" "$debs"
    mkdir -p "$sysroot" "$debs"
    (cd "$debs" && apt-get download -qq -o APT::Sandbox::User=root \
        "${target_packages[@]/%/:$arch}" "${shared_packages[@]}")
    for deb in "$debs"/*.deb; do dpkg-deb -x "$deb" "$sysroot"; done
    # One library folder; the development links are absolute in the packages.
    libdir="$sysroot/usr/lib/$triplet"
    if [[ -d "$sysroot/lib/$triplet" ]]; then
        mv "$sysroot/lib/$triplet"/* "$libdir"/
        rm -rf "$sysroot/lib"
    fi
    for link in "$libdir"/*.so; do
        [[ -L "$link" ]] && ln -sfn "$(basename "$(readlink "$link")")" "$link"
    done
    rm -rf "$debs"
    echo "$wanted" >"$stamp"
fi
libdir="$sysroot/usr/lib/$triplet"

configure() {
    local dir=$1
    shift
    cmake -G Ninja -S "$root" -B "$dir" --toolchain "$root/cmake/toolchains/$arch.cmake" \
        -DZOLIB_CROSS_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release -DZOLIB_WERROR=ON "$@" >/dev/null
}

if [[ $mode == install ]]; then
    build="$work/install-build"
    configure "$build" -DZOLIB_BUILD_TESTS=OFF -DZOLIB_BUILD_TOOLS=OFF -DZOLIB_BUILD_EXAMPLES=OFF \
        -DCMAKE_INSTALL_PREFIX="$install_dir" -DCMAKE_INSTALL_LIBDIR=lib
    cmake --build "$build" -j "$jobs"
    cmake --install "$build" >/dev/null
    cp -a "$libdir"/libz.so* "$install_dir/lib/"
    # Proof that a board's program builds and runs against what was installed.
    probe="$work/install-probe"
    mkdir -p "$probe"
    cat >"$probe/probe.cpp" <<'EOF'
#include <zolib/ZoLib.h>
#include <cstdio>
int main() {
    ZoBag bag(1, 2);
    bag.Setint32("n", 42, 0);
    ZoBag* back = nullptr;
    ZoBag outer(0, 0);
    outer.Setbag("inner", &bag, 0);
    int n = 0;
    bool ok = outer.Getbag("inner", &back, 1) && back->Getint32("n", &n, 1) && n == 42;
    delete back;
    std::printf("%s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
EOF
    # 32-bit ARM: programs use 64-bit file offsets, as the library does.
    flags=()
    [[ $arch == armhf ]] && flags=(-D_FILE_OFFSET_BITS=64)
    "$triplet-g++" "${flags[@]}" -I"$install_dir/include" "$probe/probe.cpp" -L"$install_dir/lib" \
        -lzolib -lz -o "$probe/probe"
    "$qemu" -L "/usr/$triplet" -E LD_LIBRARY_PATH="$install_dir/lib" "$probe/probe" >/dev/null
    echo "cross: installed ZoLib for $arch into $install_dir"
    exit 0
fi

if [[ $mode == smoke ]]; then
    build="$work/smoke-build"
    configure "$build" -DZOLIB_BUILD_TOOLS=OFF -DZOLIB_BUILD_EXAMPLES=OFF
    cmake --build "$build" -j "$jobs" --target bag_test bag_threaded_test
    start=$(date +%s)
    # The other test programs are not built: ctest lists them as *_NOT_BUILT.
    ctest --test-dir "$build" --output-on-failure -j "$jobs" -E '_NOT_BUILT$'
    echo "cross: $arch bag suite passed in $(($(date +%s) - start)) s"
    exit 0
fi

# ---- library, tools and tests; the whole suite under qemu-user ----
build="$work/build"
# The examples' and demo's checks start their programs through the build
# machine directly, which cannot run the target's binaries; they are left out.
configure "$build" -DZOLIB_BUILD_EXAMPLES=OFF
cmake --build "$build" -j "$jobs"

if [[ $mode == fixtures ]]; then
    mkdir -p "$root/tests/bag/fixtures/$arch"
    "$qemu" -L "/usr/$triplet" -E LD_LIBRARY_PATH="$libdir" \
        "$build/tests/bag/zolib_make_fixtures" "$root/tests/bag/fixtures/$arch"
    echo "cross: wrote tests/bag/fixtures/$arch"
    exit 0
fi

# Tests that qemu-user cannot run, by ctest name (a regular expression), each
# with its reason; they are listed when skipped.
skip_names=()
skip_reasons=()
skip() {
    skip_names+=("$1")
    skip_reasons+=("$2")
}
# The zobag tool's own tests start the target's zobag program with execv from
# inside the test program, or from cmake -P. Without binfmt_misc (not available
# in containers) the kernel cannot start a foreign binary, and qemu-user does
# not follow execv. The tool's own code is not run there; the byte forms it
# reads (with the library's helpers) are tested by the bag and Json tests.
skip '^ZobagTool\.' "starts the target's zobag program with execv: qemu-user does not follow execv"
skip '^zobag_installed_round_trip$' "cmake -P starts the target's zobag program outside qemu-user"
# A holder that dies with the lock is taken over through the kernel's
# robust-futex list. qemu-user does not implement set_robust_list (it answers
# ENOSYS), so a dead holder's lock is never released there.
robust="robust mutexes: qemu-user does not implement set_robust_list"
skip '^ShMemory\.DeadHolderIsTakenOver$' "$robust"
# 32-bit ARM under qemu-user: a cancellation that arrives as a signal handler
# begins does not unwind past the handler's signal frame, so the thread's
# cleanup (Canceled()) is skipped in most rounds. A 30-line program without
# ZoLib shows the same (cleanup in 10 of 200 rounds; 200 of 200 on arm64, s390x
# and x86-64). Whether a board does the same is not known: see
# docs/reliability.md.
# The cancellation sweep meets it in its join cases (WaitEnd, Cancel, Abort,
# a job's Stop): glibc acts on a cancellation of a blocked thread from its
# cancellation signal's handler, and Canceled() is then not run.
if [[ $arch == armhf ]]; then
    skip '^CancelSweep\.' "qemu-user on 32-bit ARM does not unwind a cancellation past a signal frame"
fi

exclude=""
for i in "${!skip_names[@]}"; do
    name=${skip_names[$i]}
    listed=$(ctest --test-dir "$build" -N -R "$name" -FA '.*' | sed -n 's/^ *Test *#[0-9]*: //p')
    [[ -n "$filter" ]] && listed=$(grep -E -- "$filter" <<<"$listed" || true)
    while read -r t; do
        [[ -n "$t" ]] && echo "cross: skipped $t: ${skip_reasons[$i]}"
    done <<<"$listed"
    exclude="${exclude:+$exclude|}$name"
done

args=(--test-dir "$build" --output-on-failure -j "$jobs" --timeout 600)
[[ -n "$filter" ]] && args+=(-R "$filter")
[[ -n "$exclude" ]] && args+=(-E "$exclude")
start=$(date +%s)
ctest "${args[@]}"
echo "cross: $arch suite passed in $(($(date +%s) - start)) s"
