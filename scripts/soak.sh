#!/usr/bin/env bash
# Builds the rel configuration and runs the soak program: frames with three consumers and random board
# faults, lifecycle cycles with resource counts, and closing while consumers wait.
# Usage: scripts/soak.sh [--frames N] [--cycles M] [--seed S] [--fault-kinds 0..4]
#   (defaults: 1,000,000 frames, 10,000 cycles)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh rel >/dev/null
exec nice build/rel/bin/soak "$@"
