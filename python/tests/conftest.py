"""Fixtures shared by the lvtcam tests: simulated cameras, open cameras, and
an independent decoder of the frame bytes as they come off the wire."""

import os
import warnings

import numpy as np
import pytest

import lvtcam


@pytest.fixture
def sim():
    """A simulated camera on its own loopback address; yields the address."""
    with lvtcam.simulate(realtime=False) as address:
        yield address


@pytest.fixture
def paced_pair():
    """Two simulated cameras serving at the camera's own pace, each on its own loopback
    address; yields the two addresses."""
    with lvtcam.simulate() as a, lvtcam.simulate() as b:
        yield a, b


@pytest.fixture
def camera(sim):
    with lvtcam.open(sim) as cam:
        yield cam


@pytest.fixture(scope="session")
def vyxgrab():
    path = os.environ.get("VYXGRAB")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("VYXGRAB must name the built vyxgrab (ctest sets it)")
    return path


def wire_images(raw):
    """{camera image type: big-endian float32 pixels} decoded from a frame's bytes:
    image blocks one after another, header word 0 = data bytes, word 1 = header
    bytes, word 2 = image type. The first block of a type wins."""
    images = {}
    offset = 0
    while offset < len(raw):
        size, header, image_type = np.frombuffer(raw, ">f4", count=3, offset=offset)
        data = np.frombuffer(raw, ">f4", count=int(size) // 4, offset=offset + int(header))
        images.setdefault(int(image_type), data)
        offset += int(header) + int(size)
    assert offset == len(raw), "the blocks must tile the frame exactly"
    return images


def same_bits(a, b):
    """Equal bit for bit (NaNs included), whatever the byte order of either."""
    return np.array_equal(np.asarray(a, "=f4").view(np.uint32).ravel(),
                          np.asarray(b, "=f4").view(np.uint32).ravel())


@pytest.fixture
def no_warnings():
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        yield
