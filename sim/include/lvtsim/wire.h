// Big-endian float words as the camera puts them on the data port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lvtsim {

void putFloatBE(uint8_t* dst, float value);
float getFloatBE(const uint8_t* src);
// Word k (bytes 4k..4k+3) of a header or image block; throws std::out_of_range past the end.
float wordAt(const std::vector<uint8_t>& bytes, size_t word);

}  // namespace lvtsim
