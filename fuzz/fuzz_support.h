// Pieces shared by the fuzz targets: reading typed values off the front of a
// fuzz input, the plug-in object loaded once per process, and a check that
// stops the run on a broken invariant.
#ifndef VYX_FUZZ_FUZZ_SUPPORT_H
#define VYX_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "vyxhost/vyxhost.h"

namespace vyxfuzz {

// Consumes an input from the front. Past the end every value reads as 0 and
// every text as empty, so any input, however short, decodes to something.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(byte() | (byte() << 8)); }
  uint32_t u32() { return u16() | (static_cast<uint32_t>(u16()) << 16); }
  bool flag() { return (byte() & 1) != 0; }

  // A text of up to maxLength bytes: a length byte, then that many bytes.
  std::string text(size_t maxLength) {
    const size_t length = byte() % (maxLength + 1);
    std::string out;
    while (out.size() < length && pos_ < size_) out.push_back(static_cast<char>(data_[pos_++]));
    return out;
  }

  const uint8_t* rest() const { return data_ + pos_; }
  size_t remaining() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A broken invariant is a finding: report it and stop so the fuzzer saves the input.
inline void require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// The plug-in object, loaded once and kept for the life of the process.
inline const vyxhost::Plugin& plugin() {
  static const vyxhost::Plugin* loaded = new vyxhost::Plugin(VYX_PLUGIN_PATH);
  return *loaded;
}

}  // namespace vyxfuzz

// Sets a target up (loads the plug-in, starts its camera) before fuzzing starts, so that
// libFuzzer registers the plug-in's coverage counters with its own.
#define VYXFUZZ_SET_UP_BEFORE_FUZZING(setUp)                             \
  extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) { \
    setUp();                                                             \
    return 0;                                                            \
  }

#endif
