// vyxgrab grabbing a rig: N simulated cameras (default 8), each on its own loopback address at
// its own pace of 25 frames/s, grabbed into one recording for a given time (default 60 s), next
// to one camera alone for the same time in the same run, the limit the rig is held against.
// Reported: frames each camera delivered that the recording lacks (the simulator's count of
// answered images against the recording, and gaps in its sequence numbers), and vyxgrab's CPU
// time per frame (user + system of the grabber process, from wait4; the cameras run in this
// process and are not charged), with the ratio rig / one camera.
//   bench_rig [--cameras N] [--seconds S]      (other arguments, as ./run bench passes, ignored)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "lvtsim/camera.h"
#include "lvtsim/launch.h"
#include "program_run.h"
#include "vyxrec/mcap_playback.h"

namespace {

struct Result {
  int cameras = 0;
  uint64_t recorded = 0, delivered = 0, lost = 0, gaps = 0;
  uint64_t fewest = 0, most = 0;  // frames of the camera with the fewest and the most
  double cpuSeconds = 0;
  bool complete = false;
  int exitCode = -1;
  double cpuPerFrame() const {
    return recorded > 0 ? cpuSeconds / static_cast<double>(recorded) : 0;
  }
};

Result grabRig(const std::string& vyxgrab, int cameras, int seconds, const std::string& file) {
  std::vector<std::unique_ptr<lvtsim::Camera>> rig;
  std::vector<std::string> args = {"--frames", "0", "--overwrite", "--out", file};
  for (int k = 0; k < cameras; ++k) {
    lvtsim::CameraConfig cfg;
    cfg.realtime = true;
    rig.push_back(lvtsim::startOnFreeLoopback(cfg));
    args.push_back("--address");
    args.push_back(rig.back()->config().address);
  }
  // The figures are read from the recording; the grabber's own words are left out.
  const pid_t pid = vyxtest::spawnProgram(vyxgrab, args, "/dev/null");
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  ::kill(pid, SIGINT);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);

  Result r;
  r.cameras = cameras;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  vyxrec::McapPlayback play(file);
  std::map<std::string, uint64_t> next;  // by camera name: camK is the K-th --address
  vyxrec::PlaybackFrame f;
  while (play.next(f)) {
    uint64_t& expected = next[play.cameras().at(f.camera)];
    if (f.sequence != expected) ++r.gaps;
    expected = f.sequence + 1;
    ++r.recorded;
  }
  r.complete = play.complete();
  r.fewest = UINT64_MAX;
  for (int k = 0; k < cameras; ++k) {
    // A frame is whole once its second image (the amplitude request) was answered.
    const uint64_t delivered = rig[static_cast<size_t>(k)]->framesAnswered('i');
    const uint64_t recorded = next["cam" + std::to_string(k)];
    r.delivered += delivered;
    r.lost += delivered > recorded ? delivered - recorded : 0;
    r.fewest = std::min(r.fewest, recorded);
    r.most = std::max(r.most, recorded);
  }
  return r;
}

void print(const Result& r, int seconds) {
  std::printf(
      "  %d camera%s: %llu frames recorded (%llu..%llu per camera, %.1f frames/s each), "
      "%llu delivered, %llu lost, %llu sequence gaps, file %s; vyxgrab CPU %.2f s, "
      "%.1f us per frame; exit %d\n",
      r.cameras, r.cameras == 1 ? " " : "s", static_cast<unsigned long long>(r.recorded),
      static_cast<unsigned long long>(r.fewest), static_cast<unsigned long long>(r.most),
      static_cast<double>(r.recorded) / r.cameras / seconds,
      static_cast<unsigned long long>(r.delivered), static_cast<unsigned long long>(r.lost),
      static_cast<unsigned long long>(r.gaps), r.complete ? "complete" : "INCOMPLETE", r.cpuSeconds,
      r.cpuPerFrame() * 1e6, r.exitCode);
}

}  // namespace

int main(int argc, char** argv) {
  int cameras = 8, seconds = 60;
  for (int i = 1; i + 1 < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--cameras")
      cameras = std::max(1, static_cast<int>(std::strtol(argv[++i], nullptr, 10)));
    if (a == "--seconds")
      seconds = std::max(1, static_cast<int>(std::strtol(argv[++i], nullptr, 10)));
  }
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("bench_rig." + std::to_string(::getpid())))
          .string();
  std::filesystem::create_directories(dir);
  std::printf(
      "bench_rig: vyxgrab, %d simulated cameras at 25 frames/s each into one file for "
      "%d s, against one camera alone for %d s\n",
      cameras, seconds, seconds);
  std::fflush(stdout);
  const Result one = grabRig(VYXGRAB_PATH, 1, seconds, dir + "/one.mcap");
  print(one, seconds);
  std::fflush(stdout);
  const Result rig = grabRig(VYXGRAB_PATH, cameras, seconds, dir + "/rig.mcap");
  print(rig, seconds);
  std::filesystem::remove_all(dir);
  const double ratio = one.cpuPerFrame() > 0 ? rig.cpuPerFrame() / one.cpuPerFrame() : 0;
  std::printf("  frames lost that a camera delivered, %d cameras: %llu (target 0: %s)\n", cameras,
              static_cast<unsigned long long>(rig.lost) + rig.gaps,
              rig.lost + rig.gaps == 0 ? "meets target" : "MISSES target");
  std::printf("  vyxgrab CPU per frame, %d cameras / 1 camera: %.3f\n", cameras, ratio);
  return rig.complete && one.complete ? 0 : 1;
}
