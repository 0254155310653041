#include "vyxrec/run_manifest.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "vyxrec/recording.h"
#include "vyxrec/regular_file.h"

namespace vyxrec {

namespace {

using nlohmann::json;

json settingsToJson(const Settings& s) {
  auto value = [](const std::optional<int64_t>& v) { return v ? json(*v) : json(nullptr); };
  return {{"itime0", value(s.itime0)}, {"itime1", value(s.itime1)}, {"fps", value(s.fps)}};
}

Settings settingsFromJson(const json& j) {
  Settings s;
  auto value = [&j](const char* key) -> std::optional<int64_t> {
    if (!j.contains(key) || j.at(key).is_null()) return std::nullopt;
    return j.at(key).get<int64_t>();
  };
  s.itime0 = value("itime0");
  s.itime1 = value("itime1");
  s.fps = value("fps");
  return s;
}

std::string thisHost() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

json runToJson(const RunInfo& r) {
  json j = {
      {"format", kManifestFormat},
      {"format_version", kManifestVersion},
      {"tool", r.tool},
      {"tool_version", r.toolVersion},
      {"host", r.host.empty() ? thisHost() : r.host},
      {"plugin", {{"path", r.pluginPath}, {"interface_version", r.interfaceVersion}}},
      {"camera",
       {{"address", r.address},
        {"simulated", r.simulated},
        {"replay", r.replay.empty() ? json(nullptr) : json(r.replay)}}},
      {"settings",
       {{"requested", settingsToJson(r.requested)}, {"read_back", settingsToJson(r.readBack)}}}};
  if (!r.calibration.empty()) j["calibration"] = json::parse(r.calibration);
  if (!r.filters.empty()) j["filters"] = json::parse(r.filters);
  return j;
}

json toJson(const Manifest& m) {
  json frames = json::array();
  for (const FrameEntry& f : m.frames) {
    frames.push_back({{"index", f.index},
                      {"utc", f.stamp.utc},
                      {"monotonic_ns", f.stamp.monotonicNs},
                      {"integration_times", f.integrationTimes},
                      {"raw", f.raw},
                      {"description", f.description},
                      {"files", f.files}});
  }
  json j = runToJson(m.run);
  j["frames"] = std::move(frames);
  return j;
}

Manifest fromJson(const json& j) {
  if (j.value("format", "") != kManifestFormat)
    throw std::runtime_error("not a recording manifest (no \"format\": \"lvt-run\")");
  if (j.at("format_version").get<int>() > kManifestVersion)
    throw std::runtime_error("written by a newer version (format_version " +
                             std::to_string(j.at("format_version").get<int>()) + ")");
  Manifest m;
  RunInfo& r = m.run;
  r.tool = j.value("tool", "");
  r.toolVersion = j.value("tool_version", "");
  r.host = j.value("host", "");
  const json& plugin = j.at("plugin");
  r.pluginPath = plugin.value("path", "");
  r.interfaceVersion = plugin.value("interface_version", 0);
  const json& camera = j.at("camera");
  r.address = camera.value("address", "");
  r.simulated = camera.value("simulated", false);
  if (camera.contains("replay") && camera.at("replay").is_string())
    r.replay = camera.at("replay").get<std::string>();
  r.requested = settingsFromJson(j.at("settings").at("requested"));
  r.readBack = settingsFromJson(j.at("settings").at("read_back"));
  if (j.contains("calibration")) r.calibration = j.at("calibration").dump();
  if (j.contains("filters")) r.filters = j.at("filters").dump();
  for (const json& f : j.at("frames")) {
    FrameEntry e;
    e.index = f.at("index").get<uint64_t>();
    e.stamp.utc = f.value("utc", "");
    e.stamp.monotonicNs = f.value("monotonic_ns", int64_t{0});
    e.integrationTimes = f.value("integration_times", std::vector<uint32_t>{});
    e.raw = f.at("raw").get<std::string>();
    e.description = f.at("description").get<std::string>();
    e.files = f.value("files", std::vector<std::string>{});
    m.frames.push_back(std::move(e));
  }
  return m;
}

}  // namespace

Stamp stampNow() {
  const auto wall = std::chrono::system_clock::now().time_since_epoch();
  const auto mono = std::chrono::steady_clock::now().time_since_epoch();
  return stampFromNs(std::chrono::duration_cast<std::chrono::nanoseconds>(wall).count(),
                     std::chrono::duration_cast<std::chrono::nanoseconds>(mono).count());
}

Stamp stampFromNs(int64_t utcNs, int64_t monotonicNs) {
  const int64_t us = utcNs / 1000;
  const std::time_t seconds = static_cast<std::time_t>(us / 1000000);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40];
  const size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%06dZ", static_cast<int>(us % 1000000));
  Stamp s;
  s.utc = text;
  s.monotonicNs = monotonicNs;
  return s;
}

std::string runInfoJson(const RunInfo& run) { return runToJson(run).dump(); }

std::string manifestPath(const std::string& dir) { return dir + "/" + kManifestName; }

bool hasManifest(const std::string& dir) {
  struct stat st {};
  return ::stat(manifestPath(dir).c_str(), &st) == 0;
}

void writeManifest(const std::string& dir, const Manifest& m) {
  const std::string path = manifestPath(dir);
  const std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::trunc);
    out << toJson(m).dump(1) << "\n";
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      throw std::runtime_error("cannot write " + temporary);
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot replace " + path);
  }
}

Manifest readManifest(const std::string& dir) {
  const std::string path = manifestPath(dir);
  const std::vector<uint8_t> text = readRegularFile(path, kMaxRecordingFileBytes);
  try {
    return fromJson(json::parse(text.begin(), text.end()));
  } catch (const json::exception& e) {
    throw std::runtime_error(path + ": " + e.what());
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
}

}  // namespace vyxrec
