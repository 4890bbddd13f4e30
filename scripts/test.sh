#!/usr/bin/env bash
# Runs every test: the unit tests built three ways (normal, AddressSanitizer with UndefinedBehaviorSanitizer,
# ThreadSanitizer), then the conformance tests, in which real GenTL consumers (the reference GenApi's GenTL
# consumer and Harvesters) load the built VNGTL.cti. The package step builds the Debian package, installs,
# upgrades, uses and purges it (tests/package/check_package.sh; root only, as in CI; skipped otherwise). The
# locks step builds every layer with clang and its thread-safety analysis as errors (core/ThreadSafety.h),
# after showing that the analysis refuses a broken lock rule. Last, a short run of every fuzz target over its
# seed corpus (VNGTL_FUZZ_SECONDS each, default 30), from the same clang build.
# Usage: scripts/test.sh [rel|asan|tsan|conformance|package|locks|fuzz ...]   (default: all of them)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(rel asan tsan conformance package locks fuzz)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

failed=()
failed_names=()
passed_tests=0
failed_tests=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Adds the counts of a ctest or pytest summary to the totals.
count() {
    local line
    line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$1" | tail -1 || true)
    if [ -n "$line" ]; then
        local bad total
        bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* tests failed out of ([0-9]+).*/\1/' <<<"$line")
        passed_tests=$((passed_tests + total - bad)); failed_tests=$((failed_tests + bad))
    fi
    line=$(grep -E "^=*\s*[0-9]+ (passed|failed)" "$1" | tail -1 || true)
    if [ -n "$line" ]; then
        local p f
        p=$(grep -oE "[0-9]+ passed" <<<"$line" | grep -oE "[0-9]+" || true)
        f=$(grep -oE "[0-9]+ (failed|error|errors)" <<<"$line" | awk "{s+=\$1} END {print s+0}" || true)
        passed_tests=$((passed_tests + ${p:-0})); failed_tests=$((failed_tests + ${f:-0}))
    fi
}

# Keeps the names of the failed tests of a ctest or pytest log, for the summary at the end.
names() {
    local line
    while IFS= read -r line; do failed_names+=("$2: $line"); done < <(
        sed -n '/The following tests FAILED:/,/^$/p' "$1" | grep -E '^\s+[0-9]+ - ' | sed -E 's/^\s+//'
        grep -E '^(FAILED|ERROR) tests/' "$1" || true)
}

started=$SECONDS
for step in "${steps[@]}"; do
    echo "=== $step === (at $((SECONDS - started)) s)"
    case "$step" in
        rel|asan|tsan)
            if ! scripts/build.sh "$step"; then failed+=("$step (build)"); continue; fi
            # The camera's XML cache: the user's, or one per build directory.
            cache=${GENICAM_CACHE_V2_4:-$PWD/build/$step/xml-cache}
            mkdir -p "$cache"
            # In a condition, so that a failing step is counted and the next steps still run.
            if ! (cd "build/$step" && GENICAM_CACHE_V2_4=$cache ctest --output-on-failure --timeout 600) 2>&1 \
                | tee "$logs/$step.log"; then
                failed+=("$step")
            fi
            count "$logs/$step.log"
            names "$logs/$step.log" "$step"
            ;;
        conformance)
            if ! scripts/build.sh rel; then failed+=("conformance (build)"); continue; fi
            cache=${GENICAM_CACHE_V2_4:-$PWD/build/rel/xml-cache}
            mkdir -p "$cache"
            if ! GENICAM_CACHE_V2_4=$cache VNGTL_CTI="$PWD/build/rel/lib/VNGTL.cti" \
                .venv/bin/python -m pytest -q tests/conformance 2>&1 | tee "$logs/conformance.log"; then
                failed+=("conformance")
            fi
            count "$logs/conformance.log"
            names "$logs/conformance.log" conformance
            ;;
        package)
            if [ "$(id -u)" -ne 0 ]; then echo "package: skipped (installing the package needs root)"; continue; fi
            if ! tests/package/check_package.sh 2>&1 | tee "$logs/package.log"; then failed+=("package"); fi
            passed_tests=$((passed_tests + $(grep -c '^ok: ' "$logs/package.log" || true)))
            failed_tests=$((failed_tests + $(grep -c '^FAILED: ' "$logs/package.log" || true)))
            ;;
        locks)
            # Every layer built by clang with its thread-safety analysis as errors; configuring that build
            # first shows that the analysis refuses a broken lock rule (cmake/CheckLockRules.cmake).
            if scripts/fuzz.sh --build-only 2>&1 | tee "$logs/locks.log"; then
                passed_tests=$((passed_tests + 1))
            else
                failed+=("locks"); failed_tests=$((failed_tests + 1)); failed_names+=("locks: clang thread-safety build")
            fi
            ;;
        fuzz)
            if ! scripts/fuzz.sh --seconds "${VNGTL_FUZZ_SECONDS:-30}" 2>&1 | tee "$logs/fuzz.log"; then
                failed+=("fuzz")
            fi
            passed_tests=$((passed_tests + $(grep -cE '^fuzz_[a-z_]+ .* ok$' "$logs/fuzz.log" || true)))
            failed_tests=$((failed_tests + $(grep -cE '^fuzz_[a-z_]+ .* FAILED$' "$logs/fuzz.log" || true)))
            ;;
        *) echo "test: unknown step '$step'" >&2; exit 2 ;;
    esac
done

echo "test: all steps took $((SECONDS - started)) s"
for name in "${failed_names[@]}"; do echo "failed: $name"; done
[ ${#failed[@]} -gt 0 ] && echo "test: failing steps: ${failed[*]}"
echo "tests: $passed_tests passed, $failed_tests failed"
[ ${#failed[@]} -eq 0 ]
