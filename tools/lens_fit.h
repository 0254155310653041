// The lens from the kept views: OpenCV's camera calibration with the five-coefficient model
// (k1, k2, p1, p2, k3), views that fit far worse than the rest dropped and the fit repeated.
#pragma once

#include <string>
#include <vector>

#include "view_collection.h"
#include "vyxhost/lens.h"

namespace vyxcalib {

struct LensFit {
  vyxhost::LensModel lens;
  double rms = 0.0;                // reprojection error over the views used, pixels
  std::vector<View> used;          // the views of the final fit
  std::vector<double> usedErrors;  // RMS per used view, pixels
  std::vector<View> dropped;       // views left out as outliers
  std::vector<double> droppedErrors;
};

// Throws std::runtime_error when OpenCV cannot fit the views.
LensFit fitLens(const std::vector<View>& views, BoardSize board, double squareMetres, int width,
                int height);

// Why the fit is not good enough to write, or "" when it is.
std::string judgeFit(const LensFit& fit);

constexpr double kMaxRmsPx = 1.0;  // worse: the corners were not found well enough

}  // namespace vyxcalib
