#include "mcap_file_out.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "mcap_bytes.h"
#include "vyxrec/recording_error.h"

namespace vyxrec::mcap {

FileOut::FileOut(const std::string& path) : path_(path) {
  // O_NONBLOCK so that a FIFO in the way is refused instead of waited on.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
  if (fd_ < 0) throw RecordingError(path, std::string("cannot create: ") + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw RecordingError(path, "not a regular file");
  }
  const int flags = ::fcntl(fd_, F_GETFL);
  if (flags < 0 || ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) != 0 || ::ftruncate(fd_, 0) != 0) {
    const int err = errno;
    ::close(fd_);
    fd_ = -1;
    throw RecordingError(path, std::string("cannot create: ") + std::strerror(err));
  }
  restartCrc();
}

FileOut::~FileOut() {
  if (fd_ >= 0) ::close(fd_);
}

void FileOut::restartCrc() { crc_ = 0; }

void FileOut::append(const void* data, size_t size) {
  if (fd_ < 0) throw RecordingError(path_, offset_, "the file is closed");
  const auto* p = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd_, p + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    const int err = n < 0 ? errno : ENOSPC;
    // Leave the file ending on the last whole write: a reader then sees a clean cut.
    if (::ftruncate(fd_, static_cast<off_t>(offset_)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(offset_), SEEK_SET) < 0) {
      // Nothing better to do: the reader stops at the partial record.
    }
    throw RecordingError(path_, offset_, std::string("cannot write: ") + std::strerror(err));
  }
  crc_ = bytes::crc32(p, size, crc_);
  offset_ += size;
}

void FileOut::close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  // The data must be on the disk before we say the file is whole: a full disk
  // often shows only here.
  const bool synced = ::fdatasync(fd) == 0 || errno == EINVAL;
  const int syncErr = errno;
  const bool closed = ::close(fd) == 0;
  if (!synced || !closed) {
    throw RecordingError(path_, offset_,
                         std::string("cannot close: ") + std::strerror(synced ? errno : syncErr));
  }
}

}  // namespace vyxrec::mcap
