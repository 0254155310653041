// The one error type for a recording that cannot be read or written: every
// reader and writer of recordings throws it, naming the file and, where there
// is one, the byte offset at fault.
#ifndef VYXREC_RECORDING_ERROR_H
#define VYXREC_RECORDING_ERROR_H

#include <cstdint>
#include <stdexcept>
#include <string>

namespace vyxrec {

class RecordingError : public std::runtime_error {
 public:
  // "FILE: WHAT" when no position applies.
  RecordingError(const std::string& file, const std::string& what)
      : std::runtime_error(file + ": " + what), file_(file) {}
  // "FILE at byte OFFSET: WHAT".
  RecordingError(const std::string& file, uint64_t offset, const std::string& what)
      : std::runtime_error(file + " at byte " + std::to_string(offset) + ": " + what),
        file_(file),
        offset_(offset),
        hasOffset_(true) {}

  const std::string& file() const { return file_; }
  bool hasOffset() const { return hasOffset_; }
  uint64_t offset() const { return offset_; }

 private:
  std::string file_;
  uint64_t offset_ = 0;
  bool hasOffset_ = false;
};

}  // namespace vyxrec

#endif
