// Frames per second of `lvtsrc ! fakesink` next to a plain grab loop through vyxhost (update, raw
// frame, description, distance conversion: what a grabber does without file output), both
// against one simulated camera that answers as fast as it can, in the same run. Batches of the
// two alternate so that both meet the same machine load, each with its camera connection and
// thread kept from batch to batch; the figure is the median of the per-pair ratios, with its
// quartiles. CPU per frame is that of the thread doing the work: the
// element's streaming thread, the loop's own thread (the camera runs in this process too), and
// beside it the whole process's. The element runs without its filters for the comparison (the
// loop filters nothing), and once more with them.
// Beside, vyxgrab's own per-frame work (every image the frame allows, no files). Last, lvtsrc
// simulate=true against the simulated camera's own frame rate.
#include <gst/gst.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "clocks.h"
#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "paired_batches.h"
#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"

namespace {

constexpr int kBatch = 500;  // frames per batch
constexpr int kPairs = 15;
constexpr unsigned kSourceId = 901, kProcessingId = 902;

// Holds a running pipeline between batches: a buffer probe on the fakesink's pad, in the
// streaming thread, waits once a batch is complete until the next one is asked for. The camera
// connection and the streaming thread stay as they are, as the grab loop's do.
class BatchGate {
 public:
  static GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo*, gpointer self) {
    static_cast<BatchGate*>(self)->handoff();
    return GST_PAD_PROBE_OK;
  }
  // Lets `frames` more buffers through and returns their time per frame, with the CPU time of
  // the streaming thread; false when they did not come within a minute.
  bool run(int frames, vyxbench::PerFrame& out) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!changed_.wait_for(hold, std::chrono::minutes(1), [&] { return held_; })) return false;
    target_ = seen_ + frames;
    held_ = false;
    changed_.notify_all();
    if (!changed_.wait_for(hold, std::chrono::minutes(1), [&] { return held_; })) return false;
    out.wall = (end_.wall - start_.wall) / frames;
    out.cpu = (end_.cpu - start_.cpu) / frames;
    out.processCpu = (end_.processCpu - start_.processCpu) / frames;
    return true;
  }
  void open() {
    const std::lock_guard<std::mutex> hold(lock_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  void handoff() {
    std::unique_lock<std::mutex> hold(lock_);
    if (stopped_ || ++seen_ < target_) return;
    end_ = vyxbench::Stamp();
    held_ = true;
    changed_.notify_all();
    changed_.wait(hold, [&] { return stopped_ || !held_; });
    start_ = vyxbench::Stamp();
  }
  std::mutex lock_;
  std::condition_variable changed_;
  int seen_ = 0, target_ = 1;
  bool held_ = false, stopped_ = false;
  vyxbench::Stamp start_, end_;
};

// A pipeline from a gst-launch description with a fakesink named sink whose buffers go to gate.
GstElement* launch(const std::string& description, BatchGate& gate) {
  GError* error = nullptr;
  GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
  if (error != nullptr) {
    std::fprintf(stderr, "%s: %s\n", description.c_str(), error->message);
    g_error_free(error);
    return nullptr;
  }
  GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
  GstPad* pad = gst_element_get_static_pad(sink, "sink");
  gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, BatchGate::onBuffer, &gate, nullptr);
  gst_object_unref(pad);
  gst_object_unref(sink);
  if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
    std::fprintf(stderr, "%s: does not start\n", description.c_str());
    gst_object_unref(pipeline);
    return nullptr;
  }
  return pipeline;
}

void finish(GstElement* pipeline, BatchGate& gate) {
  gate.open();
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);
}

void printFigure(const char* what, const std::vector<double>& v, const char* unit, double factor) {
  std::printf("  %-44s median %10.2f %s   (quartiles %.2f .. %.2f)\n", what,
              vyxbench::quantile(v, 0.5) * factor, unit, vyxbench::quantile(v, 0.25) * factor,
              vyxbench::quantile(v, 0.75) * factor);
}

}  // namespace

int main(int argc, char** argv) {
  gst_init(&argc, &argv);  // other arguments (./run bench passes its own) are ignored
  GError* error = nullptr;
  GstPlugin* loaded = gst_plugin_load_file(GSTLVT_PLUGIN_FILE, &error);
  if (loaded == nullptr) {
    std::fprintf(stderr, "cannot load %s: %s\n", GSTLVT_PLUGIN_FILE, error->message);
    return 1;
  }
  gst_object_unref(loaded);

  const std::unique_ptr<lvtsim::Camera> camera = lvtsim::startOnFreeLoopback();
  const std::string address = camera->config().address;
  vyxhost::Plugin plugin(vyxhost::findPlugin());
  vyxhost::SourceInstance source(plugin, kSourceId, address);
  vyxhost::ProcessingInstance processing(plugin, kProcessingId);
  std::vector<uint8_t> raw;
  std::vector<float> distance(size_t{64} * 50);
  auto grabOne = [&] {
    source.update();
    source.rawData(raw);
    processing.process(VYX_TYPE_10001, source.description(), raw.data(), distance.data(),
                       distance.size() * sizeof(float));
    return true;
  };
  // What vyxgrab does per frame without file output: every image the frame allows.
  std::vector<float> image;
  auto grabEvery = [&] {
    source.update();
    source.rawData(raw);
    const VYXDataDescription description = source.description();
    for (uint32_t type : {VYX_TYPE_10001, VYX_TYPE_10002, VYX_TYPE_10004, VYX_TYPE_10020,
                          VYX_TYPE_10040, VYX_TYPE_10080}) {
      const int bytes = processing.canProcess(type, description);
      if (bytes <= 0) continue;
      image.assign(static_cast<size_t>(bytes) / sizeof(float), 0.0f);
      processing.process(type, description, raw.data(), image.data(), image.size() * sizeof(float));
    }
    return true;
  };

  // The element as the grab loop works (no filters), and with its default filters.
  BatchGate gate, filteredGate;
  GstElement* element =
      launch("lvtsrc address=" + address + " filters=false ! fakesink name=sink sync=false", gate);
  GstElement* filteredElement =
      launch("lvtsrc address=" + address + " ! fakesink name=sink sync=false", filteredGate);
  if (element == nullptr || filteredElement == nullptr) return 1;
  std::vector<double> ratio, ratioEvery, elementFps, loopFps, everyFps, elementCpu, loopCpu;
  std::vector<double> filteredRatio, filteredFps, filteredCpu, elementProc, loopProc;
  for (int pair = 0; pair < kPairs; ++pair) {
    vyxbench::PerFrame e, f, l, v;
    if (!gate.run(kBatch, e) || !filteredGate.run(kBatch, f)) {
      std::fprintf(stderr, "lvtsrc delivered no frames\n");
      return 1;
    }
    vyxbench::timeFrames(kBatch, grabOne, l);
    vyxbench::timeFrames(kBatch, grabEvery, v);
    ratio.push_back(l.wall / e.wall);
    filteredRatio.push_back(l.wall / f.wall);
    ratioEvery.push_back(v.wall / e.wall);
    elementFps.push_back(1 / e.wall);
    filteredFps.push_back(1 / f.wall);
    loopFps.push_back(1 / l.wall);
    everyFps.push_back(1 / v.wall);
    elementCpu.push_back(e.cpu);
    filteredCpu.push_back(f.cpu);
    loopCpu.push_back(l.cpu);
    elementProc.push_back(e.processCpu);
    loopProc.push_back(l.processCpu);
  }
  finish(element, gate);
  finish(filteredElement, filteredGate);

  // The element's own simulated camera, paced at its frame rate.
  BatchGate pacedGate;
  vyxbench::PerFrame paced;
  GstElement* simulated =
      launch("lvtsrc name=src simulate=true ! fakesink name=sink sync=false", pacedGate);
  const bool pacedOk = simulated != nullptr && pacedGate.run(50, paced);
  guint cameraRate = 0;  // while open, the property reads the camera's rate
  if (simulated != nullptr) {
    GstElement* src = gst_bin_get_by_name(GST_BIN(simulated), "src");
    g_object_get(src, "fps", &cameraRate, nullptr);
    gst_object_unref(src);
    finish(simulated, pacedGate);
  }
  if (!pacedOk || cameraRate == 0) return 1;

  std::printf(
      "\nlvtsrc ! fakesink against grab loops through vyxhost, one simulated camera at %s,\n"
      "%d rounds of %d-frame batches (grab loop: the distance image, as lvtsrc delivers;\n"
      "vyxgrab's loop: every image the frame allows, without files):\n",
      address.c_str(), kPairs, kBatch);
  printFigure("lvtsrc frames/s", elementFps, "fps", 1);
  printFigure("grab loop frames/s", loopFps, "fps", 1);
  printFigure("vyxgrab's loop frames/s", everyFps, "fps", 1);
  printFigure("ratio lvtsrc / grab loop (target >= 0.95)", ratio, "x  ", 1);
  printFigure("ratio lvtsrc / vyxgrab's loop", ratioEvery, "x  ", 1);
  printFigure("lvtsrc CPU per frame (streaming thread)", elementCpu, "us ", 1e6);
  printFigure("grab loop CPU per frame (its thread)", loopCpu, "us ", 1e6);
  printFigure("process CPU per frame: lvtsrc", elementProc, "us ", 1e6);
  printFigure("process CPU per frame: grab loop", loopProc, "us ", 1e6);
  printFigure("lvtsrc with its filters frames/s", filteredFps, "fps", 1);
  printFigure("ratio filtered lvtsrc / grab loop", filteredRatio, "x  ", 1);
  printFigure("filtered lvtsrc CPU per frame (streaming)", filteredCpu, "us ", 1e6);
  std::printf("  %-44s %10.2f fps against the camera's %u: %.3fx\n",
              "lvtsrc simulate=true (paced camera)", 1 / paced.wall, cameraRate,
              (1 / paced.wall) / cameraRate);
  return 0;
}
