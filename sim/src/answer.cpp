#include "answer.h"

#include <algorithm>
#include <cmath>

#include "lvtsim/wire.h"

namespace lvtsim::detail {
namespace {

// Byte count carried by an overridden size word: truncated and clamped; NaN keeps the default.
size_t byteCount(float value, size_t min, size_t max, size_t fallback) {
  if (std::isnan(value)) return fallback;
  const double v = std::trunc(static_cast<double>(value));
  if (v <= static_cast<double>(min)) return min;
  if (v >= static_cast<double>(max)) return max;
  return static_cast<size_t>(v);
}

void applyLimits(Answer& a, const ImageOverride* o) {
  if (o == nullptr) return;
  a.silent = o->silent;
  if (o->closeAfterBytes) {
    a.closeAfter = true;
    a.limit = *o->closeAfterBytes;
  }
}

}  // namespace

std::vector<uint8_t> Answer::bytes() const {
  std::vector<uint8_t> out(wireLength(), 0);
  const size_t fromHead = std::min(head.size(), out.size());
  std::copy_n(head.begin(), fromHead, out.begin());
  if (body) {
    const size_t fromBody = std::min(body->size(), out.size() - fromHead);
    std::copy_n(body->begin(), fromBody, out.begin() + static_cast<std::ptrdiff_t>(fromHead));
  }
  return out;
}

Answer makeImageAnswer(const ImageFacts& facts, const ImageOverride* o) {
  const size_t imageBytes = facts.data ? facts.data->size() : 0;
  float words[16] = {};
  words[0] = static_cast<float>(imageBytes);
  words[1] = static_cast<float>(facts.headerSize);
  words[2] = static_cast<float>(facts.imageType);
  words[3] = static_cast<float>(facts.frame);
  words[4] = static_cast<float>(static_cast<unsigned char>(facts.request));
  words[5] = static_cast<float>(facts.itime0);
  words[6] = static_cast<float>(facts.itime1);
  words[7] = static_cast<float>(facts.fps);
  words[15] = 1.0f;
  size_t headerBytes = facts.headerSize;
  size_t dataBytes = imageBytes;

  if (o != nullptr) {
    if (o->size) {
      words[0] = *o->size;
      dataBytes = byteCount(*o->size, 0, kMaxDataBytes, dataBytes);
    }
    if (o->headerSize) {
      words[1] = *o->headerSize;
      headerBytes = byteCount(*o->headerSize, 8, kMaxHeaderBytes, headerBytes);
    }
    if (o->imageType) words[2] = *o->imageType;
    if (o->itime0) words[5] = *o->itime0;
    if (o->itime1) words[6] = *o->itime1;
    if (o->validity) words[15] = *o->validity;
  }

  Answer a;
  a.head.assign(headerBytes, 0);
  for (size_t k = 0; k < 16 && 4 * k + 4 <= headerBytes; ++k) putFloatBE(&a.head[4 * k], words[k]);
  a.body = facts.data;
  a.bodyLength = dataBytes;
  applyLimits(a, o);
  return a;
}

Answer makeRawAnswer(std::shared_ptr<const std::vector<uint8_t>> bytes, const ImageOverride* o) {
  Answer a;
  a.bodyLength = bytes ? bytes->size() : 0;
  a.body = std::move(bytes);
  applyLimits(a, o);
  return a;
}

}  // namespace lvtsim::detail
