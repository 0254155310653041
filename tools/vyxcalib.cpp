// vyxcalib: calibrates the camera's lens from its own amplitude images of a printed
// checkerboard, live or from a recording, and writes the calibration file every door's
// --calibration takes. It learns the lens from the images alone.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "amplitude_source.h"
#include "board_finder.h"
#include "calib_options.h"
#include "exit_codes.h"
#include "lens_fit.h"
#include "view_collection.h"
#include "vyxhost/lens.h"

namespace {

using vyxtools::kExitError;
using vyxtools::kExitUsage;

// Images kept to look for a board of another size when the given one is never found.
constexpr size_t kProbeImages = 6;
// A square narrower than this many pixels even when the board fills the image is never found.
constexpr int kMinSquarePx = 2;

std::string join(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : "; ") + item;
  return text;
}

std::string boardName(vyxcalib::BoardSize b) {
  return std::to_string(b.columns) + "x" + std::to_string(b.rows);
}

// The error per view, and which views were dropped.
void printViewErrors(const vyxcalib::LensFit& fit) {
  std::printf("error per view (RMS, pixels):\n");
  for (size_t i = 0; i < fit.used.size(); ++i)
    std::printf("  image %4llu  %.3f\n", static_cast<unsigned long long>(fit.used[i].image),
                fit.usedErrors[i]);
  for (size_t i = 0; i < fit.dropped.size(); ++i)
    std::printf("  image %4llu  %.3f  dropped: fits far worse than the others\n",
                static_cast<unsigned long long>(fit.dropped[i].image), fit.droppedErrors[i]);
}

std::string extraFields(const vyxcalib::LensFit& fit, const vyxcalib::CalibOptions& o,
                        uint64_t tried) {
  char text[300];
  std::snprintf(text, sizeof text,
                "{\"rms\": %.6f, \"views\": %zu, \"dropped_views\": %zu, \"images\": %llu, "
                "\"board\": {\"columns\": %d, \"rows\": %d, \"square\": %.6g}}",
                fit.rms, fit.used.size(), fit.dropped.size(),
                static_cast<unsigned long long>(tried), o.columns, o.rows, o.square);
  return text;
}

int run(const vyxcalib::CalibOptions& o) {
  const vyxcalib::BoardSize board{o.columns, o.rows};
  auto source = o.replay.empty() ? vyxcalib::openCamera(o.address, o.simulate, o.pluginPath)
                                 : vyxcalib::openRecording(o.replay, o.pluginPath);
  if (!o.showDir.empty()) std::filesystem::create_directories(o.showDir);
  std::printf(
      "vyxcalib: looking for a %s checkerboard (inner corners) in up to %llu images from "
      "%s\n",
      boardName(board).c_str(), static_cast<unsigned long long>(o.frames),
      source->describe().c_str());
  std::fflush(stdout);

  std::optional<vyxcalib::ViewCollection> views;
  std::vector<cv::Mat> probes;
  vyxcalib::AmplitudeImage image;
  uint64_t tried = 0, seen = 0;
  int width = 0, height = 0;
  while (tried < o.frames && source->next(image)) {
    ++tried;
    if (!views) {
      width = image.width;
      height = image.height;
      if ((o.columns + 1) * kMinSquarePx > width || (o.rows + 1) * kMinSquarePx > height) {
        std::fprintf(stderr,
                     "vyxcalib: --board %s cannot match: its %d x %d squares would be under %d "
                     "pixels wide even filling the %d x %d image\n",
                     boardName(board).c_str(), o.columns + 1, o.rows + 1, kMinSquarePx, width,
                     height);
        return kExitError;
      }
      views.emplace(board, width, height);
    }
    const cv::Mat prepared = vyxcalib::prepareImage(image);
    const auto corners = vyxcalib::findBoard(prepared, board);
    if (!corners) {
      if (probes.size() < kProbeImages && tried % 5 == 1) probes.push_back(prepared);
      continue;
    }
    ++seen;
    if (!views->offer({image.index, *corners})) continue;
    const size_t kept = views->views().size();
    if (!o.showDir.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "/view_%03zu.png", kept);
      vyxcalib::writeView(o.showDir + name, prepared, board, *corners);
    }
    const auto missing = views->missing();
    std::printf("image %llu: view %zu kept; %s\n", static_cast<unsigned long long>(image.index),
                kept,
                missing.empty() ? "enough variety, more views still help"
                                : ("missing: " + join(missing)).c_str());
    std::fflush(stdout);
  }

  if (tried == 0) {
    std::fprintf(stderr, "vyxcalib: %s gave no amplitude images\n", source->describe().c_str());
    return kExitError;
  }
  if (seen == 0) {
    std::fprintf(stderr,
                 "vyxcalib: no %s checkerboard found in any of the %llu images tried. Hold the "
                 "whole board in view, 0.6 to 2 m away, evenly lit; --board counts inner corners "
                 "(squares minus one each way).\n",
                 boardName(board).c_str(), static_cast<unsigned long long>(tried));
    if (const auto other = vyxcalib::findOtherBoard(probes, board))
      std::fprintf(stderr, "vyxcalib: a %s board is in view: try --board %s\n",
                   boardName(*other).c_str(), boardName(*other).c_str());
    return kExitError;
  }
  std::printf("board found in %llu of %llu images, %zu views kept\n",
              static_cast<unsigned long long>(seen), static_cast<unsigned long long>(tried),
              views->views().size());
  const auto missing = views->missing();
  if (views->views().size() < 3) {
    std::fprintf(stderr, "vyxcalib: too few views to calibrate; missing: %s. No file written.\n",
                 join(missing).c_str());
    return kExitError;
  }

  vyxcalib::LensFit fit = vyxcalib::fitLens(views->views(), board, o.square, width, height);
  printViewErrors(fit);
  const auto& l = fit.lens;
  std::printf(
      "lens: fx %.3f fy %.3f cx %.3f cy %.3f, distortion %.4f %.4f %.4f %.4f %.4f; "
      "RMS %.3f px over %zu views\n",
      l.fx, l.fy, l.cx, l.cy, l.distortion[0], l.distortion[1], l.distortion[2], l.distortion[3],
      l.distortion[4], fit.rms, fit.used.size());
  if (!missing.empty()) {
    std::fprintf(stderr,
                 "vyxcalib: not enough pose variety to trust this lens; missing: %s. No "
                 "file written.\n",
                 join(missing).c_str());
    return kExitError;
  }
  if (const std::string why = vyxcalib::judgeFit(fit); !why.empty()) {
    std::fprintf(stderr, "vyxcalib: %s. No file written.\n", why.c_str());
    return kExitError;
  }
  char sourceText[400];
  std::snprintf(sourceText, sizeof sourceText,
                "vyxcalib: %zu views of a %s checkerboard of %.3g m squares from %s, RMS %.3f px",
                fit.used.size(), boardName(board).c_str(), o.square, source->describe().c_str(),
                fit.rms);
  fit.lens.source = sourceText;
  vyxhost::writeCalibration(o.out, fit.lens, extraFields(fit, o, tried));
  std::printf("wrote %s\n", o.out.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vyxcalib::CalibOptions options;
  try {
    options = vyxcalib::parseCalibOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const vyxcalib::UsageError& e) {
    std::fprintf(stderr, "vyxcalib: %s\nTry 'vyxcalib --help' for the options.\n", e.what());
    return kExitUsage;
  }
  if (options.help) {
    std::fputs(vyxcalib::calibUsage().c_str(), stdout);
    return 0;
  }
  try {
    return run(options);
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "vyxcalib: %s\n", e.what());
    return kExitError;
  }
}
