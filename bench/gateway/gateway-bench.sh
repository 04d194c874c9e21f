#!/bin/bash
# Runs the gateway benchmark: starts the node-opcua demo server, points the gateway at it through
# the settings file beside the EXE, and runs the DA client under Wine with the shared prefix held.
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
scratch=$(mktemp -d)
settings="$(dirname "$gateway")/vela_gateway.settings"
server=

cleanup() {
    [ -n "$server" ] && kill "$server" 2>/dev/null
    wait 2>/dev/null
    # The settings file belongs to this run only.
    if [ -f "$scratch/settings.kept" ]; then mv -f "$scratch/settings.kept" "$settings"; else rm -f "$settings"; fi
    rm -rf "$scratch"
}
trap cleanup EXIT

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

node --security-revert=CVE-2023-46809 "$root/tools/ua-peer/test-server.js" "$scratch/pki" >"$scratch/ua.log" 2>&1 &
server=$!
for _ in $(seq 1 240); do grep -q '^READY ' "$scratch/ua.log" && break; sleep 0.25; done
port=$(sed -n 's/^READY \([0-9]*\).*/\1/p' "$scratch/ua.log")
if [ -z "$port" ]; then
    cat "$scratch/ua.log"
    echo "ERROR the node-opcua demo server did not start"
    exit 1
fi
export VELA_UA_URL="opc.tcp://127.0.0.1:$port"

[ -f "$settings" ] && cp -p "$settings" "$scratch/settings.kept"
cat >"$settings" <<SETTINGS
# written by gateway-bench.sh for one benchmark run
url=$VELA_UA_URL
minupdaterate=100
# The gateway reads minupdaterate only with these two beside it (their built-in values).
waittime=5000
holdtime=0
SETTINGS

"$root/tools/wine-prefix.sh" start

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
