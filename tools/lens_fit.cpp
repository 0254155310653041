#include "lens_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/calib3d.hpp>
#include <stdexcept>

namespace vyxcalib {
namespace {

// A view is an outlier when it fits this many times worse than the median view, and worse than
// a tenth of a pixel (a perfect set has all views near zero).
constexpr double kOutlierFactor = 3.0;
constexpr double kOutlierFloorPx = 0.1;

struct Solution {
  cv::Mat camera, distortion;
  double rms = 0.0;
  std::vector<double> errors;
};

Solution solve(const std::vector<View>& views, BoardSize board, double square, int width,
               int height) {
  std::vector<cv::Point3f> grid;
  for (int r = 0; r < board.rows; ++r)
    for (int c = 0; c < board.columns; ++c)
      grid.emplace_back(static_cast<float>(c * square), static_cast<float>(r * square), 0.0f);
  std::vector<std::vector<cv::Point3f>> object(views.size(), grid);
  std::vector<std::vector<cv::Point2f>> image;
  image.reserve(views.size());
  for (const View& v : views) image.push_back(v.corners);
  Solution s;
  s.distortion = cv::Mat::zeros(5, 1, CV_64F);
  std::vector<cv::Mat> rvecs, tvecs;
  cv::Mat stdIntrinsics, stdExtrinsics, perView;
  s.rms = cv::calibrateCamera(
      object, image, cv::Size(width, height), s.camera, s.distortion, rvecs, tvecs, stdIntrinsics,
      stdExtrinsics, perView, 0,
      cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 100, 1e-12));
  for (int i = 0; i < perView.rows; ++i) s.errors.push_back(perView.at<double>(i));
  return s;
}

}  // namespace

LensFit fitLens(const std::vector<View>& views, BoardSize board, double squareMetres, int width,
                int height) {
  if (views.size() < 3) throw std::runtime_error("a lens needs at least 3 views of the board");
  LensFit fit;
  fit.used = views;
  Solution s = solve(views, board, squareMetres, width, height);
  std::vector<double> sorted = s.errors;
  std::sort(sorted.begin(), sorted.end());
  const double limit = std::max(kOutlierFloorPx, kOutlierFactor * sorted[sorted.size() / 2]);
  std::vector<View> kept;
  std::vector<double> keptErrors;
  for (size_t i = 0; i < views.size(); ++i) {
    if (s.errors[i] > limit) {
      fit.dropped.push_back(views[i]);
      fit.droppedErrors.push_back(s.errors[i]);
    } else {
      kept.push_back(views[i]);
    }
  }
  if (!fit.dropped.empty() && kept.size() >= 3) {
    s = solve(kept, board, squareMetres, width, height);
    fit.used = kept;
  } else {
    fit.dropped.clear();
    fit.droppedErrors.clear();
  }
  fit.usedErrors = s.errors;
  fit.rms = s.rms;

  vyxhost::LensModel& lens = fit.lens;
  lens.width = width;
  lens.height = height;
  lens.fx = s.camera.at<double>(0, 0);
  lens.fy = s.camera.at<double>(1, 1);
  lens.cx = s.camera.at<double>(0, 2);
  lens.cy = s.camera.at<double>(1, 2);
  for (size_t i = 0; i < lens.distortion.size(); ++i)
    lens.distortion[i] = s.distortion.at<double>(static_cast<int>(i));
  lens.nominal = false;
  return fit;
}

std::string judgeFit(const LensFit& fit) {
  char text[200];
  if (!(fit.rms <= kMaxRmsPx)) {
    std::snprintf(text, sizeof text,
                  "the corners fit the lens model only to %.2f pixels RMS (at most %.1f wanted): "
                  "hold the board still and evenly lit, and check --board and --square",
                  fit.rms, kMaxRmsPx);
    return text;
  }
  try {
    vyxhost::checkLens(fit.lens);
  } catch (const std::invalid_argument& e) {
    return std::string("the fit gives no usable lens (") + e.what() + ")";
  }
  // The model must map every pixel to one ray: a fit that folds over inside the image has
  // distortion the views did not pin down.
  const vyxhost::RayTable rays(fit.lens);
  for (size_t i = 0; i < 3 * rays.pixels(); ++i)
    if (!std::isfinite(rays.rays()[i]))
      return "the fitted distortion folds over inside the image: more views near the corners "
             "and edges are needed";
  return "";
}

}  // namespace vyxcalib
