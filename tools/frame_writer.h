// Writes everything vyxgrab keeps of a frame into the output directory: the raw bytes and their
// 128-byte description as the plug-in handed them out (a recording that the simulator can replay),
// and per converted image a float32 .npy, a 16-bit grayscale .png and a false-colour preview.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output_types.h"
#include "vyxdatadescription.h"

namespace vyxgrab {

class FrameWriter {
 public:
  // The directory must exist. zoom enlarges the previews.
  FrameWriter(std::string dir, uint32_t zoom);

  void writeRaw(uint64_t frame, const std::vector<uint8_t>& bytes, const VYXDataDescription& desc);
  // values holds rows * columns floats, row after row.
  void writeImage(uint64_t frame, const OutputType& type, const float* values, uint32_t rows,
                  uint32_t columns);

  const std::string& dir() const { return dir_; }
  uint64_t filesWritten() const { return files_; }
  uint64_t bytesWritten() const { return bytes_; }

 private:
  void count(uint64_t bytes);

  std::string dir_;
  uint32_t zoom_;
  uint64_t files_ = 0;
  uint64_t bytes_ = 0;
};

}  // namespace vyxgrab
