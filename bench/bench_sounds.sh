#!/usr/bin/env bash
# Times writing the whole sound bank with the build's synthesizer (on 1 and 2 threads) and reports its size.
# Usage: bench/bench_sounds.sh [BUILD_DIR] [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${VLM_BUILD_DIR:-$root/build}}
runs=${2:-3}
synth="$build/tools/synth/vlm_synth"
cmake --build "$build" --target vlm_synth -j2 >/dev/null
out=$(mktemp -d /tmp/vlm-bench-sounds.XXXXXX)
trap 'rm -rf "$out"' EXIT

for threads in 1 2; do
    best=""
    for _ in $(seq "$runs"); do
        rm -rf "$out/bank"
        start=$(date +%s.%N)
        "$synth" "$out/bank" "$threads"
        end=$(date +%s.%N)
        best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; print (b == "" || t < b) ? t : b }')
    done
    printf 'bank generation, %d thread(s): best of %d runs %.2f s\n' "$threads" "$runs" "$best"
done

files=$(find "$out/bank" -name '*.wav' | wc -l)
total=$(du -sb "$out/bank" | cut -f1)
printf 'files: %d, total %d bytes (%.1f MiB)\n' "$files" "$total" "$(awk -v t="$total" 'BEGIN { print t / 1048576 }')"
(cd "$out/bank" && find . -name '*.wav' -printf '%s %P\n' | sort -k2)
