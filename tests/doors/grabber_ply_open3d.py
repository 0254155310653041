#!/usr/bin/python3
"""vyxgrab's point clouds read by Open3D against the simulated scene's ground truth.

A simulated camera renders through a distorted lens and writes that lens as a calibration file;
vyxgrab grabs with it (--calibration, --write ply). Open3D must read every PLY, and the plane it
fits to the points must be the scene's wall z = 2.1 + 0.3 x - 0.12 y.
  grabber_ply_open3d.py LVTCAMSIM VYXGRAB WORK_DIR
Exits 77 (skipped) without Open3D (Debian python3-open3d).
"""
import os
import random
import shutil
import subprocess
import sys
import time

try:
    import numpy as np
    import open3d as o3d
except ImportError:
    print("skipped: no Open3D (apt-get install python3-open3d)")
    sys.exit(77)

FRAMES = 3
WALL = np.array([0.3, -0.12, -1.0, 2.1])  # 0.3 x - 0.12 y - z + 2.1 = 0


def start_camera(lvtcamsim, lens, log):
    """A simulated camera on its own random loopback address; returns (process, address)."""
    for _ in range(8):
        address = "127.%d.%d.%d" % tuple(random.randint(1, 254) for _ in range(3))
        out = open(log, "w")
        sim = subprocess.Popen([lvtcamsim, address, "--intrinsics", "47.5,48.2,30.6,25.4",
                                "--distortion", "-0.08,0.012,0,0,0", "--write-calibration", lens],
                               stdout=out, stderr=subprocess.STDOUT)
        for _ in range(100):
            if "camera at" in open(log).read():
                return sim, address
            if sim.poll() is not None:
                break
            time.sleep(0.1)
        sim.kill()
        sim.wait()
    sys.exit("no simulated camera started: " + open(log).read())


def main():
    lvtcamsim, vyxgrab, work = sys.argv[1:4]
    work = os.path.join(work, "grabber_ply_open3d")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    lens = os.path.join(work, "lens.json")
    sim, address = start_camera(lvtcamsim, lens, os.path.join(work, "sim.log"))
    try:
        out = os.path.join(work, "points")
        grab = subprocess.run([vyxgrab, "--address", address, "--calibration", lens, "--write",
                               "ply", "--frames", str(FRAMES), "--out", out],
                              capture_output=True, text=True, timeout=120)
    finally:
        sim.terminate()
        sim.wait()
    assert grab.returncode == 0, grab.stdout + grab.stderr
    assert "lvtcamsim --intrinsics 47.5,48.2,30.6,25.4" in grab.stdout, grab.stdout
    truth = WALL / np.linalg.norm(WALL[:3])
    for n in range(FRAMES):
        cloud = o3d.io.read_point_cloud(os.path.join(out, "frame_%05d.ply" % n))
        points = np.asarray(cloud.points)
        assert 1000 < len(points) <= 64 * 50, len(points)
        assert np.isfinite(points).all()
        plane, inliers = cloud.segment_plane(distance_threshold=0.01, ransac_n=3,
                                             num_iterations=2000)
        plane = np.asarray(plane)
        plane = plane * np.sign(plane[2]) * np.sign(truth[2])
        angle = np.degrees(np.arccos(min(1.0, abs(float(np.dot(plane[:3], truth[:3]))))))
        print("frame %d: %d points, plane %s (wall %s), %.2f degrees off, %d inliers"
              % (n, len(points), np.round(plane, 4), np.round(truth, 4), angle, len(inliers)))
        assert angle < 1.0, angle
        assert abs(plane[3] - truth[3]) < 0.01, (plane, truth)
        assert len(inliers) > len(points) // 2
    print("Open3D reads %d PLY files; their plane is the wall" % FRAMES)


if __name__ == "__main__":
    main()
