#!/usr/bin/env bash
# Runs the desktop benchmark on one desktop stack of scripts/services.sh (x11, wayland or x11-sni; x11 unless told):
#   bench/bench_desktop.sh [IDLE_MINUTES] [STACK]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VLM_BUILD_DIR:-$root/build}
source "$root/scripts/services.sh"
trap stop_services EXIT
start_services "${2:-x11}"
python3 "$root/bench/bench_desktop.py" "$build/program" --idle-minutes "${1:-10}"
