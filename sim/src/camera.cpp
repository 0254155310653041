#include "lvtsim/camera.h"

#include <mutex>
#include <stdexcept>

#include "camera_state.h"
#include "control_server.h"
#include "data_server.h"
#include "lvtsim/address.h"
#include "lvtsim/replay.h"

namespace lvtsim {
namespace {

void validate(const CameraConfig& cfg) {
  if (!isLoopbackAddress(cfg.address))
    throw std::invalid_argument("camera address " + cfg.address +
                                " is not a loopback address (127.0.0.0/8)");
  if (cfg.headerSize < 8 || cfg.headerSize > kMaxHeaderBytes)
    throw std::invalid_argument("header size must be between 8 and " +
                                std::to_string(kMaxHeaderBytes) + " bytes");
  if (cfg.columns == 0 || cfg.rows == 0 || cfg.columns > 4096 || cfg.rows > 4096)
    throw std::invalid_argument("image size must be 1..4096 columns and rows");
}

}  // namespace

struct Camera::Impl {
  explicit Impl(CameraConfig cfg) : state(std::move(cfg)), control(state), data(state) {}

  detail::CameraState state;
  detail::ControlServer control;
  detail::DataServer data;
  std::mutex lifecycle;  // serialises start() and stop()
  bool running = false;
};

Camera::Camera(CameraConfig cfg) : impl_(std::make_unique<Impl>(std::move(cfg))) {}

Camera::~Camera() { stop(); }

void Camera::start() {
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  if (impl_->running) return;
  const CameraConfig& cfg = impl_->state.cfg;
  validate(cfg);
  impl_->state.setStopping(false);
  // A restarted camera keeps the data port it announced before.
  const uint16_t previous = impl_->state.boundDataPort();
  const uint16_t port = impl_->data.start(cfg.address, previous != 0 ? previous : cfg.dataPort);
  impl_->state.setBoundDataPort(port);
  try {
    impl_->control.start(cfg.address, cfg.controlPort);
  } catch (...) {
    impl_->state.setStopping(true);
    impl_->data.stop();
    throw;
  }
  impl_->running = true;
}

void Camera::stop() {
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  if (!impl_->running) return;
  impl_->state.setStopping(true);  // releases silent calls and images first
  impl_->control.stop();
  impl_->data.stop();
  impl_->running = false;
}

bool Camera::running() const {
  std::lock_guard<std::mutex> lock(impl_->lifecycle);
  return impl_->running;
}

const CameraConfig& Camera::config() const { return impl_->state.cfg; }
uint16_t Camera::dataPort() const { return impl_->state.boundDataPort(); }

void Camera::setRpcFault(const std::string& method, RpcFault fault, int count) {
  impl_->state.setRpcFault(method, fault, count);
}
void Camera::setAnnouncedPort(std::optional<uint32_t> port) { impl_->state.setAnnouncedPort(port); }
void Camera::setDataPortListening(bool listening) { impl_->data.setListening(listening); }
void Camera::queueImage(char request, ImageOverride o) {
  impl_->state.queueImage(request, std::move(o));
}
void Camera::setSplitIntoSingleBytes(bool on) { impl_->state.setSplitIntoSingleBytes(on); }
void Camera::setFpsRange(int minFps, int maxFps) { impl_->state.setFpsRange(minFps, maxFps); }
void Camera::setFrontendWriteAdjust(std::function<void(std::array<int32_t, 9>&)> adjust) {
  impl_->state.setFrontendWriteAdjust(std::move(adjust));
}

void Camera::setReplay(const std::vector<std::vector<uint8_t>>& frames) {
  std::vector<std::shared_ptr<const std::vector<uint8_t>>> blocks;
  for (const auto& frame : frames) {
    for (auto& block : splitFrame(frame)) {
      blocks.push_back(std::make_shared<const std::vector<uint8_t>>(std::move(block)));
    }
  }
  if (!frames.empty() && blocks.empty())
    throw std::invalid_argument("replay frames hold no image block");
  impl_->state.setReplay(std::move(blocks));
}

std::vector<RpcCall> Camera::calls() const { return impl_->state.calls(); }
std::vector<uint8_t> Camera::dataRequests() const { return impl_->state.dataRequests(); }

std::vector<std::string> Camera::methodNames() const {
  std::vector<std::string> names;
  for (const RpcCall& call : impl_->state.calls()) names.push_back(call.method);
  return names;
}

void Camera::clearLog() { impl_->state.clearLog(); }
size_t Camera::connectionsAccepted() const { return impl_->state.connectionsAccepted(); }
size_t Camera::openDataConnections() const { return impl_->state.openDataConnections(); }
bool Camera::waitForOpenDataConnections(size_t n, std::chrono::milliseconds timeout) const {
  return impl_->state.waitForOpenDataConnections(n, timeout);
}
std::array<int32_t, lvtwire::kFrontendWords> Camera::frontend() const {
  return impl_->state.frontend();
}
std::vector<uint8_t> Camera::lastAnswer(char request) const {
  return impl_->state.lastAnswer(request);
}
uint64_t Camera::framesAnswered(char request) const { return impl_->state.framesAnswered(request); }

}  // namespace lvtsim
