"""Recordings written by vyxgrab, read back through the processing plug-in."""

import json
import os
import re
import shutil
import struct
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
    with pytest.raises(ValueError, match="frame_00002.desc: holds 5 bytes"):
        list(lvtcam.read_recording(folder))
    raw = folder / "frame_00001.raw"
    raw.write_bytes(raw.read_bytes()[:1000])  # a description that promises more than is there
    frames = lvtcam.read_recording(folder)
    assert next(frames).index == 0
    with pytest.raises(ValueError, match="frame_00001.raw: holds 1000 bytes"):
        next(frames)
    with pytest.raises(FileNotFoundError):
        lvtcam.read_recording(tmp_path / "missing")
    empty = tmp_path / "empty"
    empty.mkdir()
    with pytest.raises(ValueError, match="holds no recording"):
        lvtcam.read_recording(empty)
    with pytest.raises(TypeError):
        lvtcam.read_recording(42)


def _link(target):
    def make(path):
        path.unlink()
        path.symlink_to(target)
    return make


def _replace_with_dir(path):
    path.unlink()
    path.mkdir()


def _fifo(path):
    path.unlink()
    os.mkfifo(path)


def _rows(count):
    def make(path):  # numRows: byte 28 of the description, host order
        desc = bytearray(path.read_bytes())
        struct.pack_into("=I", desc, 28, count)
        path.write_bytes(bytes(desc))
    return make


def _manifest_naming(name):
    def make(folder):
        entries = [{"index": i, "utc": "2026-12-08T12:00:00.000000Z", "monotonic_ns": i,
                    "integration_times": [800], "raw": raw, "description": f"frame_{i:05d}.desc",
                    "files": []} for i, raw in ((0, "frame_00000.raw"), (1, name))]
        (folder / "run.json").write_text(json.dumps({
            "format": "lvt-run", "format_version": 1, "tool": "vyxgrab", "tool_version": "1",
            "plugin": {"path": "", "interface_version": 66049},
            "camera": {"address": "127.1.2.3", "simulated": True, "replay": None},
            "settings": {"requested": {}, "read_back": {}}, "frames": entries}))
    return make


# (what is hostile, the file changed (None: the folder), how, the file the message names and what
# it says, whether a replaying simulator reads it too)
HOSTILE = [
    ("raw links to /dev/zero", "frame_00001.raw", _link("/dev/zero"), "frame_00001.raw: is a device", True),
    ("description links to /dev/zero", "frame_00001.desc", _link("/dev/zero"), "frame_00001.desc: is a device", False),
    ("raw is a FIFO", "frame_00001.raw", _fifo, "frame_00001.raw: is a FIFO", True),
    ("folder in place of a description", "frame_00001.desc", _replace_with_dir, "frame_00001.desc: is a folder", False),
    ("folder in place of a raw file", "frame_00001.raw", _replace_with_dir, "frame_00001.raw: is a folder", False),
    ("4294967295 rows", "frame_00001.desc", _rows(4294967295), "frame_00001.desc: its description claims images of 4294967295 x 64", False),
    ("raw longer than described", "frame_00001.raw", lambda p: p.write_bytes(p.read_bytes() + b"x"), "frame_00001.raw at byte", False),
    ("frame number of 30 digits", "frame_00001.raw", lambda p: p.rename(p.with_name("frame_" + "9" * 30 + ".raw")), "9" * 30 + ".raw: the frame number in the name is beyond 64 bits", True),
    ("run.json links to /dev/zero", None, lambda d: (d / "run.json").symlink_to("/dev/zero"), "run.json: is a device", True),
    ("run.json names /dev/zero", None, _manifest_naming("zero.raw"), "zero.raw: is a device", True),
    ("run.json names a folder", None, _manifest_naming("."), "/.: is a folder", True),
]


@pytest.mark.parametrize("case,name,change,message,replayed", HOSTILE, ids=[c[0] for c in HOSTILE])
def test_hostile_folders_are_refused_naming_the_file(recording, tmp_path, case, name, change,
                                                     message, replayed):
    folder = tmp_path / "hostile"
    shutil.copytree(recording, folder)
    (folder / "zero.raw").symlink_to("/dev/zero")  # named only by run.json in one case
    change(folder if name is None else folder / name)
    with pytest.raises(ValueError, match=re.escape(message)):
        list(lvtcam.read_recording(folder))
    if replayed:  # the same error, the same exception, when a simulator replays the folder
        with pytest.raises(ValueError, match=re.escape(message)):
            with lvtcam.simulate(replay=folder, realtime=False):
                pass
