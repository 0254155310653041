// The calibration scene: the printed checkerboard of vyxhost/calibration_target.h held in front
// of a plain back wall 3 m away, moving through a repeating sequence of poses: 0.6 to 2 m away,
// tilted up to 35 degrees about both of its axes and turned up to 20 degrees in its plane, with
// its centre anywhere in the field and pushed as far towards the edges as keeps every square in
// view. Seen through the config's lens, each pixel averaging what its area sees.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "lvtsim/camera.h"

namespace lvtsim {

// Where the board is in one frame, camera coordinates in metres: its centre (the middle of the
// squares), and the unit vectors along its columns (x), its rows (y) and its normal, towards
// the camera's side pointing away from it.
struct BoardPose {
  std::array<double, 3> centre, xAxis, yAxis, normal;
};

// The pose in frame (frame % kScenePeriod), fitted to cfg.lens and the image size.
BoardPose checkerboardPose(const CameraConfig& cfg, uint64_t frame);

// Images as renderImage (scene.h) describes them: type 1 distance, 2 amplitude (white paper
// about 10 times as bright as the black squares, falling off with the square of the distance,
// 2 % seeded noise), 8, 9, 10 x, y, z; other types all zero. A pixel's distance is the
// amplitude-weighted mean over its area, so pixels on the board's rim read between board and
// wall.
std::vector<uint8_t> renderCheckerboard(const CameraConfig& cfg, int imageType, uint64_t frame,
                                        int32_t integrationTime);

}  // namespace lvtsim
