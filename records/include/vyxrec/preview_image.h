// The false-colour preview of a float image: the image enlarged with nearest-neighbour pixels and
// coloured over its finite min..max, with a colour bar on the right that runs from the largest
// value at the top to the smallest at the bottom, labelled with max, middle and min.
#pragma once

#include <cstdint>

#include "vyxrec/rgb_image.h"
#include "vyxrec/value_range.h"

namespace vyxrec {

// Colours of the parts of a preview that do not come from the colour scale.
constexpr Rgb kPreviewBackground{24, 24, 24};
constexpr Rgb kPreviewInvalidPixel{128, 128, 128};  // NaN or infinite value
constexpr Rgb kPreviewText{235, 235, 235};

struct PreviewLayout {
  uint32_t zoom;            // each image pixel becomes zoom x zoom pixels
  uint32_t imageX, imageY;  // top left corner of the enlarged image
  uint32_t barX, barY, barWidth, barHeight;
  uint32_t labelX;
};

// values holds rows * columns floats, row after row; zoom must be at least 1. The size of a
// preview depends only on columns, rows and zoom, so the previews of a run can become a video.
PreviewLayout previewLayout(uint32_t columns, uint32_t rows, uint32_t zoom);
// Coloured over the image's own finite min..max.
RgbImage renderPreview(const float* values, uint32_t columns, uint32_t rows, uint32_t zoom);
// Coloured over range; finite values outside it take the end colours and are counted in
// *clipped when clipped is given.
RgbImage renderPreview(const float* values, uint32_t columns, uint32_t rows, uint32_t zoom,
                       const ValueRange& range, uint64_t* clipped);

}  // namespace vyxrec
