// Finding the checkerboard's inner corners in one amplitude image. The sensor's 64 x 50 pixels
// are too few for OpenCV's detectors as they are, so the image is stretched to 8 bits and
// upsampled first; the corners come back in the image's own pixel coordinates (pixel centres at
// whole numbers, as everywhere in this system).
#pragma once

#include <opencv2/core.hpp>
#include <optional>
#include <string>
#include <vector>

#include "amplitude_source.h"

namespace vyxcalib {

struct BoardSize {
  int columns = 0, rows = 0;  // inner corners across and down
};

// The amplitude image as 8 bits (its 1st to 99th percentile spread over 0..255), upsampled.
cv::Mat prepareImage(const AmplitudeImage& image);

// The board's corners, row by row as OpenCV orders them, or none when it is not wholly seen.
std::optional<std::vector<cv::Point2f>> findBoard(const cv::Mat& prepared, BoardSize board);

// The size of a board that is in view in one of the prepared images, other than notThis: for
// telling a user whose --board does not match what the camera sees. Tries boards up to 9 x 7
// inner corners, biggest first.
std::optional<BoardSize> findOtherBoard(const std::vector<cv::Mat>& prepared, BoardSize notThis);

// Writes the prepared image with the corners drawn as a PNG. Throws std::runtime_error.
void writeView(const std::string& path, const cv::Mat& prepared, BoardSize board,
               const std::vector<cv::Point2f>& corners);

}  // namespace vyxcalib
