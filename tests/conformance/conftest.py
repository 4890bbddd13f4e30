"""Shared setup for the conformance tests: real GenTL consumers load the built VNGTL.cti."""
import ctypes
import os
import pathlib
import subprocess

import pytest
from harvesters.core import Harvester

ROOT = pathlib.Path(__file__).resolve().parents[2]


def cti_path() -> str:
    path = os.environ.get("VNGTL_CTI", str(ROOT / "build" / "rel" / "lib" / "VNGTL.cti"))
    if not os.path.exists(path):
        pytest.exit(f"VNGTL.cti not found at {path}; build it first (scripts/build.sh rel)", returncode=2)
    return path


def use_default_xml_cache(cti: str) -> None:
    """The producer keeps the camera's XML files in GENICAM_CACHE_V2_4; without the user's own, a directory in
    the build tree beside the producer's lib directory serves."""
    if "GENICAM_CACHE_V2_4" not in os.environ:
        cache = pathlib.Path(cti).resolve().parent.parent / "xml-cache"
        cache.mkdir(parents=True, exist_ok=True)
        os.environ["GENICAM_CACHE_V2_4"] = str(cache)


@pytest.fixture(scope="session")
def cti() -> str:
    path = cti_path()
    use_default_xml_cache(path)
    return path


@pytest.fixture(scope="session")
def vnsim(cti):
    """The simulated board SDK's control interface, from the library the producer links against."""
    lib = ctypes.CDLL(str(pathlib.Path(cti).parent / "libvnsim.so"))
    lib.vnsim_configure.argtypes = [ctypes.c_char_p]
    lib.vnsim_configure.restype = ctypes.c_int
    lib.vnsim_last_error.restype = ctypes.c_char_p
    lib.vnsim_debug_output.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    lib.vnsim_debug_output.restype = ctypes.c_size_t
    lib.vnsim_reset.restype = None
    lib.vnsim_set_rate.argtypes = [ctypes.c_int, ctypes.c_double]
    lib.vnsim_pulse_trigger_input.argtypes = [ctypes.c_int, ctypes.c_uint32]
    lib.vnsim_check_frame.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint32, ctypes.c_uint32,
                                      ctypes.c_uint32, ctypes.c_uint64]
    lib.vnsim_check_frame.restype = ctypes.c_longlong
    lib.vnsim_frame_stamp.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    lib.vnsim_frame_stamp.restype = ctypes.c_uint64
    lib.vnsim_cxp_read.argtypes = [ctypes.c_int, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32]
    lib.vnsim_cxp_write.argtypes = [ctypes.c_int, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32]
    lib.vnsim_cxp_read_register.argtypes = [ctypes.c_int, ctypes.c_uint32, ctypes.POINTER(ctypes.c_uint32)]
    lib.vnsim_cxp_camera_xml.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_size_t]
    lib.vnsim_cxp_camera_xml.restype = ctypes.c_size_t
    lib.vnsim_cl_camera_xml.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    lib.vnsim_cl_camera_xml.restype = ctypes.c_size_t
    lib.vnsim_cl_peek.argtypes = [ctypes.c_int, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32]
    return lib


@pytest.fixture
def sim(vnsim):
    """The simulator in its default configuration for one test, and again after it."""
    vnsim.vnsim_reset()
    yield vnsim
    vnsim.vnsim_reset()


@pytest.fixture
def harvester(cti, sim):
    """Harvesters with the producer loaded (on the simulator as the test configures it), reset after the test."""
    h = Harvester()
    h.add_file(cti)
    yield h
    h.reset()


def create(harvester, kind):
    """An image acquirer of the device whose transport layer is of that kind ("CXP" or "CL")."""
    harvester.update()
    return harvester.create(next(i for i, info in enumerate(harvester.device_info_list) if info.tl_type == kind))


def run_tool(cti, *args, **env):
    """The built vngtl tool run with args in an otherwise bare environment (plus env), its output captured."""
    tool = pathlib.Path(cti).resolve().parent.parent / "bin" / "vngtl"
    env = {"PATH": "/usr/bin:/bin", "VNGTL_CTI": cti, "GENICAM_CACHE_V2_4": os.environ["GENICAM_CACHE_V2_4"], **env}
    return subprocess.run([str(tool), *map(str, args)], env=env, capture_output=True, text=True, timeout=120)
