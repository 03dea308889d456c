#!/usr/bin/env bash
# Installs the Debian packages the build needs when they are missing.
# Only acts when run as root; otherwise it just reports what is missing.
set -euo pipefail

packages=(build-essential cmake ninja-build pkg-config zlib1g-dev libgtest-dev libgmock-dev
          clang lld libclang-rt-14-dev nlohmann-json3-dev libsodium-dev
          nats-server libnats-dev openssl
          help2man doxygen file dpkg-dev)
if [[ -n "${ZOLIB_EXTRA_PACKAGES:-}" ]]; then
    read -r -a extra <<<"$ZOLIB_EXTRA_PACKAGES"
    packages+=("${extra[@]}")
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
    echo "deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
else
    echo "deps: missing packages (run as root to install): ${missing[*]}" >&2
fi
