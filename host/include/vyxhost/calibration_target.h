// The printed calibration target we ship: a checkerboard on paper, as the calibration tool
// expects it by default and as the simulator shows it. Print it at exactly this size; a
// different board is given to the tool by its inner corners and square size.
#ifndef VYXHOST_CALIBRATION_TARGET_H
#define VYXHOST_CALIBRATION_TARGET_H

namespace vyxhost {

struct CheckerboardTarget {
  int innerColumns;     // inner corners across (squares across minus one)
  int innerRows;        // inner corners down (squares down minus one)
  double squareMetres;  // side of one square
  double marginMetres;  // white paper around the squares, each side
};

// 6 x 5 squares of 10 cm (5 x 4 inner corners) on a sheet of 66 x 56 cm. Squares that big stay
// about 3 pixels wide at 2 m on the 64 x 50 sensor, and one odd and one even count of squares
// leave no doubt which way up the board is.
constexpr CheckerboardTarget kShippedTarget{5, 4, 0.10, 0.03};

}  // namespace vyxhost

#endif
