#!/usr/bin/env bash
# Runs each libFuzzer target of a build folder for a bounded time and prints how many
# inputs it tried. New interesting inputs collect in <build>/corpus/<target> (the seeds
# in tests/fuzz/corpus stay as they are); an input that breaks a target is kept in
# <build>/crashes/ and the run fails.
#   tests/fuzz/run.sh <build folder> <seconds per target> [target ...]
set -euo pipefail
build=${1:?build folder}
seconds=${2:?seconds per target}
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(spool_reader page_filling recovered_recording)
fi
source_dir=$(cd "$(dirname "$0")" && pwd)
status=0
for target in "${targets[@]}"; do
    binary="$build/tests/pemlo_fuzz_$target"
    if [ ! -x "$binary" ]; then
        echo "fuzz: $binary is missing (make fuzz builds it)" >&2
        exit 1
    fi
    mkdir -p "$build/corpus/$target" "$build/crashes"
    log="$build/fuzz_$target.log"
    # Inputs: what earlier runs found, the seeds, and the crashes kept as regressions
    # (that folder exists only once something has been found).
    inputs=("$build/corpus/$target" "$source_dir/corpus/$target")
    if [ -d "$source_dir/regressions/$target" ]; then
        inputs+=("$source_dir/regressions/$target")
    fi
    if ASAN_OPTIONS=detect_leaks=1 "$binary" -max_total_time="$seconds" -print_final_stats=1 \
        -rss_limit_mb=1024 -timeout=10 -artifact_prefix="$build/crashes/$target-" \
        "${inputs[@]}" >"$log" 2>&1; then
        runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo "?")
        cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
        echo "fuzz: $target: $runs inputs in ${seconds} s, $cov, no failure"
    else
        status=1
        echo "fuzz: $target FAILED; the input is in $build/crashes/ (see $log)." >&2
        echo "fuzz: copy it to tests/fuzz/regressions/$target/ so the suites replay it." >&2
        tail -40 "$log" >&2
    fi
done
exit $status
