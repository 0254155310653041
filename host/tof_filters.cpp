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
namespace {

// |x - a| > limit and |x - b| > limit: x jumps away from both neighbours of a pair.
inline int jumpsFromBoth(float x, float a, float b, float limit) {
  return static_cast<int>(std::fabs(x - a) > limit) & static_cast<int>(std::fabs(x - b) > limit);
}

}  // namespace

TofFilter::TofFilter(const FilterSettings& settings, int width, int height)
    : settings_(settings), width_(width), height_(height) {
  settings_.check();
  if (width <= 0 || height <= 0)
    throw std::invalid_argument("filters: the image size must be positive");
  const auto pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
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

void TofFilter::flying(const float* d, uint8_t* valid) const {
  const float t = settings_.flyingThreshold;
  const auto w = static_cast<size_t>(width_), h = static_cast<size_t>(height_);
  // Inside: the pairs left-right, up-down and both diagonals. A neighbour that is not a number
  // never counts as a jump, so a pixel beside a gap is judged by its other neighbours.
  for (size_t r = 1; r + 1 < h; ++r) {
    const float* up = d + (r - 1) * w;
    const float* row = d + r * w;
    const float* down = d + (r + 1) * w;
    uint8_t* out = valid + r * w;
    for (size_t c = 1; c + 1 < w; ++c) {
      const float x = row[c], limit = t * x;
      const int flies = jumpsFromBoth(x, row[c - 1], row[c + 1], limit) |
                        jumpsFromBoth(x, up[c], down[c], limit) |
                        jumpsFromBoth(x, up[c - 1], down[c + 1], limit) |
                        jumpsFromBoth(x, up[c + 1], down[c - 1], limit);
      out[c] &= static_cast<uint8_t>(flies ^ 1);
    }
  }
  // On the border only the pair along it (a one-row image visits its row twice, harmlessly).
  for (size_t r : {size_t{0}, h - 1}) {
    const float* row = d + r * w;
    for (size_t c = 1; c + 1 < w; ++c)
      valid[r * w + c] &=
          static_cast<uint8_t>(jumpsFromBoth(row[c], row[c - 1], row[c + 1], t * row[c]) ^ 1);
  }
  for (size_t c : {size_t{0}, w - 1}) {
    for (size_t r = 1; r + 1 < h; ++r) {
      const float x = d[r * w + c];
      valid[r * w + c] &=
          static_cast<uint8_t>(jumpsFromBoth(x, d[(r - 1) * w + c], d[(r + 1) * w + c], t * x) ^ 1);
    }
  }
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
