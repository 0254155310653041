#include "vyxrec/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vyxrec/recording_error.h"

namespace vyxrec {

namespace {

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

std::vector<uint8_t> readRegularFile(const std::string& path, uint64_t maxBytes) {
  // O_NONBLOCK: a FIFO in the way is refused at fstat instead of waited on.
  const Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0) {
    const int error = errno;
    throw RecordingError(path, std::string("cannot be opened: ") + std::strerror(error));
  }
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) throw RecordingError(path, "cannot be examined");
  if (!S_ISREG(st.st_mode))
    throw RecordingError(path, std::string("is ") + kindOf(st.st_mode) +
                                   ", not a regular file; only regular files are read");
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  if (size > maxBytes)
    throw RecordingError(path, maxBytes,
                         "the file holds " + std::to_string(size) + " bytes, more than the " +
                             std::to_string(maxBytes) + " such a file can have");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(file.fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0)
      throw RecordingError(path, done, std::string("read failed: ") + std::strerror(errno));
    if (n == 0) break;  // shrank while being read: what is there is judged by the caller
    done += static_cast<size_t>(n);
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace vyxrec
