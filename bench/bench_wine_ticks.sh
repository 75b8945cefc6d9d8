#!/usr/bin/env bash
# How late after its second the Windows program's tick runs under Wine, on a private X server, sound server and Wine
# prefix:
#   bench/bench_wine_ticks.sh [SECONDS [VLM.exe]]
# Runs VLM.exe (the build's, or the one given, to compare builds) from a copy of the ready folder with its diagnostics on (VLM_LOG) for SECONDS (default 120), then
# reads the ticks' lateness from its log, leaving out the first tick (it comes a second after start by design).
# Uses the 32-bit build, or the 64-bit one where this machine runs no 32-bit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
run_seconds=${1:-120}
program=${2:-}

build=${VLM_WIN32_BUILD_DIR:-$root/build-win32}
if ! "$root/scripts/wine-run.sh" --runs-32bit; then
    build=${VLM_WIN64_BUILD_DIR:-$root/build-win64}
fi
[ -f "$build/program/VLM.exe" ] || { echo "no $build/program/VLM.exe: run scripts/build-windows.sh first" >&2; exit 1; }

source "$root/scripts/services.sh"
start_services
trap stop_services EXIT
start_wine

folder=$(mktemp -d "$WINEPREFIX/drive_c/bench-ticks.XXXXXX")
cp -r "$build/program"/. "$folder/"
rm -f "$folder/vlm1.cfg"
[ -z "$program" ] || cp "$program" "$folder/VLM.exe"
TZ=CST-8 VLM_LOG="C:\\$(basename "$folder")\\vlm.log" "$root/scripts/wine-run.sh" "$folder/VLM.exe" >/dev/null 2>&1 &
runner=$!
sleep "$run_seconds"
# The program's own process under Wine, found by its unique folder.
for pid in $(pgrep -f -- "$(basename "$folder").VLM.exe" || true); do kill "$pid" 2>/dev/null || true; done
wait "$runner" 2>/dev/null || true

echo "Program: ${program:-$build/program/VLM.exe}, $run_seconds s"
python3 - "$folder/vlm.log" <<'PY'
import re, statistics, sys
log = open(sys.argv[1], errors="replace").read()
for line in re.findall(r"tick: timer: .*", log):
    print(line)
late = sorted([int(m.group(1)) for m in re.finditer(r"tick .* late (-?\d+) ms", log)][1:])
print(f"ticks {len(late)}: median {statistics.median(late)} ms, 90th percentile {late[len(late) * 9 // 10]} ms, "
      f"99th percentile {late[len(late) * 99 // 100]} ms, worst {late[-1]} ms")
PY
