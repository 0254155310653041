// Shared pieces of the lvtsrc tests: a pipeline that cleans up after itself, frames pulled from
// an appsink, the same frames converted directly through vyxhost, and gst-launch-1.0 runs.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"

namespace lvtgsttest {

// One pipeline from a gst-launch description; set to NULL and released at the end.
class Pipeline {
 public:
  explicit Pipeline(const std::string& description) {
    GError* error = nullptr;
    pipeline_ = gst_parse_launch(description.c_str(), &error);
    if (error != nullptr) {
      ADD_FAILURE() << description << ": " << error->message;
      g_error_free(error);
    }
  }
  ~Pipeline() {
    if (pipeline_ == nullptr) return;
    EXPECT_EQ(gst_element_set_state(pipeline_, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    gst_object_unref(pipeline_);
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  GstElement* get() const { return pipeline_; }
  GstStateChangeReturn play() { return gst_element_set_state(pipeline_, GST_STATE_PLAYING); }
  GstStateChangeReturn stop() { return gst_element_set_state(pipeline_, GST_STATE_NULL); }
  // A named element; the pipeline keeps the reference.
  GstElement* element(const char* name) const {
    GstElement* e = gst_bin_get_by_name(GST_BIN(pipeline_), name);
    if (e != nullptr) gst_object_unref(e);
    return e;
  }
  // The next bus message of these types within the time-out, or nullptr (caller unrefs).
  GstMessage* waitFor(GstMessageType types, GstClockTime timeout = 20 * GST_SECOND) const {
    GstBus* bus = gst_element_get_bus(pipeline_);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, timeout, types);
    gst_object_unref(bus);
    return message;
  }

 private:
  GstElement* pipeline_ = nullptr;
};

// The text of an error or warning message.
inline std::string messageText(GstMessage* message) {
  GError* error = nullptr;
  gchar* debug = nullptr;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
    gst_message_parse_error(message, &error, &debug);
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_WARNING) {
    gst_message_parse_warning(message, &error, &debug);
  }
  std::string text = error != nullptr ? error->message : "";
  if (error != nullptr) g_error_free(error);
  g_free(debug);
  return text;
}

struct Frame {
  uint64_t offset = 0;
  GstClockTime pts = GST_CLOCK_TIME_NONE;
  int width = 0, height = 0, fpsN = 0, fpsD = 0;
  std::string format;
  std::vector<uint16_t> samples;  // read as little-endian
};

// The next frame from an appsink, or nothing at EOS / after the time-out.
inline bool pullFrame(GstElement* appsink, Frame& frame, GstClockTime timeout = 10 * GST_SECOND) {
  GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(appsink), timeout);
  if (sample == nullptr) return false;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
  frame.offset = GST_BUFFER_OFFSET(buffer);
  frame.pts = GST_BUFFER_PTS(buffer);
  gst_structure_get_int(caps, "width", &frame.width);
  gst_structure_get_int(caps, "height", &frame.height);
  gst_structure_get_fraction(caps, "framerate", &frame.fpsN, &frame.fpsD);
  const gchar* format = gst_structure_get_string(caps, "format");
  frame.format = format != nullptr ? format : "";
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_READ);
  frame.samples.resize(map.size / 2);
  for (size_t i = 0; i < frame.samples.size(); ++i) {
    frame.samples[i] = static_cast<uint16_t>(map.data[2 * i] | (map.data[2 * i + 1] << 8));
  }
  gst_buffer_unmap(buffer, &map);
  gst_sample_unref(sample);
  return true;
}

// What a float of the processing plug-in must become in the 16-bit output.
inline uint16_t expectedSample(float value, double scale) {
  const double v = static_cast<double>(value) * scale;
  if (std::isnan(v) || v < 0 || std::isinf(v)) return 0;
  return static_cast<uint16_t>(std::min(65535.0, std::max(1.0, std::round(v))));
}

// The frames the element's simulated camera delivers, fetched from a simulated camera of the same
// scene and converted directly through vyxhost: frame n is the n-th fetched since opening.
class ReferenceFrames {
 public:
  ReferenceFrames()
      : camera_(lvtsim::startOnFreeLoopback()),
        plugin_(vyxhost::findPlugin()),
        source_(plugin_, 9001, camera_->config().address),
        processing_(plugin_, 9002) {}

  const std::vector<float>& frame(uint32_t type, uint64_t number) {
    while (frames_.size() <= number) {
      source_.update();
      std::vector<uint8_t> raw;
      source_.rawData(raw);
      const VYXDataDescription description = source_.description();
      Images images;
      for (uint32_t t : {VYX_TYPE_10001, VYX_TYPE_10002, VYX_TYPE_10004}) {
        std::vector<float>& values = images[indexOf(t)];
        values.resize(static_cast<size_t>(processing_.canProcess(t, description)) / sizeof(float));
        processing_.process(t, description, raw.data(), values.data(), values.size() * 4);
      }
      frames_.push_back(images);
    }
    return frames_[number][indexOf(type)];
  }

  // The samples lvtsrc must deliver for frame number with that type and scale.
  std::vector<uint16_t> samples(uint32_t type, uint64_t number, double scale) {
    std::vector<uint16_t> out;
    for (float v : frame(type, number)) out.push_back(expectedSample(v, scale));
    return out;
  }

 private:
  using Images = std::array<std::vector<float>, 3>;
  static size_t indexOf(uint32_t type) {
    return type == VYX_TYPE_10001 ? 0 : type == VYX_TYPE_10002 ? 1 : 2;
  }
  std::unique_ptr<lvtsim::Camera> camera_;
  vyxhost::Plugin plugin_;
  vyxhost::SourceInstance source_;
  vyxhost::ProcessingInstance processing_;
  std::vector<Images> frames_;
};

}  // namespace lvtgsttest
