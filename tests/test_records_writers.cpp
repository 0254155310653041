// A recording's image files: the NPY header and data bytes, PNG files read back through libpng
// (signature, IHDR, 16-bit byte order, pixels), the colour scale and the preview's layout.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "temp_dir.h"
#include "vyxhost/output_types.h"
#include "vyxrec/colormap.h"
#include "vyxrec/frame_file_names.h"
#include "vyxrec/npy_writer.h"
#include "vyxrec/png_writer.h"
#include "vyxrec/preview_image.h"
#include "vyxrec/value_range.h"

namespace {

using namespace vyxrec;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

using vyxtest::TempDir;

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A PNG as libpng reads it without any transformation: rows hold the file's sample bytes.
struct DecodedPng {
  uint32_t width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  std::vector<std::vector<uint8_t>> rows;
};

bool decodePng(const std::string& path, DecodedPng& out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_read_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  out.width = png_get_image_width(png, info);
  out.height = png_get_image_height(png, info);
  out.bitDepth = png_get_bit_depth(png, info);
  out.colorType = png_get_color_type(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  png_bytepp rows = png_get_rows(png, info);
  for (uint32_t y = 0; y < out.height; ++y) out.rows.emplace_back(rows[y], rows[y] + rowBytes);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return true;
}

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

TEST(NpyWriter, HeaderForTheCameraImageIsExactlyNumpyVersion1) {
  const std::string expected = std::string("\x93NUMPY\x01\x00\x76\x00", 10) +
                               "{'descr': '<f4', 'fortran_order': False, 'shape': (50, 64), }" +
                               std::string(56, ' ') + "\n";
  EXPECT_EQ(npyHeader(50, 64), expected);
  EXPECT_EQ(expected.size(), 128u);
}

TEST(NpyWriter, HeaderStaysAlignedAndEndsInANewlineForLargeShapes) {
  for (const auto& shape :
       {std::pair<size_t, size_t>{1, 1}, {4096, 4096}, {123456789, 987654321}}) {
    const std::string h = npyHeader(shape.first, shape.second);
    EXPECT_EQ(h.size() % 64, 0u);
    EXPECT_EQ(h.back(), '\n');
    const size_t declared = static_cast<uint8_t>(h[8]) | static_cast<uint8_t>(h[9]) << 8;
    EXPECT_EQ(declared, h.size() - 10);
    EXPECT_NE(h.find("'shape': (" + std::to_string(shape.first) + ", " +
                     std::to_string(shape.second) + "), }"),
              std::string::npos);
  }
}

TEST(NpyWriter, DataFollowsTheHeaderAsLittleEndianFloatsRowAfterRow) {
  TempDir dir;
  const float values[6] = {1.0f, -2.0f, 0.5f, kNaN, 3.25f, 0.0f};
  writeNpyFloat32(dir.file("a.npy"), values, 2, 3);
  const std::vector<uint8_t> bytes = readAll(dir.file("a.npy"));
  const std::string header = npyHeader(2, 3);
  ASSERT_EQ(bytes.size(), header.size() + sizeof values);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + header.size()), header);
  // 1.0f = 0x3f800000, -2.0f = 0xc0000000, 3.25f = 0x40500000, stored low byte first.
  const uint8_t* data = bytes.data() + header.size();
  EXPECT_EQ(std::vector<uint8_t>(data, data + 8),
            (std::vector<uint8_t>{0x00, 0x00, 0x80, 0x3f, 0x00, 0x00, 0x00, 0xc0}));
  EXPECT_EQ(std::vector<uint8_t>(data + 16, data + 20), (std::vector<uint8_t>{0, 0, 0x50, 0x40}));
  float nan;
  std::memcpy(&nan, data + 12, 4);
  EXPECT_TRUE(std::isnan(nan));
}

TEST(NpyWriter, UnwritablePathThrowsNamingTheFile) {
  const float v = 1.0f;
  try {
    writeNpyFloat32("/nonexistent-dir/x.npy", &v, 1, 1);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent-dir/x.npy"), std::string::npos);
  }
}

TEST(PngWriter, Gray16FileHasSignatureIhdrAndBigEndianSamples) {
  TempDir dir;
  const uint16_t samples[6] = {0x0102, 0x0000, 0xffff, 0x8000, 0x00ff, 0xff00};
  writePngGray16(dir.file("g.png"), samples, 3, 2);

  const std::vector<uint8_t> bytes = readAll(dir.file("g.png"));
  ASSERT_GE(bytes.size(), 33u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 8),
            (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}));
  EXPECT_EQ(bigEndian32(&bytes[8]), 13u);  // IHDR is the first chunk
  EXPECT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
  EXPECT_EQ(bigEndian32(&bytes[16]), 3u);
  EXPECT_EQ(bigEndian32(&bytes[20]), 2u);
  EXPECT_EQ(bytes[24], 16);  // bit depth
  EXPECT_EQ(bytes[25], 0);   // grayscale

  DecodedPng png;
  ASSERT_TRUE(decodePng(dir.file("g.png"), png));
  EXPECT_EQ(png.width, 3u);
  EXPECT_EQ(png.height, 2u);
  ASSERT_EQ(png.rows.size(), 2u);
  // Without transformations libpng hands out the file's bytes: most significant byte first.
  EXPECT_EQ(png.rows[0], (std::vector<uint8_t>{0x01, 0x02, 0x00, 0x00, 0xff, 0xff}));
  EXPECT_EQ(png.rows[1], (std::vector<uint8_t>{0x80, 0x00, 0x00, 0xff, 0xff, 0x00}));
}

TEST(PngWriter, Rgb8ReadsBackPixelForPixel) {
  TempDir dir;
  std::vector<uint8_t> rgb(5 * 4 * 3);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7);
  writePngRgb8(dir.file("c.png"), rgb.data(), 5, 4);
  DecodedPng png;
  ASSERT_TRUE(decodePng(dir.file("c.png"), png));
  EXPECT_EQ(png.width, 5u);
  EXPECT_EQ(png.height, 4u);
  EXPECT_EQ(png.bitDepth, 8);
  EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB);
  std::vector<uint8_t> back;
  for (const auto& row : png.rows) back.insert(back.end(), row.begin(), row.end());
  EXPECT_EQ(back, rgb);
}

TEST(PngWriter, FailuresThrowNamingTheFile) {
  const uint16_t one = 1;
  EXPECT_THROW(writePngGray16("/nonexistent-dir/g.png", &one, 1, 1), std::runtime_error);
  TempDir dir;
  try {
    writePngGray16(dir.file("empty.png"), &one, 0, 1);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("empty.png"), std::string::npos);
  }
}

TEST(Colormap, EndpointsAreTheScaleEndsAndOutsideValuesClamp) {
  EXPECT_EQ(colormap(0.0f), (Rgb{0x44, 0x01, 0x54}));
  EXPECT_EQ(colormap(1.0f), (Rgb{0xfd, 0xe7, 0x25}));
  EXPECT_EQ(colormap(-3.0f), colormap(0.0f));
  EXPECT_EQ(colormap(7.0f), colormap(1.0f));
  EXPECT_EQ(colormap(kNaN), colormap(0.0f));
}

TEST(Colormap, LightnessRisesAcrossTheWholeScale) {
  // Perceived lightness must grow with the value, or the previews would suggest false edges.
  auto luma = [](Rgb c) { return 0.2126 * c.r + 0.7152 * c.g + 0.0722 * c.b; };
  for (int i = 1; i <= 9; ++i) {
    EXPECT_GT(luma(colormap(i / 9.0f)), luma(colormap((i - 1) / 9.0f)) + 10.0) << "stop " << i;
  }
  // Between the stops it may only dip by the rounding of the channels to whole numbers.
  for (int i = 1; i <= 255; ++i) {
    EXPECT_GE(luma(colormap(i / 255.0f)), luma(colormap((i - 1) / 255.0f)) - 0.5) << "step " << i;
  }
}

TEST(ValueRange, IgnoresValuesThatAreNotFinite) {
  const float v[] = {kNaN, 2.0f, -kInf, -1.5f, kInf, 7.0f, kNaN};
  const ValueRange r = finiteRange(v, 7);
  EXPECT_FALSE(r.empty);
  EXPECT_EQ(r.min, -1.5f);
  EXPECT_EQ(r.max, 7.0f);
  const float none[] = {kNaN, kInf};
  EXPECT_TRUE(finiteRange(none, 2).empty);
  EXPECT_TRUE(finiteRange(none, 0).empty);
}

TEST(ValueRange, Gray16SpansMinToMaxAndZeroesInvalidPixels) {
  const float v[] = {10.0f, 20.0f, 15.0f, kNaN, -kInf, 12.5f};
  const std::vector<uint16_t> g = scaleToGray16(v, 6, finiteRange(v, 6));
  // Finite values span 1..65535; 0 is left for the values that are not finite.
  EXPECT_EQ(g, (std::vector<uint16_t>{1, 65535, 32768, 0, 0, 16385}));
  const float flat[] = {4.0f, 4.0f};
  EXPECT_EQ(scaleToGray16(flat, 2, finiteRange(flat, 2)), (std::vector<uint16_t>{1, 1}));
  // A span wider than the float range must not overflow.
  const float wide[] = {-3e38f, 3e38f};
  EXPECT_EQ(scaleToGray16(wide, 2, finiteRange(wide, 2)), (std::vector<uint16_t>{1, 65535}));
}

TEST(PreviewImage, EnlargesPixelsAndColoursThemOverTheRange) {
  // 3 x 2 image: min at (0,0), max at (2,1), an invalid pixel at (1,1).
  const float v[] = {0.0f, 5.0f, 2.5f, 1.0f, kNaN, 10.0f};
  const uint32_t zoom = 4;
  const RgbImage img = renderPreview(v, 3, 2, zoom);
  const PreviewLayout l = previewLayout(3, 2, zoom);
  ASSERT_EQ(img.pixels.size(), static_cast<size_t>(img.width) * img.height * 3);
  EXPECT_GE(img.width, l.labelX);
  EXPECT_GE(img.height, l.imageY + 2 * zoom);

  auto pixelColour = [&](uint32_t c, uint32_t r, uint32_t dx, uint32_t dy) {
    return img.at(l.imageX + c * zoom + dx, l.imageY + r * zoom + dy);
  };
  for (uint32_t d = 0; d < zoom; ++d) {  // corners and diagonal of each enlarged pixel
    EXPECT_EQ(pixelColour(0, 0, d, d), colormap(0.0f));
    EXPECT_EQ(pixelColour(2, 1, d, zoom - 1 - d), colormap(1.0f));
    EXPECT_EQ(pixelColour(1, 0, d, 0), colormap(0.5f));
    EXPECT_EQ(pixelColour(1, 1, 0, d), kPreviewInvalidPixel);
  }
  // Just outside the enlarged image lies background.
  EXPECT_EQ(img.at(l.imageX + 3 * zoom, l.imageY), kPreviewBackground);
  EXPECT_EQ(img.at(l.imageX, l.imageY + 2 * zoom), kPreviewBackground);
}

TEST(PreviewImage, ColourBarRunsFromMaxAtTheTopToMinAtTheBottomWithLabels) {
  std::vector<float> v(64 * 50);
  for (size_t i = 0; i < v.size(); ++i) v[i] = static_cast<float>(i % 64) * 0.05f + 1.0f;
  const RgbImage img = renderPreview(v.data(), 64, 50, 4);
  const PreviewLayout l = previewLayout(64, 50, 4);
  const uint32_t midX = l.barX + l.barWidth / 2;
  EXPECT_EQ(img.at(midX, l.barY), colormap(1.0f));
  EXPECT_EQ(img.at(midX, l.barY + l.barHeight - 1), colormap(0.0f));
  EXPECT_EQ(img.at(l.barX - 1, l.barY), kPreviewBackground);

  // Label text near the top (max), the middle and the bottom (min) of the bar.
  auto textRowsIn = [&](uint32_t y0, uint32_t y1) {
    int n = 0;
    for (uint32_t y = y0; y < y1; ++y) {
      for (uint32_t x = l.labelX; x < img.width; ++x) n += img.at(x, y) == kPreviewText ? 1 : 0;
    }
    return n;
  };
  const uint32_t third = l.barHeight / 3;
  EXPECT_GT(textRowsIn(l.barY, l.barY + third), 0);
  EXPECT_GT(textRowsIn(l.barY + third, l.barY + 2 * third), 0);
  EXPECT_GT(textRowsIn(l.barY + 2 * third, l.barY + l.barHeight), 0);
}

TEST(PreviewImage, ImageWithoutFiniteValuesIsAllInvalidAndUnlabelled) {
  const float v[] = {kNaN, kInf, -kInf, kNaN};
  const RgbImage img = renderPreview(v, 2, 2, 1);
  const PreviewLayout l = previewLayout(2, 2, 1);
  EXPECT_EQ(img.at(l.imageX, l.imageY), kPreviewInvalidPixel);
  EXPECT_EQ(img.at(l.imageX + 1, l.imageY + 1), kPreviewInvalidPixel);
  for (uint32_t y = 0; y < img.height; ++y) {
    for (uint32_t x = l.labelX; x < img.width; ++x) EXPECT_NE(img.at(x, y), kPreviewText);
  }
}

TEST(FrameFileNames, NumberFramesWithFiveDigitsAndNameTheImageType) {
  EXPECT_EQ(frameStem(0), "frame_00000");
  EXPECT_EQ(frameStem(12), "frame_00012");
  EXPECT_EQ(frameStem(1234567), "frame_1234567");
  std::vector<std::string> stems;
  for (const vyxhost::OutputType& t : vyxhost::outputTypes())
    stems.push_back(imageStem(3, {t.code, t.name, t.unit}));
  EXPECT_EQ(stems,
            (std::vector<std::string>{"frame_00003_10001_distance", "frame_00003_10002_amplitude",
                                      "frame_00003_10004_intensity", "frame_00003_10020_x",
                                      "frame_00003_10040_y", "frame_00003_10080_z"}));
  EXPECT_EQ(joinPath("out", "a"), "out/a");
  EXPECT_EQ(joinPath("out/", "a"), "out/a");
}

}  // namespace
