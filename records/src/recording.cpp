#include "vyxrec/recording.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "vyxrec/frame_file_names.h"

namespace vyxrec {

namespace {

namespace fs = std::filesystem;

// frame_<digits>.raw gives its number; other frame_*.raw names sort after them by name.
std::optional<uint64_t> frameNumber(const std::string& name) {
  const std::string digits = name.substr(6, name.size() - 10);
  if (digits.empty() || digits.size() > 19 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoull(digits);
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
    if (isFrame && it->is_regular_file()) found.push_back({frameNumber(name), name});
  }
  if (ec) throw RecordingMissing("cannot read the recording folder " + dir + ": " + ec.message());
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
    if (fs::is_regular_file(desc, ec)) frame.descriptionPath = desc;
    frames.push_back(std::move(frame));
  }
  return frames;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw RecordingMissing("cannot read " + path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

Recording openRecording(const std::string& dir) {
  Recording recording;
  recording.dir = dir;
  if (!hasManifest(dir)) {
    recording.frames = bareFrameFiles(dir);
    if (recording.frames.empty())
      throw RecordingDamaged(dir + " holds no recording: neither " + kManifestName +
                             " nor frame_*.raw files");
    return recording;
  }
  try {
    recording.manifest = readManifest(dir);
  } catch (const std::runtime_error& e) {
    throw RecordingDamaged(e.what());
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
  if (recording.frames.empty()) throw RecordingDamaged(manifestPath(dir) + " lists no frames");
  return recording;
}

std::vector<uint8_t> readRawFrame(const RecordedFrame& frame) {
  if (frame.rawPath.empty())
    throw RecordingDamaged("frame " + std::to_string(frame.index) +
                           " has no raw file (record with --write raw to replay)");
  return readFile(frame.rawPath);
}

DescribedFrame readDescribedFrame(const RecordedFrame& frame) {
  if (frame.descriptionPath.empty())
    throw RecordingMissing("frame " + std::to_string(frame.index) + " has no description file");
  const std::vector<uint8_t> desc = readFile(frame.descriptionPath);
  DescribedFrame out;
  if (desc.size() != sizeof out.description)
    throw RecordingDamaged(frame.descriptionPath + " holds " + std::to_string(desc.size()) +
                           " bytes; a frame description has " +
                           std::to_string(sizeof out.description));
  out.raw = readRawFrame(frame);
  std::memcpy(&out.description, desc.data(), desc.size());
  if (out.description.size != out.raw.size())
    throw RecordingDamaged(frame.rawPath + " holds " + std::to_string(out.raw.size()) +
                           " bytes but its description says " +
                           std::to_string(out.description.size));
  return out;
}

}  // namespace vyxrec
