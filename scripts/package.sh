#!/usr/bin/env bash
# Makes the binary tarball: builds the release configuration, installs it into a staging prefix and packs
# that prefix as build/vngtl-<version>-linux-<machine>.tar.gz (unpack anywhere; see docs/guide.md).
# Usage: scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --no-python
scripts/build.sh rel >/dev/null
version=$(sed -nE 's/^project\(VNGTL VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
name=vngtl-$version-linux-$(uname -m)
staging=build/package
rm -rf "$staging"
cmake --install build/rel --prefix "$PWD/$staging/$name" >/dev/null
tar -C "$staging" -czf "build/$name.tar.gz" "$name"
echo "build/$name.tar.gz"
tar -tzf "build/$name.tar.gz" | sed 's/^/  /'
