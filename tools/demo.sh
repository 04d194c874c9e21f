#!/bin/bash
# The main job: builds the Windows target and runs the gateway as a COM local server under Wine,
# answering a classic DA client out-of-process.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/setup.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
tools/wine-prefix.sh start
trap 'tools/wine-prefix.sh stop' EXIT
WINE_CPU=0 tools/wine-run.sh build/windows/tests/com/da_test_client.exe \
    "$root/build/windows/idl/opcda_ps.dll" "$root/build/windows/app/vela_gateway.exe"
