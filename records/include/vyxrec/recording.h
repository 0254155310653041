// Reading a recording folder back: its frames as run.json lists them when there is one, otherwise
// the bare frame_*.raw files (each with its frame_*.desc when present) in frame-number order.
// Every reader of recordings (replay in the simulator, the Python module) goes through here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vyxdatadescription.h"
#include "vyxrec/recording_error.h"
#include "vyxrec/run_manifest.h"

namespace vyxrec {

// A recording that cannot be read is a RecordingError naming the file (and the byte offset where
// one is at fault): a damaged or hostile run.json, no frames, a frame file that is not a regular
// file, is larger than its format allows, or disagrees with its description. RecordingMissing,
// one kind of it, says the recording's folder itself is not there.
class RecordingMissing : public RecordingError {
 public:
  using RecordingError::RecordingError;
};
// The name this reader's damaged recordings had before every reader threw RecordingError.
using RecordingDamaged = RecordingError;

// The largest file of a folder recording read: far above any camera's frame (a few images of
// 12800 bytes) or an hour's run.json, far below what would exhaust a host's memory.
constexpr uint64_t kMaxRecordingFileBytes = uint64_t{256} << 20;

struct RecordedFrame {
  uint64_t index = 0;
  std::optional<Stamp> stamp;              // when run.json says when
  std::vector<uint32_t> integrationTimes;  // as run.json lists them
  std::string rawPath;                     // empty: the recording kept no raw bytes
  std::string descriptionPath;             // empty: no description record
};

struct Recording {
  std::string dir;
  std::optional<Manifest> manifest;  // the folder's run.json, when it has one
  std::vector<RecordedFrame> frames;
};

// Lists the frames of DIR. Throws RecordingMissing when DIR is not there, RecordingError when it
// cannot be read, run.json is damaged or there are no frames at all.
Recording openRecording(const std::string& dir);

// The frame's raw bytes. Throws RecordingError when the recording kept none (recorded without
// raw output) or the file cannot be read.
std::vector<uint8_t> readRawFrame(const RecordedFrame& frame);

// The frame's raw bytes with its 128-byte description, checked against each other so that a
// damaged recording cannot make a conversion read past the bytes, nor a description claim images
// larger than the bytes. Throws RecordingError naming the file at fault.
struct DescribedFrame {
  std::vector<uint8_t> raw;
  VYXDataDescription description{};
};
DescribedFrame readDescribedFrame(const RecordedFrame& frame);

// The check readDescribedFrame makes, for frames read from elsewhere (an MCAP recording): the
// description's size equals the raw bytes' and its images (rows x columns 32-bit words) fit in
// them. Throws RecordingError naming `file` (and `offset` when it is not UINT64_MAX).
void checkDescribedFrame(const VYXDataDescription& description, size_t rawBytes,
                         const std::string& file, uint64_t offset = UINT64_MAX);

}  // namespace vyxrec
