#!/usr/bin/env python3
"""vyxview in a real browser: a simulated camera as its own process, the viewer
pointed at it, and headless chromium driven by selenium. One run checks, in
order, what a user does with the page:

  live view     frames arrive, the canvases show the scene (sphere near, wall
                far) in the colours of the map, the pixel readout is right,
                snapshots hold the frame on screen
  controls      the inputs start at the camera's values and show its ranges; a
                setting reaches the camera and comes back; refusals show the
                plug-in's code name once; a non-number is refused by the page
  stall         a camera stopped with SIGSTOP shows "stalled" and rates of 0
  regions       a rectangle dragged on the image gives the mean and standard
                deviation of its valid distances, and their temporal noise
  3D view       the points' lengths are the distances; the cloud is drawn and
                turns with the mouse (WebGL through SwiftShader)
  recording     record/stop writes one .mcap that our reader reads with the
                frames counted, the run manifest (lens, filters) and counters
  replay        vyxview --replay FILE.mcap: the timeline pauses, steps and
                seeks to the asked frame, and changes speed
  security      foreign Host and Origin are refused, malformed and oversized
                messages are answered and the viewer keeps streaming
  slow page     a page that stops drawing is sent no backlog, only drops
  outages       the camera killed and restarted five times: lost, then
                streaming again, and no descriptor left behind
  restart       the viewer restarted: the page reconnects and streams again
  two tabs      a second page streams beside the first
  two cameras   (a viewer of its own) a panel per camera with suffixed ids, frames and
                counters in each; one recording holds both cameras' frames; a camera lost
                while recording shows lost in its panel while the other streams on and
                the recording goes on; the same address or name twice is refused at start
"""
import argparse
import base64
import json
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import traceback

import numpy as np
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

ROWS, COLUMNS = 50, 64


def wait_for(what, check, timeout=10.0, every=0.05):
    """Polls check() until it returns something true; fails naming what."""
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(every)


def start_camsim(camsim, out, address=None):
    """Starts lvtcamsim at the address, or on a fresh random loopback address; returns
    (address, process)."""
    for _ in range(50):
        at = address or "127.%d.%d.%d" % (
            random.randint(1, 254), random.randint(1, 254), random.randint(1, 254))
        log = open(os.path.join(out, "camsim.log"), "a")
        proc = subprocess.Popen([camsim, at, "--realtime", "--fps", "30"],
                                stdout=subprocess.PIPE, stderr=log, text=True)
        line = proc.stdout.readline()
        if line.startswith("lvtcamsim: camera at"):
            return at, proc
        proc.wait()
        time.sleep(0.1)  # address taken, or the port not yet free again
    raise AssertionError("lvtcamsim did not start; see camsim.log")


class Rig:
    """The simulated camera, the viewer and the browser, shared by every check."""

    def __init__(self, args):
        self.args = args
        self.out = args.out
        # Each run starts from an empty folder: recordings and downloads of an
        # earlier run must not be mistaken for this one's.
        shutil.rmtree(self.out, ignore_errors=True)
        self.downloads = os.path.join(self.out, "downloads")
        os.makedirs(self.downloads)
        self.camera_address = None
        self.camsim = None
        self.viewer = None
        self.port = 0
        self.driver = None

    # --- processes -----------------------------------------------------------
    def start_camera(self):
        """Starts lvtcamsim, on a fresh random loopback address the first time
        and on the same one again after an outage."""
        self.camera_address, self.camsim = start_camsim(self.args.camsim, self.out, self.camera_address)

    def kill_camera(self):
        self.camsim.kill()
        self.camsim.wait()
        self.camsim = None

    def viewer_cameras(self):
        return ["--address", self.camera_address]

    def start_viewer(self):
        self.viewer = subprocess.Popen(
            [self.args.viewer, *self.viewer_cameras(), "--port", str(self.port),
             "--reconnect-interval", "0.3", "--record-dir", os.path.join(self.out, "recordings")],
            stdout=subprocess.PIPE, stderr=open(os.path.join(self.out, "viewer.log"), "a"), text=True)
        for line in self.viewer.stdout:
            found = re.search(r"live view at (http://127\.0\.0\.1:(\d+)/)", line)
            if found:
                self.url, self.port = found.group(1), int(found.group(2))
                return
        raise AssertionError("vyxview did not print its address; see viewer.log")

    def stop_viewer(self):
        self.viewer.send_signal(signal.SIGTERM)
        assert self.viewer.wait(timeout=15) == 0, "vyxview did not stop cleanly on SIGTERM"

    def open_browser(self):
        options = Options()
        # WebGL for the 3D view in software (SwiftShader), as on a machine without a GPU.
        for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1300,1400", "--disable-gpu", "--enable-unsafe-swiftshader"):
            options.add_argument(flag)
        options.binary_location = "/usr/bin/chromium"
        options.add_experimental_option("prefs", {
            "download.default_directory": self.downloads,
            "download.prompt_for_download": False,
        })
        self.driver = webdriver.Chrome(service=Service(self.args.chromedriver), options=options)
        self.driver.get(self.url)

    def close(self):
        if self.driver:
            self.driver.quit()
        for proc in (self.viewer, self.camsim):
            if proc and proc.poll() is None:
                proc.kill()
                proc.wait()

    # --- the page ------------------------------------------------------------
    def text(self, element_id):
        return self.driver.find_element(By.ID, element_id).text

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def frames_shown(self):
        return int(self.text("frame-count"))

    def wait_state(self, state, timeout=10.0):
        wait_for(f"camera-state {state}", lambda: self.text("camera-state") == state, timeout)

    def wait_streaming_frames(self, count=5, timeout=10.0):
        self.wait_state("streaming", timeout)
        start = self.frames_shown()
        wait_for(f"{count} new frames", lambda: self.frames_shown() >= start + count, timeout)

    def click(self, element_id):
        self.driver.find_element(By.ID, element_id).click()

    def set_control(self, name, value):
        field = self.driver.find_element(By.ID, name)
        # Emptied by keys, not clear(): clear() leaves the field without focus, and a status
        # arriving then would fill in the camera's value again before the typing.
        field.send_keys(Keys.CONTROL, "a")
        field.send_keys(Keys.DELETE)
        field.send_keys(str(value))
        self.click("set-" + name)

    def viewer_socket_fds(self):
        """The viewer's open descriptors, leaving out its connections to the
        browser (those come and go with the browser's keep-alive)."""
        browser_inodes = set()
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            with open(table) as f:
                for row in f.readlines()[1:]:
                    fields = row.split()
                    if int(fields[1].split(":")[1], 16) == self.port:
                        browser_inodes.add(fields[9])
        fd_dir = f"/proc/{self.viewer.pid}/fd"
        kept = []
        for fd in os.listdir(fd_dir):
            try:
                target = os.readlink(os.path.join(fd_dir, fd))
            except FileNotFoundError:
                continue
            inode = target[len("socket:["):-1] if target.startswith("socket:[") else None
            if inode not in browser_inodes:
                kept.append(target)
        return sorted(kept)


def raw_handshake(port, host, origin):
    """A WebSocket upgrade by hand; returns the HTTP status code."""
    key = base64.b64encode(os.urandom(16)).decode()
    request = (f"GET /ws HTTP/1.1\r\nHost: {host}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
               f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\nOrigin: {origin}\r\n\r\n")
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        s.sendall(request.encode())
        answer = s.recv(4096).decode(errors="replace")
    return int(answer.split()[1])


# --- the checks ----------------------------------------------------------------

def check_live_view(rig):
    rig.wait_streaming_frames(count=15)
    assert float(rig.text("camera-fps")) > 5, "the viewer reports no camera frame rate"

    # Hold one frame on screen and compare what is drawn with what arrived.
    rig.click("pause")
    rig.wait_state("paused")
    held = rig.frames_shown()
    time.sleep(0.3)
    assert rig.frames_shown() == held, "frames kept coming while paused"
    frame = rig.js("const f = lvtPage.shown; return {rows: f.rows, columns: f.columns, "
                   "number: f.number, distance: Array.from(f.distance), amplitude: Array.from(f.amplitude)};")
    assert (frame["rows"], frame["columns"]) == (ROWS, COLUMNS)
    # None: pixels the filters found unusable (NaN on the page).
    distance = np.array([np.nan if x is None else x for x in frame["distance"]],
                        dtype=np.float32).reshape(ROWS, COLUMNS)
    near = np.unravel_index(np.nanargmin(distance), distance.shape)
    far = np.unravel_index(np.nanargmax(distance), distance.shape)
    # The scene: a sphere about 1 m away in front of a wall 2 to 3.3 m away.
    assert 0.8 < distance[near] < 1.4, f"nearest point {distance[near]} m is not on the sphere"
    assert 2.0 < distance[far] < 3.6, f"farthest point {distance[far]} m is not on the wall"
    assert np.count_nonzero(distance < 1.6) > 20, "no sphere in the distance image"

    def colour(canvas, row, column):
        return rig.js("return Array.from(document.getElementById(arguments[0]).getContext('2d')"
                      ".getImageData(arguments[2], arguments[1], 1, 1).data.slice(0, 3));",
                      canvas, int(row), int(column))

    lut = rig.js("return Array.from(lvtPage.lut);")
    # Auto range: the nearest point takes the map's first colour, the farthest its last.
    assert colour("distance", *near) == lut[0:3], "sphere not drawn in the map's near colour"
    assert colour("distance", *far) == lut[765:768], "wall not drawn in the map's far colour"
    assert lut[0:3] != lut[765:768]
    # Invalid pixels (the flying pixels at the sphere's rim at least) in their own colour, which
    # no end of the scale has.
    invalid = np.argwhere(np.isnan(distance))
    assert len(invalid) > 0, "the default filters found no flying pixel at the sphere's rim"
    magenta = rig.js("return INVALID_COLOUR;")
    assert colour("distance", *invalid[0]) == magenta and magenta not in (lut[0:3], lut[765:768])
    assert rig.text("lens") == "nominal lens", rig.text("lens")
    # The amplitude view shows the sphere brighter than the far wall corner, as the scene lights it.
    amplitude = np.array(frame["amplitude"], dtype=np.float32).reshape(ROWS, COLUMNS)
    assert amplitude[near] > amplitude[far]
    assert colour("amplitude", *near) != colour("amplitude", *far)

    # The pixel under the mouse: 8 screen pixels per image pixel, offsets from the canvas centre.
    canvas = rig.driver.find_element(By.ID, "distance")
    row, column = near
    ActionChains(rig.driver).move_to_element_with_offset(
        canvas, int((column + 0.5) * 8 - 256), int((row + 0.5) * 8 - 200)).perform()
    info = rig.text("pixel-info")
    expected = f"row {row}, column {column}: distance {distance[near]:.3f} m, amplitude {amplitude[near]:.1f}"
    assert info == expected, f"pixel readout {info!r}, expected {expected!r}"

    # Snapshots of the held frame: one NPY with distance and amplitude, one PNG of both views.
    rig.click("snapshot-npy")
    rig.click("snapshot-png")
    npy = os.path.join(rig.downloads, f"frame_{frame['number']}.npy")
    png = os.path.join(rig.downloads, f"frame_{frame['number']}.png")
    wait_for("the snapshot files", lambda: os.path.exists(npy) and os.path.exists(png))
    wait_for("the snapshot files complete", lambda: os.path.getsize(png) > 100 and os.path.getsize(npy) > 0)
    saved = np.load(npy)
    assert saved.shape == (2, ROWS, COLUMNS) and saved.dtype == np.float32
    assert np.array_equal(saved[0], distance, equal_nan=True) and np.array_equal(saved[1], amplitude)
    with open(png, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n"
    assert (int.from_bytes(head[16:20], "big"), int.from_bytes(head[20:24], "big")) == (2 * COLUMNS, ROWS)

    rig.click("pause")  # now "resume"
    rig.wait_streaming_frames()


def input_value(rig, name):
    return rig.js("return document.getElementById(arguments[0]).value;", name)


def check_controls(rig):
    # The inputs start at what the camera has, beside the ranges it takes.
    for name in ("itime0", "itime1", "fps"):
        wait_for(f"the {name} input at the camera's value",
                 lambda n=name: rig.text(n + "-read") != "?" and input_value(rig, n) == rig.text(n + "-read"))
    assert re.fullmatch(r"range 1 to 5000", rig.text("itime0-range")), rig.text("itime0-range")

    # Letters in a number field are refused by the page; nothing reaches the viewer.
    sent = rig.js("return lvtPage.nextId;")
    rig.set_control("itime0", "abc")
    assert "whole number" in rig.text("control-error")
    assert rig.js("return lvtPage.nextId;") == sent, "the page sent a setting for letters"

    rig.set_control("itime0", 700)
    wait_for("integration time 0 read back", lambda: rig.text("itime0-read") == "700")
    # The frames' own image headers carry the camera's integration times: the value reached it.
    wait_for("frames taken with 700 us", lambda: rig.text("frame-itimes").startswith("700 /"))
    assert rig.text("control-error") == ""

    rig.set_control("fps", 99)  # beyond what the camera can do
    wait_for("the refusal", lambda: "VYX_INVALID_VALUE" in rig.text("control-error"))
    refusal = rig.text("control-error")
    assert refusal.count("VYX_INVALID_VALUE") == 1, f"the code is not named once: {refusal!r}"
    assert "the camera took 30 frames/s, not 99" in refusal, refusal
    assert rig.text("fps-read") == "30", "a refused rate changed the read-back value"
    # The camera showed its limit: the range says so from now on.
    wait_for("the frame-rate range", lambda: rig.text("fps-range") == "range 1 to 30")
    rig.set_control("fps", 20)
    wait_for("frame rate read back", lambda: rig.text("fps-read") == "20")
    assert rig.text("control-error") == ""
    rig.set_control("fps", 30)
    wait_for("frame rate read back", lambda: rig.text("fps-read") == "30")
    # Refused: neither applied again after an outage nor recorded as asked for.
    itime1 = rig.text("itime1-read")
    rig.set_control("itime1", 9000)
    wait_for("the refusal", lambda: "outside the camera's range" in rig.text("control-error"))
    assert rig.text("itime1-read") == itime1


def check_regions(rig):
    """A rectangle dragged over the wall: its statistics against the frame on the page, and a
    temporal noise once frames came in."""
    rig.wait_streaming_frames(count=12)  # history for the temporal noise
    canvas = rig.driver.find_element(By.ID, "distance")
    r0, c0, r1, c1 = 2, 2, 9, 13  # the wall's top-left corner: far from the sphere
    (ActionChains(rig.driver)
     .move_to_element_with_offset(canvas, int((c0 + 0.5) * 8 - 256), int((r0 + 0.5) * 8 - 200))
     .click_and_hold()
     .move_to_element_with_offset(canvas, int((c1 + 0.5) * 8 - 256), int((r1 + 0.5) * 8 - 200))
     .release().perform())
    rig.click("pause")
    rig.wait_state("paused")
    # The statistics are those of the frame on screen now.
    rig.js("showRegionStats();")
    got = rig.js("const f = lvtPage.shown; return [lvtPage.region, lvtPage.regionStats, "
                 "Array.from(f.distance).map((x) => x * f.scale)];")
    region, stats = got[0], got[1]
    assert region == {"r0": r0, "c0": c0, "r1": r1, "c1": c1}, region
    d = np.array([np.nan if x is None else x for x in got[2]]).reshape(ROWS, COLUMNS)[r0:r1 + 1, c0:c1 + 1]
    assert stats["valid"] == np.count_nonzero(~np.isnan(d)) > 0
    assert abs(stats["mean"] - np.nanmean(d)) < 1e-6 and abs(stats["std"] - np.nanstd(d, ddof=1)) < 1e-6
    # The wall is tilted: the rectangle spans centimetres; the noise of a pixel over time is
    # the simulator's millimetres.
    assert stats["frames"] >= 10 and 0 < stats["noise"] < stats["std"], stats
    text = rig.text("region-stats")
    assert f"mean {stats['mean']:.4f} m" in text and "temporal noise" in text, text
    rig.click("pause")
    rig.wait_streaming_frames()


def canvas_pixels(rig):
    """The 3D canvas as RGBA bytes (the renderer keeps its drawing buffer)."""
    data = rig.js("const c = document.createElement('canvas'); const p = document.getElementById('points');"
                  "c.width = p.width; c.height = p.height; const x = c.getContext('2d'); x.drawImage(p, 0, 0);"
                  "return x.getImageData(0, 0, c.width, c.height).data.join(',');")
    return np.array(data.split(","), dtype=np.uint8).reshape(-1, 4)


def check_3d_view(rig):
    rig.click("view-3d")
    wait_for("frames with points", lambda: rig.js("return !!(lvtPage.shown && lvtPage.shown.points);"))
    rig.click("pause")
    rig.wait_state("paused")
    got = rig.js("const f = lvtPage.shown; return [Array.from(f.distance).map((x) => x * f.scale), "
                 "Array.from(f.points), lvtPage.view3d.count];")
    d = np.array([np.nan if x is None else x for x in got[0]], dtype=np.float64)
    p = np.array([np.nan if x is None else x for x in got[1]], dtype=np.float64).reshape(-1, 3)
    valid = ~np.isnan(d)
    # Ground truth: each point lies along its pixel's ray at the pixel's distance, the invalid
    # ones are NaN, and all valid ones are drawn.
    assert np.array_equal(valid, ~np.isnan(p).any(axis=1))
    assert np.allclose(np.linalg.norm(p[valid], axis=1), d[valid], rtol=1e-5)
    assert got[2] == np.count_nonzero(valid)
    before = canvas_pixels(rig)
    background = np.all(before[:, :3] == 0x11, axis=1)
    assert np.count_nonzero(~background) > 1000, "the cloud is not drawn"
    canvas = rig.driver.find_element(By.ID, "points")
    ActionChains(rig.driver).move_to_element(canvas).click_and_hold().move_by_offset(120, 40).release().perform()
    after = canvas_pixels(rig)
    changed = np.count_nonzero(np.any(before != after, axis=1))
    assert changed > 1000, f"turning the cloud changed {changed} pixels"
    if rig.args.screenshot_3d:  # from above and to the right of the camera, for the README
        rig.js("const v = lvtPage.view3d; v.camera.position.set(1.7, 1.1, 0.2); v.controls.update(); v.draw();")
        canvas.screenshot(rig.args.screenshot_3d)
    rig.click("view-3d")  # off again: the 2D path without points
    rig.click("pause")
    rig.wait_streaming_frames()
    wait_for("frames without points", lambda: rig.js("return lvtPage.shown.points === null;"))


def recording_info(rig, path):
    result = subprocess.run([rig.args.mcap_tool, "info", path], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, f"our reader refused {path}: {result.stderr}"
    return json.loads(result.stdout)


def check_recording(rig):
    rig.click("record")
    wait_for("10 recorded frames",
             lambda: re.match(r"recording (\d+) frames", rig.text("record-state"))
             and int(re.match(r"recording (\d+)", rig.text("record-state")).group(1)) >= 10)
    rig.click("record")
    done = wait_for("the recording to end", lambda: re.match(r"recorded (\d+) frames into (.+)$",
                                                              rig.text("record-state")))
    frames, path = int(done.group(1)), done.group(2)
    assert path.endswith(".mcap") and os.path.isfile(path), path
    assert [f for f in os.listdir(os.path.dirname(path))] == [os.path.basename(path)], "more than one file"
    info = recording_info(rig, path)
    assert info["complete"] and not info["failed"], info
    assert info["cameras"] == {"cam0": frames}, info["cameras"]
    manifest = info["run"]
    assert manifest["tool"] == "vyxview"
    assert manifest["settings"]["read_back"]["itime0"] == 700
    assert manifest["settings"]["requested"] == {"itime0": 700, "itime1": None, "fps": 30}
    assert manifest["lens"]["nominal"] is True and manifest["filters"]["enabled"] is True, manifest
    assert info["counters"]["frames"] >= frames, info["counters"]
    rig.recording = path


def check_replay(rig):
    """The recording played by a second viewer: the timeline's controls change the frame."""
    replay = subprocess.Popen([rig.args.viewer, "--replay", rig.recording, "--port", "0"],
                              stdout=subprocess.PIPE, stderr=open(os.path.join(rig.out, "replay.log"), "a"),
                              text=True)
    try:
        url = None
        for line in replay.stdout:
            found = re.search(r"live view at (http://\S+)", line)
            if found:
                url = found.group(1)
                break
        assert url, "vyxview --replay did not print its address; see replay.log"
        first = rig.driver.current_window_handle
        rig.driver.switch_to.new_window("window")
        rig.driver.get(url)
        total = recording_info(rig, rig.recording)["cameras"]["cam0"]
        wait_for("the timeline", lambda: rig.text("replay-frame").endswith(f"of {total}"))
        # The live camera's lens was nominal; the recording's camera_info says so again.
        wait_for("the recording's lens", lambda: rig.text("lens") == "nominal lens")
        shown = lambda: int(re.match(r"frame (\d+) of", rig.text("replay-frame")).group(1))
        rig.click("play")  # pause
        rig.wait_state("paused")
        at = shown()
        rig.click("step-forward")
        wait_for("one frame on", lambda: shown() == min(at + 1, total - 1))
        frame_js = "const f = lvtPage.shown; return [f.number, f.updateMs, Array.from(f.distance).map(String)];"
        read_on = rig.js(frame_js)  # read on through the file
        rig.click("step-back")
        wait_for("one frame back", lambda: shown() == max(min(at + 1, total - 1) - 1, 0))
        target = total // 2
        rig.js("const t = document.getElementById('timeline'); t.value = arguments[0];"
               "t.dispatchEvent(new Event('input')); t.dispatchEvent(new Event('change'));", target)
        wait_for(f"frame {target}", lambda: shown() == target)
        assert rig.js("return lvtPage.shown.number;") == target
        # Back to the stepped-to frame through the file's index: the same frame, to the bit.
        rig.js("const t = document.getElementById('timeline'); t.value = arguments[0];"
               "t.dispatchEvent(new Event('change'));", read_on[0])
        wait_for(f"frame {read_on[0]} again", lambda: shown() == read_on[0])
        assert rig.js(frame_js) == read_on, "a frame sought differs from the same frame read on to"
        rig.js("const t = document.getElementById('timeline'); t.value = arguments[0];"
               "t.dispatchEvent(new Event('change'));", target)
        wait_for(f"frame {target}", lambda: shown() == target)
        assert rig.text("camera-state") == "paused", "seeking started the replay"
        rig.js("const s = document.getElementById('speed'); s.value = '4'; s.dispatchEvent(new Event('change'));")
        wait_for("speed 4x", lambda: rig.js("return lvtPage.status.replay.speed;") == 4)
        rig.click("play")  # plays on from the frame sought
        wait_for("frames playing on", lambda: shown() > target + 1)
        rig.driver.close()
        rig.driver.switch_to.window(first)
    finally:
        replay.send_signal(signal.SIGTERM)
        assert replay.wait(timeout=15) == 0, "vyxview --replay did not stop cleanly"


def check_security(rig):
    own = f"127.0.0.1:{rig.port}"
    assert raw_handshake(rig.port, own, f"http://{own}") == 101
    assert raw_handshake(rig.port, own, "http://evil.example") == 403
    assert raw_handshake(rig.port, own, "null") == 403
    assert raw_handshake(rig.port, f"evil.example:{rig.port}", f"http://evil.example:{rig.port}") == 403

    rig.js("lvtPage.ws.send('{not json');")
    wait_for("the error reply", lambda: "not JSON" in rig.text("control-error"))
    rig.js("lvtPage.ws.send(JSON.stringify({op: 'set', name: 'itime0', value: -4}));")
    wait_for("the error reply", lambda: "whole number" in rig.text("control-error"))
    connections = rig.js("return lvtPage.connections;")
    rig.js("lvtPage.ws.send('x'.repeat(100000));")  # over the size cap: the viewer drops that socket
    wait_for("the page to reconnect", lambda: rig.js("return lvtPage.connections;") > connections)
    rig.wait_streaming_frames()  # the page reconnected by itself
    assert rig.viewer.poll() is None


def check_slow_page(rig):
    """A page that stops drawing for 3 s (about 90 frames) is sent at most two
    of them; the viewer drops the rest and the page goes on with current ones."""
    rig.wait_streaming_frames()
    shown, dropped = rig.js("return [lvtPage.framesShown, lvtPage.viewerDropped];")
    rig.js("const t = Date.now(); while (Date.now() - t < 3000) {}")
    wait_for("the viewer to report drops", lambda: rig.js("return lvtPage.viewerDropped;") >= dropped + 30)
    behind = rig.js("return lvtPage.framesShown;") - shown
    assert behind < 30, f"the page drew {behind} frames that piled up while it was busy"
    rig.wait_streaming_frames()


def check_stall(rig):
    """A camera that stops answering shows as stalled within a few frame periods (long before
    the plug-in gives up waiting), its rates fall to 0 and the frame count stops."""
    rig.wait_streaming_frames()
    rig.camsim.send_signal(signal.SIGSTOP)
    try:
        rig.wait_state("stalled", timeout=5)
        wait_for("the rates to fall to 0",
                 lambda: rig.text("camera-fps") == "0.0" and rig.text("shown-fps") == "0.0", timeout=5)
        held = rig.frames_shown()
        assert "no frame for" in rig.text("problem"), rig.text("problem")
        time.sleep(0.3)
        assert rig.frames_shown() == held, "frames counted while the camera was stopped"
    finally:
        rig.camsim.send_signal(signal.SIGCONT)
    rig.wait_streaming_frames(timeout=15)


def check_outages(rig):
    rig.wait_streaming_frames()
    before = rig.viewer_socket_fds()
    # A recording under way when the camera goes: closed properly, saying why.
    rig.click("record")
    recording = wait_for("3 recorded frames", lambda: (lambda m: m if m and int(m.group(1)) >= 3 else None)(
        re.match(r"recording (\d+) frames into (.+)$", rig.text("record-state"))))
    for outage in range(5):
        rig.kill_camera()
        rig.wait_state("lost")
        if outage == 0:
            wait_for("the recording to fail", lambda: rig.text("record-state").startswith("recording failed: camera lost"))
            info = recording_info(rig, recording.group(2))
            assert info["complete"] and info["failed"], info
            assert info["cameras"]["cam0"] >= 3 and info["counters"]["frames"] >= 3, info
        rig.start_camera()
        rig.wait_streaming_frames(timeout=15)
    after = rig.viewer_socket_fds()
    assert len(after) == len(before), f"descriptors before the outages {before}, after {after}"
    assert rig.text("itime0-read") == "700", "the setting was not restored on the restarted camera"
    assert rig.text("fps-read") == "30"
    assert "not restored" not in rig.text("problem"), rig.text("problem")


def check_viewer_restart(rig):
    rig.stop_viewer()
    rig.wait_state("reconnecting")
    rig.start_viewer()
    rig.wait_streaming_frames(timeout=15)


def check_two_tabs(rig):
    first = rig.driver.current_window_handle
    rig.driver.switch_to.new_window("window")
    rig.driver.get(rig.url)
    rig.wait_streaming_frames()
    rig.driver.switch_to.window(first)
    rig.wait_streaming_frames()  # the first page still gets frames
    wait_for("the viewer to count two pages", lambda: rig.js("return lvtPage.status.clients;") == 2)


class TwoCameras(Rig):
    """A viewer of two simulated cameras, each on its own loopback address, in a browser."""

    def __init__(self, args):
        super().__init__(argparse.Namespace(**{**vars(args), "out": os.path.join(args.out, "two-cameras")}))
        self.cameras = [start_camsim(args.camsim, self.out) for _ in range(2)]

    def viewer_cameras(self):
        return [option for address, _ in self.cameras for option in ("--address", address)]

    def close(self):
        super().close()
        for _, proc in self.cameras:
            if proc.poll() is None:
                proc.kill()
                proc.wait()


def check_two_cameras(args):
    rig = TwoCameras(args)
    try:
        rig.start_viewer()
        rig.open_browser()
        shown = lambda n: int(rig.text(f"frame-count-{n}"))
        # A panel per camera, its ids ending in -N; none keeps the single camera's ids.
        for n, (address, _) in enumerate(rig.cameras):
            wait_for(f"camera {n} streaming", lambda n=n: rig.text(f"camera-state-{n}") == "streaming")
            wait_for(f"frames in panel {n}", lambda n=n: shown(n) >= 10)
            assert rig.text(f"camera-name-{n}") == f"cam{n}" and rig.text(f"camera-address-{n}") == address
            wait_for(f"camera {n}'s counters", lambda n=n: int(rig.text(f"camera-frames-{n}")) >= 10)
            assert rig.text(f"losses-{n}") == "0" and rig.text(f"reconnects-{n}") == "0"
        assert not rig.driver.find_elements(By.ID, "distance") and not rig.driver.find_elements(By.ID, "camera-state")
        # Each panel draws its own camera's scene.
        for n in range(2):
            rows = rig.js("return lvtPages[arguments[0]].shown.rows;", n)
            assert rows == ROWS

        # One recording of both; camera 1 lost meanwhile: its panel says so, camera 0 and the
        # recording go on, and the file holds every frame the page counted.
        rig.click("record")
        recording = lambda: re.match(r"recording (\d+) frames into (.+)$", rig.text("record-state"))
        wait_for("60 recorded frames", lambda: recording() and int(recording().group(1)) >= 60)
        rig.cameras[1][1].kill()
        rig.cameras[1][1].wait()
        wait_for("camera 1 lost", lambda: rig.text("camera-state-1") == "lost")
        assert rig.text("camera-state-0") == "streaming"
        at = shown(0)
        wait_for("camera 0 streaming on", lambda: shown(0) >= at + 10)
        assert recording(), f"the recording stopped with the camera: {rig.text('record-state')!r}"
        rig.click("record")
        done = wait_for("the recording to end", lambda: re.match(r"recorded (\d+) frames into (.+)$",
                                                                  rig.text("record-state")))
        frames, path = int(done.group(1)), done.group(2)
        info = recording_info(rig, path)
        assert info["complete"] and not info["failed"], info
        assert set(info["cameras"]) == {"cam0", "cam1"} and min(info["cameras"].values()) > 0, info["cameras"]
        assert sum(info["cameras"].values()) == frames, (info["cameras"], frames)
        manifest = info["run"]
        assert [(c["name"], c["camera"]["address"]) for c in manifest["cameras"]] == \
            [(f"cam{n}", address) for n, (address, _) in enumerate(rig.cameras)], manifest
        assert info["counters"]["cam1"]["losses"] >= 1 and info["counters"]["cam0"]["losses"] == 0, info["counters"]
        assert info["counters"]["cam0"]["frames"] >= info["cameras"]["cam0"], info["counters"]
        # The lost camera comes back in its own panel.
        rig.cameras[1] = start_camsim(args.camsim, rig.out, rig.cameras[1][0])
        wait_for("camera 1 streaming again", lambda: rig.text("camera-state-1") == "streaming", timeout=15)
        wait_for("camera 1's reconnect counted", lambda: int(rig.text("reconnects-1")) >= 1)
        rig.stop_viewer()
    finally:
        rig.close()

    # The same camera or name twice: refused at start, saying which.
    a, b = "127.1.2.3", "127.1.2.4"
    for cameras, complaint in (
            (["--address", a, "--address", a], f"--address {a} is given twice"),
            (["--address", a, "--address", b, "--name", "left", "--name", "left"], "name left is used twice"),
            (["--address", a, "--name", "cam1", "--address", b], "name cam1 is used twice"),
            (["--address", a, "--name", "x", "--name", "y"], "more --name (2) than cameras (1)")):
        result = subprocess.run([args.viewer, *cameras, "--port", "0"], capture_output=True, text=True, timeout=30)
        assert result.returncode == 2 and complaint in result.stderr, (cameras, result.returncode, result.stderr)


def main():
    parser = argparse.ArgumentParser()
    for name in ("--viewer", "--camsim", "--grab", "--mcap-tool", "--out"):
        parser.add_argument(name, required=True)
    parser.add_argument("--screenshot-3d", help="save the 3D view as a PNG here (docs/viewer-3d.png)")
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    args = parser.parse_args()

    rig = Rig(args)
    checks = [check_live_view, check_regions, check_3d_view, check_controls, check_recording,
              check_replay, check_security, check_slow_page,
              check_stall, check_outages,
              check_viewer_restart, check_two_tabs]
    failed = 0
    try:
        rig.start_camera()
        rig.start_viewer()
        rig.open_browser()
        print("browser:", rig.driver.capabilities.get("browserVersion"),
              "driver:", rig.driver.capabilities.get("chrome", {}).get("chromedriverVersion", "?").split()[0])
        for check in checks:
            started = time.monotonic()
            try:
                check(rig)
                print(f"ok   {check.__name__} ({time.monotonic() - started:.1f} s)")
            except Exception as e:  # report every check, then fail
                failed += 1
                print(f"FAIL {check.__name__}: {e!r}\n{traceback.format_exc()}")
                rig.driver.save_screenshot(os.path.join(rig.out, "failed.png"))
                break  # later checks build on the page's state
            if check is check_live_view:
                rig.driver.save_screenshot(os.path.join(rig.out, "viewer.png"))
    finally:
        rig.close()
    if not failed:
        started = time.monotonic()
        try:
            check_two_cameras(args)
            print(f"ok   check_two_cameras ({time.monotonic() - started:.1f} s)")
        except Exception as e:
            failed += 1
            print(f"FAIL check_two_cameras: {e!r}\n{traceback.format_exc()}")
    print("screenshot:", os.path.join(rig.out, "viewer.png"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
