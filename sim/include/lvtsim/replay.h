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

// A recording's raw frames and the pace they were recorded at.
struct ReplayRecording {
  std::vector<std::vector<uint8_t>> frames;
  double framesPerSecond = 0;  // from the frames' stamps; 0 when unknown (folders, one frame)
};

// Loads the raw frames of a recording: an .mcap file (vyxrec/mcap_recorder.h; its first camera's
// raw messages, up to the last whole chunk of a cut file) or a recording folder (see
// vyxrec/recording.h: run.json's order, else the bare frame_*.raw files), each checked with
// splitFrame. Throws vyxrec::RecordingError naming the file at fault (vyxrec::RecordingMissing
// when the path is not there).
ReplayRecording loadReplay(const std::string& path);
std::vector<std::vector<uint8_t>> loadReplayFrames(const std::string& path);

}  // namespace lvtsim
