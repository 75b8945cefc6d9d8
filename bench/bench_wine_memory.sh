#!/usr/bin/env bash
# Size and memory of the Windows program under Wine, on a private X server, sound server and Wine prefix:
#   bench/bench_wine_memory.sh [SECONDS]
# Starts VLM.exe from a copy of the ready folder, waits (the window hides after its first second), then reads the
# resident memory of its process and of Wine's own processes; then the same for a trivial Win32 program with one
# hidden window, so what the program itself adds shows apart from what any program under Wine costs.
# Uses the 32-bit build, or the 64-bit one where this machine runs no 32-bit code.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
wait_seconds=${1:-20}

arch=i686 build=${VLM_WIN32_BUILD_DIR:-$root/build-win32}
if ! "$root/scripts/wine-run.sh" --runs-32bit; then
    arch=x86_64 build=${VLM_WIN64_BUILD_DIR:-$root/build-win64}
fi
[ -f "$build/program/VLM.exe" ] || { echo "no $build/program/VLM.exe: run scripts/build-windows.sh first" >&2; exit 1; }
work=$(mktemp -d /tmp/vlm-bench-wine.XXXXXX)
"$arch-w64-mingw32-gcc-posix" -O2 -municode -mwindows -static -o "$work/trivial.exe" "$root/bench/trivial_win32.c"
"$arch-w64-mingw32-strip" -o "$work/VLM-stripped.exe" "$build/program/VLM.exe"

source "$root/scripts/services.sh"
cleanup() { stop_services; rm -rf "$work"; }
trap cleanup EXIT
start_services
start_wine

# Resident and proportional set (kB) summed over the given process ids.
memory_sum() {
    local pid rss=0 pss=0 line
    for pid in "$@"; do
        [ -r "/proc/$pid/smaps_rollup" ] || continue
        while read -r line; do
            case "$line" in
            Rss:*) rss=$((rss + $(echo "$line" | awk '{print $2}'))) ;;
            Pss:*) pss=$((pss + $(echo "$line" | awk '{print $2}'))) ;;
            esac
        done <"/proc/$pid/smaps_rollup"
    done
    echo "$rss $pss"
}

# The same for the processes whose command line matches $1.
memory_of() {
    # shellcheck disable=SC2046
    memory_sum $(pgrep -f -- "$1" || true)
}

# Wine's processes in this prefix besides the program: wineserver and the services a prefix runs.
wine_own() {
    local pid pids=()
    for pid in $(pgrep -f -- 'wineserver|services.exe|winedevice.exe|plugplay.exe|svchost.exe|explorer.exe|rpcss.exe' || true); do
        grep -qz "^WINEPREFIX=$WINEPREFIX$" "/proc/$pid/environ" 2>/dev/null && pids+=("$pid")
    done
    memory_sum "${pids[@]}"
}

measure() {
    local name=$1 exe=$2 folder="$WINEPREFIX/drive_c/bench-$1"
    mkdir -p "$folder"
    cp -r "$3"/. "$folder/"
    cp "$exe" "$folder/$name.exe"
    "$root/scripts/wine-run.sh" "$folder/$name.exe" >/dev/null 2>&1 &
    local runner=$!
    sleep "$wait_seconds"
    read -r rss pss <<<"$(memory_of "bench-$name.$name.exe")"
    read -r wrss wpss <<<"$(wine_own)"
    printf '| %-8s | %8d kB | %8d kB | %8d kB | %8d kB |\n' "$name" "$rss" "$pss" "$wrss" "$wpss"
    pkill -f -- "bench-$name.$name.exe" || true
    wait "$runner" 2>/dev/null || true
}

echo "Build: $arch ($build)"
echo "VLM.exe: $(stat -c %s "$build/program/VLM.exe") bytes as built, $(stat -c %s "$work/VLM-stripped.exe") stripped (as in VLM-win32.zip); trivial.exe: $(stat -c %s "$work/trivial.exe") bytes"
echo "Resident memory after $wait_seconds s, program process and Wine's own processes of the prefix:"
echo "| program  | RSS         | PSS         | Wine RSS    | Wine PSS    |"
echo "|----------|-------------|-------------|-------------|-------------|"
mkdir -p "$work/empty"
measure VLM "$build/program/VLM.exe" "$build/program"
measure trivial "$work/trivial.exe" "$work/empty"
