#!/usr/bin/env bash
# Start-up cost of the program: the mean and the fastest wall-clock time of `mirvek -v`
# over a number of runs (default 50).
#   bench/startup.sh [PROGRAM] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program="${1:-$root/build/release/src/driver/mirvek}"
runs="${2:-50}"

total=0
best=
for ((i = 0; i < runs; i++)); do
    start=$(date +%s%N)
    "$program" -v >/dev/null
    end=$(date +%s%N)
    elapsed=$(( (end - start) / 1000 ))
    total=$(( total + elapsed ))
    if [[ -z "$best" || $elapsed -lt $best ]]; then
        best=$elapsed
    fi
done
printf 'mirvek -v over %d runs: mean %d.%03d ms, fastest %d.%03d ms\n' "$runs" \
    $(( total / runs / 1000 )) $(( total / runs % 1000 )) $(( best / 1000 )) $(( best % 1000 ))
