#!/usr/bin/env bash
# The benchmark: builds the producer (release configuration), then drives VNGTL.cti through its exported
# functions against the simulated boards in benchmark mode and prints one table, each figure that has a
# target with the target beside it (large-frame ratio and copy threads, four boards at once, losses at
# 10,000 frames/s over eleven runs, latency at 1,000 frames/s); the figures are also written to
# build/rel/vngtl-bench.json. Compare figures only within one run: the machine may be shared.
# Usage: scripts/bench.sh [--seconds S]   (seconds per streaming measurement, default 3)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --no-python
scripts/build.sh rel >/dev/null
exec build/rel/bin/vngtl_bench --json build/rel/vngtl-bench.json "$@"
