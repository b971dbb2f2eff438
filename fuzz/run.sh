#!/usr/bin/env bash
# Runs every fuzz target for a fixed time: first the inputs kept in its corpus (the seeds and
# every input that once failed), then new ones. Usage: fuzz/run.sh BUILD-DIR SECONDS [TARGET...]
# New inputs go to BUILD-DIR/fuzz-work, never into the repository's corpus. Exits non-zero
# when any target finds a crash, a leak, a hang or a broken invariant; the input that did it
# is kept under BUILD-DIR/fuzz-work/artifacts.
set -uo pipefail

build=$1
seconds=$2
shift 2
root=$(cd "$(dirname "$0")" && pwd)
work=$build/fuzz-work
mkdir -p "$work/artifacts"

targets=("$@")
if ((${#targets[@]} == 0)); then
    for dir in "$root"/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

failed=()
for target in "${targets[@]}"; do
    mkdir -p "$work/$target"
    log=$work/$target.log
    start=$SECONDS
    if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" \
        "$work/$target" "$root/corpus/$target" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        last=$(grep -E '^#[0-9]+' "$log" | tail -1)
        cov=$(sed -nE 's/.* cov: ([0-9]+) ft: ([0-9]+).*/cov \1 ft \2/p' <<<"$last")
        echo "fuzz $target: ok, $runs runs, $cov, $((SECONDS - start)) s"
    else
        failed+=("$target")
        echo "fuzz $target: FAILED ($log)"
        tail -n 80 "$log"
    fi
done

if ((${#failed[@]})); then
    echo "fuzz findings in: ${failed[*]}"
    exit 1
fi
