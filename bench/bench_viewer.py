#!/usr/bin/env python3
"""vyxview in headless chromium against its embedded simulated camera at
30 frames/s: frames shown per second in the page against the frames the camera
delivered in the same interval, latency from vyxpUpdate returning to the frame
drawn (frame header time stamp against the page's clock, same machine), and the
viewer's CPU time per frame; first with one tab, then with four. With --view-3d every
tab shows the 3D view as well (the frames then carry the points; WebGL in SwiftShader)."""
import argparse
import os
import re
import subprocess
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def percentile(values, p):
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100 * (len(values) - 1))))] if values else float("nan")


def measure(driver, viewer_pid, handles, seconds):
    start = {}
    for h in handles:
        driver.switch_to.window(h)
        driver.execute_script("lvtPage.latencies = [];")
        start[h] = driver.execute_script(
            "return [lvtPage.framesShown, lvtPage.shown.number, lvtPage.viewerDropped];")
    cpu0, t0 = cpu_seconds(viewer_pid), time.monotonic()
    time.sleep(seconds)
    cpu1, t1 = cpu_seconds(viewer_pid), time.monotonic()
    shown, latencies, delivered, dropped_viewer = [], [], 0, 0
    for h in handles:
        driver.switch_to.window(h)
        end = driver.execute_script(
            "return [lvtPage.framesShown, lvtPage.shown.number, lvtPage.viewerDropped];")
        dropped_viewer = max(dropped_viewer, end[2] - start[h][2])
        shown.append((end[0] - start[h][0]) / (t1 - t0))
        delivered = max(delivered, end[1] - start[h][1])
        latencies += driver.execute_script("return lvtPage.latencies;")
    camera_fps = delivered / (t1 - t0)
    return {
        "camera_fps": camera_fps,
        "shown_fps_min": min(shown),
        "shown_ratio": min(shown) / camera_fps if camera_fps else float("nan"),
        "latency_p50_ms": percentile(latencies, 50),
        "latency_p95_ms": percentile(latencies, 95),
        "cpu_ms_per_frame": 1000 * (cpu1 - cpu0) / delivered if delivered else float("nan"),
        "cpu_share_of_frame_period": (cpu1 - cpu0) / (t1 - t0),
        "dropped_viewer": dropped_viewer,
    }


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--viewer", required=True)
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--chromedriver", default="/usr/bin/chromedriver")
    parser.add_argument("--view-3d", action="store_true", help="every tab shows the 3D view too")
    args = parser.parse_args()

    viewer = subprocess.Popen([args.viewer, "--simulate", "--fps", "30", "--port", "0"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    # The first line naming the page's address; the viewer prints it once it serves.
    announced = (re.search(r"live view at (http://\S+)", line) for line in viewer.stdout)
    url = next((found.group(1) for found in announced if found), None)
    options = Options()
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                 "--enable-unsafe-swiftshader", "--window-size=1300,1400"):
        options.add_argument(flag)
    options.binary_location = "/usr/bin/chromium"
    driver = webdriver.Chrome(service=Service(args.chromedriver), options=options)
    try:
        print(f"browser {driver.capabilities.get('browserVersion')}, driver "
              f"{driver.capabilities.get('chrome', {}).get('chromedriverVersion', '?').split()[0]}")
        def open_page():
            driver.get(url)
            if args.view_3d:
                driver.find_element("id", "view-3d").click()

        open_page()
        handles = [driver.current_window_handle]
        for tabs in (1, 4):
            while len(handles) < tabs:
                driver.switch_to.new_window("window")
                open_page()
                handles.append(driver.current_window_handle)
            time.sleep(2)  # warm up: connected, first frames drawn
            r = measure(driver, viewer.pid, handles, args.seconds)
            if args.view_3d:
                points = [driver.execute_script("return lvtPage.view3d && lvtPage.view3d.count;")]
                assert points[0], "the 3D view draws no points"
            print(f"vyxview {tabs} tab(s){' with the 3D view' if args.view_3d else ''}: camera {r['camera_fps']:.1f} frames/s, shown (slowest tab) "
                  f"{r['shown_fps_min']:.1f} frames/s = {r['shown_ratio']:.3f} x camera (target >= 29 frames/s); "
                  f"latency update->drawn p50 {r['latency_p50_ms']:.1f} ms, p95 {r['latency_p95_ms']:.1f} ms "
                  f"(target p95 < 50 ms); viewer CPU {r['cpu_ms_per_frame']:.2f} ms/frame = "
                  f"{r['cpu_share_of_frame_period']:.3f} of one core; most frames dropped for a tab: "
                  f"{r['dropped_viewer']}")
    finally:
        driver.quit()
        viewer.terminate()
        viewer.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
