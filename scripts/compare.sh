#!/usr/bin/env bash
# Side by side: our VNGTL.cti (the simulated CoaXPress board's camera) and the simulator producer that comes
# with the genicam package, driven by the same Harvesters consumer (scripts/compare.py) with the same frame
# size; prints frames/s and MB/s of each, at each camera's highest rate and paced at one common rate.
# Usage: scripts/compare.sh [--width W] [--height H] [--seconds S] [--rate R]   (640 x 480, 5 s, 100/s)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh rel >/dev/null
peer=$(.venv/bin/python -c 'import genicam, pathlib; print(*sorted(pathlib.Path(genicam.__file__).parent.glob("*.cti")))')
if [ -z "$peer" ]; then
    echo "compare: the genicam package in .venv carries no simulator producer (.cti)" >&2
    exit 1
fi
export GENICAM_CACHE_V2_4=${GENICAM_CACHE_V2_4:-$PWD/build/rel/xml-cache}
mkdir -p "$GENICAM_CACHE_V2_4"
unset VNSIM_CONFIG
echo "VNGTL:       $PWD/build/rel/lib/VNGTL.cti"
echo "genicam-sim: $peer"
exec .venv/bin/python scripts/compare.py "$@" "VNGTL=$PWD/build/rel/lib/VNGTL.cti" "genicam-sim=${peer%% *}"
