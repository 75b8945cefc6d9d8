#!/usr/bin/env bash
# Installs what is needed, builds the Linux and the Windows program, starts an X server, a sound server and a Wine
# prefix, runs every test (the Windows ones under Wine, label win32), stops them again. Fails if either run fails.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VLM_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
"$root/scripts/build-windows.sh"

# The Windows tests run on the 32-bit program; a machine that can't run 32-bit code (some virtual machines) runs
# them on the 64-bit build of the same sources.
win_build=${VLM_WIN32_BUILD_DIR:-$root/build-win32}
if ! "$root/scripts/wine-run.sh" --runs-32bit; then
    echo "This machine can't run 32-bit code: the Windows tests run on the 64-bit build (build-win64)."
    "$root/scripts/build-windows.sh" --x86_64
    win_build=${VLM_WIN64_BUILD_DIR:-$root/build-win64}
fi

source "$root/scripts/services.sh"
trap stop_services EXIT
start_services

status=0
(cd "$build" && ctest --output-on-failure "$@") || status=1
(cd "$win_build" && ctest --output-on-failure -L win32 "$@") || status=1
exit $status
