#include "camera_link.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "lvtsim/embedded.h"

namespace lvtgst {

namespace {

std::string addressOf(const CameraSettings& settings, const lvtsim::EmbeddedCamera* simulator) {
  std::string address = simulator ? simulator->address() : settings.address;
  if (address.empty()) {
    throw std::invalid_argument("no camera address: set address=... or simulate=true");
  }
  return address;
}

}  // namespace

CameraLink::CameraLink(const CameraSettings& settings, uint32_t outputType) {
  if (settings.simulate) {
    simulator_ = std::make_unique<lvtsim::EmbeddedCamera>("", true);  // paced like the camera
  }
  vyxhost::CameraOptions options;
  options.address = addressOf(settings, simulator_.get());
  options.pluginPath = settings.pluginPath;
  camera_ = std::make_shared<vyxhost::Camera>(std::move(options));
  if (settings.itime0 != 0) camera_->setIntegrationTime(0, settings.itime0);
  if (settings.itime1 != 0) camera_->setIntegrationTime(1, settings.itime1);
  if (settings.fps != 0) camera_->setFrameRate(settings.fps);
  // Read before grabbing starts, which keeps the camera busy.
  opened_ = {camera_->integrationTime(0), camera_->integrationTime(1), camera_->frameRate()};
  camera_->grab(first_);
  std::vector<float> values;
  firstShape_ = toFloats(*camera_, outputType, first_, values);
}

CameraLink::~CameraLink() {
  camera_->close();  // returns at once when a grab waits for a silent camera
  camera_.reset();
  simulator_.reset();
}

void CameraLink::next(vyxhost::Frame& frame) {
  if (!firstTaken_) {
    firstTaken_ = true;
    std::swap(frame, first_);
    return;
  }
  camera_->grab(frame);
}

vyxhost::ImageShape toFloats(const vyxhost::Camera& camera, uint32_t outputType,
                             const vyxhost::Frame& frame, std::vector<float>& values) {
  vyxhost::ImageShape shape;
  // The size the last frame needed is the usual one: convert at once, and only ask the
  // plug-in for the size when it does not fit.
  if (!values.empty() &&
      camera.convert(outputType, frame, values.data(), values.size() * sizeof(float), &shape) &&
      shape.pixels() == values.size()) {
    return shape;
  }
  const int bytes = camera.imageBytes(outputType, frame);
  if (bytes <= 0) {
    throw std::runtime_error("vyxpCanProcess: the camera's frame holds no image of type " +
                             std::to_string(outputType));
  }
  values.resize(static_cast<size_t>(bytes) / sizeof(float));
  if (!camera.convert(outputType, frame, values.data(), values.size() * sizeof(float), &shape) ||
      shape.pixels() != values.size()) {
    throw std::runtime_error("vyxpProcess: image of " + std::to_string(shape.columns) + " x " +
                             std::to_string(shape.rows) + " pixels in " +
                             std::to_string(values.size()) + " values");
  }
  return shape;
}

}  // namespace lvtgst
