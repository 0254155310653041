// Names of the files written per frame, e.g. frame_00012.raw, frame_00012.desc and
// frame_00012_10001_distance.npy / .png / _preview.png. Frame numbers have at least five digits,
// so files sort by frame up to 99999 frames.
#pragma once

#include <cstdint>
#include <string>

#include "output_types.h"

namespace vyxgrab {

std::string frameStem(uint64_t frame);                          // "frame_00012"
std::string imageStem(uint64_t frame, const OutputType& type);  // "frame_00012_10001_distance"
std::string joinPath(const std::string& dir, const std::string& name);

}  // namespace vyxgrab
