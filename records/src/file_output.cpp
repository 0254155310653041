#include "vyxrec/file_output.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace vyxrec {

namespace {

std::runtime_error fileError(const std::string& what, const std::string& path, int error) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

}  // namespace

void writeFile(const std::string& path, const void* bytes, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw fileError("cannot create", path, errno);
  const bool written = size == 0 || std::fwrite(bytes, 1, size, f) == size;
  const int writeErrno = errno;
  const bool closed = std::fclose(f) == 0;
  // A file cut short (disk full, size limit) is not left behind as if it were whole.
  const int closeErrno = errno;
  if (!written || !closed) std::remove(path.c_str());
  if (!written) throw fileError("cannot write", path, writeErrno);
  if (!closed) throw fileError("cannot write", path, closeErrno);
}

void makeDirectories(const std::string& path) {
  if (path.empty()) throw std::runtime_error("empty output directory name");
  // Create every prefix that ends just before a '/', then the path itself.
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      throw fileError("cannot create directory", prefix, errno);
    }
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw fileError("cannot use", path, errno);
  if (!S_ISDIR(st.st_mode)) throw std::runtime_error("not a directory: " + path);
}

}  // namespace vyxrec
