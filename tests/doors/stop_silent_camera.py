#!/usr/bin/python3
"""Every door against a camera that went silent: each is asked to stop and must end soon.

A simulated camera (lvtcamsim) is started on its own random 127.x.y.z and stopped with SIGSTOP,
so that it accepts connections but never answers. Each door is started against it -- vyxgrab,
vyxview, a Python program grabbing through lvtcam inside a `with` block, and gst-launch-1.0 with
lvtsrc -- and, once it is stuck waiting for the camera, sent SIGINT (Ctrl-C; gst-launch then
takes its pipeline to NULL). Each must end within 12 s of that. A door that is not built is
skipped with a message.

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

PYTHON_DOOR = """
import sys, lvtcam
try:
    with lvtcam.open(sys.argv[1]) as cam:
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
    """(name, command, environment) of each built door; prints the skipped ones."""
    found = []

    def door(name, built, why, command, env=None):
        if built:
            found.append((name, command, dict(os.environ, **(env or {}))))
        else:
            print("%s: skipped, %s" % (name, why), flush=True)

    grab = os.path.join(build, "tools", "vyxgrab")
    door("vyxgrab", os.path.isfile(grab), "tools/vyxgrab is not built",
         [grab, "--address", address, "--frames", "0", "--out", os.path.join(scratch, "grab")])
    view = os.path.join(build, "viewer", "vyxview")
    door("vyxview", os.path.isfile(view), "viewer/vyxview is not built",
         [view, "--address", address, "--port", "0"])
    python_dir = os.path.join(build, "python")
    door("lvtcam", bool(glob.glob(os.path.join(python_dir, "lvtcam", "_lvtcam*.so"))),
         "the Python module lvtcam is not built",
         ["/usr/bin/python3", "-c", PYTHON_DOOR, address], {"PYTHONPATH": python_dir})
    gst_dir = os.path.join(build, "gstreamer")
    launch = shutil.which("gst-launch-1.0")
    door("lvtsrc", launch and os.path.isfile(os.path.join(gst_dir, "libgstlvt.so")),
         "gst-launch-1.0 or the element lvtsrc is not built",
         [launch or "gst-launch-1.0", "lvtsrc", "address=" + address, "!", "fakesink"],
         {"GST_PLUGIN_PATH": gst_dir})
    return found


def main():
    build = os.path.abspath(sys.argv[1])
    scratch = tempfile.mkdtemp(prefix="vyx-doors-")
    sim, address = start_camera(os.path.join(build, "sim", "lvtcamsim"), scratch)
    failures = []
    running = []
    try:
        os.kill(sim.pid, signal.SIGSTOP)
        print("camera at %s stopped with SIGSTOP" % address, flush=True)
        for name, command, env in doors(build, address, scratch):
            out = open(os.path.join(scratch, name + ".log"), "w+")
            running.append((name, subprocess.Popen(command, env=env, stdout=out,
                                                   stderr=subprocess.STDOUT), out))
        time.sleep(STUCK_AFTER_S)
        asked = {}
        for name, proc, _ in running:
            if proc.poll() is not None:
                failures.append("%s ended before it was asked to stop (exit %d)"
                                % (name, proc.returncode))
                continue
            proc.send_signal(signal.SIGINT)
            asked[name] = time.monotonic()
        # Polled together, so that each door's end is timed on its own.
        ended = {}
        while len(ended) < len(asked) and time.monotonic() < max(asked.values()) + GIVE_UP_S:
            for name, proc, _ in running:
                if name in asked and name not in ended and proc.poll() is not None:
                    ended[name] = time.monotonic()
            time.sleep(0.05)
        for name, proc, out in running:
            if name not in asked:
                continue
            if name not in ended:
                proc.kill()
                proc.wait()
                ended[name] = time.monotonic()
            took = ended[name] - asked[name]
            out.seek(0)
            output = out.read()
            print("%s: ended %.1f s after SIGINT, exit %d" % (name, took, proc.returncode),
                  flush=True)
            if took > STOP_WITHIN_S:
                failures.append("%s took %.1f s to end after SIGINT (at most %.0f s)\n%s"
                                % (name, took, STOP_WITHIN_S, output))
            # Asked to stop during the wait, the grabber says at once what it waits for.
            if name == "vyxgrab" and "waiting for the camera at " + address not in output:
                failures.append("vyxgrab did not say what it waits for\n" + output)
    finally:
        for _, proc, _ in running:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        os.kill(sim.pid, signal.SIGCONT)
        sim.terminate()
        sim.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    for failure in failures:
        print("FAILED: " + failure, flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
