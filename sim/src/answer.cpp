#include "answer.h"

#include <algorithm>
#include <cmath>

#include "lvtwire/frame_format.h"

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
  namespace word = lvtwire::word;
  float words[lvtwire::kFilledHeaderWords] = {};
  words[word::kDataSize] = static_cast<float>(imageBytes);
  words[word::kHeaderSize] = static_cast<float>(facts.headerSize);
  words[word::kImageType] = static_cast<float>(facts.imageType);
  words[word::kFrameCounter] = static_cast<float>(facts.frame);
  words[word::kRequest] = static_cast<float>(static_cast<unsigned char>(facts.request));
  words[word::kItime0] = static_cast<float>(facts.itime0);
  words[word::kItime1] = static_cast<float>(facts.itime1);
  words[word::kFps] = static_cast<float>(facts.fps);
  words[word::kValidity] = 1.0f;
  size_t headerBytes = facts.headerSize;
  size_t dataBytes = imageBytes;

  if (o != nullptr) {
    if (o->size) {
      words[word::kDataSize] = *o->size;
      dataBytes = byteCount(*o->size, 0, kMaxDataBytes, dataBytes);
    }
    if (o->headerSize) {
      words[word::kHeaderSize] = *o->headerSize;
      headerBytes =
          byteCount(*o->headerSize, lvtwire::kSizeWordsBytes, kMaxHeaderBytes, headerBytes);
    }
    if (o->imageType) words[word::kImageType] = *o->imageType;
    if (o->itime0) words[word::kItime0] = *o->itime0;
    if (o->itime1) words[word::kItime1] = *o->itime1;
    if (o->validity) words[word::kValidity] = *o->validity;
  }

  Answer a;
  a.head.assign(headerBytes, 0);
  constexpr size_t w = lvtwire::kWordBytes;
  for (size_t k = 0; k < lvtwire::kFilledHeaderWords && w * k + w <= headerBytes; ++k)
    lvtwire::putFloatBE(&a.head[w * k], words[k]);
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
