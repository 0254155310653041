// vyxgrab --convert FILE.mcap --out DIR: today's per-frame files made from a recording, each frame
// converted from its recorded raw data by the plug-in exactly as a live grab converts it.
#pragma once

#include "grab_options.h"
#include "grab_report.h"

namespace vyxgrab {

// The recording's camera named by options.name, or its first camera when none has that name.
// Fills report as it goes (frames, files, stage). Throws vyxrec::RecordingError for a recording
// that cannot be read, vyxhost::LoadError for the plug-in, std::runtime_error for file errors. A
// recording cut short (a recorder that was killed) is converted up to its last whole frame and
// report.closeNote says where it stopped.
void runConvert(const GrabOptions& options, GrabReport& report);

}  // namespace vyxgrab
