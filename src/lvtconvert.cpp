// Turning a raw camera frame into one float image in host byte order.
#include <immintrin.h>

#include <cmath>
#include <cstring>

#include "lvtprocess.h"
#include "lvtwire/frame_format.h"
#include "rawformat.h"
#include "refusal.h"
#include "vyxplugin.h"

namespace {

// Images in a raw frame follow one another at the stride of one image's
// pixels plus its header.
constexpr uint64_t kImageWords = lvtwire::kPixelWords;

// Reverses the bytes of every 32-bit word. Works on the bits, not on float
// values, so every pattern (NaNs included) arrives unchanged.
void swapWordsPlain(const unsigned char* in, unsigned char* out, size_t words) {
  for (size_t i = 0; i < words; ++i) {
    const uint32_t w = lvtwire::loadBE32(in + 4 * i);
    std::memcpy(out + 4 * i, &w, sizeof w);
  }
}

// The same with one byte shuffle per eight words, four shuffles per round:
// a frame's image converts at about the speed of copying it.
__attribute__((target("avx2"), always_inline)) inline void swap8Avx2(const unsigned char* in,
                                                                     unsigned char* out,
                                                                     __m256i reverse) {
  const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_shuffle_epi8(v, reverse));
}

__attribute__((target("avx2"))) void swapWordsAvx2(const unsigned char* in, unsigned char* out,
                                                   size_t words) {
  const __m256i reverse = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3,
                                           2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
  size_t i = 0;
  for (; i + 32 <= words; i += 32) {
    swap8Avx2(in + 4 * i, out + 4 * i, reverse);
    swap8Avx2(in + 4 * i + 32, out + 4 * i + 32, reverse);
    swap8Avx2(in + 4 * i + 64, out + 4 * i + 64, reverse);
    swap8Avx2(in + 4 * i + 96, out + 4 * i + 96, reverse);
  }
  for (; i + 8 <= words; i += 8) swap8Avx2(in + 4 * i, out + 4 * i, reverse);
  swapWordsPlain(in + 4 * i, out + 4 * i, words - i);
}

void swapWords(const unsigned char* in, unsigned char* out, size_t words) {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  if (avx2) {
    swapWordsAvx2(in, out, words);
  } else {
    swapWordsPlain(in, out, words);
  }
}

int process(unsigned int id, unsigned int numOut, DataDescription* fmtOut, void** output,
            unsigned int numIn, DataDescription* fmtIn, void** input) {
  processlvt::instanceOf(id);
  if (numIn == 0) lvt::refuse(VYX_NOT_SUPPORTED, "need at least one input data block");
  lvt::requireArgument(fmtIn);

  unsigned int idx = 0;
  for (unsigned int c = 0; c < numIn; ++c) {
    if (lvt::isRawFrame(fmtIn[c].type)) idx = c;
  }
  const DataDescription in = fmtIn[idx];  // a copy: fmtOut may alias it
  const lvtwire::HeaderLayout* layout = lvt::layoutOfRawType(in.type);
  if (!layout) lvt::refuse(VYX_NOT_SUPPORTED, "input data type not supported");
  const uint32_t headerSize = layout->words();

  // Without an output description there is no type to check.
  if (numOut == 0 || fmtOut == nullptr)
    lvt::refuse(VYX_NOT_SUPPORTED, "need exactly one output data block");
  const int imageType = processlvt::imageTypeFor(fmtOut[0].type);
  if (imageType < 0) lvt::refuse(VYX_NOT_SUPPORTED, "output data type not supported");
  if (numOut != 1) lvt::refuse(VYX_NOT_SUPPORTED, "need exactly one output data block");

  // Columns x rows fits in 64 bits but four times that may not, so the
  // pixels are compared with the whole floats the capacity holds: a product
  // must never wrap into a small size that fits.
  const uint64_t pixels = uint64_t{in.std.numColumns} * in.std.numRows;
  if (pixels > fmtOut[0].size / 4u) lvt::refuse(VYX_BUFFER_TOO_SMALL, "not enough memory provided");
  const uint32_t sizeNeeded = static_cast<uint32_t>(pixels * 4u);
  if (output == nullptr || output[0] == nullptr || input == nullptr || input[idx] == nullptr)
    lvt::refuse(VYX_INVALID_VALUE, lvt::kNullArgument);

  const DataDescription temp = fmtOut[0];
  fmtOut[0] = in;
  fmtOut[0].size = sizeNeeded;
  fmtOut[0].type = temp.type;
  fmtOut[0].PID = id;
  fmtOut[0].DID = g_pdid++;
  fmtOut[0].subHeaderType = VYX_SUBHEADER_IMAGE;
  fmtOut[0].std.subType = 0;
  fmtOut[0].std.numSubImages = 1;

  // The type word of each image header carries the image type; the first within 0.5
  // of the request wins (a type word that is not a number matches too).
  const auto* inp = static_cast<const unsigned char*>(input[idx]);
  const uint64_t words = in.size / 4u;
  const float requested = static_cast<float>(imageType);
  uint64_t dptr = lvtwire::word::kImageType;
  while (dptr < words && std::fabs(lvtwire::getFloatBE(inp + 4 * dptr) - requested) > 0.5f) {
    dptr += headerSize + kImageWords;
  }
  // The matched image's pixels must lie inside the block as well.
  const uint64_t firstPixel = dptr + headerSize - lvtwire::word::kImageType;
  if (dptr >= words || firstPixel + pixels > words)
    lvt::refuse(VYX_NOT_AVAILABLE, "could not find requested data");

  swapWords(inp + 4 * firstPixel, static_cast<unsigned char*>(output[0]),
            static_cast<size_t>(pixels));
  return VYX_OK;
}

}  // namespace

extern "C" int vyxpProcess(unsigned int id, unsigned int numOut, DataDescription* fmtOut,
                           void** output, unsigned int numIn, DataDescription* fmtIn,
                           void** input) {
  return processlvt::processingGuarded(
      id, [&] { return process(id, numOut, fmtOut, output, numIn, fmtIn, input); });
}
