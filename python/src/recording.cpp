// Reading recordings back: one MCAP file (vyxrec::McapPlayback), or a folder written by vyxgrab
// (vyxrec/recording.h: its run.json when there is one, otherwise its frame_NNNNN.raw / .desc
// pairs in frame order). Frames with their raw bytes convert lazily through the processing
// plug-in, like a live camera's; a bad recording is a vyxrec::RecordingError (ValueError).
#include "vyxrec/recording.h"

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "depth.h"
#include "frame.h"
#include "vyxhost/locate.h"
#include "vyxrec/mcap_playback.h"
#include "without_gil.h"

namespace lvtcam {

namespace py = pybind11;

namespace {

// One converter per plug-in file for every recording read in the process. Made without the GIL:
// it waits at the plug-in's gate.
std::shared_ptr<const vyxhost::FrameConverter> converterFor(const std::string& pluginPath) {
  return withoutGil([&] {
    static std::mutex mutex;
    static auto* converters =  // never destroyed: frames may outlive the interpreter's modules
        new std::map<std::string, std::shared_ptr<const vyxhost::FrameConverter>>;
    const std::string path = vyxhost::findPlugin(pluginPath);
    const std::lock_guard<std::mutex> lock(mutex);
    std::shared_ptr<const vyxhost::FrameConverter>& converter = (*converters)[path];
    if (!converter)
      converter = std::make_shared<const vyxhost::FrameConverter>(vyxhost::sharedPlugin(path));
    return converter;
  });
}

vyxhost::FilterSettings filtersFrom(const std::string& json) {
  if (json.empty()) return vyxhost::FilterSettings::none();
  vyxhost::FilterSettings settings = vyxhost::FilterSettings::fromJson(json);
  settings.check();
  return settings;
}

std::optional<vyxhost::LensModel> calibrationFrom(const std::string& path) {
  if (path.empty()) return std::nullopt;
  try {
    return vyxhost::readCalibration(path);
  } catch (const std::runtime_error& e) {
    throw py::value_error(e.what());
  }
}

// The lens a recording's camera_info holds. Whether it was nominal, and where it came from, the
// run manifest's "lens" says (a calibration file's fields); without it, a lens with the nominal
// lens's numbers is taken to be that.
vyxhost::LensModel lensOf(const vyxrec::ros2::CameraInfo& info, const std::string& manifest) {
  vyxhost::LensModel lens = vyxhost::lensFromMatrix(
      static_cast<int>(info.width), static_cast<int>(info.height), info.k.data(), info.d.data(),
      info.d.size(), "the recording's camera_info");
  const nlohmann::json run = nlohmann::json::parse(manifest, nullptr, false);
  if (run.is_object() && run.contains("lens") && run["lens"].is_object()) {
    const nlohmann::json& recorded = run["lens"];
    if (recorded.contains("nominal") && recorded["nominal"].is_boolean())
      lens.nominal = recorded["nominal"].get<bool>();
    if (recorded.contains("source") && recorded["source"].is_string())
      lens.source = recorded["source"].get<std::string>();
  }
  return lens;
}

// The lens and filters for recorded frames: a calibration given by the caller, else the lens the
// recording carries, else the nominal one. One pipeline per camera (the temporal median).
class RecordedDepth {
 public:
  RecordedDepth(const std::string& calibration, const std::string& filtersJson)
      : calibration_(calibrationFrom(calibration)), filters_(filtersFrom(filtersJson)) {}

  std::shared_ptr<Depth> forCamera(size_t camera, const vyxrec::ros2::CameraInfo* info,
                                   const std::string& manifest = "") {
    if (camera >= depth_.size()) depth_.resize(camera + 1);
    if (!depth_[camera]) {
      const vyxhost::LensModel lens = calibration_ ? *calibration_
                                      : info       ? lensOf(*info, manifest)
                                                   : vyxhost::nominalLens();
      depth_[camera] = std::make_shared<Depth>(lens, filters_);
    }
    return depth_[camera];
  }

 private:
  std::optional<vyxhost::LensModel> calibration_;
  vyxhost::FilterSettings filters_;
  std::vector<std::shared_ptr<Depth>> depth_;
};

// The frames of one MCAP file, in file order, as an iterator.
class McapFrames {
 public:
  McapFrames(const std::string& path, const std::string& plugin, const std::string& calibration,
             const std::string& filtersJson)
      : depth_(calibration, filtersJson), converter_(converterFor(plugin)) {
    // Opened last, without the GIL, once the conversion is ready.
    // cppcheck-suppress useInitializationList
    play_ = withoutGil([&] { return std::make_unique<vyxrec::McapPlayback>(path); });
  }

  Frame next() {
    const bool more = withoutGil([&] { return play_->next(frame_); });
    if (!more) throw py::stop_iteration();
    const std::string& name = play_->cameras()[frame_.camera];
    std::shared_ptr<Depth> depth =
        depth_.forCamera(frame_.camera, play_->cameraInfo(frame_.camera), play_->runManifest());
    vyxhost::Frame f;
    f.sequence = frame_.sequence;
    f.utcNs = static_cast<int64_t>(frame_.stampNs);
    const double stamp = static_cast<double>(frame_.stampNs) * 1e-9;
    if (frame_.hasRaw) {
      std::memcpy(&f.description, frame_.description.data(), sizeof f.description);
      vyxrec::checkDescribedFrame(f.description, frame_.raw.size(), play_->reader().name());
      f.raw.swap(frame_.raw);  // the playback makes itself a new buffer for the next frame
      return Frame(converter_, std::move(f), stamp, std::move(depth), name);
    }
    // Recorded without its bytes: the images as recorded.
    f.description.std.numRows = frame_.height;
    f.description.std.numColumns = frame_.width;
    Frame out(converter_, std::move(f), stamp, std::move(depth), name);
    const std::pair<uint32_t, std::vector<float>*> images[] = {{VYX_TYPE_10001, &frame_.distance},
                                                               {VYX_TYPE_10002, &frame_.amplitude}};
    for (const auto& [code, pixels] : images) {
      if (pixels->empty()) continue;
      py::array_t<float> array(
          {static_cast<py::ssize_t>(frame_.height), static_cast<py::ssize_t>(frame_.width)});
      std::memcpy(array.mutable_data(), pixels->data(), pixels->size() * sizeof(float));
      out.setImage(code, std::move(array));
    }
    return out;
  }

  std::vector<std::string> cameras() const { return play_->cameras(); }
  std::string runManifest() const { return play_->runManifest(); }
  std::string counters() const { return play_->counters(); }
  std::string failure() const { return play_->failure(); }
  bool complete() const { return play_->complete(); }
  std::string stopReason() const { return play_->stopReason(); }

 private:
  RecordedDepth depth_;
  std::shared_ptr<const vyxhost::FrameConverter> converter_;
  std::unique_ptr<vyxrec::McapPlayback> play_;
  vyxrec::PlaybackFrame frame_;
};

// The frames of a folder recording, in its order.
class FolderFrames {
 public:
  FolderFrames(const std::string& dir, const std::string& plugin, const std::string& calibration,
               const std::string& filtersJson)
      : depth_(calibration, filtersJson), converter_(converterFor(plugin)) {
    // Read last, without the GIL, once the conversion is ready.
    // cppcheck-suppress useInitializationList
    recording_ = withoutGil([&] { return vyxrec::openRecording(dir); });
  }

  // The frame from its two files, checked by the reader so that a damaged recording cannot make
  // the conversion read past the frame's bytes.
  Frame next() {
    if (at_ >= recording_.frames.size()) throw py::stop_iteration();
    const vyxrec::RecordedFrame& recorded = recording_.frames[at_++];
    vyxrec::DescribedFrame read = withoutGil([&] { return vyxrec::readDescribedFrame(recorded); });
    vyxhost::Frame frame;
    frame.raw = std::move(read.raw);
    frame.description = read.description;
    frame.sequence = recorded.index;
    std::optional<double> stamp;
    if (recorded.stamp) stamp = stampSeconds(recorded.stamp->utc);
    return Frame(converter_, std::move(frame), stamp, depth_.forCamera(0, nullptr));
  }

  size_t size() const { return recording_.frames.size(); }

 private:
  static double stampSeconds(const std::string& utc) {
    // Kept for the life of the process: never released after the interpreter is gone.
    static auto* fromIso =
        new py::object(py::module_::import("datetime").attr("datetime").attr("fromisoformat"));
    std::string iso = utc;
    if (!iso.empty() && iso.back() == 'Z') iso.replace(iso.size() - 1, 1, "+00:00");
    return (*fromIso)(iso).attr("timestamp")().cast<double>();
  }

  RecordedDepth depth_;
  std::shared_ptr<const vyxhost::FrameConverter> converter_;
  vyxrec::Recording recording_;
  size_t at_ = 0;
};

}  // namespace

void bindRecording(py::module_& m) {
  py::class_<McapFrames>(m, "_McapFrames")
      .def(py::init<const std::string&, const std::string&, const std::string&,
                    const std::string&>())
      .def("__iter__", [](McapFrames& f) -> McapFrames& { return f; })
      .def("__next__", &McapFrames::next)
      .def_property_readonly("cameras", &McapFrames::cameras)
      .def_property_readonly("run_manifest", &McapFrames::runManifest)
      .def_property_readonly("counters", &McapFrames::counters)
      .def_property_readonly("failure", &McapFrames::failure)
      .def_property_readonly("complete", &McapFrames::complete)
      .def_property_readonly("stop_reason", &McapFrames::stopReason);
  py::class_<FolderFrames>(m, "_FolderFrames")
      .def(py::init<const std::string&, const std::string&, const std::string&,
                    const std::string&>())
      .def("__iter__", [](FolderFrames& f) -> FolderFrames& { return f; })
      .def("__next__", &FolderFrames::next)
      .def("__len__", &FolderFrames::size);
}

}  // namespace lvtcam
