// Frames of a simulated camera the way a host gets them: fetched by the source plug-in and
// converted by the processing plug-in, both through the loaded plug-in's entry points.
#ifndef VYX_TESTS_CONVERTED_FRAMES_H
#define VYX_TESTS_CONVERTED_FRAMES_H

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace vyxtest {

// One open camera; next() fetches a frame and converts it into each output type asked for
// (VYX_TYPE_10001 ...), float images of rows x columns. The simulated camera renders frame n of
// its scene for the n-th fetch.
class ConvertedFrames {
 public:
  explicit ConvertedFrames(lvtsim::CameraConfig cfg)
      : cam_(startCamera(std::move(cfg))),
        plugin_(freshPlugin()),
        source_(*plugin_, 1, cam_->config().address),
        processing_(*plugin_, 2) {}

  const lvtsim::Camera& camera() const { return *cam_; }

  std::map<uint32_t, std::vector<float>> next(const std::vector<uint32_t>& outputTypes) {
    source_.update();
    source_.rawData(raw_);
    const VYXDataDescription desc = source_.description();
    std::map<uint32_t, std::vector<float>> images;
    for (uint32_t type : outputTypes) {
      std::vector<float>& out = images[type];
      out.resize(size_t{desc.std.numColumns} * desc.std.numRows);
      processing_.process(type, desc, raw_.data(), out.data(), out.size() * sizeof(float));
    }
    return images;
  }

 private:
  std::unique_ptr<lvtsim::Camera> cam_;
  std::unique_ptr<vyxhost::Plugin> plugin_;
  vyxhost::SourceInstance source_;
  vyxhost::ProcessingInstance processing_;
  std::vector<uint8_t> raw_;
};

}  // namespace vyxtest

#endif
