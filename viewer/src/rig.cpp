#include "rig.h"

#include <cstdio>
#include <exception>
#include <utility>

namespace vyxview {

namespace {

void log(const std::string& line) { std::fprintf(stderr, "vyxview: %s\n", line.c_str()); }

std::vector<std::string> namesOf(const std::vector<CameraLoopConfig>& cameras) {
  std::vector<std::string> names;
  names.reserve(cameras.size());
  for (const CameraLoopConfig& c : cameras) names.push_back(c.cameraName);
  return names;
}

}  // namespace

Rig::Rig(std::vector<CameraLoopConfig> cameras, const std::string& recordRoot)
    : configs_(std::move(cameras)),
      recorder_(std::make_unique<Recorder>(recordRoot, namesOf(configs_),
                                           [this] { return counters(); })) {
  for (size_t i = 0; i < configs_.size(); ++i) {
    CameraLoopConfig cfg = configs_[i];
    cfg.index = i;
    cfg.alone = configs_.size() == 1;
    hubs_.push_back(std::make_unique<FrameHub>());
    loops_.push_back(std::make_unique<CameraLoop>(std::move(cfg), *hubs_.back(), *recorder_));
    commands_.push_back(std::make_unique<Commands>(*this, *loops_.back()));
  }
}

Rig::~Rig() { stop(); }

CameraDoors Rig::doors() {
  CameraDoors doors;
  for (size_t i = 0; i < loops_.size(); ++i)
    doors.push_back(
        {commands_[i].get(), hubs_[i].get(), configs_[i].cameraName, configs_[i].address});
  return doors;
}

void Rig::start() {
  for (auto& loop : loops_) loop->start();
}

void Rig::stop() {
  for (auto& loop : loops_) loop->stop();
  try {
    recorder_->stop();
  } catch (const std::exception& e) {
    log(e.what());
  }
}

// One camera: its manifest as it always was. Several: the format, tool and plug-in once, each
// camera's own manifest (with its name) under "cameras", in the viewer's order.
nlohmann::json Rig::manifest() const {
  if (loops_.size() == 1) return loops_.front()->snapshot().manifest;
  nlohmann::json cameras = nlohmann::json::array();
  nlohmann::json first;
  for (size_t i = 0; i < loops_.size(); ++i) {
    nlohmann::json m = loops_[i]->snapshot().manifest;
    if (i == 0) first = m;
    m["name"] = configs_[i].cameraName;
    cameras.push_back(std::move(m));
  }
  // What all cameras share stays at the top, where a reader of one camera's manifest looks.
  nlohmann::json rig = nlohmann::json::object();
  for (const char* key : {"format", "format_version", "tool", "tool_version", "plugin"}) {
    if (first.contains(key)) rig[key] = first[key];
  }
  rig["cameras"] = std::move(cameras);
  return rig;
}

// One camera: its counters as they always were. Several: each camera's under its name.
std::string Rig::counters() const {
  if (loops_.size() == 1) return countersJson(loops_.front()->counters());
  nlohmann::json all = nlohmann::json::object();
  for (size_t i = 0; i < loops_.size(); ++i)
    all[configs_[i].cameraName] = nlohmann::json::parse(countersJson(loops_[i]->counters()));
  return all.dump();
}

nlohmann::json Rig::record(bool on) {
  nlohmann::json answer = {{"ok", true}};
  try {
    if (on && !recorder_->active()) {
      std::vector<vyxhost::LensModel> lenses;
      for (const auto& loop : loops_) lenses.push_back(loop->snapshot().lens);
      log("recording into " + recorder_->start(manifest().dump(), lenses));
    } else if (!on && recorder_->active()) {
      recorder_->stop();
      const RecordingStatus s = recorder_->status();
      log("recorded " + std::to_string(s.frames) + " frames into " + s.file);
    }
    answer["file"] = recorder_->status().file;
  } catch (const std::exception& e) {
    recorder_->fail(e.what());
    answer = {{"ok", false}, {"error", {{"message", e.what()}}}};
  }
  for (auto& loop : loops_) loop->sendStatus();
  return answer;
}

void Rig::Commands::submit(CameraCommand command, Reply reply) {
  if (command.op != CameraCommand::Op::Record) {
    loop_.submit(std::move(command), std::move(reply));
    return;
  }
  nlohmann::json answer = rig_.record(command.on);
  answer["type"] = "reply";
  answer["id"] = command.id ? nlohmann::json(*command.id) : nlohmann::json(nullptr);
  if (reply) reply(std::move(answer));
}

}  // namespace vyxview
