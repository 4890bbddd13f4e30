#!/usr/bin/env bash
# The main job: builds the producer and the simulated boards, then runs vngtl, a GenTL consumer that loads
# VNGTL.cti like any other and shows what it finds on the simulated boards.
# Usage: scripts/run.sh [vngtl arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --no-python
scripts/build.sh rel >/dev/null
exec build/rel/bin/vngtl "$@"
