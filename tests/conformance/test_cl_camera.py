"""The simulated Camera Link camera through real consumers: its description loads in the reference GenApi,
and Harvesters creates the Camera Link device, loads the camera's node map through the remote-device port
(CLProtocol over the serial line), changes Width over the serial line and streams 100 checked frames."""
import ctypes
import os

import pytest
from genicam import genapi

FRAMES = 100
MONO8 = 0x01080001
WIDTH_ADDRESS = 0x10000  # sim/ClCameraRegisters.h


@pytest.fixture
def cl_sim(vnsim, tmp_path):
    vnsim.vnsim_reset()
    old_cache = os.environ.get("GENICAM_CACHE_V2_4")
    os.environ["GENICAM_CACHE_V2_4"] = str(tmp_path / "cache")
    yield vnsim
    if old_cache is None:
        os.environ.pop("GENICAM_CACHE_V2_4", None)
    else:
        os.environ["GENICAM_CACHE_V2_4"] = old_cache
    vnsim.vnsim_reset()


def camera_xml(sim) -> str:
    size = sim.vnsim_cl_camera_xml(None, 0)
    text = ctypes.create_string_buffer(size + 1)
    sim.vnsim_cl_camera_xml(text, size + 1)
    return text.value.decode()


def test_the_camera_description_loads_in_the_reference_genapi(cl_sim):
    node_map = genapi.NodeMap()
    node_map.load_xml_from_string(camera_xml(cl_sim))
    for name in ("Width", "Height", "PixelFormat", "ExposureTime", "AcquisitionFrameRate", "TestPattern",
                 "AcquisitionStart", "AcquisitionStop", "TLParamsLocked", "DeviceVendorName", "PayloadSize"):
        assert node_map.get_node(name) is not None, name
    assert [entry.symbolic for entry in node_map.get_node("PixelFormat").entries] == \
        ["Mono8", "Mono10", "Mono12", "Mono16"]


def camera_width(sim) -> int:
    value = ctypes.c_uint32()
    assert sim.vnsim_cl_peek(1, WIDTH_ADDRESS, ctypes.byref(value), 4) == 0
    return value.value


def test_harvesters_streams_from_the_camera_link_camera(cti, cl_sim):
    from harvesters.core import Harvester

    harvester = Harvester()
    harvester.add_file(cti)
    harvester.update()
    index = next(i for i, info in enumerate(harvester.device_info_list) if info.tl_type == "CL")
    try:
        acquirer = harvester.create(index)
    except Exception:
        harvester.reset()
        raise
    try:
        node_map = acquirer.remote_device.node_map
        assert node_map.DeviceVendorName.value == "Vantrel"
        assert node_map.DeviceModelName.value == "SimCam-CL-1"
        assert node_map.Width.value == 640
        node_map.Width.value = 320
        assert camera_width(cl_sim) == 320, "the write went over the serial line to the camera"
        node_map.AcquisitionFrameRate.value = 250.0
        acquirer.start()
        last = 0
        for _ in range(FRAMES):
            with acquirer.fetch(timeout=3) as fetched:
                component = fetched.payload.components[0]
                assert (component.width, component.height) == (320, 480)
                data = bytes(component.data)
                counter = cl_sim.vnsim_frame_stamp(data, len(data))
                assert counter > last
                last = counter
                assert cl_sim.vnsim_check_frame(data, len(data), 320, 480, 8, counter) == 0
        acquirer.stop()
    finally:
        acquirer.destroy()
        harvester.reset()
