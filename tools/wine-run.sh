#!/bin/bash
# Runs a Windows program of the build under Wine, quietly and headless (the ctest emulator).
#   WINE_CPU=0 pins it to one CPU: cross-CPU wake-ups make COM round trips several times slower.
source "$(dirname "$0")/wine-env.sh"
if [ -n "${WINE_CPU:-}" ]; then exec taskset -c "$WINE_CPU" wine "$@"; fi
exec wine "$@"
