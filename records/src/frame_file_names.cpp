#include "vyxrec/frame_file_names.h"

#include <cinttypes>
#include <cstdio>

namespace vyxrec {

std::string frameStem(uint64_t frame) {
  char text[32];
  std::snprintf(text, sizeof text, "frame_%05" PRIu64, frame);
  return text;
}

std::string imageStem(uint64_t frame, const ImageLabel& type) {
  char code[16];
  std::snprintf(code, sizeof code, "%05" PRIx32, type.code);
  return frameStem(frame) + "_" + code + "_" + type.name;
}

std::string joinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  return dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace vyxrec
