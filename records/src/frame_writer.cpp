#include "vyxrec/frame_writer.h"

#include <sys/stat.h>

#include <cstdio>
#include <utility>

#include "vyxrec/file_output.h"
#include "vyxrec/frame_file_names.h"
#include "vyxrec/npy_writer.h"
#include "vyxrec/png_writer.h"
#include "vyxrec/preview_image.h"

namespace vyxrec {

namespace {

uint64_t fileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

// Enough digits that the float comes back exactly.
std::string exactText(float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
  return text;
}

}  // namespace

FrameWriter::FrameWriter(std::string dir, uint32_t zoom, OutputSelection write,
                         const std::map<std::string, FixedRange>& ranges)
    : dir_(std::move(dir)), zoom_(zoom), write_(write) {
  for (const auto& [type, r] : ranges) {
    ValueRange scale;
    scale.min = r.min;
    scale.max = r.max;
    scale.empty = false;
    scales_[type] = scale;
    clipped_[type] = 0;
  }
}

void FrameWriter::count(uint64_t frame, const std::string& name, std::vector<std::string>& names) {
  const uint64_t bytes = fileSize(joinPath(dir_, name));
  ++files_;
  bytes_ += bytes;
  names.push_back(name);
  if (!lastFrame_.empty() && lastFrame_.front().frame != frame) lastFrame_.clear();
  lastFrame_.push_back({frame, name, bytes});
}

template <class Write>
void FrameWriter::writeWhole(const std::string& name, Write&& write) {
  try {
    write(joinPath(dir_, name));
  } catch (...) {
    std::remove(joinPath(dir_, name).c_str());
    throw;
  }
}

void FrameWriter::discardFrame(uint64_t frame) {
  for (const Written& w : lastFrame_) {
    if (w.frame != frame) continue;
    std::remove(joinPath(dir_, w.name).c_str());
    --files_;
    bytes_ -= w.bytes;
  }
  lastFrame_.clear();
}

std::vector<std::string> FrameWriter::writeRaw(uint64_t frame, const std::vector<uint8_t>& bytes,
                                               const VYXDataDescription& desc) {
  std::vector<std::string> names;
  if (!write_.raw) return names;
  const std::string stem = frameStem(frame);
  writeFile(joinPath(dir_, stem + ".raw"), bytes.data(), bytes.size());
  count(frame, stem + ".raw", names);
  writeFile(joinPath(dir_, stem + ".desc"), &desc, sizeof desc);
  count(frame, stem + ".desc", names);
  return names;
}

std::vector<std::string> FrameWriter::writeImage(uint64_t frame, const ImageLabel& type,
                                                 const float* values, uint32_t rows,
                                                 uint32_t columns) {
  std::vector<std::string> names;
  const std::string stem = imageStem(frame, type);
  const size_t pixels = static_cast<size_t>(rows) * columns;

  if (write_.npy) {
    writeWhole(stem + ".npy",
               [&](const std::string& path) { writeNpyFloat32(path, values, rows, columns); });
    count(frame, stem + ".npy", names);
  }
  if (write_.png) {
    // The image's own span, stored with it: value = min + (sample - 1) / 65534 * (max - min).
    const ValueRange range = finiteRange(values, pixels);
    const std::vector<uint16_t> gray = scaleToGray16(values, pixels, range);
    const PngText text = {{"lvt:min", range.empty ? "nan" : exactText(range.min)},
                          {"lvt:max", range.empty ? "nan" : exactText(range.max)},
                          {"lvt:unit", type.unit}};
    writeWhole(stem + ".png", [&](const std::string& path) {
      writePngGray16(path, gray.data(), columns, rows, text);
    });
    count(frame, stem + ".png", names);
  }
  if (write_.preview) {
    ValueRange& scale = scales_[type.name];
    if (scale.empty) scale = finiteRange(values, pixels);  // the run keeps its first scale
    const RgbImage preview =
        renderPreview(values, columns, rows, zoom_, scale, &clipped_[type.name]);
    writeWhole(stem + "_preview.png", [&](const std::string& path) {
      writePngRgb8(path, preview.pixels.data(), preview.width, preview.height);
    });
    count(frame, stem + "_preview.png", names);
  }
  return names;
}

}  // namespace vyxrec
