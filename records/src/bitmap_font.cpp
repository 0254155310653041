#include "vyxrec/bitmap_font.h"

#include <array>

namespace vyxrec {

namespace {

struct Glyph {
  char c;
  std::array<uint8_t, kGlyphHeight> rows;  // bit 4 is the leftmost pixel
};

constexpr std::array<Glyph, 14> kGlyphs = {{
    {'0', {0x0e, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0e}},
    {'1', {0x04, 0x0c, 0x04, 0x04, 0x04, 0x04, 0x0e}},
    {'2', {0x0e, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1f}},
    {'3', {0x1f, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0e}},
    {'4', {0x02, 0x06, 0x0a, 0x12, 0x1f, 0x02, 0x02}},
    {'5', {0x1f, 0x10, 0x1e, 0x01, 0x01, 0x11, 0x0e}},
    {'6', {0x06, 0x08, 0x10, 0x1e, 0x11, 0x11, 0x0e}},
    {'7', {0x1f, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0e, 0x11, 0x11, 0x0e, 0x11, 0x11, 0x0e}},
    {'9', {0x0e, 0x11, 0x11, 0x0f, 0x01, 0x02, 0x0c}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0c, 0x0c}},
    {'-', {0x00, 0x00, 0x00, 0x1f, 0x00, 0x00, 0x00}},
    {'+', {0x00, 0x04, 0x04, 0x1f, 0x04, 0x04, 0x00}},
    {'e', {0x00, 0x00, 0x0e, 0x11, 0x1f, 0x10, 0x0e}},
}};

const Glyph* findGlyph(char c) {
  for (const Glyph& g : kGlyphs) {
    if (g.c == c) return &g;
  }
  return nullptr;
}

}  // namespace

uint32_t textWidth(const std::string& text, uint32_t scale) {
  if (text.empty()) return 0;
  return (static_cast<uint32_t>(text.size()) * kGlyphAdvance - (kGlyphAdvance - kGlyphWidth)) *
         scale;
}

void drawText(RgbImage& image, uint32_t x, uint32_t y, const std::string& text, uint32_t scale,
              Rgb colour) {
  for (size_t i = 0; i < text.size(); ++i) {
    const Glyph* glyph = findGlyph(text[i]);
    if (glyph == nullptr) continue;
    const uint32_t left = x + static_cast<uint32_t>(i) * kGlyphAdvance * scale;
    for (uint32_t row = 0; row < kGlyphHeight; ++row) {
      for (uint32_t col = 0; col < kGlyphWidth; ++col) {
        if ((glyph->rows[row] >> (kGlyphWidth - 1 - col) & 1) == 0) continue;
        image.fillRect(left + col * scale, y + row * scale, scale, scale, colour);
      }
    }
  }
}

}  // namespace vyxrec
