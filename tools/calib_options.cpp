#include "calib_options.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "vyxhost/calibration_target.h"

namespace vyxcalib {
namespace {

// "5x4": inner corners across and down, each at least 2 (OpenCV needs a corner grid).
void parseBoard(const std::string& text, int& columns, int& rows) {
  const std::string bad =
      "--board needs the inner corners as COLUMNSxROWS, e.g. 5x4 for a board "
      "of 6 x 5 squares, not '" +
      text + "'";
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 == text.size() ||
      text.find_first_not_of("0123456789xX") != std::string::npos || text.size() > 9)
    throw UsageError(bad);
  // Digits only and at most nine characters: the numbers always fit.
  columns = static_cast<int>(std::strtol(text.substr(0, x).c_str(), nullptr, 10));
  rows = static_cast<int>(std::strtol(text.substr(x + 1).c_str(), nullptr, 10));
  if (text.find_first_of("xX", x + 1) != std::string::npos) throw UsageError(bad);
  if (columns < 2 || rows < 2)
    throw UsageError("--board " + text +
                     " cannot match: a checkerboard has at least 2 x 2 inner "
                     "corners (3 x 3 squares)");
}

double parseSquare(const std::string& text) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || errno != 0 || !std::isfinite(v) ||
      v <= 0.0 || v > 10.0)
    throw UsageError("--square needs the side of one square in metres, e.g. 0.1, not '" + text +
                     "'");
  return v;
}

uint64_t parseFrames(const std::string& text) {
  if (text.empty() || text.size() > 9 ||
      text.find_first_not_of("0123456789") != std::string::npos || std::stoull(text) == 0)
    throw UsageError("--frames needs a whole number of images from 1 to 999999999, not '" + text +
                     "'");
  return std::stoull(text);
}

}  // namespace

std::string calibUsage() {
  const auto& t = vyxhost::kShippedTarget;
  char board[160];
  std::snprintf(board, sizeof board, "%dx%d inner corners of %.3g m squares", t.innerColumns,
                t.innerRows, t.squareMetres);
  return std::string(
             "usage: vyxcalib (--address HOST | --simulate | --replay FILE.mcap|DIR) [OPTIONS]\n"
             "Calibrates the camera's lens from its amplitude images of a printed checkerboard\n"
             "and writes the calibration file every tool's --calibration takes.\n"
             "  --address HOST   the camera\n"
             "  --simulate       a built-in simulated camera showing the checkerboard\n"
             "  --replay PATH    images from a recording: an .mcap file or a vyxgrab folder\n"
             "  --board CxR      the board's inner corners across and down (squares minus one);\n"
             "                   default the target we ship: ") +
         board +
         "\n"
         "  --square METRES  side of one square\n"
         "  --frames N       images to look at, default 200 (8 s at 25 frames per second)\n"
         "  --show DIR       write each accepted view as DIR/view_NNN.png, corners drawn\n"
         "  --out FILE       the calibration file, default lens.json; written only when the\n"
         "                   calibration is good enough\n"
         "  --plugin FILE    the camera plug-in to load, default: the usual search\n"
         "Hold the whole board in view, 0.6 to 2 m away, and move it: tilted both ways, into\n"
         "every edge and corner of the image, near and far. vyxcalib says what is missing.\n";
}

CalibOptions parseCalibOptions(const std::vector<std::string>& args) {
  CalibOptions o;
  o.columns = vyxhost::kShippedTarget.innerColumns;
  o.rows = vyxhost::kShippedTarget.innerRows;
  o.square = vyxhost::kShippedTarget.squareMetres;
  std::string board, square, frames;
  CLI::App app("vyxcalib");
  app.set_help_flag();  // the usage text is calibUsage()
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.add_flag("-h,--help", o.help);
  app.add_flag("--simulate", o.simulate);
  app.add_option("--address", o.address);
  app.add_option("--replay", o.replay);
  app.add_option("--board", board);
  app.add_option("--square", square);
  app.add_option("--frames", frames);
  app.add_option("--show", o.showDir);
  app.add_option("--out", o.out);
  app.add_option("--plugin", o.pluginPath);
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());  // CLI11 parses from the back
    app.parse(reversed);
  } catch (const CLI::ArgumentMismatch& e) {
    const std::string what = e.what();
    throw UsageError(what.substr(0, what.find(':')) + " needs a value");
  } catch (const CLI::ParseError& e) {
    throw UsageError(e.what());
  }
  if (o.help) return o;
  auto given = [&app](const char* name) { return app.count(name) > 0; };
  if (given("--board")) parseBoard(board, o.columns, o.rows);
  if (given("--square")) o.square = parseSquare(square);
  if (given("--frames")) o.frames = parseFrames(frames);
  const int sources =
      (o.address.empty() ? 0 : 1) + (o.simulate ? 1 : 0) + (o.replay.empty() ? 0 : 1);
  if (sources != 1)
    throw UsageError("give exactly one of --address HOST, --simulate and --replay PATH");
  if (o.out.empty()) throw UsageError("--out needs a file name");
  return o;
}

}  // namespace vyxcalib
