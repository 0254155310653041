#include "recorder.h"

#include <sys/stat.h>

#include <ctime>
#include <stdexcept>

#include "vyxrec/file_output.h"
#include "vyxrec/frame_file_names.h"
#include "vyxrec/frame_writer.h"

namespace vyxview {

namespace {

// Rewriting run.json this often keeps a readable folder if the viewer dies
// while recording, without rewriting a long list for every frame.
constexpr uint64_t kManifestEveryFrames = 100;

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

std::string freshFolderName(const std::string& root) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "view-%Y%m%d-%H%M%S", &local);
  std::string dir = vyxrec::joinPath(root, stamp);
  for (int n = 2; exists(dir); ++n) dir = vyxrec::joinPath(root, stamp + ("-" + std::to_string(n)));
  return dir;
}

}  // namespace

Recorder::Recorder(std::string root) : root_(std::move(root)) {}

Recorder::~Recorder() {
  try {
    stop();
  } catch (const std::exception&) {  // the folder keeps what was written
  }
}

std::string Recorder::start(const vyxrec::RunInfo& run) {
  stop();
  const std::string dir = freshFolderName(root_);
  vyxrec::makeDirectories(dir);
  manifest_ = vyxrec::Manifest{};
  manifest_.run = run;
  vyxrec::writeManifest(dir, manifest_);
  dir_ = dir;
  writer_ = std::make_unique<vyxrec::FrameWriter>(dir_, 1);
  return dir_;
}

void Recorder::add(const std::vector<uint8_t>& raw, const VYXDataDescription& desc,
                   const vyxrec::Stamp& stamp) {
  if (!writer_) return;
  const uint64_t index = manifest_.frames.size();
  writer_->writeRaw(index, raw, desc);
  vyxrec::FrameEntry e;
  e.index = index;
  e.stamp = stamp;
  e.integrationTimes = {static_cast<uint32_t>(desc.std.integrationTime[0]),
                        static_cast<uint32_t>(desc.std.integrationTime[1])};
  const std::string stem = vyxrec::frameStem(index);
  e.raw = stem + ".raw";
  e.description = stem + ".desc";
  e.files = {e.raw, e.description};
  manifest_.frames.push_back(std::move(e));
  if (manifest_.frames.size() % kManifestEveryFrames == 0) vyxrec::writeManifest(dir_, manifest_);
}

void Recorder::setReadBack(const vyxrec::Settings& readBack) { manifest_.run.readBack = readBack; }

void Recorder::stop() {
  if (!writer_) return;
  writer_.reset();
  vyxrec::writeManifest(dir_, manifest_);
}

}  // namespace vyxview
