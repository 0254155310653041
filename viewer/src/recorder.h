// Recording from the live view, in the grabber's format: per frame the raw
// bytes and their 128-byte description (frame_NNNNN.raw / .desc), and run.json,
// so that vyxgrab --simulate --replay and the Python reader play it back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vyxdatadescription.h"
#include "vyxrec/run_manifest.h"

namespace vyxrec {
class FrameWriter;
}

namespace vyxview {

class Recorder {
 public:
  explicit Recorder(std::string root);
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  // Opens a fresh folder under the root (root/view-YYYYMMDD-HHMMSS, with a
  // suffix if taken) and returns it. Throws std::runtime_error naming the folder.
  std::string start(const vyxrec::RunInfo& run);
  // Throws std::runtime_error naming the file that could not be written.
  void add(const std::vector<uint8_t>& raw, const VYXDataDescription& desc,
           const vyxrec::Stamp& stamp);
  // The settings read back from the camera, for the manifest.
  void setReadBack(const vyxrec::Settings& readBack);
  // Writes the manifest and closes the folder; nothing happens when not recording.
  void stop();

  bool active() const { return writer_ != nullptr; }
  const std::string& dir() const { return dir_; }
  uint64_t frames() const { return manifest_.frames.size(); }

 private:
  std::string root_;
  std::string dir_;
  std::unique_ptr<vyxrec::FrameWriter> writer_;
  vyxrec::Manifest manifest_;
};

}  // namespace vyxview
