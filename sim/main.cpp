// lvtcamsim: runs one simulated camera until SIGINT or SIGTERM.
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "lvtsim/camera.h"
#include "lvtsim/cli.h"
#include "lvtsim/replay.h"
#include "vyxhost/lens.h"

int main(int argc, char** argv) {
  lvtsim::CliOptions opt;
  try {
    opt = lvtsim::parseCli(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lvtcamsim: %s\n%s", e.what(), lvtsim::cliUsage().c_str());
    return 2;
  }
  if (opt.help) {
    std::fputs(lvtsim::cliUsage().c_str(), stdout);
    return 0;
  }

  // Block the stop signals before any thread starts, so that only sigwait() below sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  try {
    if (!opt.writeCalibration.empty())
      vyxhost::writeCalibration(opt.writeCalibration, opt.camera.lens);
    lvtsim::ReplayRecording replay;
    if (!opt.replayDir.empty()) replay = lvtsim::loadReplay(opt.replayDir);
    // A recording is served at the pace it was recorded at, unless --fps says otherwise.
    if (replay.framesPerSecond > 0 && !opt.fpsGiven) {
      opt.camera.frontend[lvtwire::frontend::kFps] =
          std::clamp(static_cast<int32_t>(std::lround(replay.framesPerSecond)), opt.camera.minFps,
                     opt.camera.maxFps);
    }
    lvtsim::Camera camera(opt.camera);
    if (!replay.frames.empty()) camera.setReplay(replay.frames);
    camera.start();
    std::printf("lvtcamsim: camera at %s, control port %u, data port %u%s\n",
                opt.camera.address.c_str(), static_cast<unsigned>(opt.camera.controlPort),
                static_cast<unsigned>(camera.dataPort()),
                opt.replayDir.empty() ? "" : (", replaying " + opt.replayDir).c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stopSignals, &signal);
    camera.stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "lvtcamsim: %s\n", e.what());
    return 1;
  }
  return 0;
}
