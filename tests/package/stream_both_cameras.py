"""Run by tests/package/check_package.sh in a login shell of an otherwise empty environment, after the Debian
package is installed: finds the producer only through GENICAM_GENTL64_PATH, streams from the CoaXPress and
the Camera Link camera with Harvesters, checks every delivered frame pixel by pixel against the simulator's
pattern for its frame counter, and checks that both cameras' XML landed in GENICAM_CACHE_V2_4 and that the
producer and simulator loaded are the ones of that folder."""
import ctypes
import os
import pathlib
import sys

from harvesters.core import Harvester

FRAMES = 10


def fail(message: str) -> None:
    print(f"stream_both_cameras: {message}", file=sys.stderr)
    sys.exit(1)


search_path = os.environ.get("GENICAM_GENTL64_PATH", "")
cache = os.environ.get("GENICAM_CACHE_V2_4", "")
if not cache or not pathlib.Path(cache).is_dir():
    fail(f"GENICAM_CACHE_V2_4 ({cache!r}) does not name an existing folder")
producers = [cti for directory in search_path.split(os.pathsep) if directory
             for cti in sorted(pathlib.Path(directory).glob("*.cti"))]
if [p.name for p in producers] != ["VNGTL.cti"]:
    fail(f"GENICAM_GENTL64_PATH {search_path!r} leads to {producers}, not to one VNGTL.cti")
producer = producers[0].resolve()
harvester = Harvester()
harvester.add_file(str(producer))
harvester.update()
# Only the copies in the producer's folder are loaded (nothing of a build tree), before this script loads any.
mapped = {pathlib.Path(line.split()[-1]).resolve() for line in pathlib.Path("/proc/self/maps").read_text().splitlines()
          if line.rstrip().endswith(("VNGTL.cti", "libvnsim.so"))}
if sorted(p.name for p in mapped) != ["VNGTL.cti", "libvnsim.so"] or {p.parent for p in mapped} != {producer.parent}:
    fail(f"loaded: {sorted(map(str, mapped))}, not the two of {producer.parent}")
# The simulator the producer loaded, so the frames are checked by the same code.
vnsim = ctypes.CDLL(str(producer.parent / "libvnsim.so"))
vnsim.vnsim_check_frame.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_uint32, ctypes.c_uint32,
                                    ctypes.c_uint32, ctypes.c_uint64]
vnsim.vnsim_check_frame.restype = ctypes.c_longlong
vnsim.vnsim_frame_stamp.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
vnsim.vnsim_frame_stamp.restype = ctypes.c_uint64
kinds = sorted(info.tl_type for info in harvester.device_info_list)
if kinds != ["CL", "CXP"]:
    fail(f"devices found: {kinds}")
try:
    for index, info in enumerate(harvester.device_info_list):
        acquirer = harvester.create(index)
        try:
            node_map = acquirer.remote_device.node_map
            node_map.Width.value = 320
            node_map.Height.value = 240
            acquirer.start()
            last = 0
            for _ in range(FRAMES):
                with acquirer.fetch(timeout=5) as fetched:
                    image = fetched.payload.components[0]
                    data = bytes(image.data)
                    counter = vnsim.vnsim_frame_stamp(data, len(data))
                    if (image.width, image.height) != (320, 240) or counter <= last:
                        fail(f"{info.tl_type}: frame {counter} after {last}, {image.width} x {image.height}")
                    wrong = vnsim.vnsim_check_frame(data, len(data), 320, 240, 8, counter)
                    if wrong != 0:
                        fail(f"{info.tl_type}: frame {counter} differs from the pattern at byte {wrong}")
                    last = counter
            acquirer.stop()
            print(f"{info.tl_type}: {FRAMES} frames checked, last {last}")
        finally:
            acquirer.destroy()
finally:
    harvester.reset()

cached = sorted(p.name for p in pathlib.Path(cache).iterdir())
print("cached:", *cached)
if "VantrelSimCamCXP.xml" not in cached or not any(name.startswith("CLProtocol_") for name in cached):
    fail(f"the cameras' XML files are not in {cache}: {cached}")
