// Where vyxcalib's amplitude images come from: a camera (through the camera session), or a
// recording (an MCAP file or a vyxgrab folder), frames converted by the plug-in where the
// recording kept only the raw bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vyxcalib {

struct AmplitudeImage {
  int width = 0, height = 0;
  std::vector<float> values;  // row-major
  uint64_t index = 0;         // the image's number in the run, from 0
};

class AmplitudeSource {
 public:
  virtual ~AmplitudeSource() = default;
  // The next image; false at the end of a recording. Throws std::runtime_error on a failure.
  virtual bool next(AmplitudeImage& image) = 0;
  // "camera at 127.0.0.1", "recording run.mcap", for messages and the calibration's source.
  virtual std::string describe() const = 0;
};

// A camera at address, or with simulate a simulated camera of this process showing the
// printed checkerboard. pluginPath empty: the usual search.
std::unique_ptr<AmplitudeSource> openCamera(const std::string& address, bool simulate,
                                            const std::string& pluginPath);
// A .mcap file or a recording folder. Throws vyxrec::RecordingError and friends.
std::unique_ptr<AmplitudeSource> openRecording(const std::string& path,
                                               const std::string& pluginPath);

}  // namespace vyxcalib
