// Names of the files written per frame, e.g. frame_00012.raw, frame_00012.desc and
// frame_00012_10001_distance.npy / .png / _preview.png. Frame numbers have at least five digits,
// so files sort by frame up to 99999 frames.
#pragma once

#include <cstdint>
#include <string>

namespace vyxrec {

// How one converted image is labelled in its files: the host data type code (0x10001), its short
// name ("distance") and the unit of its values ("m"). The table of them belongs to the host.
struct ImageLabel {
  uint32_t code;
  const char* name;
  const char* unit;
};

std::string frameStem(uint64_t frame);                          // "frame_00012"
std::string imageStem(uint64_t frame, const ImageLabel& type);  // "frame_00012_10001_distance"
std::string joinPath(const std::string& dir, const std::string& name);

}  // namespace vyxrec
