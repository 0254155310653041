// The C++ half of the check by the format's own readers (check.mjs):
//   mcap_check_tool write FILE.mcap TRUTH.bin FRAMES   records 2 cameras' known frames,
//        and writes the truth: per frame and camera, the uint64 stamp and the
//        distance and amplitude floats, little-endian
//   mcap_check_tool count FILE.mcap                    prints how many frames our
//        playback reads from a (possibly cut) file
//   mcap_check_tool seeds DIR                          writes the fuzz seeds
//        (fuzz/corpus/fuzz_mcap_reader): small real recordings, whole and cut
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "recording_fixture.h"
#include "vyxrec/mcap_playback.h"

namespace {

// Recordings small enough for a fuzzer: 4 x 2 images and a 16-byte raw block.
void writeSeeds(const std::string& dir) {
  for (int variant = 0; variant < 2; ++variant) {
    vyxrec::McapWriterOptions options;
    options.compress = variant == 0;
    options.chunkBytes = 600;  // a few chunks
    const std::string path = dir + (variant == 0 ? "/tiny-zstd.mcap" : "/tiny-plain.mcap");
    {
      vyxrec::McapRecorder rec(path, "{\"seed\": true}", options);
      const int cam = rec.addCamera("cam0");
      auto info = vyxtest::recInfo(0, 0);
      info.width = 4;
      info.height = 2;
      rec.cameraInfo(cam, info);
      std::vector<float> distance(8), amplitude(8);
      std::vector<uint8_t> raw(16);
      VYXDataDescription desc{};
      desc.type = VYX_TYPE_50003;
      for (uint64_t n = 0; n < 3; ++n) {
        for (unsigned i = 0; i < 8; ++i) {
          distance[i] = vyxtest::recPixel(0, n, 0, i);
          amplitude[i] = vyxtest::recPixel(0, n, 1, i);
          raw[i] = static_cast<uint8_t>(n + i);
        }
        rec.record(cam, {vyxtest::recStamp(n), &desc, raw.data(), raw.size(), distance.data(),
                         amplitude.data(), 4, 2});
      }
      rec.finish(vyxtest::recCounters(3));
    }
    if (variant == 0) {  // the same file cut inside its summary: read in streaming mode
      std::ifstream in(path, std::ios::binary);
      std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
      std::ofstream(dir + "/tiny-cut.mcap", std::ios::binary)
          .write(bytes.data(), static_cast<std::streamsize>(bytes.size() * 3 / 4));
    }
  }
  vyxtest::recWrite(dir + "/one-frame.mcap", 1, 1);
}

}  // namespace

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
          truth.write(reinterpret_cast<const char*>(f.distance.data()),
                      static_cast<std::streamsize>(f.distance.size() * 4));
          truth.write(reinterpret_cast<const char*>(f.amplitude.data()),
                      static_cast<std::streamsize>(f.amplitude.size() * 4));
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
    if (mode == "info" && argc == 3) {
      // What a door's test checks of a recording: frames per camera, the metadata records.
      vyxrec::McapPlayback play(argv[2]);
      vyxrec::PlaybackFrame f;
      std::map<std::string, uint64_t> frames;
      while (play.next(f)) ++frames[play.cameras()[f.camera]];
      std::string cameras;
      for (const auto& [name, count] : frames)
        cameras += (cameras.empty() ? "\"" : ",\"") + name + "\":" + std::to_string(count);
      const std::string failure = play.failure();
      std::printf("{\"cameras\":{%s},\"complete\":%s,\"run\":%s,\"counters\":%s,\"failed\":%s}\n",
                  cameras.c_str(), play.complete() ? "true" : "false",
                  play.runManifest().empty() ? "null" : play.runManifest().c_str(),
                  play.counters().empty() ? "null" : play.counters().c_str(),
                  failure.empty() ? "false" : "true");
      return 0;
    }
    if (mode == "seeds" && argc == 3) {
      writeSeeds(argv[2]);
      return 0;
    }
    std::fprintf(stderr, "usage: %s write FILE TRUTH FRAMES | count FILE | info FILE | seeds DIR\n",
                 argv[0]);
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
