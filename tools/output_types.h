// The six float images the processing plug-in can make from a raw frame, with the camera image
// type each one is taken from and the short name used in file names.
#pragma once

#include <array>
#include <cstdint>

namespace vyxgrab {

struct OutputType {
  uint32_t code;  // host data type, e.g. 0x10001
  int cameraImageType;
  const char* name;  // for file names and messages
  const char* unit;  // of the values, as stored in the 16-bit PNGs
};

// In ascending order of code.
const std::array<OutputType, 6>& outputTypes();

}  // namespace vyxgrab
