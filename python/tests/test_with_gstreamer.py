"""lvtcam and the lvtsrc GStreamer element in one process, on one plug-in."""

import os
import threading

import pytest

import lvtcam
from conftest import same_bits, wire_images

ROUNDS = 25


def test_grabbing_while_a_pipeline_opens_and_closes_cameras():
    gi = pytest.importorskip("gi")
    gi.require_version("Gst", "1.0")
    from gi.repository import Gst

    Gst.init(None)
    if Gst.ElementFactory.find("lvtsrc") is None:
        pytest.fail(f"no lvtsrc element in GST_PLUGIN_PATH={os.environ.get('GST_PLUGIN_PATH')}")
    errors = []
    with lvtcam.simulate() as ours, lvtcam.simulate() as theirs:

        def pipelines():
            try:
                for _ in range(ROUNDS):
                    pipeline = Gst.parse_launch(
                        f"lvtsrc address={theirs} itime0=900 num-buffers=3 ! fakesink")
                    pipeline.set_state(Gst.State.PLAYING)
                    message = pipeline.get_bus().timed_pop_filtered(
                        60 * Gst.SECOND, Gst.MessageType.EOS | Gst.MessageType.ERROR)
                    pipeline.set_state(Gst.State.NULL)
                    assert message is not None and message.type == Gst.MessageType.EOS, (
                        message.parse_error() if message else "no end of stream")
            except Exception as e:  # reported by the main thread
                errors.append(e)

        thread = threading.Thread(target=pipelines)
        thread.start()
        try:
            for _ in range(ROUNDS):
                with lvtcam.open(ours) as cam:
                    cam.integration_times = (700, 1500)
                    # A mix-up of instances would show the pipeline camera's 900 us here.
                    for index, frame in enumerate(cam.frames(3)):
                        assert (frame.index, frame.integration_times) == (index, (700, 1500))
                        assert same_bits(frame.distance, wire_images(frame.raw)[1])
        finally:
            thread.join(300)
    assert not thread.is_alive() and not errors, errors
