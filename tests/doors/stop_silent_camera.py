#!/usr/bin/python3
"""Every door against a camera that went silent: each is asked to stop and must end soon.

A simulated camera (lvtcamsim) on its own random 127.x.y.z is stopped with SIGSTOP, so that it
keeps its connections but never answers. Each door -- vyxgrab, vyxview, a Python program
grabbing through lvtcam inside a `with` block, and gst-launch-1.0 with lvtsrc -- is run against
it twice: once started against the stopped camera (stuck opening it), once streaming when the
camera stops (stuck waiting for a frame, then closing a camera that does not answer). Once stuck,
each is sent SIGINT (Ctrl-C; gst-launch then takes its pipeline to NULL) and must end within
12 s of it. A door that is not built is skipped with a message.

usage: stop_silent_camera.py BUILD_DIR
"""

import glob
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

STOP_WITHIN_S = 12.0  # from SIGINT to the process's end
STUCK_AFTER_S = 2.0  # by then every door is waiting for the silent camera
GIVE_UP_S = 40.0  # a door still running then is killed, so that the test itself ends
READY_WITHIN_S = 60.0  # for a door to stream from the running camera

PYTHON_DOOR = """
import sys, lvtcam
try:
    with lvtcam.open(sys.argv[1]) as cam:
        cam.grab()
        print("streaming", flush=True)
        while True:
            cam.grab()
except KeyboardInterrupt:
    print("left the with block on KeyboardInterrupt", flush=True)
"""


def start_camera(simulator, scratch):
    """lvtcamsim on a free random loopback address: (process, address)."""
    for _ in range(8):
        address = "127.%d.%d.%d" % tuple(random.randint(1, 254) for _ in range(3))
        log = open(os.path.join(scratch, "sim.log"), "w+")
        sim = subprocess.Popen([simulator, address], stdout=log, stderr=subprocess.STDOUT)
        for _ in range(50):
            log.seek(0)
            if "camera at" in log.read() or sim.poll() is not None:
                break
            time.sleep(0.1)
        log.seek(0)
        if "camera at" in log.read():
            return sim, address
        sim.kill()
        sim.wait()
    sys.exit("lvtcamsim did not start: " + open(os.path.join(scratch, "sim.log")).read())


def doors(build, address, scratch):
    """(name, command, environment, streaming) of each built door, where streaming(output)
    tells that the door gets frames; prints the skipped ones."""
    found = []

    def door(name, built, why, command, streaming, env=None):
        if built:
            found.append((name, command, dict(os.environ, **(env or {})), streaming))
        else:
            print("%s: skipped, %s" % (name, why), flush=True)

    grab = os.path.join(build, "tools", "vyxgrab")
    out = os.path.join(scratch, "grab-" + address)
    door("vyxgrab", os.path.isfile(grab), "tools/vyxgrab is not built",
         [grab, "--address", address, "--frames", "0", "--out", out],
         lambda _: os.path.exists(os.path.join(out, "frame_00001.raw")))
    view = os.path.join(build, "viewer", "vyxview")
    door("vyxview", os.path.isfile(view), "viewer/vyxview is not built",
         [view, "--address", address, "--port", "0"], lambda o: "streaming from" in o)
    python_dir = os.path.join(build, "python")
    door("lvtcam", bool(glob.glob(os.path.join(python_dir, "lvtcam", "_lvtcam*.so"))),
         "the Python module lvtcam is not built",
         ["/usr/bin/python3", "-c", PYTHON_DOOR, address], lambda o: "streaming" in o,
         {"PYTHONPATH": python_dir})
    gst_dir = os.path.join(build, "gstreamer")
    launch = shutil.which("gst-launch-1.0")
    door("lvtsrc", launch and os.path.isfile(os.path.join(gst_dir, "libgstlvt.so")),
         "gst-launch-1.0 or the element lvtsrc is not built",
         [launch or "gst-launch-1.0", "lvtsrc", "address=" + address, "!", "fakesink"],
         lambda o: "Setting pipeline to PLAYING" in o, {"GST_PLUGIN_PATH": gst_dir})
    return found


def read(log):
    log.seek(0)
    return log.read()


def stop_doors(build, scratch, while_streaming):
    """One scenario; returns its failures."""
    scenario = "stopped while streaming" if while_streaming else "stopped before opening"
    sim, address = start_camera(os.path.join(build, "sim", "lvtcamsim"), scratch)
    failures = []
    running = []
    try:
        if not while_streaming:
            os.kill(sim.pid, signal.SIGSTOP)
        for name, command, env, streaming in doors(build, address, scratch):
            out = open(os.path.join(scratch, "%s-%s.log" % (name, address)), "w+")
            running.append((name, subprocess.Popen(command, env=env, stdout=out,
                                                   stderr=subprocess.STDOUT), out, streaming))
        if while_streaming:
            deadline = time.monotonic() + READY_WITHIN_S
            while time.monotonic() < deadline and not all(
                    ready(read(out)) or proc.poll() is not None
                    for _, proc, out, ready in running):
                time.sleep(0.1)
            for name, _, out, ready in running:
                if not ready(read(out)):
                    failures.append("%s, %s: did not stream from the camera\n%s"
                                    % (scenario, name, read(out)))
            os.kill(sim.pid, signal.SIGSTOP)
        print("%s: camera at %s stopped with SIGSTOP" % (scenario, address), flush=True)
        time.sleep(STUCK_AFTER_S)
        asked = {}
        for name, proc, _, _ in running:
            if proc.poll() is not None:
                failures.append("%s, %s: ended before it was asked to stop (exit %d)"
                                % (scenario, name, proc.returncode))
                continue
            proc.send_signal(signal.SIGINT)
            asked[name] = time.monotonic()
        # Polled together, so that each door's end is timed on its own.
        ended = {}
        while len(ended) < len(asked) and time.monotonic() < max(asked.values()) + GIVE_UP_S:
            for name, proc, _, _ in running:
                if name in asked and name not in ended and proc.poll() is not None:
                    ended[name] = time.monotonic()
            time.sleep(0.05)
        for name, proc, out, _ in running:
            if name not in asked:
                continue
            if name not in ended:
                proc.kill()
                proc.wait()
                ended[name] = time.monotonic()
            took = ended[name] - asked[name]
            output = read(out)
            print("%s, %s: ended %.1f s after SIGINT, exit %d"
                  % (scenario, name, took, proc.returncode), flush=True)
            if took > STOP_WITHIN_S:
                failures.append("%s, %s: took %.1f s to end after SIGINT (at most %.0f s)\n%s"
                                % (scenario, name, took, STOP_WITHIN_S, output))
            # Asked to stop during the wait, the grabber says at once what it waits for.
            if name == "vyxgrab" and "waiting for " not in output:
                failures.append("%s, vyxgrab: did not say what it waits for\n%s"
                                % (scenario, output))
    finally:
        for _, proc, _, _ in running:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        os.kill(sim.pid, signal.SIGCONT)
        sim.terminate()
        sim.wait()
    return failures


def main():
    build = os.path.abspath(sys.argv[1])
    scratch = tempfile.mkdtemp(prefix="vyx-doors-")
    try:
        failures = stop_doors(build, scratch, False) + stop_doors(build, scratch, True)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    for failure in failures:
        print("FAILED: " + failure, flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
