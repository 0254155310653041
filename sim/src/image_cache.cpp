#include "image_cache.h"

#include "lvtsim/scene.h"

namespace lvtsim::detail {

std::shared_ptr<const std::vector<uint8_t>> ImageCache::get(int imageType, uint64_t frame) {
  const std::pair<int, uint64_t> key{imageType, frame % kScenePeriod};
  std::lock_guard<std::mutex> lock(mu_);
  auto& slot = images_[key];
  if (!slot)
    slot = std::make_shared<const std::vector<uint8_t>>(renderImage(cfg_, imageType, frame));
  return slot;
}

}  // namespace lvtsim::detail
