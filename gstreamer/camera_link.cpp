#include "camera_link.h"

#include <atomic>
#include <stdexcept>
#include <string>

#include "lvtsim/embedded.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"

namespace lvtgst {

namespace {

// Handles are per process: every element opens its camera under handles of its own, clear of
// the small numbers a host in the same process picks for itself.
unsigned nextHandle() {
  static std::atomic<unsigned> next{0x4000};
  return next.fetch_add(1);
}

}  // namespace

std::mutex& CameraLink::pluginCalls() {
  static std::mutex calls;
  return calls;
}

CameraLink::CameraLink(const CameraSettings& settings) {
  if (settings.simulate) {
    simulator_ = std::make_unique<lvtsim::EmbeddedCamera>("", true);  // paced like the camera
    address_ = simulator_->address();
  } else {
    address_ = settings.address;
  }
  if (address_.empty()) {
    throw std::invalid_argument("no camera address: set address=... or simulate=true");
  }
  const std::lock_guard<std::mutex> hold(pluginCalls());
  plugin_ = std::make_unique<vyxhost::Plugin>(vyxhost::findPlugin(settings.pluginPath));
  source_ = std::make_unique<vyxhost::SourceInstance>(*plugin_, nextHandle(), address_);
  processing_ = std::make_unique<vyxhost::ProcessingInstance>(*plugin_, nextHandle());
  if (settings.itime0 != 0) source_->setIntegrationTime(0, settings.itime0);
  if (settings.itime1 != 0) source_->setIntegrationTime(1, settings.itime1);
  if (settings.fps != 0) source_->command("SetFPS " + std::to_string(settings.fps));
}

CameraLink::~CameraLink() {
  {
    const std::lock_guard<std::mutex> hold(pluginCalls());
    processing_.reset();
    source_.reset();
    plugin_.reset();
  }
  simulator_.reset();
}

const std::string& CameraLink::pluginPath() const { return plugin_->path(); }

FrameInfo CameraLink::grab(uint32_t outputType, std::vector<float>& values) {
  const std::lock_guard<std::mutex> hold(pluginCalls());
  source_->update();
  FrameInfo info;
  info.number = fetched_++;
  source_->rawData(raw_);
  const VYXDataDescription description = source_->description();
  const int bytes = processing_->canProcess(outputType, description);
  if (bytes <= 0) {
    throw std::runtime_error("vyxpCanProcess: the camera's frame holds no image of type " +
                             std::to_string(outputType));
  }
  values.resize(static_cast<size_t>(bytes) / sizeof(float));
  const VYXDataDescription out = processing_->process(outputType, description, raw_.data(),
                                                      values.data(), values.size() * sizeof(float));
  info.columns = out.std.numColumns;
  info.rows = out.std.numRows;
  if (static_cast<size_t>(info.columns) * info.rows != values.size()) {
    throw std::runtime_error("vyxpProcess: image of " + std::to_string(info.columns) + " x " +
                             std::to_string(info.rows) + " pixels in " +
                             std::to_string(values.size()) + " values");
  }
  return info;
}

unsigned CameraLink::integrationTime(unsigned index) const {
  const std::lock_guard<std::mutex> hold(pluginCalls());
  return source_->integrationTime(index);
}

void CameraLink::setIntegrationTime(unsigned index, unsigned microseconds) {
  const std::lock_guard<std::mutex> hold(pluginCalls());
  source_->setIntegrationTime(index, microseconds);
}

unsigned CameraLink::frameRate() const {
  const std::lock_guard<std::mutex> hold(pluginCalls());
  const std::string text = source_->info("FPS");
  try {
    return static_cast<unsigned>(std::stoul(text));
  } catch (const std::exception&) {
    throw std::runtime_error("vyxpGetInfo(\"FPS\") answered \"" + text + "\", not a frame rate");
  }
}

void CameraLink::setFrameRate(unsigned fps) {
  const std::lock_guard<std::mutex> hold(pluginCalls());
  const std::string before = source_->info("FPS");
  try {
    source_->command("SetFPS " + std::to_string(fps));
  } catch (const vyxhost::CallError&) {
    // A refused rate may have reached the camera clamped: put the old one back.
    try {
      source_->command("SetFPS " + before);
    } catch (
        const vyxhost::CallError&) {  // NOLINT(bugprone-empty-catch): the refusal is what matters
    }
    throw;
  }
}

}  // namespace lvtgst
