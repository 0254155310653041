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

Points: frame.points is an array (rows, columns, 3) of float32 metres (x right,
y down, z forward), NaN where the time-of-flight filters found the pixel
unusable, and frame.valid the boolean mask; made along the rays of the lens
given by calibration= (a calibration file), else the simulated camera's own
lens, else the nominal lens (frame.lens["nominal"] then says so). The distance
image is the radial distance along each pixel's ray, not z.

Rigs: Rig([a, b]) opens several cameras that grab side by side, each on its
own thread; rig.frames(n) yields tuples of frames matched by host time stamp
(within half a frame period), and rig.record("rig.mcap") records them all into
one file.

Recordings: cam.record("run.mcap") records every frame the camera takes into
one MCAP file; read_recording() reads such a file, or a folder written by
vyxgrab, back. A recording that cannot be read raises ValueError naming the
file (and the byte offset where one is at fault).
"""

import contextlib
import json
import operator
import os
import socket

import numpy  # noqa: F401 - frames are NumPy arrays: ready before any thread grabs

from ._errors import CameraError
from . import _lvtcam
from ._lvtcam import Frame, __version__

__all__ = ["open", "simulate", "read_recording", "plugin_search", "Camera", "Frame",
           "CameraError", "SimulatedCamera", "Recorder", "Rig", "RigRecorder", "DEFAULT_FILTERS"]

# The time-of-flight filters as the cameras use them unless told otherwise: a dict of the fields
# of vyxhost::FilterSettings (min_amplitude, saturation, min_distance, max_distance,
# flying_threshold, temporal_median, enabled).
def _filter_dict(text):
    # The settings are 32-bit floats: shown as the numbers they were given as.
    return {key: float(f"{value:.7g}") if isinstance(value, float) else value
            for key, value in json.loads(text).items()}


DEFAULT_FILTERS = _filter_dict(_lvtcam._default_filters())


def _whole(value, what):
    # NumPy's bool is refused like Python's: True is not a count.
    if isinstance(value, (bool, numpy.bool_)) or not hasattr(type(value), "__index__"):
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


def _calibration(calibration):
    if calibration is None:
        return ""
    path = _path(calibration, "calibration")
    if not os.path.exists(path):
        raise FileNotFoundError(f"no calibration file {path}")
    return path


_DEFAULT = object()


def _filters(filters):
    """The filter settings as JSON text; "" for no filters at all (filters=None)."""
    if filters is None:
        return ""
    if filters is _DEFAULT:
        return json.dumps(DEFAULT_FILTERS)
    if not isinstance(filters, dict):
        raise TypeError(f"filters must be None or a dict of filter settings, not "
                        f"{type(filters).__name__}")
    unknown = sorted(set(filters) - set(DEFAULT_FILTERS))
    if unknown:
        raise ValueError(f"no filter setting {', '.join(map(str, unknown))}; there are "
                         f"{', '.join(DEFAULT_FILTERS)}")
    settings = dict(DEFAULT_FILTERS)
    for key, value in filters.items():
        default = DEFAULT_FILTERS[key]
        if isinstance(default, bool):
            if not isinstance(value, (bool, numpy.bool_)):
                raise TypeError(f"filter setting {key} must be True or False")
            value = bool(value)
        elif isinstance(default, int):
            value = _whole(value, f"filter setting {key}")
        else:
            if isinstance(value, (bool, numpy.bool_)) or not isinstance(
                    value, (int, float, numpy.integer, numpy.floating)):
                raise TypeError(f"filter setting {key} must be a number, not "
                                f"{type(value).__name__}")
            value = float(value)
        settings[key] = value
    return json.dumps(settings)


class Camera:
    """An open camera. Use it as a context manager, or call close().

    Closing sends the camera its disconnect and never waits for a camera that
    no longer answers: its closing finishes in the background.
    """

    def __init__(self, address, plugin=None, calibration=None, filters=_DEFAULT):
        address = _text(address, "address")
        if not address.strip():
            raise ValueError("address must name a camera, e.g. '192.0.2.10'")
        # A camera this process simulates can also tell the image requests it received, and
        # hands over the lens it renders through.
        simulator = getattr(address, "_simulator", None)
        self._cam = _lvtcam._Camera(str(address), _plugin(plugin), simulator,
                                    _calibration(calibration), _filters(filters))
        self._simulated = simulator is not None

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

    @property
    def lens(self):
        """The lens points are made with, as a dict: width, height, fx, fy, cx, cy (pixels,
        pixel centres at whole numbers), distortion (k1, k2, p1, p2, k3), source, and nominal
        (True when assumed from the optics' data rather than measured on this camera)."""
        return self._cam.lens()

    @property
    def filters(self):
        """The time-of-flight filter settings in use, as a dict (see DEFAULT_FILTERS)."""
        return _filter_dict(self._cam.filters())

    def record(self, path, name="cam0"):
        """Record every frame this camera takes from now on into one MCAP file at path, until
        the returned Recorder is closed (use it as a context manager)::

            with cam.record("run.mcap"):
                for frame in cam.frames(100):
                    ...

        The file holds, under /lvt/NAME/, each frame's raw bytes and description, its distance
        and amplitude images and the lens as camera_info, with the run's settings first and
        the camera's counters at the end."""
        return Recorder(self, path, name)

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


def open(address, plugin=None, calibration=None, filters=_DEFAULT):  # noqa: A001 - lvtcam.open
    """Open the camera at address (e.g. '192.0.2.10') and return a Camera.

    plugin names the plug-in object; by default it is found as every lvt tool
    finds it (see plugin_search()). calibration names the lens's calibration
    file (JSON: width, height, fx, fy, cx, cy, distortion); without one a
    camera simulated by this process hands over its own lens, any other gets
    the nominal lens. filters: the time-of-flight filters, on by default;
    None shows every pixel; a dict changes some of DEFAULT_FILTERS, e.g.
    {"min_amplitude": 50, "temporal_median": 5}. Raises CameraError when the
    camera cannot be opened and OSError when no plug-in can be loaded.
    """
    return Camera(address, plugin, calibration, filters)


class Recorder:
    """Records the frames a camera takes into one MCAP file (see Camera.record)."""

    def __init__(self, camera, path, name="cam0"):
        path = _path(path, "path")
        name = _text(name, "name")
        if not name or "/" in name:
            raise ValueError(f"name must be a camera name without '/', not {name!r}")
        cam = camera._cam
        itime0, itime1 = cam.integration_times()
        manifest = {
            "format": "lvt-run", "format_version": 1, "tool": "lvtcam", "tool_version": __version__,
            "host": socket.gethostname(),  # tells this host's cameras apart in a merge
            "plugin": {"path": cam.plugin},
            "camera": {"address": cam.address, "name": name, "simulated": camera._simulated},
            "settings": {"read_back": {"itime0": itime0, "itime1": itime1, "fps": cam.fps()}},
            "lens": json.loads(cam.lens_json()),
            "filters": json.loads(cam.filters()),
        }
        self._camera = camera
        self._rec = cam.start_recording(path, json.dumps(manifest), name)

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc is not None and not self._rec.closed:
            # The file keeps everything recorded so far, with the reason as its last record.
            self._camera._cam.stop_recording_failed(f"{exc_type.__name__}: {exc}")
        self.close()
        return False

    def close(self):
        """Stop recording: the camera's counters, then the file's index. Safe to call again."""
        self._camera._cam.stop_recording(self._rec)

    @property
    def path(self):
        return self._rec.path

    @property
    def frames(self):
        """Frames recorded so far."""
        return self._rec.frames

    @property
    def closed(self):
        return self._rec.closed


def _camera_name(name):
    name = _text(name, "name")
    if not name or "/" in name:
        raise ValueError(f"name must be a camera name without '/', not {name!r}")
    return name


def _run_manifest(cameras, names):
    """The run manifest a recording starts with: the plug-in, each camera (address, name,
    settings read back, lens) and the filters of the first."""
    entries = []
    for camera, name in zip(cameras, names):
        cam = camera._cam
        itime0, itime1 = cam.integration_times()
        entries.append({
            "address": cam.address, "name": name, "simulated": camera._simulated,
            "settings": {"read_back": {"itime0": itime0, "itime1": itime1, "fps": cam.fps()}},
            "lens": json.loads(cam.lens_json()),
            "filters": json.loads(cam.filters()),
        })
    return {"format": "lvt-run", "format_version": 1, "tool": "lvtcam", "tool_version": __version__,
            "host": socket.gethostname(), "plugin": {"path": cameras[0]._cam.plugin},
            "cameras": entries}


class RigCameras:
    """A rig's cameras, by index (in the order of the addresses) or by name."""

    def __init__(self, cameras, names):
        self._cameras = list(cameras)
        self._names = list(names)

    def __len__(self):
        return len(self._cameras)

    def __iter__(self):
        return iter(self._cameras)

    def __getitem__(self, key):
        if isinstance(key, str):
            try:
                return self._cameras[self._names.index(key)]
            except ValueError:
                raise KeyError(f"no camera named {key!r}; the rig has "
                               f"{', '.join(self._names)}") from None
        return self._cameras[key]

    def names(self):
        return list(self._names)


class Rig:
    """Several cameras grabbing side by side, their frames matched by host time stamp.

    addresses: the cameras, each once; names: one per camera (default cam0, cam1, ...);
    calibration: None, or one calibration file (or None) per camera; plugin, filters: as in
    open(), for every camera. Each camera grabs on a thread of its own from the first
    frames() or record() on. frames(n) yields n tuples with one Frame per camera, in the
    order of the addresses, whose host stamps lie within half a frame period of each other
    (the period of the slowest camera); a frame that finds no partner is counted in
    rig.unmatched, never dropped silently. A camera that fails raises CameraError naming it,
    and the rig stops; what was recorded stays in the file. Use it as a context manager::

        with lvtcam.Rig([a, b], names=["left", "right"]) as rig, rig.record("rig.mcap"):
            for left, right in rig.frames(100):
                ...
    """

    def __init__(self, addresses, names=None, calibration=None, plugin=None,
                 filters=_DEFAULT):
        if isinstance(addresses, (str, bytes)) or not hasattr(addresses, "__iter__"):
            raise TypeError("addresses must be a list of camera addresses, not "
                            f"{type(addresses).__name__}")
        addresses = [_text(a, "address") for a in addresses]
        if not addresses:
            raise ValueError("a rig needs at least one camera address")
        for i, address in enumerate(addresses):
            if not address.strip():
                raise ValueError(f"address {i} must name a camera, e.g. '192.0.2.10'")
            if address in addresses[:i]:
                raise ValueError(f"the address {address} is given twice (cameras "
                                 f"{addresses.index(address)} and {i}); each camera once")
        if names is None:
            names = [f"cam{i}" for i in range(len(addresses))]
        else:
            if isinstance(names, (str, bytes)) or not hasattr(names, "__iter__"):
                raise TypeError(f"names must be a list of names, not {type(names).__name__}")
            names = [_camera_name(n) for n in names]
            if len(names) != len(addresses):
                raise ValueError(f"{len(names)} names for {len(addresses)} addresses; give one "
                                 "name per camera")
            for i, name in enumerate(names):
                if name in names[:i]:
                    raise ValueError(f"the name {name!r} is given twice (cameras "
                                     f"{names.index(name)} and {i}); each camera needs its own")
        if calibration is None:
            calibration = [None] * len(addresses)
        elif isinstance(calibration, (str, bytes, os.PathLike)) or not hasattr(
                calibration, "__iter__"):
            raise TypeError("calibration must be a list with one calibration file (or None) "
                            "per camera")
        else:
            calibration = list(calibration)
            if len(calibration) != len(addresses):
                raise ValueError(f"{len(calibration)} calibrations for {len(addresses)} "
                                 "addresses; give one (or None) per camera")
        # Everything above is checked before any camera opens.
        self._names = names
        self._recorder = None
        cameras = []
        try:
            for address, name, calib in zip(addresses, names, calibration):
                try:
                    cameras.append(Camera(address, plugin, calib, filters))
                except CameraError as e:
                    raise _named(e, name, address) from e
            self._cameras = RigCameras(cameras, names)
            self._rig = _lvtcam._Rig([c._cam for c in cameras], names, self._period())
        except BaseException:
            for camera in cameras:
                camera.close()
            raise

    def _period(self):
        """The slowest camera's frame period, in seconds."""
        periods = []
        for index, camera in enumerate(self._cameras):
            try:
                periods.append(1.0 / max(camera.fps, 1))
            except CameraError as e:
                raise self._failed(e, index) from e
        return max(periods)

    def _failed(self, error, index):
        """The error of the camera at index, naming it; a recording ends with it as reason."""
        error = _named(error, self._names[index], self._cameras[index].address)
        self._stop_recording(str(error))
        return error

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        if exc is not None:
            self._stop_recording(f"{exc_type.__name__}: {exc}")
        self.close()
        return False

    def __repr__(self):
        return f"<lvtcam.Rig {', '.join(self._names)}>"

    def close(self):
        """Finish a recording still open, stop the threads and close every camera. Safe to call
        more than once."""
        rig = getattr(self, "_rig", None)
        if rig is None:
            return
        self._stop_recording()
        rig.stop()
        for camera in self._cameras:
            camera.close()

    @property
    def cameras(self):
        """The cameras, by index or by name (rig.cameras["left"].fps = 10), for their settings.
        Grab through the rig, not through them."""
        return self._cameras

    @property
    def names(self):
        return list(self._names)

    @property
    def unmatched(self):
        """Frames per camera name that found no partner (within half a frame period)."""
        return dict(zip(self._names, self._rig.unmatched))

    @property
    def stats(self):
        """Each camera's counters (see Camera.stats) by name, with its unmatched frames."""
        unmatched = self.unmatched
        return {name: dict(camera.stats, unmatched=unmatched[name])
                for name, camera in zip(self._names, self._cameras)}

    def frames(self, count=None):
        """Iterate over the next count tuples of frames (endlessly when count is None), one
        Frame per camera in the order of the addresses (frame.camera names it)."""
        if count is not None:
            count = _whole(count, "count")
            if count < 0:
                raise ValueError(f"count must not be negative, not {count}")
        if self._cameras[0].closed:
            raise ValueError("the rig is closed")
        self._rig.set_period(self._period())  # a camera's rate may have been set meanwhile
        return self._frames(count)

    def _frames(self, count):
        n = 0
        while count is None or n < count:
            try:
                frames = self._rig.next()
            except CameraError as e:
                failed = self._rig.failed_camera
                if failed is None:
                    raise
                raise self._failed(e, failed) from e
            yield frames
            n += 1

    def record(self, path):
        """Record every frame every camera takes from now on into one MCAP file at path (each
        camera under /lvt/NAME/, as Camera.record does for one), until the returned recorder is
        closed; use it as a context manager."""
        path = _path(path, "path")
        if self._recorder is not None and not self._recorder.closed:
            raise ValueError(f"the rig already records into {self._recorder.path}")
        manifest = _run_manifest(list(self._cameras), self._names)
        self._rig.start_recording(path, json.dumps(manifest))
        self._recorder = RigRecorder(self, path)
        return self._recorder

    def _stop_recording(self, failure=""):
        if self._recorder is not None:
            self._recorder._close(failure)


class RigRecorder:
    """A rig's recording (see Rig.record)."""

    def __init__(self, rig, path):
        self._rig = rig
        self._path = path
        self._closed = False

    def __enter__(self):
        return self

    def __exit__(self, exc_type, exc, tb):
        self._close(f"{exc_type.__name__}: {exc}" if exc is not None else "")
        return False

    def _close(self, failure=""):
        if not self._closed:
            self._closed = True
            self._rig._rig.stop_recording(failure)

    def close(self):
        """Stop recording: every camera's counters, then the file's index. Safe to call again."""
        self._close()

    @property
    def path(self):
        return self._path

    @property
    def closed(self):
        return self._closed or not self._rig._rig.recording


def _named(error, name, address):
    """The camera's error, saying which camera of a rig it is."""
    return CameraError(error.call, error.code, error.code_name, error.text, error.kind,
                       f"camera {name} ({address}): {error}")


class SimulatedCamera(str):
    """The address of a simulated camera (a str), which can also stop it."""

    def stop(self):
        """Stop serving; to a camera open on this address it is a pulled cable."""
        self._simulator.stop()

    @property
    def running(self):
        return self._simulator.running

    @property
    def lens(self):
        """The lens the simulated scene is rendered through (see Camera.lens)."""
        return self._simulator.lens()


@contextlib.contextmanager
def simulate(replay=None, realtime=True, calibration=None):
    """Start the camera simulator in this process on a free loopback address.

    Yields the address (a SimulatedCamera, i.e. a str) to open; the simulator
    stops when the block ends. replay names a folder recorded by vyxgrab whose
    frames are served in a loop instead of the synthetic scene (a recording
    that cannot be read raises ValueError). Frames come at the camera's frame
    rate, like a real camera's; realtime=False serves them as fast as they are
    asked for (tests, benchmarks). calibration names a calibration file whose
    lens the scene is rendered through (default: the nominal 60 degree
    pinhole); a camera opened on the address uses that lens without being told.
    """
    replay_dir = "" if replay is None else _path(replay, "replay")
    if not isinstance(realtime, bool):
        raise TypeError(f"realtime must be True or False, not {type(realtime).__name__}")
    simulator = _lvtcam._Simulator(replay_dir, realtime, _calibration(calibration))
    address = SimulatedCamera(simulator.address)
    address._simulator = simulator
    try:
        yield address
    finally:
        simulator.stop()


def read_recording(path, plugin=None, calibration=None, filters=_DEFAULT):
    """Iterate over the frames of a recording, as Frames.

    path names one MCAP file (written by cam.record, vyxgrab or vyxview; every
    camera's frames in file order, frame.camera naming the camera) or a folder
    written by vyxgrab (its run.json when there is one, otherwise its
    frame_NNNNN.raw / .desc files in order). Images are converted by the
    processing plug-in, as for a live camera, when first used. Points are made
    with calibration when given, else with the lens the recording holds, else
    the nominal lens; filters as in open(). A recording that cannot be read
    raises ValueError naming the file (and the byte offset); an MCAP file cut
    short is read up to its last whole chunk.
    """
    path = _path(path, "path")
    plugin = _plugin(plugin)
    calibration = _calibration(calibration)
    filters = _filters(filters)
    if not os.path.lexists(path):
        raise FileNotFoundError(f"no recording {path}")
    if os.path.isdir(path):
        return _lvtcam._FolderFrames(path, plugin, calibration, filters)
    return _lvtcam._McapFrames(path, plugin, calibration, filters)


def plugin_search(plugin=None):
    """The places searched for the plug-in, in order, marking the one that is used."""
    return _lvtcam._plugin_search(_plugin(plugin))
