// One grab from start to end: find and load the plug-in, claim the output folder, open the
// camera, check and apply the settings, then per frame update, fetch the raw bytes and
// description, convert every image type the frame allows and write the files and the run's
// manifest; finally read the settings back and close the camera.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "grab_options.h"
#include "grab_report.h"
#include "progress_line.h"

namespace vyxgrab {

struct GrabHooks {
  std::function<bool()> stopRequested;                    // checked before every frame
  std::function<int()> stopSignal;                        // the signal that asked to stop
  std::function<std::optional<uint64_t>()> requestsSent;  // image requests the camera received
  ProgressLine* progress = nullptr;
  bool simulated = false;  // for the manifest: the camera is vyxgrab's own simulator
  std::string replay;      // and replays this recording
};

// A wait at least this long before a failure means the camera stopped answering, not that it
// refused.
constexpr double kStallSeconds = 1.0;

// Fills report as it goes. Throws vyxhost::LoadError for the plug-in's loading and
// std::runtime_error (vyxhost::CallError, or its text with the tool's context added) for the
// plug-in's failures and for file errors; report.stage then names the step. Closing the camera
// is timed; report.closeNote says when it took long or failed.
void runGrab(const GrabOptions& options, const std::string& address, const GrabHooks& hooks,
             GrabReport& report);

}  // namespace vyxgrab
