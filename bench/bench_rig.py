"""Match rate of lvtcam.Rig: N simulated cameras at the camera's own pace, each on its own
loopback address, grabbed side by side for a few seconds; the share of grabbed frames that
found partners within half a frame period (frames in matched tuples / frames grabbed).

    PYTHONPATH=build/native/python /usr/bin/python3 bench/bench_rig.py [--cameras 2 8] [--seconds 5]
"""

import argparse
import contextlib
import time

import lvtcam


def run(cameras, seconds):
    with contextlib.ExitStack() as stack:
        addresses = [stack.enter_context(lvtcam.simulate()) for _ in range(cameras)]
        with lvtcam.Rig(addresses) as rig:
            fps = rig.cameras[0].fps
            tuples = 0
            spread = 0.0
            end = time.monotonic() + seconds
            for frames in rig.frames():
                stamps = [f.timestamp for f in frames]
                spread = max(spread, max(stamps) - min(stamps))
                tuples += 1
                if time.monotonic() >= end:
                    break
            stats = rig.stats
    grabbed = sum(s["frames"] for s in stats.values())
    unmatched = sum(s["unmatched"] for s in stats.values())
    rate = tuples * cameras / grabbed if grabbed else 0.0
    print(f"{cameras} cameras at {fps} frames/s for {seconds:g} s: {tuples} tuples, "
          f"{grabbed} frames grabbed, {unmatched} unmatched, match rate {rate:.3f}, "
          f"widest tuple {spread * 1e3:.1f} ms (half a period {500.0 / fps:.1f} ms)")
    return rate


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cameras", type=int, nargs="+", default=[2, 8])
    parser.add_argument("--seconds", type=float, default=5.0)
    args = parser.parse_args()
    for n in args.cameras:
        run(n, args.seconds)


if __name__ == "__main__":
    main()
