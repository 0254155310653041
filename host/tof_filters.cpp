// The per-frame validity tests. The loops are written without branches so that the compiler
// can run them several pixels at a time: the whole filter must cost about as little as
// converting the frame.
#include "vyxhost/tof_filters.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace vyxhost {

TofFilter::TofFilter(const FilterSettings& settings, int width, int height)
    : settings_(settings), width_(width), height_(height) {
  settings_.check();
  if (width <= 0 || height <= 0)
    throw std::invalid_argument("filters: the image size must be positive");
  const auto pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (settings_.enabled && settings_.flyingThreshold > 0.0f) jumps_.resize(4 * pixels);
  if (settings_.enabled && settings_.temporalMedian > 0) {
    history_.resize(pixels * static_cast<size_t>(settings_.temporalMedian));
    scratch_.resize(static_cast<size_t>(settings_.temporalMedian));
  }
}

void TofFilter::reset() { frames_ = 0; }

size_t TofFilter::apply(float* distance, const float* amplitude, uint8_t* valid) {
  const size_t n = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  if (!settings_.enabled) {
    std::memset(valid, 1, n);
    return n;
  }
  if (!history_.empty()) median(distance);

  const FilterSettings& s = settings_;
  const float inf = std::numeric_limits<float>::infinity();
  const float maxDistance = s.maxDistance > 0.0f ? s.maxDistance : inf;
  const float minDistance = s.minDistance;
  for (size_t i = 0; i < n; ++i) {
    const float d = distance[i];
    // NaN fails both comparisons, so it is invalid whatever the limits.
    valid[i] = static_cast<uint8_t>((d >= minDistance) & (d <= maxDistance) & (d > 0.0f));
  }
  if (amplitude != nullptr) {
    const float full = s.saturation > 0.0f ? s.saturation : inf;
    const float least = s.minAmplitude;
    for (size_t i = 0; i < n; ++i) {
      const float a = amplitude[i];
      valid[i] &= static_cast<uint8_t>((a >= least) & (a < full));
    }
  }
  if (s.flyingThreshold > 0.0f) flying(distance, valid);
  size_t count = 0;
  for (size_t i = 0; i < n; ++i) count += valid[i];
  return count;
}

void TofFilter::flying(const float* d, uint8_t* valid) {
  const float t = settings_.flyingThreshold;
  const auto w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
  const size_t n = w * h;
  // Each jump between two neighbours once: to the right, down, down-right and down-left of
  // pixel i, at index i. A jump to a neighbour that is not a number counts as none, so a
  // pixel beside a gap is judged by its other neighbours.
  float* right = jumps_.data();
  float* down = right + n;
  float* downRight = down + n;
  float* downLeft = downRight + n;
  const auto jump = [](float a, float b) {
    const float j = std::fabs(a - b);
    return j > 0.0f ? j : 0.0f;
  };
  for (size_t i = 0; i + 1 < n; ++i) right[i] = jump(d[i + 1], d[i]);
  for (size_t i = 0; i + w < n; ++i) down[i] = jump(d[i + w], d[i]);
  for (size_t i = 0; i + w + 1 < n; ++i) downRight[i] = jump(d[i + w + 1], d[i]);
  for (size_t i = 1; i + w - 1 < n; ++i) downLeft[i] = jump(d[i + w - 1], d[i]);

  // Inside: the pairs left-right, up-down and both diagonals; a pixel flies when it jumps from
  // both neighbours of some pair, i.e. the largest of the pairs' smaller jumps is too big.
  for (size_t r = 1; r + 1 < h; ++r) {
    for (size_t i = r * w + 1; i < r * w + w - 1; ++i) {
      const float pairs =
          std::max(std::max(std::min(right[i - 1], right[i]), std::min(down[i - w], down[i])),
                   std::max(std::min(downRight[i - w - 1], downRight[i]),
                            std::min(downLeft[i - w + 1], downLeft[i])));
      valid[i] &= static_cast<uint8_t>(!(pairs > t * d[i]));
    }
  }
  // On the border only the pair along it (a one-row image visits its row twice, harmlessly).
  for (size_t r : {size_t{0}, h - 1})
    for (size_t i = r * w + 1; i < r * w + w - 1; ++i)
      valid[i] &= static_cast<uint8_t>(!(std::min(right[i - 1], right[i]) > t * d[i]));
  for (size_t c : {size_t{0}, w - 1})
    for (size_t i = w + c; i + w < n; i += w)
      valid[i] &= static_cast<uint8_t>(!(std::min(down[i - w], down[i]) > t * d[i]));
}

void TofFilter::median(float* distance) {
  const size_t n = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  const auto depth = static_cast<size_t>(settings_.temporalMedian);
  std::memcpy(history_.data() + (frames_ % depth) * n, distance, n * sizeof(float));
  ++frames_;
  const size_t held = std::min(frames_, depth);
  for (size_t i = 0; i < n; ++i) {
    // Only numbers take part: a frame without a reading here does not pull the median.
    size_t k = 0;
    for (size_t f = 0; f < held; ++f) {
      const float v = history_[f * n + i];
      if (std::isfinite(v)) scratch_[k++] = v;
    }
    if (k == 0) {
      distance[i] = std::numeric_limits<float>::quiet_NaN();
      continue;
    }
    const auto mid = scratch_.begin() + static_cast<std::ptrdiff_t>(k / 2);
    std::nth_element(scratch_.begin(), mid, scratch_.begin() + static_cast<std::ptrdiff_t>(k));
    float m = *mid;
    if (k % 2 == 0) m = 0.5f * (m + *std::max_element(scratch_.begin(), mid));
    distance[i] = m;
  }
}

void maskInvalid(const uint8_t* valid, float* image, size_t pixels) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (size_t i = 0; i < pixels; ++i) image[i] = valid[i] != 0 ? image[i] : nan;
}

void maskInvalid(const uint8_t* valid, uint16_t* image, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i) image[i] = valid[i] != 0 ? image[i] : uint16_t{0};
}

}  // namespace vyxhost
