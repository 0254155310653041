// Fuzzes the folder-recording reader (vyxrec/recording.h) with whole folders:
// whatever run.json, description and raw file hold, reading must end in frames
// whose description fits their bytes or in a RecordingError, never a crash, a
// hang or an allocation beyond what the files justify.
//
// An input is one folder:
//   byte 0        bit 0: the folder has a run.json; bit 1: frame_00000.desc exists
//   u16 LE, text  run.json (its length, then its bytes)
//   u8, bytes     frame_00000.desc (its length, then its bytes; 128 for a good one)
//   the rest      frame_00000.raw
// run.json may name any file, in the folder or not: only regular files are read.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz_support.h"
#include "vyxrec/recording.h"

namespace {

// The folder the inputs are written into, made once per process.
const std::string& folder() {
  static const std::string* dir = [] {
    const char* tmp = ::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/fuzz_folder_reader.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) vyxfuzz::require(false, "cannot make a folder");
    static std::string made;  // removed with its files when the process ends
    made = pattern;
    std::atexit([] {
      for (const char* name : {"/run.json", "/frame_00000.desc", "/frame_00000.raw"})
        ::unlink((made + name).c_str());
      ::rmdir(made.c_str());
    });
    return new std::string(pattern);
  }();
  return *dir;
}

void put(const std::string& name, bool present, const uint8_t* data, size_t size) {
  const std::string path = folder() + "/" + name;
  ::unlink(path.c_str());
  if (!present) return;
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vyxfuzz::ByteReader in(data, size);
  const uint8_t flags = in.byte();
  const size_t jsonLength = std::min<size_t>(in.u16(), in.remaining());
  const uint8_t* json = in.rest();
  vyxfuzz::ByteReader after(json + jsonLength, in.remaining() - jsonLength);
  const size_t descLength = std::min<size_t>(after.byte(), after.remaining());
  const uint8_t* desc = after.rest();
  const uint8_t* raw = desc + descLength;
  const size_t rawLength = after.remaining() - descLength;
  put("run.json", (flags & 1) != 0, json, jsonLength);
  put("frame_00000.desc", (flags & 2) != 0, desc, descLength);
  put("frame_00000.raw", true, raw, rawLength);
  try {
    const vyxrec::Recording recording = vyxrec::openRecording(folder());
    for (const vyxrec::RecordedFrame& frame : recording.frames) {
      try {
        const vyxrec::DescribedFrame f = vyxrec::readDescribedFrame(frame);
        vyxfuzz::require(f.raw.size() == f.description.size, "raw bytes as described");
        vyxfuzz::require(
            uint64_t{f.description.std.numRows} * f.description.std.numColumns * 4 <= f.raw.size(),
            "the described images fit in the raw bytes");
      } catch (const vyxrec::RecordingError&) {
      }
      try {
        vyxfuzz::require(vyxrec::readRawFrame(frame).size() <= vyxrec::kMaxRecordingFileBytes,
                         "no more read than a frame file may hold");
      } catch (const vyxrec::RecordingError&) {
      }
    }
  } catch (const vyxrec::RecordingError&) {
  }
  return 0;
}
