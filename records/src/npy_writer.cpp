#include "vyxrec/npy_writer.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "vyxrec/file_output.h"

namespace vyxrec {

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr size_t kMagicLength = 6;
constexpr size_t kPreambleLength = kMagicLength + 2 + 2;  // magic, version, header length
constexpr size_t kAlignment = 64;

}  // namespace

std::string npyHeader(size_t rows, size_t columns) {
  std::string dict = "{'descr': '<f4', 'fortran_order': False, 'shape': (" + std::to_string(rows) +
                     ", " + std::to_string(columns) + "), }";
  // Pad with blanks and end with a newline so that the data starts on the alignment boundary.
  const size_t unpadded = kPreambleLength + dict.size() + 1;
  const size_t padded = (unpadded + kAlignment - 1) / kAlignment * kAlignment;
  dict.append(padded - unpadded, ' ');
  dict.push_back('\n');

  const size_t headerLength = dict.size();  // well below 65535 for any two numbers
  std::string header(kMagic, kMagicLength);
  header.push_back('\x01');
  header.push_back('\x00');
  header.push_back(static_cast<char>(headerLength & 0xff));
  header.push_back(static_cast<char>((headerLength >> 8) & 0xff));
  return header + dict;
}

void writeNpyFloat32(const std::string& path, const float* values, size_t rows, size_t columns) {
  const std::string header = npyHeader(rows, columns);
  const size_t count = rows * columns;
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.resize(header.size() + 4 * count);
  uint8_t* out = bytes.data() + header.size();
  for (size_t i = 0; i < count; ++i) {
    uint32_t word;
    std::memcpy(&word, &values[i], sizeof word);
    // Little-endian whatever the host's byte order.
    out[4 * i] = static_cast<uint8_t>(word);
    out[4 * i + 1] = static_cast<uint8_t>(word >> 8);
    out[4 * i + 2] = static_cast<uint8_t>(word >> 16);
    out[4 * i + 3] = static_cast<uint8_t>(word >> 24);
  }
  writeFile(path, bytes.data(), bytes.size());
}

}  // namespace vyxrec
