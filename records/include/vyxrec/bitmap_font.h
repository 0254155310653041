// A tiny 5 x 7 pixel font for the numbers on a preview's colour bar: digits, '.', '-', '+' and
// 'e'; any other character is drawn as a blank.
#pragma once

#include <cstdint>
#include <string>

#include "vyxrec/rgb_image.h"

namespace vyxrec {

constexpr uint32_t kGlyphWidth = 5, kGlyphHeight = 7, kGlyphAdvance = 6;

// Width and height of the text drawn at the given scale (each font pixel a scale x scale square).
uint32_t textWidth(const std::string& text, uint32_t scale);
inline uint32_t textHeight(uint32_t scale) { return kGlyphHeight * scale; }

// Draws the text with its top left corner at (x, y).
void drawText(RgbImage& image, uint32_t x, uint32_t y, const std::string& text, uint32_t scale,
              Rgb colour);

}  // namespace vyxrec
