#!/bin/bash
# Runs a Windows program of the build with a real (virtual) display, for what needs one such as
# the notification-area icon:  wine-xvfb.sh program.exe [arguments]
# The prefix is switched to the X11 driver for the run and back to headless afterwards.
set -euo pipefail
here=$(dirname "$0")
source "$here/wine-env.sh"
# A prefix that ran before (a test run's) runs again afterwards, headless and detached.
was_running=
"$here/wine-prefix.sh" running && was_running=1
"$here/wine-prefix.sh" stop
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f </dev/null >/dev/null 2>&1
# Without a window manager Wine waits for each window it hides: let it manage none.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
# The reg runs started a desktop without a display (and so without a notification area): end it,
# so that the program below gets one on the virtual display.
"$here/wine-prefix.sh" stop
rc=0
xvfb-run -a bash -c 'wine "$@"; status=$?; wineserver -k; wineserver -w; exit $status' _ "$@" || rc=$?
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
"$here/wine-prefix.sh" stop
[ -n "$was_running" ] && "$here/wine-prefix.sh" start
exit $rc
