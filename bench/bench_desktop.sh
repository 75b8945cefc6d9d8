#!/usr/bin/env bash
# Runs the desktop benchmark on a private X server and sound server: bench/bench_desktop.sh [IDLE_MINUTES]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VLM_BUILD_DIR:-$root/build}
source "$root/scripts/services.sh"
trap stop_services EXIT
start_services
python3 "$root/bench/bench_desktop.py" "$build/program" --idle-minutes "${1:-10}"
