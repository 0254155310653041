#include "camera_state.h"

#include <algorithm>

namespace lvtsim::detail {

namespace {
constexpr int32_t kMinIntegrationTime = 1;
constexpr int32_t kMaxIntegrationTime = 5000;
}  // namespace

CameraState::CameraState(CameraConfig config)
    : cfg(std::move(config)),
      frontend_(cfg.frontend),
      minFps_(cfg.minFps),
      maxFps_(cfg.maxFps),
      cache_(cfg) {}

void CameraState::setStopping(bool stopping) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = stopping;
  }
  changed_.notify_all();
}

bool CameraState::stopping() const { return read(stopping_); }

void CameraState::waitForStop() const {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [this] { return stopping_; });
}

bool CameraState::sleepUntil(std::chrono::steady_clock::time_point deadline) const {
  std::unique_lock<std::mutex> lock(mu_);
  return !changed_.wait_until(lock, deadline, [this] { return stopping_; });
}

void CameraState::setRpcFault(const std::string& method, RpcFault fault, int count) {
  std::lock_guard<std::mutex> lock(mu_);
  if (fault == RpcFault::None || count == 0) {
    faults_.erase(method);
  } else {
    faults_[method] = {fault, count < 0 ? -1 : count};
  }
}

RpcFault CameraState::takeRpcFault(const std::string& method) {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = faults_.find(method);
  if (it == faults_.end()) return RpcFault::None;
  const RpcFault fault = it->second.fault;
  if (it->second.remaining > 0 && --it->second.remaining == 0) faults_.erase(it);
  return fault;
}

void CameraState::logCall(RpcCall call) {
  std::lock_guard<std::mutex> lock(mu_);
  calls_.push_back(std::move(call));
}

void CameraState::setAnnouncedPort(std::optional<uint32_t> port) {
  std::lock_guard<std::mutex> lock(mu_);
  announcedPort_ = port;
}

uint32_t CameraState::announcedPort() const {
  std::lock_guard<std::mutex> lock(mu_);
  return announcedPort_.value_or(boundDataPort_);
}

void CameraState::setBoundDataPort(uint16_t port) {
  std::lock_guard<std::mutex> lock(mu_);
  boundDataPort_ = port;
}

uint16_t CameraState::boundDataPort() const { return read(boundDataPort_); }

Frontend CameraState::frontend() const { return read(frontend_); }

Frontend CameraState::writeFrontend(Frontend values) {
  int minFps, maxFps;
  std::function<void(Frontend&)> adjust;
  {
    std::lock_guard<std::mutex> lock(mu_);
    minFps = minFps_;
    maxFps = maxFps_;
    adjust = adjust_;
  }
  namespace word = lvtwire::frontend;
  values[word::kFps] = std::clamp<int32_t>(values[word::kFps], minFps, maxFps);
  values[word::kItime0] =
      std::clamp(values[word::kItime0], kMinIntegrationTime, kMaxIntegrationTime);
  values[word::kItime1] =
      std::clamp(values[word::kItime1], kMinIntegrationTime, kMaxIntegrationTime);
  // Run without the lock so the adjustment may look at the camera (e.g. the previous rate).
  if (adjust) adjust(values);
  std::lock_guard<std::mutex> lock(mu_);
  frontend_ = values;
  return values;
}

void CameraState::setFpsRange(int minFps, int maxFps) {
  std::lock_guard<std::mutex> lock(mu_);
  minFps_ = std::min(minFps, maxFps);
  maxFps_ = std::max(minFps, maxFps);
}

void CameraState::setFrontendWriteAdjust(std::function<void(Frontend&)> adjust) {
  std::lock_guard<std::mutex> lock(mu_);
  adjust_ = std::move(adjust);
}

Answer CameraState::nextAnswer(char request) {
  std::optional<ImageOverride> override;
  std::shared_ptr<const std::vector<uint8_t>> replayed;
  ImageFacts facts;
  {
    std::lock_guard<std::mutex> lock(mu_);
    requests_.push_back(static_cast<uint8_t>(request));
    auto queue = queued_.find(request);
    if (queue != queued_.end() && !queue->second.empty()) {
      override = std::move(queue->second.front());
      queue->second.pop_front();
    }
    // A queued override wins over the replay and is built on the synthetic image.
    if (!override && !replay_.empty()) {
      replayed = replay_[replayNext_];
      replayNext_ = (replayNext_ + 1) % replay_.size();
    }
    const auto type = cfg.imageTypeFor.find(request);
    facts.headerSize = cfg.headerSize;
    facts.imageType = type == cfg.imageTypeFor.end() ? 0 : type->second;
    facts.frame = answered_[request]++;
    facts.request = request;
    facts.itime0 = frontend_[lvtwire::frontend::kItime0];
    facts.itime1 = frontend_[lvtwire::frontend::kItime1];
    facts.fps = frontend_[lvtwire::frontend::kFps];
  }

  const ImageOverride* o = override ? &*override : nullptr;
  Answer answer;
  if (o != nullptr && o->raw) {
    answer = makeRawAnswer(std::make_shared<const std::vector<uint8_t>>(*o->raw), o);
  } else if (replayed) {
    answer = makeRawAnswer(std::move(replayed), o);
  } else {
    facts.data = cache_.get(facts.imageType, facts.frame, facts.itime0);
    answer = makeImageAnswer(facts, o);
  }
  std::lock_guard<std::mutex> lock(mu_);
  last_[request] = answer;
  return answer;
}

void CameraState::logRequest(char request) {
  std::lock_guard<std::mutex> lock(mu_);
  requests_.push_back(static_cast<uint8_t>(request));
}

void CameraState::queueImage(char request, ImageOverride o) {
  std::lock_guard<std::mutex> lock(mu_);
  queued_[request].push_back(std::move(o));
}

void CameraState::setReplay(std::vector<std::shared_ptr<const std::vector<uint8_t>>> blocks) {
  std::lock_guard<std::mutex> lock(mu_);
  replay_ = std::move(blocks);
  replayNext_ = 0;
}

void CameraState::setSplitIntoSingleBytes(bool on) {
  std::lock_guard<std::mutex> lock(mu_);
  split_ = on;
}

bool CameraState::splitIntoSingleBytes() const { return read(split_); }

void CameraState::connectionOpened() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++accepted_;
    ++open_;
  }
  changed_.notify_all();
}

void CameraState::connectionClosed() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    --open_;
  }
  changed_.notify_all();
}

std::vector<RpcCall> CameraState::calls() const { return read(calls_); }

std::vector<uint8_t> CameraState::dataRequests() const { return read(requests_); }

void CameraState::clearLog() {
  std::lock_guard<std::mutex> lock(mu_);
  calls_.clear();
  calls_.shrink_to_fit();
  requests_.clear();
  requests_.shrink_to_fit();
  last_.clear();
}

size_t CameraState::connectionsAccepted() const { return read(accepted_); }

size_t CameraState::openDataConnections() const { return read(open_); }

bool CameraState::waitForOpenDataConnections(size_t n, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return changed_.wait_for(lock, timeout, [&] { return open_ == n; });
}

std::vector<uint8_t> CameraState::lastAnswer(char request) const {
  Answer answer;
  {
    std::lock_guard<std::mutex> lock(mu_);
    const auto it = last_.find(request);
    if (it == last_.end()) return {};
    answer = it->second;
  }
  return answer.bytes();
}

uint64_t CameraState::framesAnswered(char request) const {
  std::lock_guard<std::mutex> lock(mu_);
  const auto it = answered_.find(request);
  return it == answered_.end() ? 0 : it->second;
}

}  // namespace lvtsim::detail
