#!/usr/bin/env bash
# Installs what building and testing VNGTL needs, when it is missing: Debian packages (compiler, CMake,
# Ninja, GoogleTest, Google Benchmark, nlohmann-json, zlib and minizip, Boost headers, libpng) and a Python
# virtual environment in .venv with the GenTL consumers used by the conformance tests. With --fuzz it also
# installs clang and its sanitizer and libFuzzer runtime for the fuzz targets.
# Usage: scripts/setup.sh [--no-python] [--fuzz]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev zlib1g-dev
          libminizip-dev libboost-dev libpng-dev python3-venv)
python=yes
for option in "$@"; do
    case "$option" in
        --no-python) python=no ;;
        --fuzz) packages+=(clang-16 libclang-rt-16-dev) ;;
        *) echo "setup: unknown option '$option'" >&2; exit 2 ;;
    esac
done
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

[ "$python" = no ] && exit 0

python_packages=(genicam "harvesters==1.4.3" numpy pytest)
if [ ! -x .venv/bin/python ]; then
    echo "setup: creating .venv"
    python3 -m venv .venv
fi
if ! .venv/bin/python -c "import genicam.gentl, harvesters.core, numpy, pytest" 2>/dev/null; then
    echo "setup: installing ${python_packages[*]} into .venv"
    .venv/bin/pip install -q --disable-pip-version-check "${python_packages[@]}"
fi
