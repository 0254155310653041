#include "vyxrec/preview_image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "vyxrec/bitmap_font.h"

namespace vyxrec {

namespace {

constexpr uint32_t kPad = 8;
// Room for the longest label "%.4g" makes, e.g. "-1.235e+38".
constexpr size_t kLabelChars = 10;

uint32_t textScaleFor(uint32_t zoom) { return std::max<uint32_t>(1, zoom / 2); }

std::string label(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

}  // namespace

PreviewLayout previewLayout(uint32_t columns, uint32_t rows, uint32_t zoom) {
  PreviewLayout l{};
  l.zoom = std::max<uint32_t>(1, zoom);
  l.imageX = kPad;
  l.imageY = kPad;
  l.barX = l.imageX + columns * l.zoom + kPad;
  l.barY = l.imageY;
  l.barWidth = std::max<uint32_t>(8, 3 * l.zoom);
  l.barHeight = rows * l.zoom;
  l.labelX = l.barX + l.barWidth + kPad / 2;
  return l;
}

RgbImage renderPreview(const float* values, uint32_t columns, uint32_t rows, uint32_t zoom) {
  return renderPreview(values, columns, rows, zoom,
                       finiteRange(values, static_cast<size_t>(columns) * rows), nullptr);
}

RgbImage renderPreview(const float* values, uint32_t columns, uint32_t rows, uint32_t zoom,
                       const ValueRange& range, uint64_t* clipped) {
  const PreviewLayout l = previewLayout(columns, rows, zoom);
  const uint32_t textScale = textScaleFor(l.zoom);

  std::string labels[3];  // top (max), middle, bottom (min)
  if (!range.empty) {
    labels[0] = label(range.max);
    labels[1] = label((static_cast<double>(range.min) + range.max) / 2.0);
    labels[2] = label(range.min);
  }
  const uint32_t labelWidth = textWidth(std::string(kLabelChars, '0'), textScale);
  const uint32_t width = l.labelX + labelWidth + kPad;
  const uint32_t height = std::max(l.barY + l.barHeight, textHeight(textScale) * 3) + kPad;
  RgbImage image(width, height, kPreviewBackground);

  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      const float v = values[static_cast<size_t>(r) * columns + c];
      const bool finite = std::isfinite(v);
      if (finite && clipped != nullptr && (v < range.min || v > range.max)) ++*clipped;
      const Rgb colour =
          finite && !range.empty ? colormap(normalise(v, range)) : kPreviewInvalidPixel;
      image.fillRect(l.imageX + c * l.zoom, l.imageY + r * l.zoom, l.zoom, l.zoom, colour);
    }
  }

  // The bar: top row is max, bottom row is min.
  for (uint32_t y = 0; y < l.barHeight; ++y) {
    const float t =
        l.barHeight > 1 ? 1.0f - static_cast<float>(y) / static_cast<float>(l.barHeight - 1) : 1.0f;
    image.fillRect(l.barX, l.barY + y, l.barWidth, 1, colormap(t));
  }

  if (!range.empty) {
    const uint32_t th = textHeight(textScale);
    const uint32_t bottom = l.barY + l.barHeight;
    const uint32_t top[3] = {l.barY, l.barY + (l.barHeight > th ? (l.barHeight - th) / 2 : 0),
                             bottom > th ? bottom - th : 0};
    for (int i = 0; i < 3; ++i)
      drawText(image, l.labelX, top[i], labels[i], textScale, kPreviewText);
  }
  return image;
}

}  // namespace vyxrec
