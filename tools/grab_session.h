// One grab from start to end on the camera session (vyxhost::Camera): find and load the plug-in,
// claim the output folder, open the camera, check and apply the settings, then per frame grab,
// convert every image type the frame allows and write the files and the run's manifest; finally
// read the settings back and close the camera.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "grab_options.h"
#include "grab_output.h"
#include "grab_report.h"
#include "progress_line.h"
#include "vyxhost/lens.h"
#include "wait_note.h"

namespace vyxgrab {

struct GrabHooks {
  std::function<bool()> stopRequested;                    // checked before every frame
  std::function<int()> stopSignal;                        // the signal that asked to stop
  std::function<std::optional<uint64_t>()> requestsSent;  // image requests the camera received
  ProgressLine* progress = nullptr;
  WaitNote* waiting = nullptr;  // told what the grab waits for, while it waits
  bool simulated = false;       // for the manifest: the camera is vyxgrab's own simulator
  std::string replay;           // and replays this recording
  // The lens the simulator renders through; used when no --calibration is given.
  std::optional<vyxhost::LensModel> lens;
  // Where the frames go; none: the output --out names (a folder, or one camera's recording).
  std::function<std::unique_ptr<GrabOutput>()> output;
  // After each frame is written, with the report so far (a rig's progress line).
  std::function<void(const GrabReport&)> frameDone;
};

// Fills report as it goes. Throws vyxhost::LoadError for the plug-in's loading,
// vyxhost::CameraError for the camera's failures and std::runtime_error for settings out of
// range and file errors; report.stage then names the step. A camera that no longer answers is
// closed in the background; report.closeNote then says so.
void runGrab(const GrabOptions& options, const std::string& address, const GrabHooks& hooks,
             GrabReport& report);

}  // namespace vyxgrab
