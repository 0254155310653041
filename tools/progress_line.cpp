#include "progress_line.h"

#include <cinttypes>

namespace vyxgrab {

std::string progressText(uint64_t done, uint64_t total, double seconds) {
  char text[96];
  const double rate = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
  if (total > 0) {
    std::snprintf(text, sizeof text, "frame %" PRIu64 "/%" PRIu64 "  %.1f frames/s", done, total,
                  rate);
  } else {
    std::snprintf(text, sizeof text, "frame %" PRIu64 "  %.1f frames/s  (Ctrl-C stops)", done,
                  rate);
  }
  return text;
}

std::string cameraProgressText(const std::string& name, uint64_t done, uint64_t total,
                               uint64_t stalls, uint64_t losses, uint64_t reconnects,
                               double latencySeconds, bool failed) {
  char text[160];
  const std::string of = total > 0 ? "/" + std::to_string(total) : std::string();
  if (failed) {
    std::snprintf(text, sizeof text, "%s %" PRIu64 "%s failed", name.c_str(), done, of.c_str());
  } else {
    std::snprintf(text, sizeof text,
                  "%s %" PRIu64 "%s s%" PRIu64 " l%" PRIu64 " r%" PRIu64 " %.0fms", name.c_str(),
                  done, of.c_str(), stalls, losses, reconnects, latencySeconds * 1000.0);
  }
  return text;
}

void ProgressLine::update(uint64_t done, uint64_t total, double seconds) {
  if (!enabled_) return;
  updateText(progressText(done, total, seconds), total > 0 && done == total);
}

void ProgressLine::updateText(const std::string& text, bool last) {
  if (!enabled_) return;
  latest_ = text;
  if (shown_ && !last && Clock::now() - lastShown_ < std::chrono::milliseconds(100)) {
    heldBack_ = true;
    return;
  }
  show();
}

void ProgressLine::show() {
  // "\033[K" clears what a longer earlier line left to the right.
  std::fprintf(out_, "\r%s\033[K", latest_.c_str());
  std::fflush(out_);
  shown_ = true;
  heldBack_ = false;
  lastShown_ = Clock::now();
}

void ProgressLine::finish() {
  if (!enabled_ || latest_.empty()) return;
  if (heldBack_) show();
  std::fputc('\n', out_);
  std::fflush(out_);
  latest_.clear();
  shown_ = false;
}

}  // namespace vyxgrab
