#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/) with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer into
# build/fuzz (every layer compiled with clang's thread-safety analysis as errors, so a broken lock rule fails
# here), then runs each for S seconds, two at a time, starting from its checked-in seed corpus
# (fuzz/corpus/<target>, copied: the checked-in seeds are not changed). A finding is kept in
# build/fuzz/findings/<target>/ and fails the run. Prints the executions and corpus size of each target.
# With --build-only it builds everything the clang build has (every layer, under the analysis) and runs nothing.
# Usage: scripts/fuzz.sh [--seconds S] [--build-only] [target ...]   (default: 30 s each, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --no-python --fuzz

seconds=30
build_only=0
targets=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --build-only) build_only=1; shift ;;
        *) targets+=("$1"); shift ;;
    esac
done
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_register_map fuzz_cxp_url fuzz_url_coding fuzz_http_response fuzz_unzip
                                     fuzz_sim_config fuzz_exported_calls)

build=build/fuzz
configured=$(CC=clang-16 CXX=clang++-16 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVNGTL_SANITIZER=fuzzer 2>&1) || { echo "$configured"; exit 1; }
grep -E '^-- Lock rules' <<<"$configured" || true
if [ "$build_only" -eq 1 ]; then
    exec ninja -C "$build" -j "${VNGTL_JOBS:-2}"
fi
ninja -C "$build" -j "${VNGTL_JOBS:-2}" "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs one target; its log and result go to $work/<target>.
run_one() {
    local target=$1
    local corpus=$work/$target.corpus findings=$build/findings/$target
    mkdir -p "$corpus" "$findings"
    [ -d "fuzz/corpus/$target" ] && cp -r "fuzz/corpus/$target/." "$corpus/"
    if "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 -max_len=4096 \
        -artifact_prefix="$findings/" -print_final_stats=1 "$corpus" >"$work/$target.log" 2>&1; then
        echo ok >"$work/$target.result"
    else
        echo FAILED >"$work/$target.result"
    fi
}

pending=("${targets[@]}")
while [ ${#pending[@]} -gt 0 ]; do
    run_one "${pending[0]}" &
    first=$!
    if [ ${#pending[@]} -gt 1 ]; then
        run_one "${pending[1]}" &
        second=$!
        wait "$second"
    fi
    wait "$first"
    pending=("${pending[@]:2}")
done

failed=()
printf '%-22s %12s %10s %8s  %s\n' target executions "execs/s" corpus result
for target in "${targets[@]}"; do
    runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$work/$target.log" | grep -oE '[0-9]+$' || echo "?")
    rate=$(grep -oE 'stat::average_exec_per_sec: *[0-9]+' "$work/$target.log" | grep -oE '[0-9]+$' || echo "?")
    files=$(find "$work/$target.corpus" -type f | wc -l)
    result=$(cat "$work/$target.result")
    printf '%-22s %12s %10s %8s  %s\n' "$target" "$runs" "$rate" "$files" "$result"
    if [ "$result" != ok ]; then
        failed+=("$target")
        echo "--- $target (last lines of its log; the input is in $build/findings/$target/)"
        tail -40 "$work/$target.log"
    fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz: findings in ${failed[*]}"; exit 1; }
