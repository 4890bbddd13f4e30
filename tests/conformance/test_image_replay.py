"""The user's own images as the simulated cameras' frames, through Harvesters: PNG files (8- and 16-bit
grey) and raw files come out of EventGetData byte for byte, in name order, looping or ending after the
last; a region of interest (the camera's own, or the stream's) delivers the matching crop; a folder with a
file that cannot be used is refused at configuration time, naming the file."""
import json
import struct
import zlib

import numpy as np
from conftest import create, run_tool

WIDTH, HEIGHT = 96, 64


def write_png(path, pixels: np.ndarray) -> None:
    """A grey PNG of the array's depth (uint8 or big-endian 16-bit as PNG stores it)."""
    depth = 16 if pixels.dtype == np.uint16 else 8
    rows = pixels.astype(">u2") if depth == 16 else pixels
    raw = b"".join(b"\0" + row.tobytes() for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", pixels.shape[1], pixels.shape[0], depth, 0, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw)) +
                     chunk(b"IEND", b""))


def images(count, dtype=np.uint8, seed=1):
    generator = np.random.default_rng(seed)
    top = 256 if dtype == np.uint8 else 65536
    return [generator.integers(0, top, (HEIGHT, WIDTH), dtype=np.uint32).astype(dtype) for _ in range(count)]


def configure(sim, cxp_images, cl_images):
    document = {"boards": [{"kind": "CXP", "frame_source": {"rate": 30, "images": cxp_images}},
                           {"kind": "CL", "frame_source": {"rate": 30, "images": cl_images}}]}
    assert sim.vnsim_configure(json.dumps(document).encode()) == 0, sim.vnsim_last_error().decode()


def grab(harvester, kind, count, setup=lambda acquirer: None, watch_for_more=False):
    """The bytes of count frames from the device of that kind, with setup applied before the start; with
    watch_for_more, a None after them when another frame came."""
    acquirer = create(harvester, kind)
    frames = []
    try:
        setup(acquirer)
        acquirer.start()
        for _ in range(count):
            with acquirer.fetch(timeout=3) as fetched:
                image = fetched.payload.components[0]
                frames.append((image.width, image.height, bytes(image.data)))
        extra = acquirer.try_fetch(timeout=0.4) if watch_for_more else None
        if extra is not None:
            frames.append(None)
            extra.queue()
        acquirer.stop()
    finally:
        acquirer.destroy()
    return frames


def assert_played_in_order(frames, expected, width, height):
    """Each frame is one of the expected images byte for byte, and they follow each other in name order."""
    order = []
    for frame in frames:
        assert frame[:2] == (width, height)
        matches = [i for i, e in enumerate(expected) if e.tobytes() == frame[2]]
        assert matches, "a frame is not one of the images, byte for byte"
        order.append(matches[0])
    assert all((b - a) % len(expected) == 1 for a, b in zip(order, order[1:])), order
    return order


def test_png_and_raw_images_come_out_byte_for_byte_in_name_order_and_loop(harvester, sim, tmp_path):
    grey8 = images(3)
    grey16 = images(2, np.uint16, seed=2)
    raw = [(pixels & 0x3FF).astype("<u2") for pixels in images(3, np.uint16, seed=3)]  # Mono10 in 16-bit words
    for folder, name, frames in [("png8", "frame_{:02}.png", grey8), ("png16", "{}.png", grey16)]:
        (tmp_path / folder).mkdir()
        for i, pixels in enumerate(frames):
            write_png(tmp_path / folder / name.format(i), pixels)
    (tmp_path / "raw").mkdir()
    for i, pixels in enumerate(raw):
        pixels.tofile(tmp_path / "raw" / f"r{i}.raw")

    configure(sim, str(tmp_path / "png8"), str(tmp_path / "png16"))
    # Seven frames of three images: the folder loops.
    assert_played_in_order(grab(harvester, "CXP", 7), grey8, WIDTH, HEIGHT)
    assert_played_in_order(grab(harvester, "CL", 4), [p.astype("<u2") for p in grey16], WIDTH, HEIGHT)

    configure(sim, {"folder": str(tmp_path / "raw"),
                    "raw": {"width": WIDTH, "height": HEIGHT, "pixel_format": "Mono10"}}, str(tmp_path / "png8"))
    def camera_follows_the_images(acquirer):
        features = acquirer.remote_device.node_map
        assert (features.WidthMax.value, features.HeightMax.value) == (WIDTH, HEIGHT)
        assert features.PixelFormat.value == "Mono10", "the camera's format follows the images"

    assert_played_in_order(grab(harvester, "CXP", 4, camera_follows_the_images), raw, WIDTH, HEIGHT)


def window(features, width, height, x, y):
    for name, value in (("Width", width), ("Height", height), ("OffsetX", x), ("OffsetY", y)):
        getattr(features, name).value = value


def test_a_region_of_interest_delivers_the_matching_crop_and_a_folder_may_end(harvester, sim, tmp_path):
    grey8 = images(2, seed=4)
    for i, pixels in enumerate(grey8):
        write_png(tmp_path / f"{i}.png", pixels)
    configure(sim, str(tmp_path), str(tmp_path))
    # The CoaXPress camera's own window, and the Camera Link board's, through the data stream's features.
    frames = grab(harvester, "CXP", 3, lambda acquirer: window(acquirer.remote_device.node_map, 40, 24, 30, 17))
    assert_played_in_order(frames, [np.ascontiguousarray(p[17:41, 30:70]) for p in grey8], 40, 24)
    frames = grab(harvester, "CL", 3, lambda acquirer: window(acquirer.data_streams[0].node_map, 32, 20, 8, 40))
    assert_played_in_order(frames, [np.ascontiguousarray(p[40:60, 8:40]) for p in grey8], 32, 20)

    # A folder that does not loop ends after its last image.
    configure(sim, {"folder": str(tmp_path), "loop": False}, str(tmp_path))
    frames = grab(harvester, "CXP", 2, watch_for_more=True)
    assert frames[-1] is not None, "a frame came after the last image"
    assert assert_played_in_order(frames, grey8, WIDTH, HEIGHT) == [0, 1]


def test_a_file_that_cannot_be_used_is_refused_naming_it(sim, tmp_path):
    write_png(tmp_path / "a.png", images(1)[0])
    (tmp_path / "b_broken.png").write_bytes(b"\x89PNG\r\n\x1a\n truncated")

    def refused(kind, images, *texts):
        document = {"boards": [{"kind": kind, "frame_source": {"images": images}}]}
        assert sim.vnsim_configure(json.dumps(document).encode()) == -1
        error = sim.vnsim_last_error().decode()
        assert all(text in error for text in texts), error

    refused("CXP", str(tmp_path), str(tmp_path / "b_broken.png"), "boards[0].frame_source.images")
    (tmp_path / "b_broken.png").unlink()
    (tmp_path / "c.raw").write_bytes(bytes(WIDTH * HEIGHT - 1))
    raw = {"width": WIDTH, "height": HEIGHT, "pixel_format": "Mono8"}
    refused("CXP", {"folder": str(tmp_path), "raw": raw}, str(tmp_path / "c.raw"), f"not the {WIDTH * HEIGHT}")
    # Images of different sizes cannot make one camera.
    (tmp_path / "c.raw").unlink()
    write_png(tmp_path / "d.png", np.zeros((HEIGHT, WIDTH + 1), np.uint8))
    refused("CL", str(tmp_path), str(tmp_path / "d.png"))


def test_the_tool_streams_the_folder_it_is_given_and_fails_on_one_it_cannot_play(cti, tmp_path):
    """`vngtl grab --images` plays the folder, and refuses (status 1, naming the folder) instead of quietly
    streaming the test pattern when the folder cannot be played."""
    def run(folder):
        return run_tool(cti, "grab", "--count", "2", "--images", folder, "--out", tmp_path / "last.png")

    write_png(tmp_path / "0.png", images(1)[0])
    played = run(tmp_path)
    assert played.returncode == 0 and "summary: 2 frames" in played.stdout, played.stdout + played.stderr

    for folder in (tmp_path / "missing", tmp_path / "empty"):
        if folder.name == "empty":
            folder.mkdir()
        refused = run(folder)
        assert refused.returncode == 1, refused.stdout + refused.stderr
        assert "vngtl: --images: " in refused.stderr and str(folder) in refused.stderr, refused.stderr
        assert "summary:" not in refused.stdout
