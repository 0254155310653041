// The lvtcamsim command line: option parsing, and the tool itself serving until SIGTERM.
#include <XmlRpc.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "lvtsim/cli.h"
#include "lvtwire/frame_format.h"
#include "vyxhost/lens.h"

namespace {

TEST(SimCli, ParsesOptionsAndRefusesWhatItCannotServe) {
  const auto defaults = lvtsim::parseCli({});
  EXPECT_EQ(defaults.camera.address, "127.0.0.1");
  EXPECT_EQ(defaults.camera.headerSize, 68u);
  EXPECT_FALSE(defaults.help);
  EXPECT_TRUE(defaults.replayDir.empty());
  EXPECT_TRUE(defaults.camera.realtime);  // paced like the camera unless --unpaced
  EXPECT_FALSE(lvtsim::parseCli({"--unpaced"}).camera.realtime);

  const auto o = lvtsim::parseCli({"127.0.77.9", "--data-port", "50002", "--header-size", "412",
                                   "--seed", "7", "--fps", "12", "--realtime", "--replay", "rec"});
  EXPECT_EQ(o.camera.address, "127.0.77.9");
  EXPECT_EQ(o.camera.dataPort, 50002);
  EXPECT_EQ(o.camera.headerSize, 412u);
  EXPECT_EQ(o.camera.seed, 7u);
  EXPECT_EQ(o.camera.frontend[lvtwire::frontend::kFps], 12);
  EXPECT_TRUE(o.camera.realtime);
  EXPECT_EQ(o.replayDir, "rec");
  EXPECT_TRUE(lvtsim::parseCli({"--help"}).help);
  EXPECT_EQ(defaults.camera.lens.fx, vyxhost::nominalLens().fx);
  EXPECT_FALSE(defaults.camera.lens.nominal);  // the simulator knows its own lens exactly

  const auto lens = lvtsim::parseCli({"--intrinsics", "47.5,48.2,30.6,25.4", "--distortion",
                                      "-0.08,0.012,0,0,1e-3", "--write-calibration", "l.json"});
  EXPECT_EQ(lens.camera.lens.fx, 47.5);
  EXPECT_EQ(lens.camera.lens.fy, 48.2);
  EXPECT_EQ(lens.camera.lens.cx, 30.6);
  EXPECT_EQ(lens.camera.lens.cy, 25.4);
  EXPECT_EQ(lens.camera.lens.distortion, (std::array<double, 5>{-0.08, 0.012, 0, 0, 1e-3}));
  EXPECT_EQ(lens.writeCalibration, "l.json");

  for (const std::vector<std::string>& bad : {std::vector<std::string>{"192.168.1.10"},
                                              {"0.0.0.0"},
                                              {"camera.local"},
                                              {"--data-port", "65536"},
                                              {"--data-port"},
                                              {"--header-size", "4"},
                                              {"--header-size", "100"},
                                              {"--fps", "0"},
                                              {"--fps", "31"},
                                              {"--seed", "-1"},
                                              {"--bogus"},
                                              {"--intrinsics", "47.5,48.2,30.6"},
                                              {"--intrinsics", "47.5,48.2,30.6,25.4,1"},
                                              {"--intrinsics", "0,48.2,30.6,25.4"},
                                              {"--intrinsics", "47.5,,30.6,25.4"},
                                              {"--distortion", "0,0,0,0,nan"},
                                              {"--distortion", "0,0,0,0,0x"},
                                              {"127.0.0.1", "127.0.0.2"}}) {
    EXPECT_THROW(lvtsim::parseCli(bad), std::invalid_argument) << bad[0];
  }
  try {
    lvtsim::parseCli({"--header-size", "100"});
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("68 or 412"), std::string::npos) << e.what();
  }
}

#ifdef VYX_BINARY_DIR

const std::string kTool = VYX_BINARY_DIR "/sim/lvtcamsim";

// lvtcamsim with its stdout and stderr on pipes.
class Tool {
 public:
  explicit Tool(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::vector<std::string> argv = {kTool};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    cargv.reserve(argv.size() + 1);
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, kTool.c_str(), &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    if (rc != 0) pid_ = -1;
  }
  ~Tool() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
  }

  bool started() const { return pid_ > 0; }
  // Text up to the first newline (or end of output). A broken tool fails the test after a
  // generous guard instead of hanging it.
  std::string line(bool fromStderr = false) {
    const int fd = fromStderr ? err_ : out_;
    std::string text;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 20000) == 1 && read(fd, &c, 1) == 1 && c != '\n') text += c;
    return text;
  }
  void signal(int sig) { kill(pid_, sig); }
  // Exit code, or -1 if it did not exit normally.
  int wait() {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, 0);
    pid_ = -1;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
};

TEST(SimCli, ServesUntilTerminated) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const size_t base = std::hash<std::string>()(info->name());
  for (size_t attempt = 0; attempt < 20; ++attempt) {
    const std::string address = "127.0.77." + std::to_string(1 + (base + attempt) % 250);
    const std::string calibration =
        std::string(VYX_BINARY_DIR) + "/sim-cli-lens-" + std::to_string(::getpid()) + ".json";
    Tool tool({address, "--header-size", "412", "--intrinsics", "50,51,32,24", "--distortion",
               "-0.05,0,0,0,0", "--write-calibration", calibration});
    ASSERT_TRUE(tool.started()) << kTool;
    const std::string banner = tool.line();
    if (banner.empty()) continue;  // address taken by a parallel test: it exited
    unsigned control = 0, data = 0;
    const std::string prefix =
        "lvtcamsim: camera at " + address + ", control port %u, data port %u";
    ASSERT_EQ(std::sscanf(banner.c_str(), prefix.c_str(), &control, &data), 2) << banner;
    EXPECT_EQ(control, 8080u);
    // The lens it renders with was written before it served.
    const vyxhost::LensModel lens = vyxhost::readCalibration(calibration);
    std::remove(calibration.c_str());
    EXPECT_EQ(lens.fx, 50.0);
    EXPECT_EQ(lens.cy, 24.0);
    EXPECT_EQ(lens.distortion[0], -0.05);
    EXPECT_NE(lens.source.find("lvtcamsim"), std::string::npos) << lens.source;

    XmlRpc::XmlRpcClient client(address.c_str(), 8080);
    XmlRpc::XmlRpcValue result;
    ASSERT_TRUE(client.execute("MDAXMLGetTCPPortCP", XmlRpc::XmlRpcValue(), result));
    EXPECT_EQ(static_cast<unsigned>(static_cast<int>(result[1])), data);

    tool.signal(SIGTERM);
    EXPECT_EQ(tool.wait(), 0);
    XmlRpc::XmlRpcClient after(address.c_str(), 8080);
    EXPECT_FALSE(after.execute("MDAXMLGetTCPPortCP", XmlRpc::XmlRpcValue(), result));
    return;
  }
  FAIL() << "no free 127.0.77.x address";
}

TEST(SimCli, RefusesANonLoopbackAddress) {
  Tool tool({"192.168.0.7"});
  ASSERT_TRUE(tool.started()) << kTool;
  EXPECT_NE(tool.line(true).find("only loopback addresses"), std::string::npos);
  EXPECT_EQ(tool.wait(), 2);
}

#endif  // VYX_BINARY_DIR

}  // namespace
