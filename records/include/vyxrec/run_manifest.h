// run.json: what a recording folder holds and how it was made. Written by
// every tool that records (vyxgrab, the viewer) and read by every tool that
// plays a recording back (vyxgrab --replay, the Python reader).
//
// {
//   "format": "lvt-run", "format_version": 1,
//   "tool": "vyxgrab", "tool_version": "1.0.0", "host": "cell-3",
//   "plugin": {"path": "...", "interface_version": 66049},
//   "camera": {"address": "127.3.4.5", "simulated": true, "replay": null},
//   "settings": {"requested": {"itime0": 500, "itime1": null, "fps": 20},
//                "read_back": {"itime0": 500, "itime1": 2000, "fps": 20}},
//   "frames": [{"index": 0, "utc": "2026-12-08T12:00:00.123456Z",
//               "monotonic_ns": 123456789, "integration_times": [500, 2000],
//               "raw": "frame_00000.raw", "description": "frame_00000.desc",
//               "files": ["frame_00000.raw", "frame_00000.desc", ...]}, ...]
// }
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vyxrec {

constexpr const char* kManifestName = "run.json";
constexpr const char* kManifestFormat = "lvt-run";
constexpr int kManifestVersion = 1;

struct Settings {
  std::optional<int64_t> itime0, itime1, fps;
};

struct RunInfo {
  std::string tool, toolVersion;
  // The recording machine's name (gethostname), filled in when written; what tells apart cameras
  // of the same name when recordings of several hosts are merged.
  std::string host;
  std::string pluginPath;
  int interfaceVersion = 0;
  std::string address;
  bool simulated = false;
  std::string replay;  // empty: not a replay
  Settings requested, readBack;
  // JSON texts (vyxhost::calibrationJson, FilterSettings::toJson) kept as "calibration" and
  // "filters"; empty: left out.
  std::string calibration, filters;
};

// Host clocks read when vyxpUpdate returned.
struct Stamp {
  std::string utc;  // ISO 8601, microseconds, "Z"
  int64_t monotonicNs = 0;
};
Stamp stampNow();
// The same from clocks read elsewhere (vyxhost::Frame::utcNs and monotonicNs).
Stamp stampFromNs(int64_t utcNs, int64_t monotonicNs);

struct FrameEntry {
  uint64_t index = 0;
  Stamp stamp;
  std::vector<uint32_t> integrationTimes;  // as the frame's image headers carry them
  std::string raw, description;            // file names inside the folder
  std::vector<std::string> files;          // every file written for this frame
};

struct Manifest {
  RunInfo run;
  std::vector<FrameEntry> frames;
};

std::string manifestPath(const std::string& dir);
// The run's description alone (run.json without "frames"), for a recording's metadata.
std::string runInfoJson(const RunInfo& run);
// Writes DIR/run.json through a temporary file and a rename, so a reader never
// sees half a manifest; a failed write leaves no temporary file. Throws std::runtime_error naming
// the file.
void writeManifest(const std::string& dir, const Manifest& m);
// Throws std::runtime_error naming the file and what is wrong with it.
Manifest readManifest(const std::string& dir);
bool hasManifest(const std::string& dir);

}  // namespace vyxrec
