#!/usr/bin/env bash
# Runs a command with a window manager on $DISPLAY, as on the desktop the program is made for: without one, Wine
# waits about a second for every window it hides.
set -euo pipefail
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
trap 'kill "$wm" 2>/dev/null; wait "$wm" 2>/dev/null || true' EXIT
sleep 0.5
"$@"
