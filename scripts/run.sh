#!/usr/bin/env bash
# Installs what is needed, builds and starts the program from its ready folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VLM_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
if [ -x "$build/program/VLM" ]; then
    exec "$build/program/VLM"
fi
echo "Built the reminder core and its tests; the desktop program is not part of this build yet."
