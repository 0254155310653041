// Writes everything a recording keeps of a frame into the output directory: the raw bytes and their
// 128-byte description as the plug-in handed them out (a recording that the simulator can replay),
// and per converted image a float32 .npy, a 16-bit grayscale .png and a false-colour preview, each
// only when selected. The previews of one image type share one colour scale for the whole run.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vyxdatadescription.h"
#include "vyxrec/frame_file_names.h"
#include "vyxrec/value_range.h"

namespace vyxrec {

// The files written per frame (vyxgrab --write).
struct OutputSelection {
  bool npy = true, png = true, preview = true, raw = true;
};

// A fixed colour scale for the previews of one image type (vyxgrab --range TYPE=MIN:MAX).
struct FixedRange {
  float min = 0, max = 0;
};

class FrameWriter {
 public:
  // The directory must exist. zoom enlarges the previews; ranges fixes the previews' colour scale
  // per image type name, the others keep the scale of their first image.
  FrameWriter(std::string dir, uint32_t zoom, OutputSelection write = {},
              const std::map<std::string, FixedRange>& ranges = {});

  // Both return the names (inside dir) of the files written.
  std::vector<std::string> writeRaw(uint64_t frame, const std::vector<uint8_t>& bytes,
                                    const VYXDataDescription& desc);
  // values holds rows * columns floats, row after row.
  std::vector<std::string> writeImage(uint64_t frame, const ImageLabel& type, const float* values,
                                      uint32_t rows, uint32_t columns);

  // Removes every file written so far for this frame (a frame that could not be completed) and
  // takes them off the counts; a file whose write failed is never left behind either.
  void discardFrame(uint64_t frame);

  const std::string& dir() const { return dir_; }
  uint64_t filesWritten() const { return files_; }
  uint64_t bytesWritten() const { return bytes_; }
  // Per image type name: the previews' colour scale and the finite values outside it.
  const std::map<std::string, ValueRange>& previewScales() const { return scales_; }
  const std::map<std::string, uint64_t>& clippedValues() const { return clipped_; }

 private:
  void count(uint64_t frame, const std::string& name, std::vector<std::string>& names);
  // Runs write() for the file at name; a failed write removes what it left of the file.
  template <class Write>
  void writeWhole(const std::string& name, Write&& write);

  std::string dir_;
  uint32_t zoom_;
  OutputSelection write_;
  std::map<std::string, ValueRange> scales_;
  std::map<std::string, uint64_t> clipped_;
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;
  struct Written {
    uint64_t frame;
    std::string name;
    uint64_t bytes;
  };
  std::vector<Written> lastFrame_;  // the files of the frame written last
};

}  // namespace vyxrec
