#!/usr/bin/env bash
# Start-up cost of the program: the CPU time and the wall-clock time of `mirvek -v` and of a run
# on a tiny model (examples/handshake.xta with its three queries), each over a number of runs
# (default 50). CPU time is the figure to compare: on a busy machine the wall-clock time mostly
# measures the other programs.
#
# The CPU time is perf's task-clock of the program (from its exec to its exit) when perf can
# count; otherwise it is the shell's account of its children, which also holds the cost of
# forking the shell, some milliseconds more.
#   bench/startup.sh [PROGRAM] [RUNS]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
program="${1:-$root/build/release/src/driver/mirvek}"
runs="${2:-50}"

use_perf=false
if command -v perf >/dev/null 2>&1 && perf stat -x, -e task-clock true >/dev/null 2>&1; then
    use_perf=true
fi

# Sets cpu_us to the CPU time of all finished children so far, in microseconds. `times` must run
# in this shell, not in a command substitution, whose subshell has children of its own.
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
children_cpu() {
    local user sys
    times >"$times_file"
    # The second line holds the children's figures.
    { read -r user sys; read -r user sys; } <"$times_file"
    cpu_us=$(( $(to_us "$user") + $(to_us "$sys") ))
}

# "1m2.345s" in microseconds.
to_us() {
    local text=${1%s} minutes seconds whole fraction
    minutes=${text%%m*}
    seconds=${text#*m}
    whole=${seconds%%.*}
    fraction=${seconds#*.}
    fraction=$(printf '%-6s' "$fraction" | tr ' ' 0)
    echo $(( (10#$minutes * 60 + 10#$whole) * 1000000 + 10#${fraction:0:6} ))
}

# Prints the figures of `runs` runs of the command given as arguments (its output discarded).
measure() {
    local label=$1 total=0 best= start end elapsed cpu_before cpu_us cpu source
    shift
    children_cpu
    cpu_before=$cpu_us
    for ((i = 0; i < runs; i++)); do
        start=${EPOCHREALTIME/./}
        "$@" >/dev/null 2>&1 || true
        end=${EPOCHREALTIME/./}
        elapsed=$(( end - start ))
        total=$(( total + elapsed ))
        if [[ -z "$best" || $elapsed -lt $best ]]; then
            best=$elapsed
        fi
    done
    children_cpu
    cpu=$(( (cpu_us - cpu_before) / runs ))
    source="shell"
    if $use_perf; then
        # task-clock in milliseconds, the first field of perf's CSV line.
        local ms
        ms=$(perf stat -x, -e task-clock -r "$runs" "$@" 2>&1 >/dev/null | grep task-clock | cut -d, -f1)
        cpu=$(awk -v ms="$ms" 'BEGIN { printf "%d", ms * 1000 }')
        source="perf"
    fi
    printf '%-26s CPU %d.%03d ms (%s); wall mean %d.%03d ms, fastest %d.%03d ms (%d runs)\n' "$label" \
        $(( cpu / 1000 )) $(( cpu % 1000 )) "$source" $(( total / runs / 1000 )) $(( total / runs % 1000 )) \
        $(( best / 1000 )) $(( best % 1000 )) "$runs"
}

measure "mirvek -v" "$program" -v
measure "mirvek handshake.xta" "$program" -q -s "$root/examples/handshake.xta" "$root/examples/handshake.q"
