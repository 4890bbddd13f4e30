"""`vngtl features MODULE`: each module's features and values as its own description, read through its port
by the reference GenApi, shows them, on a simulator configured by the test; and clear failures for modules
that are not there."""
import json
import pathlib
import re
import subprocess
import sys

import pytest

CONFIG = {"boards": [
    {"kind": "CXP", "model": "VN-CXP4 CoaXPress", "serial": "VC0000042",
     "camera_files": [{"name": "Test_800x600.cam", "width": 800, "height": 600, "bits_per_pixel": 8}],
     "camera": {"vendor": "Testmaker", "model": "TestCam-7"}},
    {"kind": "CL", "model": "VN-CL2 Camera Link", "serial": "VL0000043",
     "camera_files": [{"name": "Test_CL_320x200.cam", "width": 320, "height": 200}]},
    {"kind": "other", "model": "VN-X", "serial": "VX0000044",
     "camera_files": [{"name": "X.cam", "width": 64, "height": 32}]},
]}


@pytest.fixture(scope="module")
def run(cti, tmp_path_factory):
    directory = tmp_path_factory.mktemp("features")
    config = directory / "sim.json"
    config.write_text(json.dumps(CONFIG))
    tool = pathlib.Path(cti).resolve().parent.parent / "bin" / "vngtl"
    if not tool.exists():
        pytest.skip(f"no vngtl beside {cti}")

    def run(*args, **overrides):
        env = {"PATH": "/usr/bin:/bin", "VNSIM_CONFIG": str(config), "VNGTL_CTI": cti,
               "VNGTL_PYTHON": sys.executable, "GENICAM_CACHE_V2_4": str(directory), **overrides}
        return subprocess.run([str(tool), *args], env=env, capture_output=True, text=True, timeout=120)
    return run


def values(output: str) -> dict:
    """Feature name -> value text of a listing (category lines have no value)."""
    found = {}
    for line in output.splitlines():
        match = re.fullmatch(r"\s+(\w+)\s+(.*?)\s*", line)
        if match:
            found.setdefault(match.group(1), match.group(2))
    return found


def test_system_and_interface_features_follow_the_configured_boards(run, cti):
    system = run("features", "system")
    assert system.returncode == 0, system.stderr
    listed = values(system.stdout)
    assert listed["InterfaceCount"] == "3"
    assert listed["InterfaceID"] == "VC0000042 (0) VN-CXP4 CoaXPress"  # the selector starts at 0
    assert listed["TLPath"] == str(pathlib.Path(cti).resolve())
    assert re.search(r"^SystemInformation$", system.stdout, re.M)  # categories head their features

    interface = run("features", "interface", "2")
    assert interface.returncode == 0, interface.stderr
    listed = values(interface.stdout)
    assert listed["InterfaceID"] == "VX0000044 (2) VN-X"
    assert listed["CurrentCameraFile"] == "X.cam"


def test_stream_and_camera_values_match_the_board_and_the_cameras_registers(run):
    stream = run("features", "stream", "1")
    assert stream.returncode == 0, stream.stderr
    listed = values(stream.stdout)
    assert (listed["Width"], listed["Height"], listed["PayloadSize"]) == ("320 px", "200 px", str(320 * 200) + " B")
    assert listed["StreamType"] == "CameraLink"

    camera = run("features", "camera", "0")
    assert camera.returncode == 0, camera.stderr
    listed = values(camera.stdout)
    assert (listed["DeviceVendorName"], listed["DeviceModelName"]) == ("Testmaker", "TestCam-7")
    # What `vngtl camera` reads straight from the camera's registers with GCReadPort.
    registers = run("camera", "0")
    assert registers.returncode == 0, registers.stderr
    width = re.search(r"^\s+Width\s+(\d+) \(register", registers.stdout, re.M).group(1)
    height = re.search(r"^\s+Height\s+(\d+) \(register", registers.stdout, re.M).group(1)
    assert (width, height) == ("800", "600")
    assert (listed["Width"], listed["Height"]) == (width + " px", height + " px")


@pytest.mark.parametrize("args, message", [
    (("gizmo",), "unknown module 'gizmo'"),
    (("device", "7"), "there is no interface 7 (3 found)"),
    (("stream", "x"), "the interface index must be a number"),
    (("camera", "2"), "the device of interface 2 has no camera port"),
])
def test_a_module_that_is_not_there_fails_clearly(run, args, message):
    result = run("features", *args)
    assert result.returncode != 0
    assert message in result.stderr


def test_without_the_genicam_package_the_reader_says_what_it_needs(run, tmp_path):
    bare = tmp_path / "python"  # the same interpreter without its site packages
    bare.write_text(f"#!/bin/sh\nexec {sys.executable} -I -S \"$@\"\n")
    bare.chmod(0o755)
    result = run("features", "system", VNGTL_PYTHON=str(bare))
    assert result.returncode == 1
    assert "needs the GenICam reference implementation's Python package 'genicam'" in result.stderr
