#include "vyxrec/ply_writer.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "vyxrec/file_output.h"

namespace vyxrec {

namespace {

void appendFloatLE(std::vector<uint8_t>& out, float value) {
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(bits >> shift));
}

}  // namespace

size_t writePly(const std::string& path, const float* xyz, const float* amplitude,
                const uint8_t* valid, size_t pixels) {
  std::vector<uint8_t> body;
  body.reserve(pixels * 16);
  size_t points = 0;
  for (size_t i = 0; i < pixels; ++i) {
    const float* p = xyz + 3 * i;
    const bool usable = valid != nullptr
                            ? valid[i] != 0
                            : std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]);
    if (!usable) continue;
    for (int k = 0; k < 3; ++k) appendFloatLE(body, p[k]);
    appendFloatLE(body, amplitude != nullptr ? amplitude[i] : 0.0f);
    ++points;
  }
  const std::string header =
      "ply\nformat binary_little_endian 1.0\ncomment lvt camera points, "
      "metres, x right, y down, z forward\nelement vertex " +
      std::to_string(points) +
      "\nproperty float x\nproperty float y\nproperty float z\n"
      "property float amplitude\nend_header\n";
  body.insert(body.begin(), header.begin(), header.end());
  writeFile(path, body.data(), body.size());
  return points;
}

}  // namespace vyxrec
