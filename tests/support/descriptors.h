// Counting the open file descriptors of this process, for checks that a
// call leaves none behind.
#ifndef VYX_TESTS_DESCRIPTORS_H
#define VYX_TESTS_DESCRIPTORS_H

#include <dirent.h>

namespace vyxtest {

// Open file descriptors of this process.
inline int openDescriptors() {
  int count = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++count;
    ::closedir(d);
  }
  return count - 3;  // ".", ".." and the directory's own descriptor
}

}  // namespace vyxtest

#endif
