"""A live camera through the plug-in: frames, settings, errors, threads."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import lvtcam
from conftest import same_bits, wire_images


def test_frames_are_the_wire_bytes_decoded_and_outlive_later_grabs(camera):
    first = camera.grab()
    kept = {name: getattr(first, name) for name in ("distance", "amplitude", "intensity")}
    later = list(camera.frames(3))
    assert [f.index for f in [first] + later] == [0, 1, 2, 3]
    assert not np.array_equal(later[0].distance, first.distance), "the scene moves"

    for frame in [first] + later:
        raw = frame.raw
        desc = frame.description
        assert desc["size"] == len(raw) and desc["type"] == 0x50003
        assert (frame.rows, frame.columns) == (desc["numRows"], desc["numColumns"]) == (50, 64)
        wire = wire_images(raw)
        assert set(wire) == {1, 2} and frame.images == ["distance", "amplitude", "intensity"]
        for name, image_type in (("distance", 1), ("amplitude", 2), ("intensity", 2)):
            image = getattr(frame, name)
            assert image.dtype == np.float32 and image.shape == (50, 64)
            assert same_bits(image, wire[image_type])
        assert frame.image("x") is None and frame.distance is frame.distance
    # The first frame's arrays own their memory: still its own pixels.
    wire = wire_images(first.raw)
    assert same_bits(kept["distance"], wire[1]) and same_bits(kept["amplitude"], wire[2])


def test_settings_reach_the_camera_and_come_back_in_frames(camera):
    assert camera.integration_time_range == camera.integration_time_range_of(1) == (1, 5000)
    camera.integration_times = (700, 1500)
    camera.fps = 12
    frame = camera.grab()
    assert frame.integration_times == (700, 1500)  # from the image headers the camera sent
    assert frame.description["integrationTime"][:2] == [700, 1500]
    assert camera.integration_times == (700, 1500)
    assert camera.fps == 12 and camera.info("FPS") == "12"
    assert camera.modulation_frequency == 20_000_000
    camera.modulation_frequency = 20_000_000  # the one the camera has is accepted

    # Refused before anything is sent: the camera keeps what it had.
    for times, error in (((0, 100), ValueError), ((100, 5001), ValueError),
                         ((1.5, 100), TypeError), ((True, 100), TypeError),
                         ((1, 2, 3), TypeError), ("ab", TypeError), ((-1, 5), ValueError)):
        with pytest.raises(error):
            camera.integration_times = times
    with pytest.raises(ValueError, match="range 1..5000"):
        camera.integration_times = (100, 6000)
    assert camera.integration_times == (700, 1500)
    assert camera.grab().integration_times == (700, 1500)

    for bad, error in ((0, ValueError), ("10", TypeError), (2.0, TypeError)):
        with pytest.raises(error):
            camera.fps = bad
    assert camera.fps == 12
    # Above its limit the camera answers its own maximum: refused, and the old rate stays.
    with pytest.raises(lvtcam.CameraError, match="took 30 frames/s, not 31") as refused:
        camera.fps = 31
    assert refused.value.kind == "refused" and camera.fps == 12
    stats = camera.stats
    assert (stats["frames"], stats["losses"], stats["reconnects"]) == (2, 0, 0)
    assert stats["retried_images"] == 0 and stats["latency"] > 0
    with pytest.raises(TypeError):
        camera.info(5)
    with pytest.raises(ValueError):
        camera.frames(-1)
    with pytest.raises(TypeError):
        lvtcam.open(b"127.0.0.1")
    with pytest.raises(ValueError):
        lvtcam.open("  ")


@pytest.mark.parametrize("action, call, code, name, text", [
    (lambda c: c.info("Colour"), "vyxpGetInfo", 4099, "VYX_NOT_AVAILABLE", "unknown identifier"),
    (lambda c: c.command("Reboot"), "vyxpPlatformCommand", 2050, "VYX_NOT_SUPPORTED",
     "command not available"),
    (lambda c: c.command("SetFPS 0"), "vyxpPlatformCommand", 1027, "VYX_INVALID_VALUE",
     "invalid framerate"),
    (lambda c: setattr(c, "modulation_frequency", 30_000_000), "vyxpSetModulationFrequency", 2050,
     "VYX_NOT_SUPPORTED", "camera does not support configuration of the modulation frequency"),
])
def test_plugin_failures_raise_camera_error_with_code_and_text(camera, action, call, code, name,
                                                               text):
    with pytest.raises(lvtcam.CameraError) as failure:
        action(camera)
    error = failure.value
    assert (error.call, error.code, error.code_name, error.text) == (call, code, name, text)
    assert error.kind == ("failed" if call == "vyxpGetInfo" else "refused")
    assert str(error) == f"{call} failed: {name} ({code}): {text}"
    assert camera.command("testcommand") == "OK"  # the camera is still usable


def test_open_failures(tmp_path):
    with lvtcam.simulate(realtime=False) as address:
        pass  # stopped: nothing answers there any more
    with pytest.raises(lvtcam.CameraError) as failure:
        lvtcam.open(address)
    assert (failure.value.call, failure.value.code, failure.value.text, failure.value.kind) == (
        "vyxpInitRawDataPlugin", 4098, "camera connection", "lost")
    with pytest.raises(lvtcam.CameraError) as failure:
        lvtcam.open("300.1.1.1")
    assert failure.value.kind == "invalid address"
    with pytest.raises(OSError, match="no-such-plugin.vcp"):
        lvtcam.open(address, plugin="/nonexistent/no-such-plugin.vcp")
    # A cut plug-in file is a load error naming it, not a crash inside the system's loader.
    cut = tmp_path / "cut.vcp"
    with open(os.environ["LVT_PLUGIN"], "rb") as whole:
        cut.write_bytes(whole.read(35_856))
    with pytest.raises(OSError, match="cut.vcp"):
        lvtcam.open(address, plugin=cut)


def test_pulled_cable_raises_within_the_bounded_wait_and_close_still_releases(no_warnings):
    with lvtcam.simulate(realtime=False) as address:
        cam = lvtcam.open(address)
        cam.grab()
        address.stop()
        started = time.monotonic()
        with pytest.raises(lvtcam.CameraError) as failure:
            cam.grab()
        # Generous bound over the plug-in's 10 s time-out; a closed peer fails at once.
        assert time.monotonic() - started < 15
        assert (failure.value.code, failure.value.text) == (1026, "connection lost")
        assert failure.value.kind == "lost" and cam.stats["losses"] == 1
        cam.close()  # the lost camera's closing goes to the background: no wait, no warning
        assert cam.closed
        cam.close()  # released once: no second attempt
        with pytest.raises(ValueError, match="closed"):
            cam.grab()


def test_two_cameras_in_two_threads_grab_at_the_same_time():
    # Camera "slow" delivers one frame a second, so one of its grabs waits about
    # a second inside the plug-in; camera "fast" delivers as fast as it can.
    # While the slow grab waits, the other thread must keep grabbing (were the
    # wait to hold the GIL, the other thread would only get the interpreter's
    # 5 ms switch slices: a few dozen frames at most).
    with lvtcam.simulate() as slow, lvtcam.simulate(realtime=False) as fast:
        slow_span, fast_ends, errors = [], [], []
        slow_done = threading.Event()

        def grab_slow():
            try:
                with lvtcam.open(slow) as cam:
                    cam.fps = 1
                    cam.grab()  # the first image is due at once, the next a second later
                    start = time.monotonic()
                    frame = cam.grab()
                    slow_span.extend([start, time.monotonic()])
                    assert same_bits(frame.distance, wire_images(frame.raw)[1])
            except Exception as e:  # reported by the main thread
                errors.append(e)
            finally:
                slow_done.set()

        def grab_fast():
            try:
                with lvtcam.open(fast) as cam:
                    while not slow_done.is_set():
                        frame = cam.grab()
                        fast_ends.append(time.monotonic())
                    assert same_bits(frame.distance, wire_images(frame.raw)[1])
            except Exception as e:
                errors.append(e)

        threads = [threading.Thread(target=grab_slow), threading.Thread(target=grab_fast)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(60)
        assert not errors and len(slow_span) == 2
        during = sum(1 for end in fast_ends if slow_span[0] < end < slow_span[1])
        assert during >= 100, f"only {during} frames of the other camera while one grab waited"


def test_ctrl_c_stops_a_frame_loop_within_one_frame(no_warnings):
    with lvtcam.simulate() as address, lvtcam.open(address) as cam:
        cam.fps = 5
        after_signal = []
        interrupted = threading.Event()

        def interrupt():
            interrupted.set()
            os.kill(os.getpid(), signal.SIGINT)

        timer = threading.Timer(0.5, interrupt)
        timer.start()
        with pytest.raises(KeyboardInterrupt):
            for frame in cam.frames():
                if interrupted.is_set():
                    after_signal.append(frame.index)
        timer.join()
        assert len(after_signal) <= 1
        assert cam.grab().distance is not None  # still usable, then closed without a warning


def test_exit_while_a_daemon_thread_grabs_is_clean():
    # The interpreter ends while another thread is inside the plug-in; the
    # plug-in's statics must not be torn down under it.
    script = textwrap.dedent("""
        import threading, time, lvtcam
        simulator = lvtcam.simulate(realtime=False); address = simulator.__enter__()
        cam = lvtcam.open(address)
        def grab():
            for frame in cam.frames():
                frame.distance
        threading.Thread(target=grab, daemon=True).start()
        time.sleep(0.3)
        print("leaving")
    """)
    for _ in range(6):  # the window is narrow: a thread coming back just as the interpreter ends
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              timeout=60)
        assert (done.returncode, done.stdout) == (0, "leaving\n"), done.stderr


@pytest.mark.parametrize("numpy_first", [False, True])
def test_threads_touching_their_first_images_do_not_deadlock(numpy_first):
    # Each thread's first image is the first NumPy array the program makes; without
    # NumPy imported beforehand this once hung for good, one thread inside NumPy's
    # import, the other inside the module.
    script = textwrap.dedent(f"""
        import sys, threading
        {"import numpy" if numpy_first else "assert 'numpy' not in sys.modules"}
        import lvtcam
        simulators = [lvtcam.simulate() for _ in range(2)]
        addresses = [s.__enter__() for s in simulators]
        shapes = []
        def grab(address):
            with lvtcam.open(address) as cam:
                shapes.append(cam.grab().distance.shape)
        threads = [threading.Thread(target=grab, args=(a,)) for a in addresses]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(shapes)
    """)
    for _ in range(3):
        done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                              timeout=60)
        assert (done.returncode, done.stdout) == (0, "[(50, 64), (50, 64)]\n"), done.stderr
