#include "vyxrec/png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace vyxrec {

namespace {

// What the C part below needs: no object with a destructor may live in a function that calls
// setjmp, because libpng leaves it with longjmp on an error.
struct PngJob {
  const char* path;
  const uint8_t* rows;
  uint32_t width, height;
  size_t rowBytes;
  int bitDepth, colorType;
  png_text* text;  // tEXt chunks, textCount of them
  int textCount;
  char error[256];
};

void onPngError(png_structp png, png_const_charp message) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  std::snprintf(job->error, sizeof job->error, "%s", message);
  png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

bool hostIsLittleEndian() {
  const uint16_t probe = 1;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 1;
}

// Returns true on success; otherwise job->error says why.
bool runPngJob(PngJob* job) {
  std::FILE* f = std::fopen(job->path, "wb");
  if (f == nullptr) {
    std::snprintf(job->error, sizeof job->error, "%s", std::strerror(errno));
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, job, onPngError, onPngWarning);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    std::fclose(f);
    std::snprintf(job->error, sizeof job->error, "out of memory");
    return false;
  }
  // libpng reports its errors only by longjmp to this point.
  if (setjmp(png_jmpbuf(png)) != 0) {  // NOLINT(cert-err52-cpp)
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, job->width, job->height, job->bitDepth, job->colorType,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Quick settings: the files stay small (the images are smooth or flat) at a fraction of the
  // default effort, which matters when many frames a second are written.
  png_set_compression_level(png, 3);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB | PNG_FILTER_UP);
  if (job->textCount > 0) png_set_text(png, info, job->text, job->textCount);
  png_write_info(png, info);
  if (job->bitDepth == 16 && hostIsLittleEndian()) png_set_swap(png);
  for (uint32_t y = 0; y < job->height; ++y) {
    png_write_row(png, job->rows + y * job->rowBytes);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0) {
    std::snprintf(job->error, sizeof job->error, "%s", std::strerror(errno));
    return false;
  }
  return true;
}

void writePng(const std::string& path, const void* pixels, uint32_t width, uint32_t height,
              size_t bytesPerPixel, int bitDepth, int colorType, const PngText* text = nullptr) {
  if (width == 0 || height == 0) throw std::runtime_error("cannot write " + path + ": empty image");
  PngJob job{};
  job.path = path.c_str();
  job.rows = static_cast<const uint8_t*>(pixels);
  job.width = width;
  job.height = height;
  job.rowBytes = static_cast<size_t>(width) * bytesPerPixel;
  job.bitDepth = bitDepth;
  job.colorType = colorType;
  std::vector<png_text> chunks;
  if (text != nullptr) {
    for (const auto& [key, value] : *text) {
      png_text t{};
      t.compression = PNG_TEXT_COMPRESSION_NONE;
      t.key = const_cast<char*>(key.c_str());  // libpng's API is not const-correct
      t.text = const_cast<char*>(value.c_str());
      chunks.push_back(t);
    }
  }
  job.text = chunks.data();
  job.textCount = static_cast<int>(chunks.size());
  if (!runPngJob(&job)) throw std::runtime_error("cannot write " + path + ": " + job.error);
}

}  // namespace

void writePngGray16(const std::string& path, const uint16_t* samples, uint32_t width,
                    uint32_t height, const PngText& text) {
  writePng(path, samples, width, height, 2, 16, PNG_COLOR_TYPE_GRAY, &text);
}

void writePngRgb8(const std::string& path, const uint8_t* rgb, uint32_t width, uint32_t height) {
  writePng(path, rgb, width, height, 3, 8, PNG_COLOR_TYPE_RGB);
}

}  // namespace vyxrec
