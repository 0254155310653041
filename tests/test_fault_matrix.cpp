// Every fault the simulated camera can inject, at each point of an
// instance's life where it strikes (opening, update, settings, command,
// closing): the result code, the error text (the instance's or the error
// slot's), the instance's state afterwards (gone, open and usable, or open
// with its data connection lost) and that no descriptor is left behind once
// the instance is closed and the camera is gone.
//
// Camera calls whose answer the plug-in does not read (connect, working mode,
// trigger, disconnect) survive an answer of the wrong kind; calls whose answer
// it reads fail on one. A call that gets no answer at all fails everywhere.
#include <cstring>
#include <string>
#include <vector>

#include "lvtwire/frame_format.h"
#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace {

using lvtsim::RpcFault;
using vyxtest::lastError;

constexpr unsigned int kId = 3;
constexpr size_t kBlock = lvtwire::kShortHeader.blockBytes();  // one image block: header and image
const char* const kMethods[] = {
    "MDAXMLConnectCP",       "MDAXMLSetWorkingMode",  "MDAXMLSetTrigger",  "MDAXMLGetTCPPortCP",
    "MDAXMLGetFrontendData", "MDAXMLSetFrontendData", "MDAXMLDisconnectCP"};

enum class Point { Opening, Update, Settings, Command, Closing };

// What is left of the instance after the faulted call.
enum class After {
  Gone,      // no instance under the handle
  Usable,    // open; once the camera behaves again, updates and settings work
  DataLost,  // open; updates fail with "connection lost", settings still work
  Open,      // open; the camera's control channel is stuck, so only local calls are tried
};

enum class Kind { Rpc, DataPortRefused, ImageCut, CutAfterWholeFrame, SilentImage };

struct Fault {
  Kind kind;
  std::string method;  // Kind::Rpc
  RpcFault rpc = RpcFault::None;
  char request = 'd';  // image faults
  size_t bytes = 0;    // Kind::ImageCut: bytes of the answer sent before closing
};

struct Expect {
  int code;
  const char* instanceText;  // nullptr: not checked (also where there is no instance)
  const char* slotText;      // nullptr: not checked
  After after;
  size_t keptBytes = 0;  // frame bytes left by a failed update
};

struct Case {
  std::string name;
  Fault fault;
  Point point;
  Expect expect;
};

// Shown by gtest instead of the bytes of the case.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string pointName(Point p) {
  const char* names[] = {"Opening", "Update", "Settings", "Command", "Closing"};
  return names[static_cast<int>(p)];
}

// One camera method at one point: what an answer of the wrong kind (a fault
// response, a text instead of an array, an array that is too short) does, and
// what a call without any answer does.
struct MethodAtPoint {
  const char* method;
  Point point;
  Expect wrongAnswer;
  Expect noAnswer;
};

constexpr const char* kPrimed = "unknown identifier";  // the instance's text before the call

const MethodAtPoint kRpcTable[] = {
    {"MDAXMLConnectCP",
     Point::Opening,
     {VYX_OK, nullptr, nullptr, After::Usable},
     {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone}},
    {"MDAXMLSetWorkingMode",
     Point::Opening,
     {VYX_OK, nullptr, nullptr, After::Usable},
     {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone}},
    {"MDAXMLSetTrigger",
     Point::Opening,
     {VYX_OK, nullptr, nullptr, After::Usable},
     {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone}},
    {"MDAXMLGetTCPPortCP",
     Point::Opening,
     {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone},
     {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone}},
    {"MDAXMLGetFrontendData",
     Point::Opening,
     {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone},
     {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone}},
    {"MDAXMLSetFrontendData",
     Point::Settings,
     {VYX_RUNTIME_ERROR, "", nullptr, After::Usable},
     {VYX_RUNTIME_ERROR, "", "XML-RPC error: ", After::Usable}},
    {"MDAXMLSetFrontendData",
     Point::Command,
     {VYX_RUNTIME_ERROR, "setting failed", nullptr, After::Usable},
     {VYX_RUNTIME_ERROR, "setting failed", "XML-RPC error: ", After::Usable}},
    {"MDAXMLGetFrontendData",
     Point::Command,
     {VYX_RUNTIME_ERROR, "setting failed", nullptr, After::Usable},
     {VYX_RUNTIME_ERROR, "setting failed", "XML-RPC error", After::Usable}},
    {"MDAXMLDisconnectCP",
     Point::Closing,
     {VYX_OK, nullptr, nullptr, After::Gone},
     {VYX_RUNTIME_ERROR, "", nullptr, After::Usable}},
};

Fault rpcFault(const char* method, RpcFault f) { return {Kind::Rpc, method, f, 'd', 0}; }
Fault imageCut(char request, size_t bytes) {
  return {Kind::ImageCut, "", RpcFault::None, request, bytes};
}
Fault other(Kind kind) { return {kind, "", RpcFault::None, 'd', 0}; }

Expect lostAtUpdate(size_t kept) {
  return {VYX_RUNTIME_ERROR, "connection lost", nullptr, After::DataLost, kept};
}

std::vector<Case> allCases() {
  std::vector<Case> cases;
  for (const MethodAtPoint& row : kRpcTable) {
    const std::string where = std::string(row.method + 6) + "_at_" + pointName(row.point) + "_";
    for (RpcFault f : {RpcFault::Fault, RpcFault::WrongShape, RpcFault::ShortArray}) {
      cases.push_back(
          {where + vyxtest::rpcFaultName(f), rpcFault(row.method, f), row.point, row.wrongAnswer});
    }
    cases.push_back(
        {where + "Close", rpcFault(row.method, RpcFault::Close), row.point, row.noAnswer});
  }
  // A camera that takes a call and never answers: the call gives up after its
  // time limit (some seconds each, so only where it matters most).
  cases.push_back({"ConnectCP_at_Opening_Silent",
                   rpcFault("MDAXMLConnectCP", RpcFault::Silent),
                   Point::Opening,
                   {VYX_COULD_NOT_OPEN, nullptr, "camera connection", After::Gone}});
  cases.push_back({"DisconnectCP_at_Closing_Silent",
                   rpcFault("MDAXMLDisconnectCP", RpcFault::Silent),
                   Point::Closing,
                   {VYX_RUNTIME_ERROR, "", nullptr, After::Open}});

  cases.push_back({"DataPortRefused_at_Opening",
                   other(Kind::DataPortRefused),
                   Point::Opening,
                   {VYX_COULD_NOT_OPEN, nullptr, "data port", After::Gone}});

  cases.push_back(
      {"CutInFirstSizeWord_at_Update", imageCut('d', 4), Point::Update, lostAtUpdate(0)});
  cases.push_back(
      {"CutInHeaderSizeWord_at_Update", imageCut('d', 6), Point::Update, lostAtUpdate(0)});
  cases.push_back({"CutInHeader_at_Update", imageCut('d', 30), Point::Update, lostAtUpdate(0)});
  cases.push_back(
      {"CutInFirstImage_at_Update", imageCut('d', 68 + 100), Point::Update, lostAtUpdate(0)});
  cases.push_back(
      {"CutInSecondImage_at_Update", imageCut('i', 68 + 100), Point::Update, lostAtUpdate(kBlock)});
  cases.push_back(
      {"CutBetweenImages_at_Update", imageCut('d', kBlock), Point::Update, lostAtUpdate(kBlock)});
  cases.push_back({"ClosedAfterWholeFrame_at_NextUpdate", other(Kind::CutAfterWholeFrame),
                   Point::Update, lostAtUpdate(0)});
  cases.push_back(
      {"SilentImage_at_Update", other(Kind::SilentImage), Point::Update, lostAtUpdate(0)});
  return cases;
}

class FaultMatrix : public ::testing::TestWithParam<Case> {
 protected:
  int call(Point point) {
    const vyxhost::EntryPoints& api = p->api();
    switch (point) {
      case Point::Opening:
        return api.vyxpInitRawDataPlugin(kId, cam->config().address.c_str());
      case Point::Update:
        return api.vyxpUpdate(kId);
      case Point::Settings:
        return api.vyxpSetIntegrationTime(kId, 0, 500);
      case Point::Command: {
        char answer[32] = {};
        return api.vyxpPlatformCommand(kId, answer, sizeof answer, "SetFPS 20");
      }
      case Point::Closing:
        return api.vyxpDeinitPlugin(kId);
    }
    return -1;
  }

  void inject(const Fault& f) {
    switch (f.kind) {
      case Kind::Rpc:
        cam->setRpcFault(f.method, f.rpc);
        break;
      case Kind::DataPortRefused:
        cam->setDataPortListening(false);
        break;
      case Kind::ImageCut: {
        lvtsim::ImageOverride o;
        o.closeAfterBytes = f.bytes;
        cam->queueImage(f.request, o);
        break;
      }
      case Kind::CutAfterWholeFrame: {
        lvtsim::ImageOverride o;
        o.closeAfterBytes = kBlock;
        cam->queueImage('i', o);
        ASSERT_EQ((*p)->vyxpUpdate(kId), VYX_OK) << "the frame itself arrives whole";
        break;
      }
      case Kind::SilentImage: {
        lvtsim::ImageOverride o;
        o.silent = true;
        cam->queueImage('d', o);
        break;
      }
    }
  }

  // The camera behaves again (a stuck control channel needs a restart).
  void heal(const Fault& f) {
    for (const char* m : kMethods) cam->setRpcFault(m, RpcFault::None);
    if (f.kind == Kind::Rpc && f.rpc == RpcFault::Silent) {
      cam->stop();
      cam->start();
    }
    if (f.kind == Kind::DataPortRefused) cam->setDataPortListening(true);
  }

  void checkState(After after) {
    const vyxhost::EntryPoints& api = p->api();
    size_t size = 0;
    if (after == After::Gone) {
      EXPECT_EQ(api.vyxpGetRawDataSize(kId, &size), VYX_INVALID_HANDLE) << "instance is gone";
      return;
    }
    ASSERT_EQ(api.vyxpGetRawDataSize(kId, &size), VYX_OK) << "instance is still open";
    char fps[16];
    EXPECT_EQ(api.vyxpGetInfo(kId, fps, sizeof fps, "FPS"), VYX_OK);
    if (after == After::Open) return;
    EXPECT_EQ(api.vyxpSetIntegrationTime(kId, 1, 700), VYX_OK) << "control channel works";
    if (after == After::Usable) {
      EXPECT_EQ(api.vyxpUpdate(kId), VYX_OK) << lastError(*p, kId);
      EXPECT_EQ(api.vyxpGetRawDataSize(kId, &size), VYX_OK);
      EXPECT_EQ(size, 2 * kBlock);
    } else {
      EXPECT_EQ(api.vyxpUpdate(kId), VYX_RUNTIME_ERROR) << "a lost data port is not repaired";
      EXPECT_EQ(lastError(*p, kId), "connection lost");
    }
  }

  std::unique_ptr<vyxhost::Plugin> p;
  std::unique_ptr<lvtsim::Camera> cam;
};

TEST_P(FaultMatrix, ReportsAndLeavesTheInstanceAsExpected) {
  const Case& c = GetParam();
  p = vyxtest::freshPlugin();
  const int descriptorsBefore = vyxtest::openDescriptors();
  cam = vyxtest::startCamera();
  const vyxhost::EntryPoints& api = p->api();

  if (c.point != Point::Opening) {
    ASSERT_EQ(api.vyxpInitRawDataPlugin(kId, cam->config().address.c_str()), VYX_OK);
    char unused[4];
    ASSERT_EQ(api.vyxpGetInfo(kId, unused, sizeof unused, "no such key"), VYX_NOT_AVAILABLE);
    ASSERT_EQ(lastError(*p, kId), kPrimed);
  }
  inject(c.fault);
  if (HasFatalFailure()) return;

  EXPECT_EQ(call(c.point), c.expect.code);
  if (c.expect.instanceText != nullptr) {
    EXPECT_EQ(lastError(*p, kId), c.expect.instanceText);
  }
  if (c.expect.code == VYX_OK && c.point != Point::Opening && c.point != Point::Closing) {
    EXPECT_EQ(lastError(*p, kId), kPrimed) << "a successful call keeps the text";
  }
  if (c.expect.slotText != nullptr) {
    EXPECT_EQ(lastError(*p, 0), c.expect.slotText);
  }
  if (c.point == Point::Update) {
    size_t size = 1;
    EXPECT_EQ(api.vyxpGetRawDataSize(kId, &size), VYX_OK);
    EXPECT_EQ(size, c.expect.keptBytes) << "only whole image blocks are kept";
  }

  heal(c.fault);
  checkState(c.expect.after);

  if (c.expect.after != After::Gone) {
    EXPECT_EQ(api.vyxpDeinitPlugin(kId), VYX_OK);
  }
  if (c.fault.kind != Kind::SilentImage) {  // the camera holds a silent answer until it stops
    EXPECT_TRUE(cam->waitForOpenDataConnections(0, std::chrono::seconds(20)))
        << "the plug-in closed its data connection";
  }
  cam.reset();
  EXPECT_EQ(vyxtest::openDescriptors(), descriptorsBefore) << "descriptors back where they were";
}

INSTANTIATE_TEST_SUITE_P(EveryFaultAtEveryPoint, FaultMatrix, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return info.param.name;
                         });

// The table covers every method the plug-in calls, so a method added to the
// plug-in's protocol without a row here shows up as a gap.
TEST(FaultMatrixCoverage, EveryCameraMethodHasRows) {
  const std::vector<Case> cases = allCases();
  for (const char* method : kMethods) {
    bool covered = false;
    for (const Case& c : cases) covered = covered || c.fault.method == method;
    EXPECT_TRUE(covered) << method;
  }
  auto cam = vyxtest::startCamera();
  auto p = vyxtest::freshPlugin();
  {
    vyxhost::SourceInstance source(*p, kId, cam->config().address);
    source.setIntegrationTime(0, 400);
    source.command("SetFPS 12");
  }
  for (const std::string& used : cam->methodNames()) {
    bool known = false;
    for (const char* method : kMethods) known = known || used == method;
    EXPECT_TRUE(known) << used << " is called by the plug-in but not in the fault matrix";
  }
}

}  // namespace
