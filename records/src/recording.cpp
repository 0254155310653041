#include "vyxrec/recording.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "vyxrec/frame_file_names.h"
#include "vyxrec/regular_file.h"

namespace vyxrec {

namespace {

namespace fs = std::filesystem;

// frame_<digits>.raw gives its number; other frame_*.raw names sort after them by name. A number
// beyond 64 bits is refused: no recorder writes one.
std::optional<uint64_t> frameNumber(const std::string& dir, const std::string& name) {
  const std::string digits = name.substr(6, name.size() - 10);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  uint64_t n = 0;
  for (const char c : digits) {
    const auto d = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - d) / 10)
      throw RecordingError(joinPath(dir, name), "the frame number in the name is beyond 64 bits");
    n = n * 10 + d;
  }
  return n;
}

std::vector<RecordedFrame> bareFrameFiles(const std::string& dir) {
  std::error_code ec;
  struct Found {
    std::optional<uint64_t> number;
    std::string name;
  };
  std::vector<Found> found;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool isFrame = name.size() >= 10 && name.compare(0, 6, "frame_") == 0 &&
                         name.compare(name.size() - 4, 4, ".raw") == 0;
    // Whatever its kind: a link to a device or a folder in a frame file's place is refused
    // when read, not passed over.
    if (isFrame) found.push_back({frameNumber(dir, name), name});
  }
  if (ec) throw RecordingError(dir, "cannot read the recording folder: " + ec.message());
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.number.has_value() != b.number.has_value()) return a.number.has_value();
    if (a.number != b.number) return *a.number < *b.number;
    return a.name < b.name;
  });
  std::vector<RecordedFrame> frames;
  for (const Found& f : found) {
    RecordedFrame frame;
    frame.index = f.number.value_or(frames.size());
    frame.rawPath = joinPath(dir, f.name);
    const std::string desc = joinPath(dir, f.name.substr(0, f.name.size() - 4) + ".desc");
    if (fs::symlink_status(desc, ec).type() != fs::file_type::not_found)
      frame.descriptionPath = desc;
    frames.push_back(std::move(frame));
  }
  return frames;
}

}  // namespace

Recording openRecording(const std::string& dir) {
  Recording recording;
  recording.dir = dir;
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (status.type() == fs::file_type::not_found)
    throw RecordingMissing(dir, "no such recording folder");
  if (status.type() != fs::file_type::directory)
    throw RecordingError(dir, "is not a recording folder");
  if (!hasManifest(dir)) {
    recording.frames = bareFrameFiles(dir);
    if (recording.frames.empty())
      throw RecordingError(dir, std::string("holds no recording: neither ") + kManifestName +
                                    " nor frame_*.raw files");
    return recording;
  }
  try {
    recording.manifest = readManifest(dir);
  } catch (const RecordingError&) {
    throw;
  } catch (const std::runtime_error& e) {
    throw RecordingError(manifestPath(dir), e.what());
  }
  for (const FrameEntry& f : recording.manifest->frames) {
    RecordedFrame frame;
    frame.index = f.index;
    frame.stamp = f.stamp;
    frame.integrationTimes = f.integrationTimes;
    if (!f.raw.empty()) frame.rawPath = joinPath(dir, f.raw);
    if (!f.description.empty()) frame.descriptionPath = joinPath(dir, f.description);
    recording.frames.push_back(std::move(frame));
  }
  if (recording.frames.empty()) throw RecordingError(manifestPath(dir), "lists no frames");
  return recording;
}

std::vector<uint8_t> readRawFrame(const RecordedFrame& frame) {
  if (frame.rawPath.empty())
    throw RecordingError("frame " + std::to_string(frame.index),
                         "has no raw file (record with --write raw to replay)");
  return readRegularFile(frame.rawPath, kMaxRecordingFileBytes);
}

DescribedFrame readDescribedFrame(const RecordedFrame& frame) {
  if (frame.descriptionPath.empty())
    throw RecordingError("frame " + std::to_string(frame.index), "has no description file");
  DescribedFrame out;
  // One byte more than a description has, so that a longer file is told apart.
  const std::vector<uint8_t> desc =
      readRegularFile(frame.descriptionPath, sizeof out.description + 1);
  if (desc.size() != sizeof out.description)
    throw RecordingError(frame.descriptionPath, "holds " + std::to_string(desc.size()) +
                                                    " bytes; a frame description has " +
                                                    std::to_string(sizeof out.description));
  std::memcpy(&out.description, desc.data(), desc.size());
  // Its images must fit in the bytes it describes: checked before anything their size is made.
  checkDescribedFrame(out.description, out.description.size, frame.descriptionPath);
  // The description says how many raw bytes there are: no more are read.
  if (frame.rawPath.empty()) readRawFrame(frame);  // says why there is none
  out.raw = readRegularFile(frame.rawPath,
                            std::min<uint64_t>(out.description.size, kMaxRecordingFileBytes));
  if (out.raw.size() != out.description.size)
    throw RecordingError(frame.rawPath, "holds " + std::to_string(out.raw.size()) +
                                            " bytes but its description says " +
                                            std::to_string(out.description.size));
  return out;
}

void checkDescribedFrame(const VYXDataDescription& d, size_t rawBytes, const std::string& file,
                         uint64_t offset) {
  auto refuse = [&](const std::string& what) {
    if (offset == UINT64_MAX) throw RecordingError(file, what);
    throw RecordingError(file, offset, what);
  };
  if (d.size != rawBytes)
    refuse("holds " + std::to_string(rawBytes) + " bytes but its description says " +
           std::to_string(d.size));
  // A description claiming more than the bytes hold is refused before anything the size of its
  // images is made.
  const uint64_t imageBytes = uint64_t{d.std.numRows} * d.std.numColumns * 4;
  if (imageBytes > rawBytes)
    refuse("its description claims images of " + std::to_string(d.std.numRows) + " x " +
           std::to_string(d.std.numColumns) + " pixels, more than its " + std::to_string(rawBytes) +
           " bytes hold");
}

}  // namespace vyxrec
