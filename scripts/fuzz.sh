#!/usr/bin/env bash
# Runs every fuzzing program of BUILD (default build-asan) for a bounded time, starting from
# the corpus kept in fuzz/corpus/; any crash, failed check or hang fails the run. New inputs
# go to a scratch folder, so the kept corpus changes only by hand.
#   bash scripts/fuzz.sh [BUILD] [SECONDS_PER_PROGRAM]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-asan}
seconds=${2:-12}
root=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8

status=0
for program in "$build"/fuzz/fuzz_*; do
    [ -f "$program" ] && [ -x "$program" ] || continue
    name=$(basename "$program")
    seeds=("$root/fuzz/corpus/$name")
    # The whole Access test files as seeds too.
    if [ "$name" = fuzz_access ]; then
        mkdir -p "$work/access-seeds"
        cp "$root"/tests/data/access/*.mdb "$root"/tests/data/access/*.accdb "$work/access-seeds/"
        seeds+=("$work/access-seeds")
    fi
    mkdir -p "$work/$name" "$work/$name-artifacts"
    echo "fuzz: $name for ${seconds}s"
    if ! "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/$name-artifacts/" \
        "$work/$name" "${seeds[@]}" >"$work/$name.log" 2>&1; then
        echo "fuzz: $name FAILED"
        tail -n 60 "$work/$name.log"
        mkdir -p "$build/fuzz-failures"
        cp -r "$work/$name-artifacts/." "$build/fuzz-failures/" 2>/dev/null || true
        status=1
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$work/$name.log" | sed "s/^/fuzz: $name /" || true
done
exit $status
