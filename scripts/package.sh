#!/usr/bin/env bash
# Makes the binary packages of the release configuration, side by side in build/:
#   build/vngtl-<version>-linux-<machine>.tar.gz   the installed tree (unpack anywhere; see docs/guide.md)
#   build/vngtl_<version>_<arch>.deb               the Debian package (installs under /usr and sets up sessions)
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

deb=build/vngtl_${version}_$(dpkg --print-architecture).deb
rm -f "$deb"
(cd build/rel && cpack -G DEB -B "$PWD/../package-deb" >/dev/null)
mv build/package-deb/"$(basename "$deb")" "$deb"
rm -rf build/package-deb
echo "$deb"
dpkg-deb -f "$deb" Depends | sed 's/^/  Depends: /'
dpkg-deb -c "$deb" | awk '{print "  " $NF}'
