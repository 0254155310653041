// A fresh directory under /tmp for a test's files, removed with everything
// in it when the test is done.
#ifndef VYX_TESTS_TEMP_DIR_H
#define VYX_TESTS_TEMP_DIR_H

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace vyxtest {

class TempDir {
 public:
  explicit TempDir(const std::string& prefix = "vyxtest") {
    std::string pattern = "/tmp/" + prefix + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) != nullptr) path_ = name.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace vyxtest

#endif
