#!/usr/bin/env bash
# The main job: builds the producer and the simulated boards, then runs vngtl, a GenTL consumer that loads
# VNGTL.cti like any other, to grab images from the default simulated board and save the last one as a PNG.
# Usage: scripts/run.sh [vngtl grab options...]   (see `build/rel/bin/vngtl --help`)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --no-python
scripts/build.sh rel >/dev/null
# The producer keeps the camera's XML files in the GenICam cache directory; without one of the user's, a
# directory in the build tree serves.
export GENICAM_CACHE_V2_4=${GENICAM_CACHE_V2_4:-$PWD/build/rel/xml-cache}
mkdir -p "$GENICAM_CACHE_V2_4"
out=build/rel/vngtl-grab.png
args=("$@")
for ((i = 0; i + 1 < ${#args[@]}; i++)); do
  [[ ${args[i]} == --out ]] && out=${args[i + 1]}
done
build/rel/bin/vngtl grab --out "$out" "$@"
case $out in /*) ;; *) out=$PWD/$out ;; esac
echo "The last image is in $out"
