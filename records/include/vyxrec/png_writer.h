// PNG files through libpng: 16-bit grayscale for the scaled measurement values and 8-bit RGB for
// the false-colour previews.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vyxrec {

// Key and text of the tEXt chunks stored with an image.
using PngText = std::vector<std::pair<std::string, std::string>>;

// Writes width * height 16-bit samples, row after row, in host byte order (PNG stores them
// big-endian; the writer takes care of that), with the given text chunks. Throws
// std::runtime_error naming the file on failure.
void writePngGray16(const std::string& path, const uint16_t* samples, uint32_t width,
                    uint32_t height, const PngText& text = {});

// Writes width * height pixels of three bytes (red, green, blue), row after row.
void writePngRgb8(const std::string& path, const uint8_t* rgb, uint32_t width, uint32_t height);

}  // namespace vyxrec
