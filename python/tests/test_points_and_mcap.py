"""Points against the simulated scene's geometry, and MCAP recordings written by
cam.record read back by read_recording."""

import json

import numpy as np

import lvtcam
from conftest import same_bits

# The lens the simulated camera renders through, OpenCV's conventions and order.
LENS = {"width": 64, "height": 50, "fx": 47.5, "fy": 48.2, "cx": 30.6, "cy": 25.4,
        "distortion": [-0.08, 0.012, 0.0, 0.0, 0.0], "source": "test lens"}
# The scene's wall: z = 2.1 + 0.3 x - 0.12 y (metres). Everything nearer than WALL_NEAREST
# is the sphere (centre z 1.3, radius 0.32) or a pixel mixing the two.
WALL = (2.1, 0.3, -0.12)
WALL_NEAREST = 1.66


def write_lens(path, **changes):
    path.write_text(json.dumps({**LENS, **changes}))
    return path


def wall_fit(frame):
    """(a, b, c) of z = a + b x + c y fitted to the wall's points, and the RMS residual."""
    points = frame.points[frame.valid]
    x, y, z = points[points[:, 2] > WALL_NEAREST].T.astype(np.float64)
    design = np.c_[np.ones_like(x), x, y]
    coef = np.linalg.lstsq(design, z, rcond=None)[0]
    return coef, float(np.sqrt(np.mean((design @ coef - z) ** 2)))


def test_points_through_the_calibrated_lens_lie_on_the_scene(tmp_path):
    lens_file = write_lens(tmp_path / "lens.json")
    with lvtcam.simulate(realtime=False, calibration=lens_file) as address:
        with lvtcam.open(address, calibration=lens_file) as cam:
            frame = cam.grab()
            assert cam.lens == frame.lens
            assert frame.lens["nominal"] is False and frame.lens["source"] == "test lens"
            assert frame.lens["distortion"] == tuple(LENS["distortion"])
            points, valid, distance = frame.points, frame.valid, frame.distance
            assert points.shape == (50, 64, 3) and points.dtype == np.float32
            assert valid.shape == (50, 64) and valid.dtype == np.bool_
            assert np.isnan(points[~valid]).all() and np.isfinite(points[valid]).all()
            # The default filters take out the sphere's rim, and little else.
            assert 0 < (~valid).sum() < 0.1 * valid.size
            # The distance is radial: each point lies that far from the optical centre.
            lengths = np.linalg.norm(points[valid].astype(np.float64), axis=1)
            np.testing.assert_allclose(lengths, distance[valid], rtol=1e-6)
            coef, rms = wall_fit(frame)
            np.testing.assert_allclose(coef, WALL, atol=0.005)
            assert rms < 0.015  # the simulated camera's noise

        # The simulated camera hands its lens over without being told.
        with lvtcam.open(address) as cam:
            assert cam.lens == {**LENS, "distortion": tuple(LENS["distortion"]), "nominal": False}

        # Through the wrong lens (no distortion), with every pixel shown, the wall bends.
        plain = write_lens(tmp_path / "plain.json", distortion=[0, 0, 0, 0, 0])
        with lvtcam.open(address, calibration=plain, filters=None) as cam:
            frame = cam.grab()
            assert frame.valid.all() and cam.filters["enabled"] is False
            assert wall_fit(frame)[1] > 2 * rms


def test_recording_reads_back_what_was_grabbed(tmp_path):
    path = tmp_path / "run.mcap"
    with lvtcam.simulate(realtime=False) as address, lvtcam.open(address) as cam:
        with cam.record(path, name="left") as recorder:
            grabbed = list(cam.frames(6))
        assert recorder.closed and recorder.frames == 6
        cam.grab()  # after the recording: not in it
        lens = cam.lens

    frames = lvtcam.read_recording(path)
    read = list(frames)
    assert [f.index for f in read] == [g.index for g in grabbed] == list(range(6))
    for g, r in zip(grabbed, read):
        assert r.camera == "left" and g.camera is None
        assert r.timestamp == g.timestamp and r.raw == g.raw and r.description == g.description
        assert same_bits(r.distance, g.distance) and same_bits(r.amplitude, g.amplitude)
        assert same_bits(r.points, g.points) and np.array_equal(r.valid, g.valid)
        assert r.lens == lens
    assert frames.complete and frames.cameras == ["left"]
    assert json.loads(frames.counters)["frames"] == 6
    run = json.loads(frames.run_manifest)
    assert run["camera"]["name"] == "left" and run["lens"]["nominal"] is False
    assert run["filters"]["enabled"] is True
