// Recorded frames for replay: files of image blocks exactly as they came off the data port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lvtsim {

// Splits one frame into its image blocks (header + data). Throws std::invalid_argument when a
// block's header is cut short, names a header size below 8 or a size that is not a whole
// non-negative number, or runs past the end of the frame.
std::vector<std::vector<uint8_t>> splitFrame(const std::vector<uint8_t>& frame);

// Loads DIR/frame_*.raw sorted by name. Throws std::runtime_error if the directory cannot be read
// or holds no such file.
std::vector<std::vector<uint8_t>> loadReplayFrames(const std::string& dir);

}  // namespace lvtsim
