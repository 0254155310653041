// Reading a recording folder back: its frames as run.json lists them when there is one, otherwise
// the bare frame_*.raw files (each with its frame_*.desc when present) in frame-number order.
// Every reader of recordings (replay in the simulator, the Python module) goes through here.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "vyxdatadescription.h"
#include "vyxrec/run_manifest.h"

namespace vyxrec {

// The folder, or a file the recording names, cannot be read.
class RecordingMissing : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The recording is there but cannot be used: a damaged run.json, no frames, a frame whose files do
// not fit together.
class RecordingDamaged : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

// Lists the frames of DIR. Throws RecordingMissing when DIR cannot be read, RecordingDamaged when
// run.json is damaged or there are no frames at all.
Recording openRecording(const std::string& dir);

// The frame's raw bytes. Throws RecordingDamaged when the recording kept none (recorded without
// raw output), RecordingMissing when the file cannot be read.
std::vector<uint8_t> readRawFrame(const RecordedFrame& frame);

// The frame's raw bytes with its 128-byte description, checked against each other so that a
// damaged recording cannot make a conversion read past the bytes. Throws RecordingMissing when
// the frame has no description or a file cannot be read, RecordingDamaged when they disagree.
struct DescribedFrame {
  std::vector<uint8_t> raw;
  VYXDataDescription description{};
};
DescribedFrame readDescribedFrame(const RecordedFrame& frame);

}  // namespace vyxrec
