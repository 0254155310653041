#include "mcap_bytes.h"

#include <zlib.h>

#include <algorithm>

namespace vyxrec::bytes {

void putString(Buffer& out, std::string_view s) {
  put32(out, static_cast<uint32_t>(s.size()));
  putBytes(out, s.data(), s.size());
}

void putStringMap(Buffer& out, const std::map<std::string, std::string>& map) {
  uint64_t length = 0;
  for (const auto& [key, value] : map) length += 8 + key.size() + value.size();
  put32(out, static_cast<uint32_t>(length));
  for (const auto& [key, value] : map) {
    putString(out, key);
    putString(out, value);
  }
}

uint32_t crc32(const void* data, size_t size, uint32_t crc) {
  const auto* p = static_cast<const uint8_t*>(data);
  uLong value = crc;
  // zlib takes uInt lengths; feed it in pieces that fit on every platform.
  for (size_t at = 0; at < size;) {
    const size_t piece = std::min<size_t>(size - at, 1u << 30);
    value = ::crc32(value, p + at, static_cast<uInt>(piece));
    at += piece;
  }
  return static_cast<uint32_t>(value);
}

void patch64(Buffer& out, size_t at, uint64_t v) {
  for (size_t i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t Cursor::fixed(size_t n) {
  if (remaining() < n) throw Truncated("a field runs past the end of its record");
  const uint64_t v = getLE(data_ + pos_, n);
  pos_ += n;
  return v;
}

const uint8_t* Cursor::take(uint64_t n, const char* what) {
  if (n > remaining()) {
    throw Truncated(std::string(what) + " claims " + std::to_string(n) + " bytes where " +
                    std::to_string(remaining()) + " remain");
  }
  const uint8_t* p = data_ + pos_;
  pos_ += static_cast<size_t>(n);
  return p;
}

std::string_view Cursor::stringView(const char* what) {
  const uint32_t n = u32();
  const uint8_t* p = take(n, what);
  return std::string_view(reinterpret_cast<const char*>(p), n);
}

std::map<std::string, std::string> Cursor::stringMap(const char* what) {
  const uint32_t length = u32();
  Cursor entries(take(length, what), length);
  std::map<std::string, std::string> map;
  while (!entries.atEnd()) {
    std::string key = entries.string(what);
    map[key] = entries.string(what);
  }
  return map;
}

void Cursor::seek(size_t pos) {
  if (pos > size_) throw Truncated("an offset points past the end of its record");
  pos_ = pos;
}

}  // namespace vyxrec::bytes
