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

// Loads the raw frames of a recording folder (see vyxrec/recording.h: run.json's order, else the
// bare frame_*.raw files), each checked with splitFrame. Throws vyxrec::RecordingError naming
// the file at fault (vyxrec::RecordingMissing when DIR is not there).
std::vector<std::vector<uint8_t>> loadReplayFrames(const std::string& dir);

}  // namespace lvtsim
