#!/usr/bin/env bash
# Builds ZoLib and its demo, then runs the demo. When nats-server is
# installed (scripts/deps.sh installs it as root), a private one is started on
# a free loopback port for the tour's stop across machines, and stopped after.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh
cmake --preset release -DZOLIB_BUILD_EXAMPLES=ON >/dev/null
cmake --build --preset release -j "$(nproc)"

server=$(command -v nats-server || echo /usr/sbin/nats-server)
if [[ -x $server ]]; then
    work=$(mktemp -d)
    # A port nobody listens on.
    while port=$((20000 + RANDOM % 40000)); (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do :; done
    "$server" -a 127.0.0.1 -p "$port" -js -sd "$work" >"$work/log" 2>&1 &
    pid=$!
    trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true; rm -rf "$work"' EXIT
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
    export NATS_URL="nats://127.0.0.1:$port"
fi
status=0
build/release/demo/zodemo "$@" || status=$?
exit $status
