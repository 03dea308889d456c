#!/usr/bin/env bash
# Builds ZoLib and its demo, then runs the demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset release -DZOLIB_BUILD_EXAMPLES=ON >/dev/null
cmake --build --preset release -j "$(nproc)"
exec build/release/demo/zodemo "$@"
