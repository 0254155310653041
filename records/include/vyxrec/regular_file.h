// Reading a whole small file of a recording safely: only a regular file (a link to /dev/zero, a
// FIFO or a folder in its place is refused without waiting on it), and never more than a limit
// the caller's format sets.
#ifndef VYXREC_REGULAR_FILE_H
#define VYXREC_REGULAR_FILE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vyxrec {

// The file's bytes. Throws RecordingError naming the file when it is not there, is not a regular
// file, holds more than maxBytes, or cannot be read.
std::vector<uint8_t> readRegularFile(const std::string& path, uint64_t maxBytes);

}  // namespace vyxrec

#endif
