#include "view_collection.h"

#include <algorithm>
#include <cmath>

namespace vyxcalib {
namespace {

// Two views differ when their corners lie this far apart on average, in pixels.
constexpr double kMinMovePx = 1.5;
// A side of the board this much longer than the opposite one: the board is tilted (about 10
// degrees at arm's length).
constexpr double kTiltRatio = 0.08;
// A corner within this share of the image's size from an edge reaches that edge.
constexpr double kEdgeShare = 0.15;
// Near and far: the board's apparent size must vary at least by this factor.
constexpr double kSizeRange = 1.5;

double length(const cv::Point2f& a, const cv::Point2f& b) {
  return std::hypot(double{a.x} - b.x, double{a.y} - b.y);
}

double meanMove(const std::vector<cv::Point2f>& a, const std::vector<cv::Point2f>& b) {
  double sum = 0.0;
  for (size_t i = 0; i < a.size(); ++i) sum += length(a[i], b[i]);
  return sum / static_cast<double>(a.size());
}

}  // namespace

ViewCollection::ViewCollection(BoardSize board, int width, int height)
    : board_(board), width_(width), height_(height) {}

bool ViewCollection::offer(const View& view) {
  const auto& c = view.corners;
  for (const View& kept : views_) {
    // The same board turned half round lists its corners backwards.
    const std::vector<cv::Point2f> reversed(kept.corners.rbegin(), kept.corners.rend());
    if (std::min(meanMove(c, kept.corners), meanMove(c, reversed)) < kMinMovePx) return false;
  }
  views_.push_back(view);

  // The outer corners; sides of the grid of inner corners.
  const int cols = board_.columns, rows = board_.rows;
  const size_t corners = static_cast<size_t>(rows) * static_cast<size_t>(cols);
  const cv::Point2f p00 = c[0], p0n = c[static_cast<size_t>(cols) - 1],
                    pm0 = c[corners - static_cast<size_t>(cols)], pmn = c[corners - 1];
  struct Side {
    cv::Point2f a, b;
    double len() const { return length(a, b); }
    double midX() const { return (a.x + b.x) / 2.0; }
    double midY() const { return (a.y + b.y) / 2.0; }
    bool upright() const { return std::fabs(a.y - b.y) > std::fabs(a.x - b.x); }
  };
  Side s1{p00, pm0}, s2{p0n, pmn}, s3{p00, p0n}, s4{pm0, pmn};
  if (!s1.upright()) {
    std::swap(s1, s3);
    std::swap(s2, s4);
  }
  // s1, s2: the upright sides; s3, s4: the lying ones. The nearer side looks longer.
  const Side& leftSide = s1.midX() < s2.midX() ? s1 : s2;
  const Side& rightSide = s1.midX() < s2.midX() ? s2 : s1;
  const Side& topSide = s3.midY() < s4.midY() ? s3 : s4;
  const Side& bottomSide = s3.midY() < s4.midY() ? s4 : s3;
  const double horizontal = (leftSide.len() - rightSide.len()) / std::max(s1.len(), s2.len());
  const double vertical = (topSide.len() - bottomSide.len()) / std::max(s3.len(), s4.len());
  leftNearer_ = leftNearer_ || horizontal > kTiltRatio;
  rightNearer_ = rightNearer_ || horizontal < -kTiltRatio;
  topNearer_ = topNearer_ || vertical > kTiltRatio;
  bottomNearer_ = bottomNearer_ || vertical < -kTiltRatio;
  for (const auto& p : c) {
    left_ = left_ || p.x < kEdgeShare * width_;
    right_ = right_ || p.x > (1.0 - kEdgeShare) * (width_ - 1);
    top_ = top_ || p.y < kEdgeShare * height_;
    bottom_ = bottom_ || p.y > (1.0 - kEdgeShare) * (height_ - 1);
  }
  const double size = length(p00, pmn) + length(p0n, pm0);
  smallest_ = views_.size() == 1 ? size : std::min(smallest_, size);
  largest_ = std::max(largest_, size);
  return true;
}

std::vector<std::string> ViewCollection::missing() const {
  std::vector<std::string> m;
  if (views_.size() < kMinViews)
    m.push_back("more views (" + std::to_string(views_.size()) + " of at least " +
                std::to_string(kMinViews) + ")");
  if (!leftNearer_) m.push_back("tilt the board: left side nearer");
  if (!rightNearer_) m.push_back("tilt the board: right side nearer");
  if (!topNearer_) m.push_back("tilt the board: top nearer");
  if (!bottomNearer_) m.push_back("tilt the board: bottom nearer");
  if (!left_) m.push_back("cover the left edge");
  if (!right_) m.push_back("cover the right edge");
  if (!top_) m.push_back("cover the top edge");
  if (!bottom_) m.push_back("cover the bottom edge");
  if (views_.empty() || largest_ < kSizeRange * smallest_)
    m.push_back("hold the board nearer and farther");
  return m;
}

}  // namespace vyxcalib
