#!/bin/bash
# Runs the gateway benchmark: starts the node-opcua demo server, installs the gateway with an option
# file pointing at it, and runs the DA client under Wine with the shared prefix held.
#   gateway-bench.sh <gateway_bench.exe> <opcda_ps.dll> <vela_gateway.exe> [item count...] [/warmup:S] [/window:S]
# Item counts default to 10000 and 1000. WINE_CPU=n pins the client (and what it starts) to one CPU.
set -uo pipefail
if [ $# -lt 3 ]; then
    sed -n '2,6p' "$0"
    exit 2
fi
# One Wine user of the shared prefix at a time; the figures also need the machine to ourselves.
if [ -z "${VELA_WINE_LOCK_HELD:-}" ]; then
    echo "waiting for /tmp/vela-wine.lock ..."
    exec env VELA_WINE_LOCK_HELD=1 flock -w 1800 /tmp/vela-wine.lock bash "$0" "$@"
fi
root=$(cd "$(dirname "$0")/../.." && pwd)
bench=$1
proxy=$2
gateway=$3
shift 3
source "$root/tests/com/gateway-env.sh"
begin_gateway_run "$gateway" "$proxy"
trap end_gateway_run EXIT

# Enough bulk variables for the largest count asked for.
bulk=10000
runs=0
seconds=23
for argument in "$@"; do
    case "$argument" in
    /warmup:* | /window:*)
        value=${argument#*:}
        value=${value%%.*}
        [[ "$value" =~ ^[0-9]+$ ]] && seconds=$((seconds + value + 1)) ;;
    /*) ;;
    *) runs=$((runs + 1)); [ "$argument" -gt "$bulk" ] 2>/dev/null && bulk=$argument ;;
    esac
done
[ "$runs" -eq 0 ] && runs=2
export UA_BULK="${UA_BULK:-$bulk}"

start_ua_server
if ! wait_for_ua_server 60; then
    echo "ERROR the node-opcua demo server did not start"
    exit 1
fi

"$root/tools/wine-prefix.sh" start
if ! add_test_server >/dev/null; then
    echo "ERROR the gateway did not take its virtual server"
    exit 1
fi

# The UA server and the prefix's wineserver are shown beside the gateway, not charged to it.
source "$root/tools/wine-env.sh"
context="ua-server:$server"
# A wineserver works in a directory named after its prefix's device and inode.
serverdir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
for pid in $(pgrep -x 'wineserver(64)?'); do
    cwd=$(readlink "/proc/$pid/cwd" 2>/dev/null)
    [ "${cwd##*/}" = "$serverdir" ] && context="$context,wineserver:$pid"
done
export VELA_BENCH_CONTEXT_PIDS="$context"
export VELA_BENCH_CLK_TCK="$(getconf CLK_TCK)"
echo "machine: $(nproc) CPUs, $(uname -r); $(wine --version 2>/dev/null); node $(node --version); UA_BULK=$UA_BULK${WINE_CPU:+; pinned to CPU $WINE_CPU}"

timeout $((120 + runs * (seconds + 240))) "$root/tools/wine-run.sh" "$bench" "$proxy" "$gateway" "$@"
rc=$?
[ $rc -eq 124 ] && echo "ERROR the benchmark client was stopped by timeout"
# A gateway left running by a failed run is stopped gracefully, never killed (see the Wine notes).
timeout 30 "$root/tools/wine-run.sh" "$gateway" /stop >/dev/null 2>&1
exit $rc
