#include "wait_note.h"

#include <cstdio>

namespace vyxgrab {

WaitNote::Scope::Scope(WaitNote* note, std::string what) : note_(note) {
  if (note_ == nullptr) return;
  const std::lock_guard<std::mutex> lock(note_->mutex_);
  note_->what_ = std::move(what);
  note_->since_ = std::chrono::steady_clock::now();
}

WaitNote::Scope::~Scope() {
  if (note_ == nullptr) return;
  const std::lock_guard<std::mutex> lock(note_->mutex_);
  note_->what_.clear();
}

std::string WaitNote::describe() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (what_.empty()) return std::string();
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - since_).count();
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f s", waited);
  return "waiting for " + what_ + ", " + seconds + " so far";
}

}  // namespace vyxgrab
