// The tools' exit statuses, as their manual pages give them.
#pragma once

namespace vyxtools {

constexpr int kExitError = 1;         // the work failed; the message says why
constexpr int kExitUsage = 2;         // the command line was refused before anything started
constexpr int kExitSignalBase = 128;  // stopped by a signal: 128 + its number, as shells report

}  // namespace vyxtools
