#!/usr/bin/env bash
# Installs what is needed, builds, starts an X server and a sound server, runs every test, stops them again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VLM_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

source "$root/scripts/services.sh"
trap stop_services EXIT
start_services

cd "$build"
ctest --output-on-failure "$@"
