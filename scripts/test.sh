#!/usr/bin/env bash
# Runs every test: the unit tests built three ways (normal, AddressSanitizer with UndefinedBehaviorSanitizer,
# ThreadSanitizer), then the conformance tests, in which real GenTL consumers (the reference GenApi's GenTL
# consumer and Harvesters) load the built VNGTL.cti.
# Usage: scripts/test.sh [rel|asan|tsan|conformance ...]   (default: all of them)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

steps=("$@")
[ ${#steps[@]} -eq 0 ] && steps=(rel asan tsan conformance)

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

failed=()
for step in "${steps[@]}"; do
    echo "=== $step ==="
    case "$step" in
        rel|asan|tsan)
            if ! scripts/build.sh "$step"; then failed+=("$step (build)"); continue; fi
            (cd "build/$step" && ctest --output-on-failure --timeout 600) || failed+=("$step")
            ;;
        conformance)
            if ! scripts/build.sh rel; then failed+=("conformance (build)"); continue; fi
            VNGTL_CTI="$PWD/build/rel/lib/VNGTL.cti" .venv/bin/python -m pytest -q tests/conformance \
                || failed+=("conformance")
            ;;
        *) echo "test: unknown step '$step'" >&2; exit 2 ;;
    esac
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "test: FAILED: ${failed[*]}"
    exit 1
fi
echo "test: all passed (${steps[*]})"
