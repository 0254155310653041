"""Frames per second of a Python grab loop (lvtcam: distance and amplitude as
NumPy arrays) against the same loop in C++ through vyxhost, on the same
simulated camera and handle, in paired rounds of the same run.

    PYTHONPATH=build/native/python /usr/bin/python3 bench/bench_python.py [--frames N] [--rounds R]
"""

import argparse
import statistics
import sys
import time

import lvtcam
from lvtcam import _lvtcam

TARGET_RATIO = 0.95


def python_loop(cam, frames):
    start = time.perf_counter()
    for frame in cam.frames(frames):
        frame.distance
        frame.amplitude
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=2000, help="frames per loop and round")
    parser.add_argument("--rounds", type=int, default=9, help="paired rounds (median is reported)")
    args = parser.parse_args()

    with lvtcam.simulate() as address, lvtcam.open(address) as cam:
        python_loop(cam, 200)  # warm up both sides
        _lvtcam._cpp_grab_loop(cam._cam, 200)
        ratios, overheads, cpp_rates, py_rates = [], [], [], []
        for r in range(args.rounds):
            # Alternate which side goes first so that drift favours neither.
            if r % 2:
                t_py = python_loop(cam, args.frames)
                t_cpp = _lvtcam._cpp_grab_loop(cam._cam, args.frames)
            else:
                t_cpp = _lvtcam._cpp_grab_loop(cam._cam, args.frames)
                t_py = python_loop(cam, args.frames)
            cpp_rates.append(args.frames / t_cpp)
            py_rates.append(args.frames / t_py)
            ratios.append(t_cpp / t_py)
            overheads.append((t_py - t_cpp) / args.frames * 1e6)

    ratio = statistics.median(ratios)
    print(f"python grab loop (distance + amplitude arrays), {args.rounds} paired rounds of "
          f"{args.frames} frames, median:")
    print(f"  C++ through vyxhost : {statistics.median(cpp_rates):10.0f} frames/s")
    print(f"  Python (lvtcam)     : {statistics.median(py_rates):10.0f} frames/s")
    print(f"  ratio Python / C++  : {ratio:10.3f}   (target >= {TARGET_RATIO}; "
          f"rounds {min(ratios):.3f} .. {max(ratios):.3f})")
    print(f"  Python layer        : {statistics.median(overheads):10.2f} us per frame")
    verdict = "meets" if ratio >= TARGET_RATIO else "MISSES"
    print(f"  {verdict} the target")
    return 0


if __name__ == "__main__":
    sys.exit(main())
