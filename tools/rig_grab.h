// Several cameras in one grab (--address given more than once): each camera grabs on a thread of
// its own through its own camera session (runGrab), all into one recording. A camera that fails
// stops the others unless --keep-going; the recording is closed properly either way.
#pragma once

#include <cstdio>
#include <functional>

#include "grab_options.h"
#include "progress_line.h"

namespace vyxgrab {

struct RigHooks {
  std::function<bool()> stopRequested;  // Ctrl-C and the like
  std::function<int()> stopSignal;
  ProgressLine* progress = nullptr;
};

// Grabs, prints the summary to out and the failures to err; returns the exit status: 0, 1 when a
// camera or the recording failed, 128 + the signal's number when stopped by one.
int runRig(const GrabOptions& options, const RigHooks& hooks, std::FILE* out, std::FILE* err);

}  // namespace vyxgrab
