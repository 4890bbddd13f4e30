"""The installed product: `cmake --install` of the build the tests run against puts the producer, its
libraries, the tool and the documentation into a fresh prefix, and consumers find and stream from that copy
through GENICAM_GENTL64_PATH, with nothing of the build tree loaded."""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import textwrap

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


CONSUMER = textwrap.dedent("""
    import os, pathlib, sys
    from harvesters.core import Harvester

    h = Harvester()
    for directory in os.environ["GENICAM_GENTL64_PATH"].split(os.pathsep):
        for cti in sorted(pathlib.Path(directory).glob("*.cti")):
            h.add_file(str(cti))
    h.update()
    ia = h.create(0)
    ia.remote_device.node_map.Width.value = 320
    ia.remote_device.node_map.Height.value = 240
    ia.start()
    ids = []
    for _ in range(5):
        with ia.fetch(timeout=3) as buffer:
            image = buffer.payload.components[0]
            assert (image.width, image.height) == (320, 240), (image.width, image.height)
            assert image.data.size == 320 * 240
            ids.append(buffer.frame_id)
    ia.stop()
    print("frames", *ids)
    for line in open("/proc/self/maps"):  # what is loaded while the producer is in use
        if line.rstrip().endswith(("VNGTL.cti", "libvnsim.so")):
            print("mapped", line.split()[-1])
    ia.destroy()
    h.reset()
""")


def test_harvesters_finds_the_installed_producer_through_the_search_path_and_streams(prefix, tmp_path):
    env = clean_environment(tmp_path, GENICAM_GENTL64_PATH=str(prefix / "lib" / "gentl"))
    result = subprocess.run([sys.executable, "-c", CONSUMER], env=env, cwd=tmp_path, capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    frames = [int(n) for n in next(line for line in lines if line.startswith("frames")).split()[1:]]
    assert len(frames) == 5 and frames == sorted(set(frames))
    mapped = {pathlib.Path(line.split(" ", 1)[1]) for line in lines if line.startswith("mapped")}
    assert {p.name for p in mapped} == {"VNGTL.cti", "libvnsim.so"}
    assert all(p.resolve().is_relative_to(prefix.resolve()) for p in mapped), mapped


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
