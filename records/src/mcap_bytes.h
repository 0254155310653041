// Little-endian encoding into a growing byte buffer, and a bounded cursor that
// decodes from a span and throws instead of reading past its end. Shared by the
// MCAP records and the CDR messages.
#ifndef VYXREC_MCAP_BYTES_H
#define VYXREC_MCAP_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vyxrec::bytes {

using Buffer = std::vector<uint8_t>;

// Appends the low `n` bytes of `v`, least significant first.
inline void putLE(Buffer& out, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put8(Buffer& out, uint8_t v) { out.push_back(v); }
inline void put16(Buffer& out, uint16_t v) { putLE(out, v, 2); }
inline void put32(Buffer& out, uint32_t v) { putLE(out, v, 4); }
inline void put64(Buffer& out, uint64_t v) { putLE(out, v, 8); }
inline void putBytes(Buffer& out, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  out.insert(out.end(), p, p + size);
}
// An MCAP String: uint32 byte length, then the bytes.
void putString(Buffer& out, std::string_view s);
// An MCAP Map<string, string>: uint32 byte length of the entries, then each key and value.
void putStringMap(Buffer& out, const std::map<std::string, std::string>& map);
// zlib's CRC32 of a whole span, continuing from `crc` (0 to start).
uint32_t crc32(const void* data, size_t size, uint32_t crc = 0);
// Overwrites 8 bytes at `at` (a length written before its content was known).
void patch64(Buffer& out, size_t at, uint64_t v);

inline uint64_t getLE(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}

// Thrown by Cursor when a field runs past its span; the reader turns it into a
// RecordingError with the file and the offset.
class Truncated : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t position() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  bool atEnd() const { return pos_ == size_; }
  const uint8_t* here() const { return data_ + pos_; }

  uint8_t u8() { return static_cast<uint8_t>(fixed(1)); }
  uint16_t u16() { return static_cast<uint16_t>(fixed(2)); }
  uint32_t u32() { return static_cast<uint32_t>(fixed(4)); }
  uint64_t u64() { return fixed(8); }
  // `n` bytes in place; the span stays owned by the caller.
  const uint8_t* take(uint64_t n, const char* what);
  std::string_view stringView(const char* what);  // uint32-prefixed
  std::string string(const char* what) { return std::string(stringView(what)); }
  std::map<std::string, std::string> stringMap(const char* what);
  void skip(uint64_t n, const char* what) { take(n, what); }
  void seek(size_t pos);

 private:
  uint64_t fixed(size_t n);

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace vyxrec::bytes

#endif
