// The views a calibration is made from: a new view is kept only when the board moved enough
// since every kept view, and the collection says what variety is still missing, all judged from
// the corners in the image (the lens is not known yet).
#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "board_finder.h"

namespace vyxcalib {

struct View {
  uint64_t image = 0;  // the image's number in the run
  std::vector<cv::Point2f> corners;
};

class ViewCollection {
 public:
  ViewCollection(BoardSize board, int width, int height);

  // Keeps the view unless a kept one shows the board in nearly the same place; true if kept.
  bool offer(const View& view);
  const std::vector<View>& views() const { return views_; }

  // What the views still lack, as instructions to the person holding the board ("tilt the
  // board: left side nearer"); empty when the variety is enough to calibrate from.
  std::vector<std::string> missing() const;

  static constexpr size_t kMinViews = 12;

 private:
  BoardSize board_;
  int width_, height_;
  std::vector<View> views_;
  // Seen so far: tilt about the vertical axis either way, about the horizontal axis either way,
  // each image edge reached, and the board's apparent size range.
  bool leftNearer_ = false, rightNearer_ = false, topNearer_ = false, bottomNearer_ = false;
  bool left_ = false, right_ = false, top_ = false, bottom_ = false;
  double smallest_ = 0.0, largest_ = 0.0;
};

}  // namespace vyxcalib
