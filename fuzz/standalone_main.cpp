// Replays fuzz inputs without libFuzzer: every file named on the command line,
// and every file inside a directory named there (in name order), goes once
// through the target's LLVMFuzzerTestOneInput. A broken invariant or a crash
// ends the program abnormally, so a corpus replays as a regression test.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional in a target, as with libFuzzer.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool isDirectory(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> files;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* entry = ::readdir(d)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = dir + "/" + name;
      if (!isDirectory(path)) files.push_back(path);
    }
    ::closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool replay(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  file.seekg(0, std::ios::end);
  const std::streamoff length = file.tellg();
  file.seekg(0, std::ios::beg);
  // A heap copy of exactly the input's size, as libFuzzer hands it over; never
  // a null pointer, not even for an empty input.
  std::vector<uint8_t> input(static_cast<size_t>(length));
  input.reserve(1);
  if (!file.read(reinterpret_cast<char*>(input.data()), length)) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  LLVMFuzzerTestOneInput(input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE_OR_DIRECTORY...\n", argv[0]);
    return 2;
  }
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  size_t replayed = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const std::vector<std::string> files =
        isDirectory(arg) ? filesIn(arg) : std::vector<std::string>{arg};
    for (const std::string& path : files) {
      if (!replay(path)) return 1;
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::printf("%zu inputs replayed without a finding\n", replayed);
  return 0;
}
