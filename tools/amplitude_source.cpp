#include "amplitude_source.h"

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "vyxhost/camera.h"
#include "vyxhost/locate.h"
#include "vyxhost/output_types.h"
#include "vyxrec/mcap_playback.h"
#include "vyxrec/recording.h"
#ifdef VYXCALIB_WITH_SIMULATOR
#include "lvtsim/embedded.h"
#endif

namespace vyxcalib {
namespace {

uint32_t amplitudeType() { return vyxhost::findOutputType("amplitude")->code; }

// Converts a raw frame's amplitude image into image; false when the frame holds none.
bool convertAmplitude(const vyxhost::FrameConverter& converter,
                      const VYXDataDescription& description, const uint8_t* raw,
                      AmplitudeImage& image) {
  const int bytes = converter.imageBytes(amplitudeType(), description);
  if (bytes <= 0) return false;
  image.values.resize(static_cast<size_t>(bytes) / sizeof(float));
  vyxhost::ImageShape shape;
  if (!converter.convert(amplitudeType(), description, raw, image.values.data(),
                         image.values.size() * sizeof(float), &shape))
    return false;
  image.width = static_cast<int>(shape.columns);
  image.height = static_cast<int>(shape.rows);
  image.values.resize(shape.pixels());
  return true;
}

class CameraSource : public AmplitudeSource {
 public:
  CameraSource(const std::string& address, bool simulate, const std::string& pluginPath) {
    vyxhost::CameraOptions options;
    options.address = address;
    options.pluginPath = pluginPath;
    if (simulate) {
#ifdef VYXCALIB_WITH_SIMULATOR
      simulated_ = std::make_unique<lvtsim::EmbeddedCamera>("", true, std::nullopt,
                                                            lvtsim::SceneKind::Checkerboard);
      options.address = simulated_->address();
      // The session is given no lens: the calibration learns it from the images alone.
#else
      throw std::runtime_error("this vyxcalib was built without the camera simulator");
#endif
    }
    described_ = (simulate ? "simulated camera at " : "camera at ") + options.address;
    camera_ = std::make_unique<vyxhost::Camera>(options);
  }

  bool next(AmplitudeImage& image) override {
    for (int tries = 0; tries < 3; ++tries) {  // a frame without an amplitude image is skipped
      camera_->grab(frame_);
      if (convertAmplitude(camera_->converter(), frame_.description, frame_.raw.data(), image)) {
        image.index = count_++;
        return true;
      }
    }
    throw std::runtime_error("the camera sends no amplitude images");
  }
  std::string describe() const override { return described_; }

 private:
#ifdef VYXCALIB_WITH_SIMULATOR
  std::unique_ptr<lvtsim::EmbeddedCamera> simulated_;
#endif
  std::unique_ptr<vyxhost::Camera> camera_;
  vyxhost::Frame frame_;
  std::string described_;
  uint64_t count_ = 0;
};

std::shared_ptr<const vyxhost::Plugin> loadPlugin(const std::string& pluginPath) {
  return vyxhost::sharedPlugin(vyxhost::findPlugin(pluginPath));
}

class McapSource : public AmplitudeSource {
 public:
  McapSource(const std::string& path, std::string pluginPath)
      : path_(path), pluginPath_(std::move(pluginPath)), playback_(path) {}

  bool next(AmplitudeImage& image) override {
    while (playback_.next(frame_)) {
      if (!frame_.amplitude.empty() && frame_.width > 0 &&
          frame_.amplitude.size() == size_t{frame_.width} * frame_.height) {
        image.width = static_cast<int>(frame_.width);
        image.height = static_cast<int>(frame_.height);
        image.values = frame_.amplitude;
      } else if (frame_.hasRaw) {
        VYXDataDescription description{};
        static_assert(sizeof description == vyxrec::ros2::kDescriptionBytes);
        std::memcpy(&description, frame_.description.data(), sizeof description);
        if (!converter_)
          converter_ = std::make_unique<vyxhost::FrameConverter>(loadPlugin(pluginPath_));
        if (!convertAmplitude(*converter_, description, frame_.raw.data(), image)) continue;
      } else {
        continue;  // neither amplitude nor raw bytes recorded for this frame
      }
      image.index = count_++;
      return true;
    }
    if (!playback_.complete())
      throw std::runtime_error(path_ + ": the recording ends early: " + playback_.stopReason());
    return false;
  }
  std::string describe() const override { return "recording " + path_; }

 private:
  std::string path_, pluginPath_;
  vyxrec::McapPlayback playback_;
  vyxrec::PlaybackFrame frame_;
  std::unique_ptr<vyxhost::FrameConverter> converter_;
  uint64_t count_ = 0;
};

class FolderSource : public AmplitudeSource {
 public:
  FolderSource(const std::string& dir, const std::string& pluginPath)
      : dir_(dir), recording_(vyxrec::openRecording(dir)), converter_(loadPlugin(pluginPath)) {}

  bool next(AmplitudeImage& image) override {
    while (at_ < recording_.frames.size()) {
      const vyxrec::DescribedFrame f = vyxrec::readDescribedFrame(recording_.frames[at_++]);
      if (convertAmplitude(converter_, f.description, f.raw.data(), image)) {
        image.index = count_++;
        return true;
      }
    }
    return false;
  }
  std::string describe() const override { return "recording " + dir_; }

 private:
  std::string dir_;
  vyxrec::Recording recording_;
  vyxhost::FrameConverter converter_;
  size_t at_ = 0;
  uint64_t count_ = 0;
};

}  // namespace

std::unique_ptr<AmplitudeSource> openCamera(const std::string& address, bool simulate,
                                            const std::string& pluginPath) {
  return std::make_unique<CameraSource>(address, simulate, pluginPath);
}

std::unique_ptr<AmplitudeSource> openRecording(const std::string& path,
                                               const std::string& pluginPath) {
  if (std::filesystem::is_directory(path)) return std::make_unique<FolderSource>(path, pluginPath);
  return std::make_unique<McapSource>(path, pluginPath);
}

}  // namespace vyxcalib
