"""The installed product: `cmake --install` of the build the tests run against puts the producer, its
libraries, the tool and the documentation into a fresh prefix, and consumers find and stream from that copy
through GENICAM_GENTL64_PATH, with nothing of the build tree loaded."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest


@pytest.fixture(scope="module")
def build_dir(cti) -> pathlib.Path:
    build = pathlib.Path(cti).resolve().parent.parent
    if not (build / "CMakeCache.txt").exists():
        pytest.skip(f"{cti} is not in a CMake build tree, so there is nothing to install")
    return build


@pytest.fixture(scope="module")
def prefix(build_dir, tmp_path_factory) -> pathlib.Path:
    prefix = tmp_path_factory.mktemp("prefix")
    subprocess.run(["cmake", "--install", str(build_dir), "--prefix", str(prefix)], check=True,
                   capture_output=True, text=True, timeout=120)
    return prefix


def clean_environment(tmp_path, **extra) -> dict:
    """The caller's environment without anything that would point a consumer at the build tree."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("VNGTL_CTI", "VNSIM_CONFIG", "LD_LIBRARY_PATH", "GENICAM_GENTL64_PATH")}
    cache = tmp_path / "xml-cache"
    cache.mkdir(exist_ok=True)
    env["GENICAM_CACHE_V2_4"] = str(cache)
    env.update(extra)
    return env


def runpath(library: pathlib.Path) -> str:
    dynamic = subprocess.run(["readelf", "-d", str(library)], check=True, capture_output=True, text=True).stdout
    found = re.search(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic)
    return found.group(1) if found else ""


def test_install_lays_out_producer_tool_headers_and_documentation(prefix):
    gentl = prefix / "lib" / "gentl"
    for path in [gentl / "VNGTL.cti", gentl / "libvnsim.so", gentl / "libclallserial.so", prefix / "bin" / "vngtl",
                 prefix / "include" / "gentl" / "GenTL.h", prefix / "include" / "vnsim.h",
                 prefix / "share" / "doc" / "vngtl" / "README.md",
                 prefix / "share" / "doc" / "vngtl" / "simulator.md", prefix / "share" / "doc" / "vngtl" / "guide.md"]:
        assert path.is_file(), f"{path} was not installed"
    assert os.access(prefix / "bin" / "vngtl", os.X_OK)
    # The installed libraries find each other beside themselves, never in the build tree.
    assert runpath(gentl / "VNGTL.cti") == "$ORIGIN"
    assert runpath(gentl / "libclallserial.so") == "$ORIGIN"
    # Nothing the tests or the benchmark need is shipped.
    assert not any(p.name.startswith(("vngtl_bench", "vngtl_unit")) for p in (prefix / "bin").iterdir())


def test_harvesters_finds_the_installed_producer_through_the_search_path_and_streams(prefix, tmp_path):
    """The package test's consumer, on the installed copy: both cameras' frames checked pixel by pixel, and
    only the installed producer and simulator loaded."""
    env = clean_environment(tmp_path, GENICAM_GENTL64_PATH=str(prefix / "lib" / "gentl"))
    script = pathlib.Path(__file__).resolve().parents[1] / "package" / "stream_both_cameras.py"
    result = subprocess.run([sys.executable, str(script)], env=env, cwd=tmp_path, capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "CXP: 10 frames checked" in result.stdout and "CL: 10 frames checked" in result.stdout, result.stdout


def test_installed_tool_finds_the_producer_beside_itself_or_through_the_search_path(prefix, tmp_path):
    env = clean_environment(tmp_path)
    beside = subprocess.run([str(prefix / "bin" / "vngtl"), "list"], env=env, capture_output=True, text=True,
                            timeout=60)
    assert beside.returncode == 0, beside.stderr
    assert f"producer: {prefix / 'lib' / 'gentl' / 'VNGTL.cti'}" in beside.stdout
    assert "2 interfaces" in beside.stdout
    env["VNGTL_PYTHON"] = sys.executable
    listed = subprocess.run([str(prefix / "bin" / "vngtl"), "features", "system"], env=env, capture_output=True,
                            text=True, timeout=60)
    assert listed.returncode == 0, listed.stderr
    assert re.search(rf"^\s+TLPath\s+{re.escape(str(prefix / 'lib' / 'gentl' / 'VNGTL.cti'))}$", listed.stdout, re.M)

    # A copy of the tool elsewhere has no producer beside it and takes the one on the search path.
    elsewhere = tmp_path / "bin"
    elsewhere.mkdir()
    shutil.copy2(prefix / "bin" / "vngtl", elsewhere / "vngtl")
    env["GENICAM_GENTL64_PATH"] = f"{tmp_path / 'nothing-here'}:{prefix / 'lib' / 'gentl'}"
    searched = subprocess.run([str(elsewhere / "vngtl"), "grab", "--count", "3", "--out", str(tmp_path / "g.png")],
                              env=env, capture_output=True, text=True, timeout=60)
    assert searched.returncode == 0, searched.stderr
    assert f"producer: {prefix / 'lib' / 'gentl' / 'VNGTL.cti'}" in searched.stdout
    assert re.search(r"summary: 3 frames .* 0 lost", searched.stdout), searched.stdout
    assert (tmp_path / "g.png").stat().st_size > 0
