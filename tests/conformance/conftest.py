"""Shared setup for the conformance tests: real GenTL consumers load the built VNGTL.cti."""
import ctypes
import os
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def cti_path() -> str:
    path = os.environ.get("VNGTL_CTI", str(ROOT / "build" / "rel" / "lib" / "VNGTL.cti"))
    if not os.path.exists(path):
        pytest.exit(f"VNGTL.cti not found at {path}; build it first (scripts/build.sh rel)", returncode=2)
    return path


@pytest.fixture(scope="session")
def cti() -> str:
    return cti_path()


@pytest.fixture(scope="session")
def vnsim(cti):
    """The simulated board SDK's control interface, from the library the producer links against."""
    lib = ctypes.CDLL(str(pathlib.Path(cti).parent / "libvnsim.so"))
    lib.vnsim_configure.argtypes = [ctypes.c_char_p]
    lib.vnsim_configure.restype = ctypes.c_int
    lib.vnsim_last_error.restype = ctypes.c_char_p
    lib.vnsim_debug_output.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    lib.vnsim_debug_output.restype = ctypes.c_size_t
    return lib
