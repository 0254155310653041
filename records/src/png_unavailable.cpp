// The PNG writers of a build without libpng: every other file of a recording is still written.
#include <stdexcept>

#include "vyxrec/png_writer.h"

namespace vyxrec {

namespace {

[[noreturn]] void unavailable(const std::string& path) {
  throw std::runtime_error("cannot write " + path + ": built without libpng");
}

}  // namespace

void writePngGray16(const std::string& path, const uint16_t* /*samples*/, uint32_t /*width*/,
                    uint32_t /*height*/, const PngText& /*text*/) {
  unavailable(path);
}

void writePngRgb8(const std::string& path, const uint8_t* /*rgb*/, uint32_t /*width*/,
                  uint32_t /*height*/) {
  unavailable(path);
}

}  // namespace vyxrec
