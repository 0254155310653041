#include "image_cache.h"

#include "lvtsim/scene.h"

namespace lvtsim::detail {

std::shared_ptr<const std::vector<uint8_t>> ImageCache::get(int imageType, uint64_t frame,
                                                            int32_t integrationTime) {
  const std::tuple<int, uint64_t, int32_t> key{imageType, frame % kScenePeriod, integrationTime};
  std::lock_guard<std::mutex> lock(mu_);
  auto& slot = images_[key];
  if (!slot)
    slot = std::make_shared<const std::vector<uint8_t>>(
        renderImage(cfg_, imageType, frame, integrationTime));
  return slot;
}

}  // namespace lvtsim::detail
