#!/usr/bin/env bash
# Builds the rel configuration, runs the racing-consumers stress test for a longer time than the test suite
# does, then the soak program: frames with three consumers and random board faults, lifecycle cycles with
# resource counts, and closing while consumers wait.
# Usage: scripts/soak.sh [--stress-seconds S] [--frames N] [--cycles M] [--seed S] [--fault-kinds 0..4]
#   (defaults: 120 s of racing consumers (0 skips them), 1,000,000 frames, 10,000 cycles)
set -euo pipefail
cd "$(dirname "$0")/.."
stress_seconds=120
args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --stress-seconds) stress_seconds=$2; shift 2 ;;
        *) args+=("$1"); shift ;;
    esac
done
scripts/build.sh rel >/dev/null
if [ "$stress_seconds" -gt 0 ]; then
    cache=${GENICAM_CACHE_V2_4:-$PWD/build/rel/xml-cache}
    mkdir -p "$cache"
    GENICAM_CACHE_V2_4=$cache VNGTL_STRESS_SECONDS=$stress_seconds nice build/rel/bin/lifetime_tests \
        --gtest_filter='RacingConsumersTest.*'
fi
exec nice build/rel/bin/soak "${args[@]}"
