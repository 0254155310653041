"""Frames from lvt time-of-flight cameras as NumPy arrays.

lvtcam drives the same camera plug-in (lvt.L32.vcp) a host application loads,
through its exported entry points::

    import lvtcam
    with lvtcam.simulate() as address, lvtcam.open(address) as cam:
        cam.integration_times = (500, 2000)
        for frame in cam.frames(10):
            print(frame.index, frame.distance[25, 32])

The plug-in is looked for in this order: the plugin= argument, the LVT_PLUGIN
environment variable, the install location beside libvyxhost, the build tree
(see plugin_search()). Failures of the plug-in raise CameraError; wrong
arguments raise TypeError or ValueError before anything reaches the camera.
Every call into the plug-in releases the GIL, so cameras in different threads
grab at the same time.
"""

import contextlib
import datetime
import operator
import os

import numpy  # noqa: F401 - frames are NumPy arrays: ready before any thread grabs

from ._errors import CameraError
from . import _lvtcam
from ._lvtcam import Frame, __version__

__all__ = ["open", "simulate", "read_recording", "plugin_search", "Camera", "Frame",
           "CameraError", "SimulatedCamera"]


def _whole(value, what):
    if isinstance(value, bool) or not hasattr(type(value), "__index__"):
        raise TypeError(f"{what} must be a whole number, not {type(value).__name__}")
    return operator.index(value)


def _text(value, what):
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    if "\0" in value:
        raise ValueError(f"{what} must not contain NUL characters")
    return value


def _path(value, what):
    if not isinstance(value, (str, os.PathLike)):
        raise TypeError(f"{what} must be a path (str or os.PathLike), not {type(value).__name__}")
    return _text(os.fspath(value), what)


def _plugin(plugin):
    return "" if plugin is None else _path(plugin, "plugin")


class Camera:
    """An open camera. Use it as a context manager, or call close().

    Closing sends the camera its disconnect and never waits for a camera that
    no longer answers: its closing finishes in the background.
    """

    def __init__(self, address, plugin=None):
        address = _text(address, "address")
        if not address.strip():
            raise ValueError("address must name a camera, e.g. '192.0.2.10'")
        # A camera this process simulates can also tell the image requests it received.
        simulator = getattr(address, "_simulator", None)
        self._cam = _lvtcam._Camera(str(address), _plugin(plugin), simulator)

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        self.close()
        return False

    def __del__(self):
        cam = getattr(self, "_cam", None)
        if cam is not None and not cam.closed:
            cam.close()

    def __repr__(self):
        state = "closed" if self.closed else "open"
        return f"<lvtcam.Camera {self._cam.address} {state}>"

    def close(self):
        """Disconnect from the camera. Safe to call more than once; returns at once
        (within a second) even when the camera no longer answers."""
        self._cam.close()

    @property
    def closed(self):
        """True once close() has run."""
        return self._cam.closed

    @property
    def address(self):
        """The address the camera was opened at."""
        return self._cam.address

    @property
    def plugin(self):
        """Path of the plug-in object this camera is driven through."""
        return self._cam.plugin

    @property
    def stats(self):
        """Counters since opening, as a dict: frames, retried_images (image requests
        the camera had to be sent again; None unless this process simulates the
        camera), stalls (times no frame came for three frame periods), losses,
        reconnects, latency (seconds from asking for the last frame to its arrival)."""
        return self._cam.stats()

    def grab(self):
        """Fetch the next frame from the camera and return it as a Frame.

        Raises CameraError when the camera does not deliver one (for example
        'connection lost' after a pulled cable) within the plug-in's time-out.
        """
        return self._cam.grab()

    def frames(self, count=None):
        """Iterate over the next count frames (endlessly when count is None).

        Ctrl-C stops the loop within one frame; the camera stays usable and closable.
        """
        if count is not None:
            count = _whole(count, "count")
            if count < 0:
                raise ValueError(f"count must not be negative, not {count}")
        return self._frames(count)

    def _frames(self, count):
        grab = self._cam.grab
        n = 0
        while count is None or n < count:
            yield grab()
            n += 1

    @property
    def integration_times(self):
        """(itime0, itime1) in microseconds. Setting checks the camera's valid
        range (integration_time_range) before either value is sent."""
        return self._cam.integration_times()

    @integration_times.setter
    def integration_times(self, times):
        try:
            itime0, itime1 = times
        except (TypeError, ValueError):
            raise TypeError("integration_times takes a pair (itime0, itime1) in microseconds") from None
        itime0 = _whole(itime0, "itime0")
        itime1 = _whole(itime1, "itime1")
        if itime0 < 0 or itime1 < 0:
            raise ValueError(f"integration times cannot be negative: ({itime0}, {itime1})")
        self._cam.set_integration_times(itime0, itime1)  # ValueError outside the camera's range

    @property
    def integration_time_range(self):
        """(shortest, longest) itime0 the camera accepts, in microseconds (itime1: see
        integration_time_range_of(1))."""
        return self._cam.integration_time_range(0)

    def integration_time_range_of(self, index):
        """(shortest, longest) integration time index (0 or 1) the camera accepts, in microseconds."""
        index = _whole(index, "index")
        if index not in (0, 1):
            raise ValueError(f"the camera has integration times 0 and 1, not {index}")
        return self._cam.integration_time_range(index)

    @property
    def fps(self):
        """Frame rate in frames per second, as the camera reports it. A rate the
        camera refuses raises CameraError (kind "refused") and leaves the camera at
        its old rate."""
        return self._cam.fps()

    @fps.setter
    def fps(self, value):
        value = _whole(value, "fps")
        if value < 1:
            raise ValueError(f"fps must be at least 1, not {value}")
        self._cam.set_fps(value)

    @property
    def modulation_frequency(self):
        """Modulation frequency in Hz."""
        return self._cam.modulation_frequency()

    @modulation_frequency.setter
    def modulation_frequency(self, hz):
        hz = _whole(hz, "modulation_frequency")
        if not 0 < hz < 2**32:
            raise ValueError(f"modulation_frequency must be a positive 32-bit number of Hz, not {hz}")
        self._cam.set_modulation_frequency(hz)

    def info(self, key):
        """The camera's answer for key: 'AspectRatio', 'SerialNumber' or 'FPS'."""
        return self._cam.info(_text(key, "key"))

    def command(self, text):
        """Send a platform command (e.g. 'SetFPS 20') and return the camera's answer."""
        return self._cam.command(_text(text, "text"))


def open(address, plugin=None):  # noqa: A001 - the name users expect: lvtcam.open
    """Open the camera at address (e.g. '192.0.2.10') and return a Camera.

    plugin names the plug-in object; by default it is found as every lvt tool
    finds it (see plugin_search()). Raises CameraError when the camera cannot
    be opened and OSError when no plug-in can be loaded.
    """
    return Camera(address, plugin)


class SimulatedCamera(str):
    """The address of a simulated camera (a str), which can also stop it."""

    def stop(self):
        """Stop serving; to a camera open on this address it is a pulled cable."""
        self._simulator.stop()

    @property
    def running(self):
        return self._simulator.running


@contextlib.contextmanager
def simulate(replay=None, realtime=True):
    """Start the camera simulator in this process on a free loopback address.

    Yields the address (a SimulatedCamera, i.e. a str) to open; the simulator
    stops when the block ends. replay names a folder recorded by vyxgrab whose
    frames are served in a loop instead of the synthetic scene. Frames come at
    the camera's frame rate, like a real camera's; realtime=False serves them as
    fast as they are asked for (tests, benchmarks).
    """
    replay_dir = "" if replay is None else _path(replay, "replay")
    if replay_dir and not os.path.isdir(replay_dir):
        raise FileNotFoundError(f"no recording folder {replay_dir}")
    if not isinstance(realtime, bool):
        raise TypeError(f"realtime must be True or False, not {type(realtime).__name__}")
    simulator = _lvtcam._Simulator(replay_dir, realtime)
    address = SimulatedCamera(simulator.address)
    address._simulator = simulator
    try:
        yield address
    finally:
        simulator.stop()


def _timestamp(utc):
    if not utc:
        return None
    return datetime.datetime.fromisoformat(utc.replace("Z", "+00:00")).timestamp()


def read_recording(folder, plugin=None):
    """Iterate over the frames of a folder written by vyxgrab, as Frames.

    Uses the folder's run.json when there is one (frame order, indices and
    host time stamps), otherwise its frame_NNNNN.raw / .desc files in order.
    Images are converted by the processing plug-in, as for a live camera.
    """
    folder = _path(folder, "folder")
    plugin = _plugin(plugin)
    entries = _lvtcam._recording_entries(folder)  # errors show up here, not at the first frame
    return _recorded_frames(entries, plugin)


def _recorded_frames(entries, plugin):
    for raw, description, index, utc in entries:
        yield _lvtcam._load_frame(raw, description, index, _timestamp(utc), plugin)


def plugin_search(plugin=None):
    """The places searched for the plug-in, in order, marking the one that is used."""
    return _lvtcam._plugin_search(_plugin(plugin))
