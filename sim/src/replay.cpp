#include "lvtsim/replay.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "lvtwire/frame_format.h"

namespace lvtsim {
namespace {

// A header word that must hold a whole byte count of at least `min`.
bool wholeCount(float v, double min, double limit) {
  return std::isfinite(v) && v >= min && v <= limit && std::floor(v) == v;
}

}  // namespace

std::vector<std::vector<uint8_t>> splitFrame(const std::vector<uint8_t>& frame) {
  std::vector<std::vector<uint8_t>> blocks;
  size_t offset = 0;
  while (offset < frame.size()) {
    const std::string where = "image block at byte " + std::to_string(offset);
    const size_t left = frame.size() - offset;
    if (left < 8) throw std::invalid_argument(where + ": header cut short");
    const float size = lvtwire::getFloatBE(frame.data() + offset);
    const float headerSize = lvtwire::getFloatBE(frame.data() + offset + lvtwire::kWordBytes);
    if (!wholeCount(headerSize, 8, static_cast<double>(left)))
      throw std::invalid_argument(where + ": bad header size");
    if (!wholeCount(size, 0, static_cast<double>(left)))
      throw std::invalid_argument(where + ": bad data size");
    const size_t length = static_cast<size_t>(headerSize) + static_cast<size_t>(size);
    if (length > left) throw std::invalid_argument(where + ": runs past the end of the frame");
    const auto begin = frame.begin() + static_cast<std::ptrdiff_t>(offset);
    blocks.emplace_back(begin, begin + static_cast<std::ptrdiff_t>(length));
    offset += length;
  }
  return blocks;
}

std::vector<std::vector<uint8_t>> loadReplayFrames(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    const bool isFrame = name.size() >= 10 && name.compare(0, 6, "frame_") == 0 &&
                         name.compare(name.size() - 4, 4, ".raw") == 0;
    if (isFrame && it->is_regular_file()) files.push_back(it->path());
  }
  if (ec) throw std::runtime_error("cannot read replay directory " + dir + ": " + ec.message());
  if (files.empty()) throw std::runtime_error("no frame_*.raw files in " + dir);
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });

  std::vector<std::vector<uint8_t>> frames;
  for (const fs::path& file : files) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + file.string());
    frames.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return frames;
}

}  // namespace lvtsim
