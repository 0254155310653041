// One grab from start to end: load the plug-in, open the camera, apply the settings, then per
// frame update, fetch the raw bytes and description, convert every image type the frame allows
// and write the files; finally read the settings back.
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
  std::function<std::optional<uint64_t>()> requestsSent;  // image requests the camera received
  ProgressLine* progress = nullptr;
};

// Fills report as it goes. Throws vyxhost::LoadError or vyxhost::CallError for the plug-in's
// failures and std::runtime_error for file errors; report.stage then names the step.
void runGrab(const GrabOptions& options, const std::string& address, const GrabHooks& hooks,
             GrabReport& report);

}  // namespace vyxgrab
