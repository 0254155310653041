// vyxgrab --merge A.mcap B.mcap ... --out RIG.mcap: recordings made on several hosts (clocks kept
// together, see the README) joined into one, every message in header-stamp (log time) order,
// every channel, message and metadata record kept. A camera name already taken by an earlier file
// gets that file's number: /lvt/cam0/... of the second file becomes /lvt/cam0_2/....
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vyxgrab {

struct MergeResult {
  uint64_t messages = 0;
  uint64_t metadata = 0;
  std::vector<std::string> notes;  // renamed cameras, files cut short
};

// Throws vyxrec::RecordingError for an input that cannot be read or an output that cannot be
// written; an input cut short (a recorder killed) is merged up to its last whole chunk.
MergeResult mergeRecordings(const std::vector<std::string>& inputs, const std::string& output);

}  // namespace vyxgrab
