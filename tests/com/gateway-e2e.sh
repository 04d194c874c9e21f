#!/bin/bash
# The gateway's end-to-end test: starts the node-opcua demo server, installs the gateway in a
# folder of its own with an option file pointing at it and runs the DA test client under Wine. The client
# asks for the UA server to be killed by creating the file named in VELA_E2E_KILL_FILE.
#   gateway-e2e.sh <da_test_client.exe> <opcda_ps.dll> <vela_gateway.exe>
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
client=$1
proxy=$2
gateway=$3
source "$root/tests/com/gateway-env.sh"
begin_gateway_run "$gateway" "$proxy"
watcher=

cleanup() {
    [ -f "$scratch/ua-again.pid" ] && kill "$(cat "$scratch/ua-again.pid")" 2>/dev/null
    [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
    end_gateway_run
}
trap cleanup EXIT

start_ua_server
disown "$server"  # killed on purpose later: no job notice for it
if ! wait_for_ua_server 40; then
    echo "the node-opcua test server did not start"
    echo "RESULT: FAILED"
    exit 1
fi
if ! add_test_server maxgroupcount=6; then
    echo "the gateway did not take its virtual server"
    echo "RESULT: FAILED"
    exit 1
fi

# A crash, not an orderly shutdown: the gateway must notice the lost connection itself. Then the
# server is started again on its port, and the gateway must find it again by itself.
export VELA_E2E_KILL_FILE="$scratch/kill-ua-server"
export VELA_E2E_RESTART_FILE="$scratch/restart-ua-server"
port=${VELA_UA_URL##*:}
(
    while [ ! -e "$VELA_E2E_KILL_FILE" ]; do
        kill -0 "$server" 2>/dev/null || exit 0
        sleep 0.1
    done
    echo "(killing the UA server)"
    kill -9 "$server"
    while [ ! -e "$VELA_E2E_RESTART_FILE" ]; do sleep 0.1; done
    echo "(starting the UA server again on port $port)"
    UA_PORT=$port node --security-revert=CVE-2023-46809 "$root/tools/ua-peer/test-server.js" "$scratch/pki" \
        >"$scratch/ua-again.log" 2>&1 &
    echo $! >"$scratch/ua-again.pid"
    wait
) &
watcher=$!

# Worst case within ctest's 300 s: 40 s for the UA server, 235 s for the client, 20 s to stop.
# The prefix and its persistent wineserver are started by the caller (tools/wine-prefix.sh start):
# a wineserver started from here would hold this script's descriptors (and any lock) for good.
timeout 235 "$root/tools/wine-run.sh" "$client" "$proxy" "$gateway"
rc=$?
# A gateway left running by a failed run is stopped gracefully, never killed (see the Wine notes).
timeout 20 "$root/tools/wine-run.sh" "$gateway" /stop >/dev/null 2>&1
exit $rc
