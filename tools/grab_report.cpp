#include "grab_report.h"

#include <algorithm>
#include <cinttypes>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace vyxgrab {

namespace {

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

std::string format(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : ", ") + s;
  return out;
}

std::string sizeText(uint64_t bytes) {
  if (bytes >= uint64_t{10} * 1024 * 1024)
    return format("%.1f MiB", static_cast<double>(bytes) / 1048576.0);
  if (bytes >= uint64_t{10} * 1024) return format("%.1f KiB", static_cast<double>(bytes) / 1024.0);
  return format("%" PRIu64 " bytes", bytes);
}

std::string stoppedBy(int signal) {
  if (signal == SIGINT) return "Ctrl-C";
  const char* name = sigabbrev_np(signal);
  return name != nullptr ? std::string("SIG") + name : "signal " + std::to_string(signal);
}

}  // namespace

double frameRate(const GrabReport& r) {
  const double span = r.lastFrameAt - r.firstFrameAt;
  return r.frames >= 2 && span > 0 ? static_cast<double>(r.frames - 1) / span : 0.0;
}

std::string formatSummary(const GrabReport& r) {
  std::string s;
  const double rate = frameRate(r);
  s += format("Frames:            %" PRIu64, r.frames);
  if (r.framesWanted > 0 && r.frames != r.framesWanted) s += format(" of %" PRIu64, r.framesWanted);
  s += " from " + r.address + (r.cameraNote.empty() ? "" : " (" + r.cameraNote + ")");
  if (r.frames >= 2) s += format(" in %.2f s, %.1f frames/s", r.lastFrameAt - r.firstFrameAt, rate);
  if (r.waitAfterLastFrame > 0) s += format(", then no frame for %.1f s", r.waitAfterLastFrame);
  s += r.interrupted ? ", stopped by " + stoppedBy(r.stopSignal == 0 ? SIGINT : r.stopSignal) + "\n"
                     : "\n";
  if (r.frames > 0) {
    std::string types;
    for (int t : r.cameraImageTypes) types += (types.empty() ? "" : ", ") + std::to_string(t);
    s += format("Frame layout:      %" PRIu64 " bytes, %zu images of %" PRIu32 " x %" PRIu32
                " pixels (camera image types %s)\n",
                r.frameBytes, r.cameraImageTypes.size(), r.columns, r.rows, types.c_str());
  }
  if (r.retriedImages) {
    // Every image delivered was asked for once, and each retried one once more.
    s += format("Retried images:    %" PRIu64 " (the camera got %" PRIu64
                " image requests for %" PRIu64 " images)\n",
                *r.retriedImages, *r.retriedImages + r.imageBlocks, r.imageBlocks);
  }
  if (r.frames > 0 || r.stalls + r.losses + r.reconnects > 0) {
    s += format("Session:           %" PRIu64 " stalls, %" PRIu64 " losses, %" PRIu64
                " reconnects, last latency %.1f ms\n",
                r.stalls, r.losses, r.reconnects, r.lastLatencySeconds * 1000.0);
  }
  if (r.itimeSetting || r.itimeFrame) {
    s += "Integration times:";
    if (r.itimeSetting) {
      s += format(" %" PRIu32 " / %" PRIu32 " us set in the camera", (*r.itimeSetting)[0],
                  (*r.itimeSetting)[1]);
    }
    if (r.itimeFrame) {
      s += format("%s %" PRId32 " / %" PRId32 " us in the last frame", r.itimeSetting ? "," : "",
                  (*r.itimeFrame)[0], (*r.itimeFrame)[1]);
    }
    s += "\n";
  }
  if (r.fps) s += format("Frame rate:        %s frames/s set in the camera\n", r.fps->c_str());
  if (!r.lens.empty()) s += "Lens:              " + r.lens + "\n";
  if (!r.outputs.empty()) s += "Images:            " + joined(r.outputs) + "\n";
  if (!r.sameImages.empty()) s += "Same pixels:       " + joined(r.sameImages) + "\n";
  for (const GrabReport::Clipping& c : r.clipped) {
    s += format("Preview scale:     %s %g .. %g, %" PRIu64 " values outside clipped\n",
                c.type.c_str(), static_cast<double>(c.min), static_cast<double>(c.max), c.values);
  }
  s += format("Files:             %" PRIu64 " (%s) in %s\n", r.files, sizeText(r.fileBytes).c_str(),
              r.outDir.c_str());
  return s;
}

std::string formatRigSummary(const std::vector<RigCameraReport>& cameras,
                             const std::string& outPath) {
  std::string s;
  std::vector<std::string> failed;
  for (const RigCameraReport& c : cameras) {
    if (!c.failure.empty()) failed.push_back(c.name);
  }
  const RigCameraReport* layout = nullptr;
  std::vector<std::string> topics;
  uint64_t files = 0, fileBytes = 0;
  for (const RigCameraReport& c : cameras) {
    const GrabReport& r = c.report;
    std::string line = "Camera " + c.name + ":";
    line.resize(std::max<size_t>(line.size() + 1, 19), ' ');
    line += format("%" PRIu64, r.frames);
    if (r.framesWanted > 0 && r.frames != r.framesWanted)
      line += format(" of %" PRIu64, r.framesWanted);
    line += " frames from " + r.address;
    if (r.frames >= 2)
      line += format(" in %.2f s, %.1f frames/s", r.lastFrameAt - r.firstFrameAt, frameRate(r));
    line += format("; stalls %" PRIu64 ", losses %" PRIu64 ", reconnects %" PRIu64
                   ", last latency %.1f ms",
                   r.stalls, r.losses, r.reconnects, r.lastLatencySeconds * 1000.0);
    if (r.retriedImages) line += format(", retried images %" PRIu64, *r.retriedImages);
    if (!c.failure.empty()) {
      line += "; FAILED " + c.failure;
    } else if (r.interrupted && r.stopSignal != 0) {
      line += ", stopped by " + stoppedBy(r.stopSignal);
    } else if (r.interrupted) {
      line += ", stopped when " + joined(failed) + " failed";
    }
    s += line + "\n";
    if (layout == nullptr && r.frames > 0) layout = &c;
    topics.insert(topics.end(), r.outputs.begin(), r.outputs.end());
    files = std::max(files, r.files);
    fileBytes = std::max(fileBytes, r.fileBytes);
  }
  if (layout != nullptr) {
    const GrabReport& r = layout->report;
    std::string types;
    for (int t : r.cameraImageTypes) types += (types.empty() ? "" : ", ") + std::to_string(t);
    s += format("Frame layout:      %" PRIu64 " bytes, %zu images of %" PRIu32 " x %" PRIu32
                " pixels (camera image types %s) from %s\n",
                r.frameBytes, r.cameraImageTypes.size(), r.columns, r.rows, types.c_str(),
                layout->name.c_str());
  }
  if (!topics.empty()) s += "Images:            " + joined(topics) + "\n";
  s += format("Files:             %" PRIu64 " (%s) in %s\n", files, sizeText(fileBytes).c_str(),
              outPath.c_str());
  return s;
}

}  // namespace vyxgrab
