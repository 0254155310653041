#include "board_finder.h"

#include <algorithm>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>

namespace vyxcalib {
namespace {

// Upsampling: a 10 cm square 2 m away is 3 pixels wide; the detectors want a dozen or more.
constexpr int kUpsample = 4;

// Between the upsampled image and the image: resize maps the centre of pixel x of the result
// to (x + 0.5) / scale - 0.5 of its source.
cv::Point2f toImage(const cv::Point2f& up) {
  return {(up.x + 0.5f) / kUpsample - 0.5f, (up.y + 0.5f) / kUpsample - 0.5f};
}
cv::Point2f toUpsampled(const cv::Point2f& p) {
  return {(p.x + 0.5f) * kUpsample - 0.5f, (p.y + 0.5f) * kUpsample - 0.5f};
}

}  // namespace

cv::Mat prepareImage(const AmplitudeImage& image) {
  std::vector<float> sorted;
  sorted.reserve(image.values.size());
  for (float v : image.values)
    if (std::isfinite(v)) sorted.push_back(v);
  float low = 0.0f, high = 1.0f;
  if (!sorted.empty()) {
    std::sort(sorted.begin(), sorted.end());
    low = sorted[sorted.size() / 100];
    high = sorted[sorted.size() - 1 - sorted.size() / 100];
  }
  const float scale = high > low ? 255.0f / (high - low) : 0.0f;
  cv::Mat small(image.height, image.width, CV_8UC1);
  for (int v = 0; v < image.height; ++v) {
    auto* row = small.ptr<uint8_t>(v);
    for (int u = 0; u < image.width; ++u) {
      const float a = image.values[static_cast<size_t>(v) * image.width + u];
      const float g = std::isfinite(a) ? (a - low) * scale : 0.0f;
      row[u] = static_cast<uint8_t>(std::lround(std::clamp(g, 0.0f, 255.0f)));
    }
  }
  cv::Mat up;
  cv::resize(small, up, cv::Size(), kUpsample, kUpsample, cv::INTER_CUBIC);
  return up;
}

std::optional<std::vector<cv::Point2f>> findBoard(const cv::Mat& prepared, BoardSize board) {
  const cv::Size pattern(board.columns, board.rows);
  std::vector<cv::Point2f> corners;
  // The sector-based detector, in its accuracy mode, refines the corners to sub-pixel itself
  // (measured on the simulator's target: about 0.08 pixels RMS from the true corners). Image
  // normalisation makes it miss most boards here: the stretch above does that job.
  const bool found = cv::findChessboardCornersSB(prepared, pattern, corners, cv::CALIB_CB_ACCURACY);
  if (!found || corners.size() != static_cast<size_t>(board.columns) * board.rows)
    return std::nullopt;
  for (auto& c : corners) c = toImage(c);
  return corners;
}

std::optional<BoardSize> findOtherBoard(const std::vector<cv::Mat>& prepared, BoardSize notThis) {
  for (int corners = 9 * 7; corners >= 4; --corners) {
    for (int columns = 9; columns >= 2; --columns) {
      const int rows = corners / columns;
      if (rows < 2 || rows > 7 || rows * columns != corners || rows > columns) continue;
      if (columns == notThis.columns && rows == notThis.rows) continue;
      if (columns == notThis.rows && rows == notThis.columns) continue;
      for (const cv::Mat& image : prepared) {
        std::vector<cv::Point2f> found;
        if (cv::findChessboardCornersSB(image, cv::Size(columns, rows), found, 0))
          return BoardSize{columns, rows};
      }
    }
  }
  return std::nullopt;
}

void writeView(const std::string& path, const cv::Mat& prepared, BoardSize board,
               const std::vector<cv::Point2f>& corners) {
  cv::Mat colour;
  cv::cvtColor(prepared, colour, cv::COLOR_GRAY2BGR);
  std::vector<cv::Point2f> up;
  up.reserve(corners.size());
  for (const auto& c : corners) up.push_back(toUpsampled(c));
  cv::drawChessboardCorners(colour, cv::Size(board.columns, board.rows), up, true);
  if (!cv::imwrite(path, colour)) throw std::runtime_error(path + ": cannot write the view");
}

}  // namespace vyxcalib
