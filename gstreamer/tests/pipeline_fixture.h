// Shared pieces of the lvtsrc tests: a pipeline that cleans up after itself, frames pulled from an
// appsink, and the same frames converted directly through vyxhost.
#pragma once

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "vyxhost/camera.h"
#include "vyxhost/depth.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"

namespace lvtgsttest {

// One pipeline from a gst-launch description; set to NULL and released at the end.
struct Pipeline {
  GstElement* bin;
  explicit Pipeline(const std::string& description)
      : bin(gst_parse_launch(description.c_str(), nullptr)) {
    EXPECT_NE(bin, nullptr) << description;
  }
  ~Pipeline() {
    EXPECT_EQ(gst_element_set_state(bin, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    gst_object_unref(bin);
  }
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  GstStateChangeReturn set(GstState state) { return gst_element_set_state(bin, state); }
  GstElement* operator[](const char* name) const {  // the pipeline keeps the reference
    GstElement* element = gst_bin_get_by_name(GST_BIN(bin), name);
    gst_object_unref(element);
    return element;
  }
  // The text of the next bus message of that type ("EOS" for an end of stream), or "none" when
  // none came in time; from is who posted it.
  std::string next(GstMessageType type, GstObject** from = nullptr,
                   GstClockTime timeout = 20 * GST_SECOND) const {
    GstBus* bus = gst_element_get_bus(bin);
    GstMessage* message = gst_bus_timed_pop_filtered(bus, timeout, type);
    gst_object_unref(bus);
    if (message == nullptr) return "none";
    GError* error = nullptr;
    if (type == GST_MESSAGE_ERROR) gst_message_parse_error(message, &error, nullptr);
    if (type == GST_MESSAGE_WARNING) gst_message_parse_warning(message, &error, nullptr);
    std::string text = error != nullptr ? error->message : "EOS";
    if (error != nullptr) g_error_free(error);
    if (from != nullptr) *from = GST_MESSAGE_SRC(message);
    gst_message_unref(message);
    return text;
  }
};

struct Frame {
  uint64_t offset = 0;
  GstClockTime pts = GST_CLOCK_TIME_NONE;
  int width = 0, height = 0, fps = 0;
  std::string format;
  std::vector<uint16_t> samples;  // read as little-endian
};

// The next frame from an appsink; false at EOS or after the time-out.
inline bool pullFrame(GstElement* appsink, Frame& frame, GstClockTime timeout = 10 * GST_SECOND) {
  GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(appsink), timeout);
  if (sample == nullptr) return false;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  const GstStructure* caps = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
  frame.offset = GST_BUFFER_OFFSET(buffer);
  frame.pts = GST_BUFFER_PTS(buffer);
  int fpsD = 0;
  gst_structure_get_int(caps, "width", &frame.width);
  gst_structure_get_int(caps, "height", &frame.height);
  gst_structure_get_fraction(caps, "framerate", &frame.fps, &fpsD);
  frame.format = gst_structure_get_string(caps, "format");
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

// The frames the element's simulated camera delivers, from a simulated camera of the same scene
// converted directly through vyxhost: frame n is the n-th fetched since opening.
class ReferenceFrames {
 public:
  std::vector<uint16_t> samples(uint32_t type, uint64_t number, double scale) {
    for (; raw_.size() <= number; descriptions_.push_back(source_.description())) {
      source_.update();
      source_.rawData(raw_.emplace_back());
    }
    const VYXDataDescription& description = descriptions_[number];
    std::vector<float> values(static_cast<size_t>(processing_.canProcess(type, description)) / 4);
    processing_.process(type, description, raw_[number].data(), values.data(), values.size() * 4);
    std::vector<uint16_t> out(values.size());
    std::transform(values.begin(), values.end(), out.begin(),
                   [scale](float v) { return expectedSample(v, scale); });
    return out;
  }

  // Frame n's distance as lvtsrc delivers it with its filters on: today's scaled values where
  // the depth pipeline (default filters) finds a pixel usable, 0 where not; invalid counts those.
  std::vector<uint16_t> filteredDistance(uint64_t number, double scale, size_t& invalid) {
    std::vector<uint16_t> out = samples(VYX_TYPE_10001, number, scale);
    vyxhost::Frame frame;
    frame.raw = raw_[number];
    frame.description = descriptions_[number];
    if (!depth_.process(converter_, frame, images_)) return {};
    invalid = images_.valid.size() - images_.validCount;
    vyxhost::maskInvalid(images_.valid.data(), out.data(), out.size());
    return out;
  }

 private:
  std::unique_ptr<lvtsim::Camera> camera_ = lvtsim::startOnFreeLoopback();
  vyxhost::Plugin plugin_{vyxhost::findPlugin()};
  vyxhost::SourceInstance source_{plugin_, 9001, camera_->config().address};
  vyxhost::ProcessingInstance processing_{plugin_, 9002};
  std::vector<std::vector<uint8_t>> raw_;
  std::vector<VYXDataDescription> descriptions_;
  vyxhost::FrameConverter converter_{vyxhost::sharedPlugin(vyxhost::findPlugin())};
  vyxhost::DepthPipeline depth_{vyxhost::nominalLens(), vyxhost::FilterSettings{}};
  vyxhost::DepthImages images_;
};

}  // namespace lvtgsttest
