"""Streams from two GenTL producers with the same Harvesters consumer code and the same frame size, and prints
frames/s and MB/s (image bytes delivered) side by side: once with each producer's camera as fast as its
AcquisitionFrameRate allows, once with both paced at the same rate.

Each producer runs in a process of its own (the same code: this file with --one), so neither sees the
other's libraries.

Usage: python scripts/compare.py [--width W] [--height H] [--seconds S] [--rate R] NAME=CTI NAME=CTI
"""
import argparse
import importlib.metadata
import json
import subprocess
import sys
import time

from harvesters.core import Harvester

BUFFERS = 16


def measure(cti: str, width: int, height: int, seconds: float, rate: float | None) -> dict:
    """One producer's first device: set the frame size, Mono8 and the rate (None: the camera's highest),
    stream for `seconds` and count frames, image bytes and frame-ID gaps."""
    h = Harvester()
    h.add_file(cti)
    h.update()
    ia = h.create(0)
    try:
        features = ia.remote_device.node_map
        features.PixelFormat.value = "Mono8"
        features.Width.value = width
        features.Height.value = height
        highest = features.AcquisitionFrameRate.max
        features.AcquisitionFrameRate.value = highest if rate is None else min(rate, highest)
        asked = features.AcquisitionFrameRate.value
        ia.num_buffers = BUFFERS
        ia.start()
        frames = image_bytes = gaps = 0
        last_id = None
        # The first frame starts the clock, so start-up costs are not counted.
        with ia.fetch(timeout=5) as buffer:
            last_id = buffer.frame_id
        start = time.perf_counter()
        while (elapsed := time.perf_counter() - start) < seconds:
            with ia.fetch(timeout=5) as buffer:
                image = buffer.payload.components[0]
                assert (image.width, image.height) == (width, height), (image.width, image.height)
                image_bytes += image.data.nbytes
                frames += 1
                if last_id is not None and buffer.frame_id > last_id + 1:
                    gaps += buffer.frame_id - last_id - 1
                last_id = buffer.frame_id
        elapsed = time.perf_counter() - start
        ia.stop()
    finally:
        ia.destroy()
        h.reset()
    return {"rate_set": asked, "frames": frames, "seconds": elapsed, "fps": frames / elapsed,
            "mbps": image_bytes / elapsed / 1e6, "lost": gaps}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--width", type=int, default=640)
    parser.add_argument("--height", type=int, default=480)
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--rate", type=float, default=100.0, help="the common paced rate (frames/s)")
    parser.add_argument("--one", metavar="CTI", help=argparse.SUPPRESS)
    parser.add_argument("--fastest", action="store_true", help=argparse.SUPPRESS)
    parser.add_argument("producers", nargs="*", metavar="NAME=CTI")
    args = parser.parse_args()
    if args.one:
        result = measure(args.one, args.width, args.height, args.seconds, None if args.fastest else args.rate)
        print(json.dumps(result))
        return 0
    if len(args.producers) < 1 or any("=" not in p for p in args.producers):
        parser.error("give each producer as NAME=PATH.cti")

    print(f"frame {args.width} x {args.height} Mono8, {BUFFERS} buffers, {args.seconds:g} s per measurement, "
          f"Harvesters {importlib.metadata.version('harvesters')}, genicam {importlib.metadata.version('genicam')}")
    print(f"{'producer':<12} {'camera rate':>22} {'frames/s':>10} {'MB/s':>9} {'frames':>8} {'lost':>6}")
    for mode, label in ((True, "highest"), (False, f"paced {args.rate:g}/s")):
        for producer in args.producers:
            name, cti = producer.split("=", 1)
            command = [sys.executable, __file__, "--one", cti, "--width", str(args.width), "--height",
                       str(args.height), "--seconds", str(args.seconds), "--rate", str(args.rate)]
            if mode:
                command.append("--fastest")
            run = subprocess.run(command, capture_output=True, text=True, timeout=args.seconds * 4 + 60)
            if run.returncode != 0:
                print(f"{name:<12} failed: {(run.stderr.strip().splitlines() or ['?'])[-1]}")
                continue
            r = json.loads(run.stdout.strip().splitlines()[-1])
            rate = f"{label} ({r['rate_set']:g})"
            print(f"{name:<12} {rate:>22} {r['fps']:>10.1f} {r['mbps']:>9.1f} {r['frames']:>8} {r['lost']:>6}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
