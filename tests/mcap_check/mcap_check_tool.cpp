// The C++ half of the check by the format's own readers (check.mjs):
//   mcap_check_tool write FILE.mcap TRUTH.bin FRAMES   records 2 cameras' known frames,
//        and writes the truth: per frame and camera, the uint64 stamp and the
//        distance and amplitude floats, little-endian
//   mcap_check_tool count FILE.mcap                    prints how many frames our
//        playback reads from a (possibly cut) file
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include "recording_fixture.h"
#include "vyxrec/mcap_playback.h"

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "write" && argc == 5) {
      const unsigned cameras = 2;
      const uint64_t frames = std::strtoull(argv[4], nullptr, 10);
      vyxrec::McapWriterOptions options;
      options.chunkBytes = 256u << 10;  // several chunks, for the cut
      vyxtest::recWrite(argv[2], cameras, frames, options);
      std::ofstream truth(argv[3], std::ios::binary);
      vyxtest::RecFrame f;
      for (uint64_t n = 0; n < frames; ++n) {
        for (unsigned c = 0; c < cameras; ++c) {
          vyxtest::recFill(c, n, f);
          const uint64_t stamp = vyxtest::recStamp(n);
          truth.write(reinterpret_cast<const char*>(&stamp), sizeof stamp);
          truth.write(reinterpret_cast<const char*>(f.distance.data()), f.distance.size() * 4);
          truth.write(reinterpret_cast<const char*>(f.amplitude.data()), f.amplitude.size() * 4);
        }
      }
      return truth ? 0 : 1;
    }
    if (mode == "count" && argc == 3) {
      vyxrec::McapPlayback play(argv[2]);
      vyxrec::PlaybackFrame f;
      uint64_t frames = 0;
      while (play.next(f)) ++frames;
      std::printf("%llu\n", static_cast<unsigned long long>(frames));
      return 0;
    }
    std::fprintf(stderr, "usage: %s write FILE TRUTH FRAMES | count FILE\n", argv[0]);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
