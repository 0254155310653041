// An 8-bit RGB picture in memory, row after row, three bytes per pixel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vyxrec/colormap.h"

namespace vyxrec {

struct RgbImage {
  RgbImage(uint32_t w, uint32_t h, Rgb background)
      : width(w), height(h), pixels(static_cast<size_t>(w) * h * 3) {
    fillRect(0, 0, w, h, background);
  }

  Rgb at(uint32_t x, uint32_t y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    return {pixels[i], pixels[i + 1], pixels[i + 2]};
  }
  // Pixels outside the picture are ignored.
  void set(uint32_t x, uint32_t y, Rgb c) {
    if (x >= width || y >= height) return;
    const size_t i = (static_cast<size_t>(y) * width + x) * 3;
    pixels[i] = c.r;
    pixels[i + 1] = c.g;
    pixels[i + 2] = c.b;
  }
  void fillRect(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, Rgb c) {
    for (uint32_t y = y0; y < y0 + h; ++y) {
      for (uint32_t x = x0; x < x0 + w; ++x) set(x, y, c);
    }
  }

  uint32_t width, height;
  std::vector<uint8_t> pixels;
};

}  // namespace vyxrec
