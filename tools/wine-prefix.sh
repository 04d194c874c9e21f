#!/bin/bash
# The private Wine prefix of a build tree and its one persistent wineserver.
#   wine-prefix.sh start   create and configure the prefix when needed, start wineserver and services
#   wine-prefix.sh stop    end everything that runs in the prefix
#   wine-prefix.sh running exit status 0 when the prefix's wineserver runs
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
marker="$WINEPREFIX/.vela-configured"

# Runs a command that may leave long-lived Wine processes behind with only stdio, detached:
# inherited descriptors (pipes, a caller's lock file) would otherwise stay open in them.
detached() {
    (
        for fd in /proc/$BASHPID/fd/*; do
            n=${fd##*/}
            if [ "$n" -gt 2 ] 2>/dev/null; then eval "exec $n>&-" 2>/dev/null || true; fi
        done
        exec "$@"
    ) </dev/null >/dev/null 2>&1
}

case "${1:-}" in
start)
    if [ ! -f "$marker" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot --init </dev/null >/dev/null 2>&1
        # Top-level windows need a driver: "null" works without a display.
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
        wineserver -k 2>/dev/null || true
        # Before the first COM call rpcss must find a settled prefix, or activation hangs.
        wineserver -w
        touch "$marker"
    fi
    # A gateway that COM starts in this headless prefix has nobody to answer a message box: its
    # messages go to the standard error stream (the prefix's services pass this on to it).
    export VELA_GATEWAY_MESSAGES=stderr
    # Detached: otherwise helper processes hold the caller's pipes and ctest waits on them.
    detached wineserver -p || true
    detached wine wineboot
    ;;
running)
    # A wineserver works in a directory named after its prefix's device and inode.
    [ -d "$WINEPREFIX" ] || exit 1
    serverdir=$(printf 'server-%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")
    for pid in $(pgrep -x 'wineserver(64)?'); do
        cwd=$(readlink "/proc/$pid/cwd" 2>/dev/null) || continue
        [ "${cwd##*/}" = "$serverdir" ] && exit 0
    done
    exit 1
    ;;
stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
*)
    echo "usage: $0 start|stop|running" >&2
    exit 2
    ;;
esac
