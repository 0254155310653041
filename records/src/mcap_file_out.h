// The file under an MCAP writer: appends whole buffers with write(2) (so what
// was written survives the process being killed), keeps the running offset and
// CRC, and after a failed write cuts the file back to the last whole write so
// it still ends on a record boundary.
#ifndef VYXREC_MCAP_FILE_OUT_H
#define VYXREC_MCAP_FILE_OUT_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vyxrec::mcap {

class FileOut {
 public:
  explicit FileOut(const std::string& path);  // throws RecordingError
  ~FileOut();
  FileOut(const FileOut&) = delete;
  FileOut& operator=(const FileOut&) = delete;

  void append(const void* data, size_t size);  // throws RecordingError
  // Flushes to the disk and closes; throws RecordingError.
  void close();

  uint64_t offset() const { return offset_; }
  // CRC32 of everything appended since the last restartCrc().
  uint32_t crc() const { return crc_; }
  void restartCrc();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  uint64_t offset_ = 0;
  uint32_t crc_ = 0;
};

}  // namespace vyxrec::mcap

#endif
