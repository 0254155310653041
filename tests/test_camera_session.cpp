// The camera session every door stands on, driven against the simulator's fault knobs: refusals
// that leave the camera as it was, failures told apart, a lost camera reopened with exactly the
// settings it had accepted, a stall noticed within three frame periods, a close that does not
// wait for a silent camera, and several sessions side by side in one process.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim_fixture.h"
#include "vyxhost/camera.h"
#include "vyxhost/plugin_gate.h"

namespace {

using Clock = std::chrono::steady_clock;
using vyxhost::CameraError;
using vyxhost::CameraState;
using vyxhost::FailureKind;

double since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// The states a session reported, in order.
struct StateLog {
  std::mutex mutex;
  std::vector<CameraState> states;
  void add(CameraState s) {
    const std::lock_guard<std::mutex> lock(mutex);
    states.push_back(s);
  }
  bool saw(CameraState s) {
    const std::lock_guard<std::mutex> lock(mutex);
    return std::find(states.begin(), states.end(), s) != states.end();
  }
};

vyxhost::CameraOptions optionsFor(const std::string& address, StateLog* log = nullptr) {
  vyxhost::CameraOptions o;
  o.address = address;
  o.pluginPath = VYX_PLUGIN_PATH;
  o.reconnectInterval = std::chrono::milliseconds(0);
  if (log != nullptr) o.onState = [log](CameraState s, const std::string&) { log->add(s); };
  return o;
}

template <typename Body>
CameraError failureOf(Body&& body) {
  try {
    body();
  } catch (const CameraError& e) {
    return e;
  }
  ADD_FAILURE() << "no CameraError";
  return CameraError(FailureKind::Other, "none", 0, "", "");
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CameraSession, RefusedValuesLeaveTheCameraAsItWasAndFailuresAreToldApart) {
  auto cam = vyxtest::startCamera();
  vyxhost::Camera camera(optionsFor(cam->config().address));
  camera.setFrameRate(10);
  EXPECT_EQ(camera.frameRate(), 10u);

  // The camera answers its own maximum: that is its limit, and the old rate goes back.
  const CameraError over = failureOf([&] { camera.setFrameRate(31); });
  EXPECT_EQ(over.kind(), FailureKind::Refused);
  EXPECT_TRUE(contains(over.what(), "the camera took 30 frames/s, not 31")) << over.what();
  EXPECT_EQ(cam->frontend()[lvtwire::frontend::kFps], 10);
  EXPECT_EQ(camera.frameRateRange().max, 30u);
  // From then on the limit is known and a value beyond it never reaches the camera.
  const size_t calls = cam->calls().size();
  EXPECT_TRUE(contains(failureOf([&] { camera.setFrameRate(40); }).what(), "range 1 to 30"));
  EXPECT_EQ(cam->calls().size(), calls);

  const vyxhost::ValueRange itime = camera.integrationTimeRange(0);
  const CameraError longItime = failureOf([&] { camera.setIntegrationTime(0, itime.max + 1); });
  EXPECT_EQ(longItime.kind(), FailureKind::Refused);
  EXPECT_EQ(cam->frontend()[lvtwire::frontend::kItime0], 1000);
  EXPECT_EQ(camera.accepted().fps, 10u);
  EXPECT_FALSE(camera.accepted().itime0);

  const CameraError bad = failureOf([] { vyxhost::Camera c(optionsFor("300.1.1.1")); });
  EXPECT_EQ(bad.kind(), FailureKind::InvalidAddress);
  EXPECT_TRUE(contains(bad.what(), "\"300.1.1.1\" is not a camera address")) << bad.what();
  const CameraError nobody =
      failureOf([] { vyxhost::Camera c(optionsFor(vyxtest::silentAddress())); });
  EXPECT_EQ(nobody.kind(), FailureKind::Lost);
  EXPECT_EQ(nobody.code(), VYX_COULD_NOT_OPEN);
  EXPECT_EQ(nobody.text(), "camera connection");
  EXPECT_TRUE(contains(nobody.what(), "port 8080")) << nobody.what();
}

TEST(CameraSession, LostCameraIsReopenedWithExactlyTheAcceptedSettings) {
  auto cam = vyxtest::startCamera();
  const lvtsim::CameraConfig where = cam->config();
  StateLog log;
  vyxhost::Camera camera(optionsFor(where.address, &log));
  camera.setIntegrationTime(1, 3000);
  camera.setFrameRate(10);
  EXPECT_THROW(camera.setFrameRate(31), CameraError);  // refused: never applied again
  vyxhost::Frame frame;
  camera.grab(frame);
  EXPECT_EQ(frame.sequence, 0u);

  // The camera restarts with its factory settings and a lower frame-rate limit.
  const uint16_t dataPort = cam->dataPort();
  cam.reset();
  EXPECT_THROW(camera.grab(frame), CameraError);
  EXPECT_EQ(camera.state(), CameraState::Lost);
  lvtsim::CameraConfig again = where;
  again.dataPort = dataPort;
  again.maxFps = 5;
  cam = std::make_unique<lvtsim::Camera>(again);
  cam->start();

  std::vector<std::string> failed;
  ASSERT_TRUE(camera.reconnect(&failed));
  EXPECT_EQ(cam->frontend()[lvtwire::frontend::kItime1], 3000);
  EXPECT_EQ(cam->frontend()[lvtwire::frontend::kItime0], 1000);
  ASSERT_EQ(failed.size(), 1u);  // the rate no longer fits; the others were still applied
  EXPECT_TRUE(contains(failed[0], "fps")) << failed[0];
  camera.grab(frame);
  EXPECT_EQ(frame.sequence, 1u);
  const vyxhost::Counters c = camera.counters();
  EXPECT_EQ(c.frames, 2u);
  EXPECT_EQ(c.losses, 1u);
  EXPECT_EQ(c.reconnects, 1u);
  EXPECT_TRUE(log.saw(CameraState::Lost));
  EXPECT_TRUE(log.saw(CameraState::Reconnecting));
  EXPECT_EQ(camera.state(), CameraState::Streaming);
}

TEST(CameraSession, SessionsSideBySideNeverTouchEachOthersCamera) {
  std::vector<std::unique_ptr<lvtsim::Camera>> cams;
  std::vector<std::unique_ptr<vyxhost::Camera>> sessions;
  for (int i = 0; i < 3; ++i) {
    cams.push_back(vyxtest::startCamera());
    sessions.push_back(
        std::make_unique<vyxhost::Camera>(optionsFor(cams.back()->config().address)));
  }
  // A converter of its own, as a recording reader has: its handle is never a camera's.
  vyxhost::FrameConverter converter(vyxhost::sharedPlugin(VYX_PLUGIN_PATH));
  std::atomic<int> wrong{0}, closedWhileGrabbing{0};
  std::vector<std::thread> threads;
  threads.reserve(sessions.size());
  for (auto& s : sessions) {
    threads.emplace_back([&s, &converter, &wrong, &closedWhileGrabbing] {
      vyxhost::Frame f;
      std::vector<float> distance(lvtwire::kPixelWords);
      try {
        for (uint64_t n = 0; n < 40; ++n) {
          s->grab(f);
          if (f.sequence != n) ++wrong;
          if (!converter.convert(VYX_TYPE_10001, f.description, f.raw.data(), distance.data(),
                                 distance.size() * sizeof(float)))
            ++wrong;
        }
      } catch (const CameraError& e) {
        if (contains(e.what(), "is closed")) ++closedWhileGrabbing;
      }
    });
  }
  sessions[0]->close();  // while the others grab
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(closedWhileGrabbing.load(), 1);
  for (size_t i = 1; i < sessions.size(); ++i) EXPECT_EQ(sessions[i]->counters().frames, 40u);
  EXPECT_EQ(sessions[0]->state(), CameraState::Closed);
  EXPECT_THROW(sessions[0]->frameRate(), CameraError);
}

// The plug-in guards its own registries: hosts that call it from several threads at once, each
// thread with handles of its own, need no lock of theirs.
TEST(PluginRegistries, OpeningGrabbingAndClosingOnSeveralThreadsAtOnce) {
  const auto plugin = vyxhost::sharedPlugin(VYX_PLUGIN_PATH);
  const vyxhost::EntryPoints& api = plugin->api();
  std::vector<std::unique_ptr<lvtsim::Camera>> cams(4);
  for (auto& cam : cams) cam = vyxtest::startCamera();
  std::mutex mutex;
  std::vector<std::string> failures;  // what failed, with the plug-in's text
  int refusedOpenings = 0;
  std::vector<std::thread> threads;
  threads.reserve(cams.size());
  for (auto& cam : cams) {
    threads.emplace_back([&api, &cam, &failures, &refusedOpenings, &mutex] {
      auto expect = [&](const char* call, int got, int wanted, unsigned id, int round) {
        if (got == wanted) return;
        char text[256] = {}, opening[256] = {};
        api.vyxpGetLastError(id, text, sizeof text);
        api.vyxpGetLastError(0, opening, sizeof opening);  // a failed opening's text
        const std::lock_guard<std::mutex> lock(mutex);
        failures.push_back(std::string(call) + " in round " + std::to_string(round) + " gave " +
                           std::to_string(got) + ": " + text + " / " + opening);
      };
      for (int round = 0; round < 15; ++round) {
        const unsigned int id = vyxhost::newHandle(), pid = vyxhost::newHandle();
        const int opened = api.vyxpInitRawDataPlugin(id, cam->config().address.c_str());
        expect("vyxpInitProcessingPlugin", api.vyxpInitProcessingPlugin(pid, ""), VYX_OK, pid,
               round);
        const unsigned int unknown = vyxhost::newHandle();
        expect("vyxpUpdate of an unknown handle", api.vyxpUpdate(unknown), VYX_INVALID_HANDLE,
               unknown, round);
        if (opened != VYX_OK) {
          // On a machine under heavy load a loopback connection to the simulator is, rarely,
          // refused; the opening must then say so and leave nothing behind.
          expect("vyxpInitRawDataPlugin", opened, VYX_COULD_NOT_OPEN, id, round);
          expect("vyxpUpdate after a refused opening", api.vyxpUpdate(id), VYX_INVALID_HANDLE, id,
                 round);
          const std::lock_guard<std::mutex> lock(mutex);
          ++refusedOpenings;
        } else {
          for (int f = 0; f < 3; ++f) expect("vyxpUpdate", api.vyxpUpdate(id), VYX_OK, id, round);
          char text[64];
          expect("vyxpGetLastError", api.vyxpGetLastError(id, text, sizeof text), VYX_OK, id,
                 round);
          expect("vyxpDeinitPlugin", api.vyxpDeinitPlugin(id), VYX_OK, id, round);
        }
        api.vyxpDeinitPlugin(pid);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_TRUE(failures.empty()) << failures.size()
                                << " calls failed, the first: " << failures.front();
  EXPECT_LE(refusedOpenings, 3) << "of 60 openings";
}

TEST(SlowCamera, SessionStallIsSeenAtOnceAndClosingItDoesNotWait) {
  lvtsim::CameraConfig cfg;
  cfg.realtime = true;
  auto cam = vyxtest::startCamera(cfg);
  StateLog log;
  vyxhost::Camera camera(optionsFor(cam->config().address, &log));
  vyxhost::Frame frame;
  for (int i = 0; i < 3; ++i) camera.grab(frame);

  lvtsim::ImageOverride silent;
  silent.silent = true;
  cam->queueImage('d', silent);
  std::atomic<bool> failed{false};
  std::thread grabber([&] {
    try {
      camera.grab(frame);
    } catch (const CameraError&) {
      failed = true;
    }
  });
  while (!log.saw(CameraState::Stalled)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_GE(camera.counters().stalls, 1u);  // a slow machine may also stall before
  const Clock::time_point asked = Clock::now();
  camera.close();  // the grab is still waiting: the closing must not wait with it
  EXPECT_LT(since(asked), 1.0);
  grabber.join();
  EXPECT_TRUE(failed);
  EXPECT_LT(since(asked), 12.0);
  EXPECT_EQ(camera.state(), CameraState::Closed);
}

}  // namespace
