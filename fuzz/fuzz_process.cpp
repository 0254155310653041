// Fuzzes the processing plug-in: arbitrary input descriptions (mostly raw
// frame types), frame bytes, output types and output capacities go to
// vyxpCanProcess and vyxpProcess. Every block is allocated with exactly the
// size its description states, so any read or write past it is caught.
//
// Input: a count byte, per input description a type, sub-type, dimensions,
// size and null-pointer choice, then the output description's choices, the
// type asked of vyxpCanProcess, and the frame bytes as the rest.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "lvtwire/frame_format.h"

namespace {

using vyxfuzz::ByteReader;
using vyxfuzz::require;

constexpr unsigned int kHandle = 1;
constexpr uint32_t kMaxCapacity = 4u << 20;  // largest output block handed to the plug-in

const uint32_t kOutputTypes[] = {VYX_TYPE_10001, VYX_TYPE_10002, VYX_TYPE_10004,
                                 VYX_TYPE_10020, VYX_TYPE_10040, VYX_TYPE_10080};

const vyxhost::EntryPoints& api() {
  static const bool opened = [] {
    const int code = vyxfuzz::plugin()->vyxpInitProcessingPlugin(kHandle, "");
    require(code == VYX_OK, "processing instance opens");
    return true;
  }();
  (void)opened;
  return vyxfuzz::plugin().api();
}

bool isRaw(uint32_t type) { return type == VYX_TYPE_50003 || type == VYX_TYPE_50004; }

// Raw types most of the time, otherwise an output type or any number.
uint32_t inputType(ByteReader& in) {
  const uint8_t pick = in.byte() % 8;
  if (pick < 3) return VYX_TYPE_50003;
  if (pick < 6) return VYX_TYPE_50004;
  if (pick == 6) return kOutputTypes[in.byte() % 6];
  return in.u32();
}

// The six output types most of the time, otherwise a raw type or any number.
uint32_t outputType(ByteReader& in) {
  const uint8_t pick = in.byte() % 8;
  if (pick < 6) return kOutputTypes[in.byte() % 6];
  if (pick == 6) return VYX_TYPE_50003;
  return in.u32();
}

void dimensions(ByteReader& in, VYXDataDescription& d) {
  switch (in.byte() % 4) {
    case 0:
      d.std.numColumns = lvtwire::kColumns;
      d.std.numRows = lvtwire::kRows;
      break;
    case 1:
      d.std.numColumns = in.byte();
      d.std.numRows = in.byte();
      break;
    case 2:
      d.std.numColumns = in.u16();
      d.std.numRows = in.u16();
      break;
    default:
      d.std.numColumns = in.u32();
      d.std.numRows = in.u32();
      break;
  }
}

// A size that the frame bytes can fill: the whole frame, a word-aligned or
// an arbitrary shorter length.
uint32_t blockSize(uint8_t choice, uint32_t word, size_t frameBytes) {
  const uint32_t whole = static_cast<uint32_t>(std::min<size_t>(frameBytes, UINT32_MAX));
  switch (choice % 4) {
    case 0:
      return whole;
    case 1:
      return whole & ~3u;
    default:
      return whole == UINT32_MAX ? word : word % (whole + 1u);
  }
}

// Exactly enough, one byte short, or some other capacity.
uint32_t capacity(uint8_t choice, uint32_t word, uint64_t needed) {
  const uint64_t cappedNeed = std::min<uint64_t>(needed, kMaxCapacity);
  switch (choice % 4) {
    case 0:
      return static_cast<uint32_t>(cappedNeed);
    case 1:
      return cappedNeed == 0 ? 0 : static_cast<uint32_t>(cappedNeed - 1);
    case 2:
      return word & 0xFFFFu;
    default:
      return word % (kMaxCapacity + 1);
  }
}

uint64_t bytesFor(const VYXDataDescription& d) {
  return uint64_t{d.std.numColumns} * d.std.numRows * 4u;
}

}  // namespace

VYXFUZZ_SET_UP_BEFORE_FUZZING(api)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const vyxhost::EntryPoints& p = api();
  ByteReader in(data, size);

  const unsigned int numIn = in.byte() % 4;
  std::vector<VYXDataDescription> fmtIn(std::max(numIn, 1u));
  std::vector<uint8_t> sizeChoice(numIn);
  std::vector<uint32_t> sizeWord(numIn);
  for (unsigned int i = 0; i < numIn; ++i) {
    VYXDataDescription& d = fmtIn[i];
    std::memset(&d, 0, sizeof d);
    d.type = inputType(in);
    d.subHeaderType = VYX_SUBHEADER_IMAGE;
    d.std.subType = in.u32();
    dimensions(in, d);
    sizeChoice[i] = in.byte();
    sizeWord[i] = in.u32();
  }
  const uint32_t outType = outputType(in);
  const uint8_t outCount = in.byte() % 8;
  const unsigned int numOut = outCount < 6 ? 1u : (outCount == 6 ? 0u : 2u);
  const uint8_t capacityChoice = in.byte();
  const uint32_t capacityWord = in.u32();
  const uint32_t askedType = outputType(in);
  const uint8_t* frame = in.rest();
  const size_t frameBytes = in.remaining();

  // Each input block is its own allocation of exactly its stated size; now
  // and then one is left out (a null pointer), which must be refused.
  std::vector<std::unique_ptr<uint8_t[]>> blocks(numIn);
  std::vector<void*> input(std::max(numIn, 1u), nullptr);
  for (unsigned int i = 0; i < numIn; ++i) {
    VYXDataDescription& d = fmtIn[i];
    d.size = blockSize(sizeChoice[i], sizeWord[i], frameBytes);
    if (sizeChoice[i] >= 0xF0) continue;
    blocks[i].reset(new uint8_t[d.size]);
    if (d.size > 0) std::memcpy(blocks[i].get(), frame, d.size);
    input[i] = blocks[i].get();
  }

  // vyxpCanProcess: -1 or the bytes of one float per pixel of a raw input.
  int canBytes = 12345;
  const std::vector<VYXDataDescription> before = fmtIn;
  int code = p.vyxpCanProcess(kHandle, &canBytes, askedType, numIn, fmtIn.data());
  require(code == VYX_OK, "vyxpCanProcess accepts any descriptions");
  require(std::memcmp(before.data(), fmtIn.data(), before.size() * sizeof before[0]) == 0,
          "vyxpCanProcess leaves the descriptions alone");
  if (canBytes != -1) {
    bool matches = false;
    for (unsigned int i = 0; i < numIn; ++i) {
      matches = matches || (isRaw(fmtIn[i].type) && bytesFor(fmtIn[i]) == uint64_t(canBytes));
    }
    require(matches, "vyxpCanProcess answers the size of a raw input");
  }

  // The output block: exactly the capacity its description states.
  uint64_t needed = 0;
  for (unsigned int i = 0; i < numIn; ++i) {
    if (isRaw(fmtIn[i].type)) needed = bytesFor(fmtIn[i]);
  }
  const uint32_t outBytes = capacity(capacityChoice, capacityWord, needed);
  std::unique_ptr<uint8_t[]> outBlock(new uint8_t[outBytes]);
  std::unique_ptr<uint8_t[]> spareBlock(new uint8_t[4]);
  VYXDataDescription fmtOut[2];
  std::memset(fmtOut, 0, sizeof fmtOut);
  fmtOut[0].type = outType;
  fmtOut[0].size = outBytes;
  fmtOut[1].type = outType;
  fmtOut[1].size = 4;
  void* output[2] = {outBlock.get(), spareBlock.get()};

  code = p.vyxpProcess(kHandle, numOut, numOut == 0 ? nullptr : fmtOut, output, numIn,
                       numIn == 0 ? nullptr : fmtIn.data(), input.data());
  require(code == VYX_OK || code == VYX_INVALID_VALUE || code == VYX_NOT_SUPPORTED ||
              code == VYX_BUFFER_TOO_SMALL || code == VYX_NOT_AVAILABLE,
          "vyxpProcess answers one of its result codes");
  if (code == VYX_OK) {
    require(fmtOut[0].type == outType, "the output keeps the requested type");
    require(fmtOut[0].size == needed && needed <= outBytes, "the output fits its block");
    require(fmtOut[0].std.numSubImages == 1 && fmtOut[0].std.subType == 0,
            "the output describes one image");
  } else {
    char text[64];
    require(p.vyxpGetLastError(kHandle, text, sizeof text) == VYX_OK && text[0] != '\0',
            "a refused conversion leaves a text");
  }
  return 0;
}
