// Grabs one frame from the camera at argv[1] with the installed loader and plug-in, converts its
// distance image and prints where the plug-in came from and the image's size and range.
#include <cstdio>
#include <exception>
#include <vector>

#include "vyxhost/locate.h"
#include "vyxhost/vyxhost.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer CAMERA-ADDRESS\n");
    return 2;
  }
  try {
    const std::string path = vyxhost::findPlugin();
    vyxhost::Plugin plugin(path);
    vyxhost::SourceInstance camera(plugin, 1, argv[1]);
    vyxhost::ProcessingInstance processing(plugin, 1);
    camera.update();
    std::vector<uint8_t> raw;
    camera.rawData(raw);
    const VYXDataDescription desc = camera.description();
    const int bytes = processing.canProcess(VYX_TYPE_10001, desc);
    if (bytes <= 0) throw std::runtime_error("the frame holds no distance image");
    std::vector<float> distance(static_cast<size_t>(bytes) / sizeof(float));
    const VYXDataDescription out =
        processing.process(VYX_TYPE_10001, desc, raw.data(), distance.data(), distance.size() * 4);
    float lo = distance[0], hi = distance[0];
    for (float v : distance) lo = v < lo ? v : lo, hi = v > hi ? v : hi;
    std::printf("plugin %s\ndistance %u x %u, %.3f .. %.3f m\n", path.c_str(), out.std.numColumns,
                out.std.numRows, lo, hi);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "consumer: %s\n", e.what());
    return 1;
  }
  return 0;
}
