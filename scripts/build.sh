#!/usr/bin/env bash
# Configures and builds one configuration: rel (RelWithDebInfo), asan (AddressSanitizer with
# UndefinedBehaviorSanitizer) or tsan (ThreadSanitizer), into build/<name>.
# Usage: scripts/build.sh [rel|asan|tsan]
set -euo pipefail
cd "$(dirname "$0")/.."
config=${1:-rel}
case "$config" in
    rel)  sanitizer=none ;;
    asan) sanitizer=address ;;
    tsan) sanitizer=thread ;;
    *) echo "build: unknown configuration '$config' (rel, asan or tsan)" >&2; exit 2 ;;
esac
cmake -S . -B "build/$config" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVNGTL_SANITIZER=$sanitizer >/dev/null
# At most two jobs: the machines this is built on have two cores, shared with the tests.
ninja -C "build/$config" -j "${VNGTL_JOBS:-2}"
