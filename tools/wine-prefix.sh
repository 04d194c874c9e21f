#!/bin/bash
# The private Wine prefix of a build tree and its one persistent wineserver.
#   wine-prefix.sh start   create the prefix when missing, start wineserver and services
#   wine-prefix.sh stop    end everything that runs in the prefix
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"

case "${1:-}" in
start)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1
        # top-level windows need a driver; "null" works without a display
        wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        wineserver -k || true
        wineserver -w
    fi
    # Detached stdio: otherwise helper processes hold the caller's pipes and ctest waits on them.
    wineserver -p </dev/null >/dev/null 2>&1 || true
    wine wineboot </dev/null >/dev/null 2>&1
    ;;
stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
*)
    echo "usage: $0 start|stop" >&2
    exit 2
    ;;
esac
