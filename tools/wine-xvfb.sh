#!/bin/bash
# Runs a Windows program of the build with a real (virtual) display, for what needs one such as
# the notification-area icon:  wine-xvfb.sh program.exe [arguments]
# The prefix is switched to the X11 driver for the run and back to headless afterwards.
set -euo pipefail
here=$(dirname "$0")
source "$here/wine-env.sh"
"$here/wine-prefix.sh" stop
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f </dev/null >/dev/null 2>&1
rc=0
xvfb-run -a bash -c 'wine "$@"; status=$?; wineserver -k; wineserver -w; exit $status' _ "$@" || rc=$?
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
"$here/wine-prefix.sh" stop
exit $rc
