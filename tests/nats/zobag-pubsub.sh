#!/usr/bin/env bash
# zobag pub and zobag sub through a private nats-server on loopback:
# usage: zobag-pubsub.sh ZOBAG. Exit 77 (skipped) without the server.
set -euo pipefail
zobag=$1
server=$(command -v nats-server || echo /usr/sbin/nats-server)
[[ -x $server ]] || { echo "nats-server is not installed (Debian package nats-server)"; exit 77; }
work=$(mktemp -d)
trap 'kill $(cat "$work/pid" 2>/dev/null) 2>/dev/null || true; rm -rf "$work"' EXIT
# A port nobody listens on.
while port=$((20000 + RANDOM % 40000)); (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do :; done
"$server" -a 127.0.0.1 -p "$port" >/dev/null 2>&1 & echo $! >"$work/pid"
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
echo '{"what": 16, "who": 0, "when": 0, "items": [{"name": "n", "type": "int32", "values": [7]}]}' \
    >"$work/b.json"
"$zobag" from-json "$work/b.json" "$work/b.bag"
timeout 20 "$zobag" sub --server "nats://127.0.0.1:$port" --count 2 'x.>' >"$work/out" &
sub=$!
sleep 1
NATS_URL="nats://127.0.0.1:$port" "$zobag" pub x.y "$work/b.bag"
"$zobag" pub --server "nats://127.0.0.1:$port" --zip x.y.z "$work/b.bag"
wait $sub
grep -qx -- '--- x.y' "$work/out" && grep -qx -- '--- x.y.z' "$work/out"
[[ $(grep -c '^what' "$work/out") -eq 2 ]]
# No server: a clear failure, not a hang.
! "$zobag" pub --server "nats://127.0.0.1:1" x "$work/b.bag" 2>/dev/null
