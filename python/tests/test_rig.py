"""Rigs: two simulated cameras grabbed side by side, their frames matched by host time stamp and
recorded into one file; bad input refused before any camera opens; a camera lost mid-run."""

import json

import lvtcam
import pytest

from conftest import same_bits


def recorded_by_camera(path):
    """{camera name: {timestamp: frame}} of an MCAP recording."""
    by_camera = {}
    for frame in lvtcam.read_recording(path):
        by_camera.setdefault(frame.camera, {})[frame.timestamp] = frame
    return by_camera


def test_rig_yields_pairs_within_half_a_period_and_records_every_frame(paced_pair, tmp_path):
    a, b = paced_pair
    path = tmp_path / "rig.mcap"
    with lvtcam.Rig([a, b], names=["left", "right"]) as rig:
        period = max(1.0 / camera.fps for camera in rig.cameras)
        assert rig.cameras["right"] is rig.cameras[1]
        assert rig.cameras[1].address == b
        with rig.record(path) as recording:
            pairs = list(rig.frames(20))
        assert recording.closed
        stats = rig.stats
        unmatched = rig.unmatched

    assert len(pairs) == 20
    for left, right in pairs:
        assert (left.camera, right.camera) == ("left", "right")
        assert abs(left.timestamp - right.timestamp) < period / 2
        assert left.distance.shape == right.distance.shape == (50, 64)
    for side in (0, 1):
        stamps = [pair[side].timestamp for pair in pairs]
        indices = [pair[side].index for pair in pairs]
        assert stamps == sorted(stamps) and len(set(stamps)) == 20
        assert indices == sorted(indices) and len(set(indices)) == 20

    for name in ("left", "right"):
        assert set(stats[name]) == {"frames", "retried_images", "stalls", "losses", "reconnects",
                                    "latency", "unmatched"}
        assert stats[name]["frames"] >= 20 and stats[name]["latency"] > 0
        assert stats[name]["unmatched"] == unmatched[name]

    # The file holds both cameras, every frame each delivered (consecutive sequences), among
    # them every frame the rig yielded, bit for bit.
    reader = lvtcam.read_recording(path)
    run = json.loads(reader.run_manifest)
    assert [c["name"] for c in run["cameras"]] == ["left", "right"] and run["host"]
    counters = json.loads(reader.counters)  # the last record: each camera's counters
    assert set(counters) == {"left", "right"}
    assert set(counters["left"]) == set(stats["left"])
    recorded = recorded_by_camera(path)
    assert set(recorded) == {"left", "right"}
    for side, name in enumerate(("left", "right")):
        frames = list(recorded[name].values())
        assert [f.index for f in frames] == list(range(len(frames)))
        assert len(frames) >= 20
        for pair in pairs:
            live = pair[side]
            stored = recorded[name][live.timestamp]
            assert same_bits(stored.distance, live.distance)
            assert same_bits(stored.amplitude, live.amplitude)


def test_rig_refuses_bad_input_and_names_a_lost_camera(paced_pair, tmp_path):
    a, b = paced_pair
    # "no such camera" would fail to open with CameraError: a ValueError shows nothing opened.
    bad = [
        (([a, a],), {}, r"address .* given twice \(cameras 0 and 1\)"),
        (([a, "no such camera"],), {"names": ["x", "x"]}, r"name 'x' is given twice"),
        (([a, "no such camera"],), {"names": ["x"]}, r"1 names for 2 addresses"),
        (([a, "no such camera"],), {"names": ["x", "a/b"]}, r"without '/'"),
        (([],), {}, r"at least one camera"),
        (([a, "no such camera"],), {"calibration": [None]}, r"1 calibrations for 2 addresses"),
    ]
    for args, kwargs, message in bad:
        with pytest.raises(ValueError, match=message):
            lvtcam.Rig(*args, **kwargs)
    with pytest.raises(TypeError, match="list of camera addresses"):
        lvtcam.Rig(a)

    # A camera lost mid-run: CameraError naming it, the rig stops, the file keeps every frame
    # recorded up to then, with the reason as its last record.
    path = tmp_path / "lost.mcap"
    with lvtcam.Rig([a, b], names=["left", "right"]) as rig:
        with pytest.raises(lvtcam.CameraError, match=r"camera right \(" + b) as lost:
            with rig.record(path):
                before = list(rig.frames(5))
                b.stop()
                for _ in rig.frames():
                    pass
        assert lost.value.kind == "lost"
        assert rig.stats["right"]["losses"] == 1
    recording = lvtcam.read_recording(path)
    assert "camera right" in recording.failure
    recorded = recorded_by_camera(path)
    for side, name in enumerate(("left", "right")):
        for pair in before:
            assert pair[side].timestamp in recorded[name]
