// The output folder of a run: one run per folder, so that run.json always describes every
// recorded file in it.
#pragma once

#include <string>

namespace vyxgrab {

// Creates dir if needed. A folder that already holds a run (its run.json) is refused with a
// std::runtime_error that says what to do, unless overwrite is set: then the files that run's
// manifest lists, and the manifest itself, are removed first. Returns how many files were removed.
size_t claimRunFolder(const std::string& dir, bool overwrite);

}  // namespace vyxgrab
