// --out DIR: today's per-frame files (raw, description, npy, png, previews, ply) and run.json.
// A frame that cannot be written whole is removed again, and run.json always lists exactly the
// frames that are complete.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "grab_output.h"
#include "raw_frame_blocks.h"
#include "run_folder.h"
#include "vyxhost/output_types.h"
#include "vyxrec/frame_file_names.h"
#include "vyxrec/frame_writer.h"
#include "vyxrec/ply_writer.h"

namespace vyxgrab {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::seconds kManifestEvery{1};

std::string hex(uint32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%" PRIx32, code);
  return text;
}

class FolderOutput : public GrabOutput {
 public:
  explicit FolderOutput(const GrabOptions& o)
      : o_(o),
        writer_((claimRunFolder(o.outDir, o.overwrite), o.outDir), o.zoom, o.write, o.ranges),
        convert_(o.write.npy || o.write.png || o.write.preview) {}

  void begin(const vyxrec::RunInfo& run, const vyxhost::LensModel& lens) override {
    manifest_.run = run;
    if (o_.ply) depth_ = std::make_unique<vyxhost::DepthPipeline>(lens, o_.filters);
  }

  void frame(const vyxhost::Frame& frame, const vyxhost::FrameConverter& converter,
             GrabReport& report) override {
    const uint64_t index = frame.sequence;
    vyxrec::FrameEntry entry;
    entry.index = index;
    entry.stamp = vyxrec::stampFromNs(frame.utcNs, frame.monotonicNs);
    entry.integrationTimes = {frame.integrationTime(0), frame.integrationTime(1)};
    try {
      entry.files = writer_.writeRaw(index, frame.raw, frame.description);
      if (!entry.files.empty()) {
        entry.raw = entry.files[0];
        entry.description = entry.files[1];
      }
      if (convert_) {
        const std::vector<std::string> images = convertImages(frame, converter, report);
        entry.files.insert(entry.files.end(), images.begin(), images.end());
      }
      if (depth_) entry.files.push_back(writePoints(frame, converter, report));
    } catch (...) {
      writer_.discardFrame(index);
      if (!plyName_.empty()) std::remove(vyxrec::joinPath(o_.outDir, plyName_).c_str());
      throw;
    }
    manifest_.frames.push_back(std::move(entry));
    if (Clock::now() - manifestWritten_ >= kManifestEvery) saveManifest();
    report.files = writer_.filesWritten() + plyFiles_;
    report.fileBytes = writer_.bytesWritten() + plyBytes_;
  }

  void finish(const vyxrec::Settings& readBack, const vyxhost::Counters&) override {
    manifest_.run.readBack = readBack;
    saveManifest();
  }

  void fail(const std::string&, const vyxhost::Counters&) noexcept override {
    try {
      saveManifest();
    } catch (const std::exception&) {
      // The disk took not even the manifest; the frames' files stay as they are.
    }
  }

  // Preview scales and clipped values.
  void summarise(GrabReport& report) const override {
    report.files = writer_.filesWritten() + plyFiles_;
    report.fileBytes = writer_.bytesWritten() + plyBytes_;
    report.clipped.clear();
    if (!o_.write.preview) return;
    for (const auto& [type, scale] : writer_.previewScales()) {
      if (scale.empty) continue;
      const auto clipped = writer_.clippedValues().find(type);
      report.clipped.push_back({type, scale.min, scale.max,
                                clipped == writer_.clippedValues().end() ? 0 : clipped->second});
    }
  }

 private:
  void saveManifest() {
    if (manifest_.frames.empty()) return;  // a run without frames leaves no claim on the folder
    vyxrec::writeManifest(o_.outDir, manifest_);
    manifestWritten_ = Clock::now();
  }

  // Converts every output type the frame holds and writes its files; returns their names.
  std::vector<std::string> convertImages(const vyxhost::Frame& frame,
                                         const vyxhost::FrameConverter& converter,
                                         GrabReport& report) {
    const uint64_t index = frame.sequence;
    std::vector<std::string> files;
    std::vector<std::pair<const char*, std::vector<float>>> images;
    for (const vyxhost::OutputType& type : vyxhost::outputTypes()) {
      report.stage = "converting frame " + std::to_string(index) + " to " + type.name;
      const int bytes = converter.imageBytes(type.code, frame.description);
      if (bytes <= 0) continue;
      std::vector<float> image(static_cast<size_t>(bytes) / sizeof(float), 0.0f);
      vyxhost::ImageShape shape;
      if (!converter.convert(type.code, frame.description, frame.raw.data(), image.data(),
                             image.size() * sizeof(float), &shape))
        continue;
      const uint64_t pixels = shape.pixels();
      if (pixels == 0 || pixels > image.size()) {
        throw std::runtime_error("the plug-in described a " + std::to_string(shape.columns) +
                                 " x " + std::to_string(shape.rows) + " image in " +
                                 std::to_string(bytes) + " bytes");
      }
      image.resize(static_cast<size_t>(pixels));
      noteSamePixels(type.name, image, images, report);
      report.stage = "writing frame " + std::to_string(index) + " " + type.name + " files";
      const std::vector<std::string> written = writer_.writeImage(
          index, {type.code, type.name, type.unit}, image.data(), shape.rows, shape.columns);
      files.insert(files.end(), written.begin(), written.end());
      const std::string made = std::string(type.name) + " (" + hex(type.code) + ")";
      if (std::find(report.outputs.begin(), report.outputs.end(), made) == report.outputs.end())
        report.outputs.push_back(made);
      images.emplace_back(type.name, std::move(image));
    }
    return files;
  }

  static void noteSamePixels(const char* name, const std::vector<float>& image,
                             const std::vector<std::pair<const char*, std::vector<float>>>& earlier,
                             GrabReport& report) {
    for (const auto& [other, pixels] : earlier) {
      if (pixels.size() != image.size() ||
          std::memcmp(pixels.data(), image.data(), image.size() * sizeof(float)) != 0)
        continue;
      const std::string note = std::string(name) + " has the same pixels as " + other;
      if (std::find(report.sameImages.begin(), report.sameImages.end(), note) ==
          report.sameImages.end())
        report.sameImages.push_back(note);
      return;
    }
  }

  // The frame's valid points, filtered, as frame_NNNNN.ply.
  std::string writePoints(const vyxhost::Frame& frame, const vyxhost::FrameConverter& converter,
                          GrabReport& report) {
    report.stage = "turning frame " + std::to_string(frame.sequence) + " into points";
    if (!depth_->process(converter, frame, depthImages_))
      throw std::runtime_error("frame " + std::to_string(frame.sequence) +
                               " holds no distance image to make points of");
    std::string name = vyxrec::frameStem(frame.sequence) + ".ply";
    report.stage = "writing " + name;
    plyName_ = name;
    const std::string path = vyxrec::joinPath(o_.outDir, name);
    vyxrec::writePly(path, depthImages_.xyz.data(), depthImages_.amplitude.data(),
                     depthImages_.valid.data(), depthImages_.valid.size());
    plyName_.clear();
    ++plyFiles_;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr) {
      std::fseek(f, 0, SEEK_END);
      plyBytes_ += static_cast<uint64_t>(std::ftell(f));
      std::fclose(f);
    }
    const std::string made = "points (ply)";
    if (std::find(report.outputs.begin(), report.outputs.end(), made) == report.outputs.end())
      report.outputs.push_back(made);
    return name;
  }

  const GrabOptions& o_;
  vyxrec::FrameWriter writer_;
  bool convert_;
  vyxrec::Manifest manifest_;
  Clock::time_point manifestWritten_ = Clock::now();
  std::unique_ptr<vyxhost::DepthPipeline> depth_;
  vyxhost::DepthImages depthImages_;
  std::string plyName_;  // being written
  uint64_t plyFiles_ = 0, plyBytes_ = 0;
};

}  // namespace

std::unique_ptr<GrabOutput> makeFolderOutput(const GrabOptions& options) {
  return std::make_unique<FolderOutput>(options);
}

}  // namespace vyxgrab
