#include "frame_writer.h"

#include <sys/stat.h>

#include <utility>

#include "file_output.h"
#include "frame_file_names.h"
#include "npy_writer.h"
#include "png_writer.h"
#include "preview_image.h"
#include "value_range.h"

namespace vyxgrab {

namespace {

uint64_t fileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

}  // namespace

FrameWriter::FrameWriter(std::string dir, uint32_t zoom) : dir_(std::move(dir)), zoom_(zoom) {}

void FrameWriter::count(uint64_t bytes) {
  ++files_;
  bytes_ += bytes;
}

void FrameWriter::writeRaw(uint64_t frame, const std::vector<uint8_t>& bytes,
                           const VYXDataDescription& desc) {
  const std::string stem = joinPath(dir_, frameStem(frame));
  writeFile(stem + ".raw", bytes.data(), bytes.size());
  count(bytes.size());
  writeFile(stem + ".desc", &desc, sizeof desc);
  count(sizeof desc);
}

void FrameWriter::writeImage(uint64_t frame, const OutputType& type, const float* values,
                             uint32_t rows, uint32_t columns) {
  const std::string stem = joinPath(dir_, imageStem(frame, type));
  const size_t pixels = static_cast<size_t>(rows) * columns;

  writeNpyFloat32(stem + ".npy", values, rows, columns);
  count(fileSize(stem + ".npy"));

  const std::vector<uint16_t> gray = scaleToGray16(values, pixels, finiteRange(values, pixels));
  writePngGray16(stem + ".png", gray.data(), columns, rows);
  count(fileSize(stem + ".png"));

  const RgbImage preview = renderPreview(values, columns, rows, zoom_);
  writePngRgb8(stem + "_preview.png", preview.pixels.data(), preview.width, preview.height);
  count(fileSize(stem + "_preview.png"));
}

}  // namespace vyxgrab
