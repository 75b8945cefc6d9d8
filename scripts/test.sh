#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test on X11 with an XEmbed tray and PulseAudio, then the cases every
# desktop must pass (label `stack`) on Wayland with a StatusNotifierItem tray and PipeWire, and on X11 with a
# StatusNotifierItem tray; each desktop stack is started before its tests and stopped after them.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VLM_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

source "$root/scripts/services.sh"

# Runs ctest with the given arguments on one desktop stack, started and stopped around it.
run_on_stack() {
    local stack=$1
    shift
    (
        trap stop_services EXIT
        start_services "$stack"
        cd "$build"
        echo "== desktop stack: $stack"
        ctest --output-on-failure "$@"
    )
}

status=0
run_on_stack x11 "$@" || status=1
run_on_stack wayland -L stack "$@" || status=1
run_on_stack x11-sni -L stack "$@" || status=1
exit $status
