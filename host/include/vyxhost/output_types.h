// The six float images the processing plug-in can make from a raw frame, with the short name
// used in file names. Which camera image each is taken from is the plug-in's business.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vyxhost {

struct OutputType {
  uint32_t code;     // host data type, e.g. 0x10001
  const char* name;  // for file names and messages
  const char* unit;  // of the values, as stored in the 16-bit PNGs
};

// In ascending order of code.
const std::array<OutputType, 6>& outputTypes();

// The entry with that name ("distance") or code (VYX_TYPE_10001); nullptr when there is none.
const OutputType* findOutputType(const std::string& name);
const OutputType* findOutputType(uint32_t code);

}  // namespace vyxhost
