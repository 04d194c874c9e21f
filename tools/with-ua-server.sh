#!/bin/bash
# Runs a command while the node-opcua test server listens on 127.0.0.1 (port of the system's
# choice); the command finds it in VELA_UA_URL. The server is stopped afterwards.
#   with-ua-server.sh command [arguments...]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
log=$(mktemp)
pki=$(mktemp -d)
node --security-revert=CVE-2023-46809 "$root/tools/ua-peer/test-server.js" "$pki" >"$log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null; rm -rf "$log" "$pki"' EXIT
for _ in $(seq 1 240); do grep -q '^READY ' "$log" && break; sleep 0.25; done
port=$(sed -n 's/^READY \([0-9]*\).*/\1/p' "$log")
if [ -z "$port" ]; then cat "$log"; echo "the node-opcua test server did not start"; exit 1; fi
export VELA_UA_URL="opc.tcp://127.0.0.1:$port"
"$@"
