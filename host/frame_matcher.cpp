#include "vyxhost/frame_matcher.h"

namespace vyxhost {

std::optional<size_t> unmatchedHead(const std::vector<int64_t>& headStamps, int64_t periodNs) {
  if (headStamps.empty()) return std::nullopt;
  size_t oldest = 0, newest = 0;
  for (size_t i = 1; i < headStamps.size(); ++i) {
    if (headStamps[i] < headStamps[oldest]) oldest = i;
    if (headStamps[i] > headStamps[newest]) newest = i;
  }
  // Twice the spread against the period: exact in integers, "less than half a period".
  const int64_t spread = headStamps[newest] - headStamps[oldest];
  if (2 * spread < periodNs) return std::nullopt;
  return oldest;
}

}  // namespace vyxhost
