// Rendered images, kept per image type, scene phase and integration time so that serving a frame
// costs no rendering once the scene has gone round once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

#include "lvtsim/camera.h"

namespace lvtsim::detail {

class ImageCache {
 public:
  explicit ImageCache(const CameraConfig& cfg) : cfg_(cfg) {}
  std::shared_ptr<const std::vector<uint8_t>> get(int imageType, uint64_t frame,
                                                  int32_t integrationTime);

 private:
  const CameraConfig& cfg_;
  std::mutex mu_;
  // By image type, scene phase and integration time.
  std::map<std::tuple<int, uint64_t, int32_t>, std::shared_ptr<const std::vector<uint8_t>>> images_;
};

}  // namespace lvtsim::detail
