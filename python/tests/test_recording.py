"""Recordings written by vyxgrab, read back through the processing plug-in."""

import json
import os
import shutil
import subprocess

import numpy as np
import pytest

import lvtcam
from conftest import same_bits


@pytest.fixture(scope="module")
def recording(tmp_path_factory, vyxgrab):
    """Four frames grabbed by vyxgrab, as bare frame files (no run.json)."""
    out = tmp_path_factory.mktemp("recording")
    subprocess.run([vyxgrab, "--simulate", "--frames", "4", "--itime0", "800", "--out", str(out)],
                   check=True, capture_output=True, timeout=60)
    manifest = out / "run.json"
    if manifest.exists():
        manifest.unlink()
    return out


def npy(folder, index, code_name):
    return np.load(folder / f"frame_{index:05d}_{code_name}.npy")


def test_recording_reads_back_what_was_grabbed(recording):
    frames = list(lvtcam.read_recording(recording))
    assert [f.index for f in frames] == [0, 1, 2, 3]
    for f in frames:
        assert f.raw == (recording / f"frame_{f.index:05d}.raw").read_bytes()
        assert f.integration_times[0] == 800 and f.timestamp is None
        assert same_bits(f.distance, npy(recording, f.index, "10001_distance"))
        assert same_bits(f.amplitude, npy(recording, f.index, "10002_amplitude"))
        assert same_bits(f.intensity, npy(recording, f.index, "10004_intensity"))

    # Served again by a replaying simulator, the camera delivers the same bytes.
    with lvtcam.simulate(replay=recording, realtime=False) as address, lvtcam.open(address) as cam:
        assert [g.raw for g in cam.frames(4)] == [f.raw for f in frames]


def test_manifest_decides_order_and_stamps(recording, tmp_path):
    folder = tmp_path / "run"
    shutil.copytree(recording, folder)
    entries = [{"index": i, "utc": f"2026-12-08T12:00:0{i}.250000Z", "monotonic_ns": i,
                "integration_times": [800, 2000], "raw": f"frame_{i:05d}.raw",
                "description": f"frame_{i:05d}.desc", "files": []} for i in (2, 0)]
    manifest = {"format": "lvt-run", "format_version": 1, "tool": "vyxgrab", "tool_version": "1",
                "plugin": {"path": "", "interface_version": 66049},
                "camera": {"address": "127.1.2.3", "simulated": True, "replay": None},
                "settings": {"requested": {}, "read_back": {}}, "frames": entries}
    (folder / "run.json").write_text(json.dumps(manifest))
    frames = list(lvtcam.read_recording(folder))
    assert [f.index for f in frames] == [2, 0]
    assert [f.timestamp for f in frames] == [1796731202.25, 1796731200.25]
    assert same_bits(frames[0].distance, npy(recording, 2, "10001_distance"))

    manifest["format_version"] = 99
    (folder / "run.json").write_text(json.dumps(manifest))
    with pytest.raises(ValueError, match="newer version"):
        lvtcam.read_recording(folder)


def test_damaged_recordings_are_refused_with_the_file_named(recording, tmp_path):
    folder = tmp_path / "damaged"
    shutil.copytree(recording, folder)
    (folder / "frame_00002.desc").write_bytes(b"short")
    with pytest.raises(ValueError, match="frame_00002.desc holds 5 bytes"):
        list(lvtcam.read_recording(folder))
    raw = folder / "frame_00001.raw"
    raw.write_bytes(raw.read_bytes()[:1000])  # a description that promises more than is there
    frames = lvtcam.read_recording(folder)
    assert next(frames).index == 0
    with pytest.raises(ValueError, match="frame_00001.raw holds 1000 bytes"):
        next(frames)
    with pytest.raises(FileNotFoundError):
        lvtcam.read_recording(tmp_path / "missing")
    empty = tmp_path / "empty"
    empty.mkdir()
    with pytest.raises(ValueError, match="holds no recording"):
        lvtcam.read_recording(empty)
    with pytest.raises(TypeError):
        lvtcam.read_recording(42)
