// Opening and closing a camera instance against a simulated camera: the
// control calls and their parameter types, every way an opening can fail and
// what it leaves behind, closing with a camera that answers or has gone, and
// descriptors across repeated openings.
#include <arpa/inet.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace {

using lvtsim::RpcFault;
using vyxtest::lastError;
using XmlRpc::XmlRpcValue;

const std::vector<std::string> kOpenSequence = {"MDAXMLConnectCP", "MDAXMLSetWorkingMode",
                                                "MDAXMLSetTrigger", "MDAXMLGetTCPPortCP",
                                                "MDAXMLGetFrontendData"};

bool isDottedIPv4(const std::string& s) {
  in_addr a{};
  return ::inet_pton(AF_INET, s.c_str(), &a) == 1;
}

// The simulated camera lives in this process and closes its ends of finished
// connections on its own threads: give it a bounded while to do so.
int descriptorsSettledAt(int expected) {
  for (int i = 0; i < 500 && vyxtest::openDescriptors() != expected; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return vyxtest::openDescriptors();
}

class OpenCloseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lvtsim::CameraConfig cfg;
    cfg.frontend = {0, 0, 0, 0, 1234, 2345, 0, 25, 0};
    cam = vyxtest::startCamera(cfg);
    p = vyxtest::freshPlugin();
  }

  const vyxhost::EntryPoints& api() const { return p->api(); }
  const std::string& address() const { return cam->config().address; }
  int open(unsigned int id) { return api().vyxpInitRawDataPlugin(id, address().c_str()); }
  int close(unsigned int id) { return api().vyxpDeinitPlugin(id); }
  // VYX_INVALID_HANDLE tells that the handle names no source instance.
  int sizeCode(unsigned int id) const {
    size_t size = 0;
    return api().vyxpGetRawDataSize(id, &size);
  }
  // Gives slot 0 a text, so that a later "empty" is a real change.
  void dirtyErrorSlot() {
    ASSERT_EQ(api().vyxpInitRawDataPlugin(99, vyxtest::silentAddress().c_str()),
              VYX_COULD_NOT_OPEN);
    ASSERT_EQ(lastError(*p, 0), "camera connection");
  }

  std::unique_ptr<lvtsim::Camera> cam;
  std::unique_ptr<vyxhost::Plugin> p;
};

// --- the successful opening --------------------------------------------------

TEST_F(OpenCloseTest, OpeningMakesTheFiveCallsWithTheirExactParameters) {
  ASSERT_EQ(open(1), VYX_OK);
  EXPECT_EQ(cam->methodNames(), kOpenSequence);
  const std::vector<lvtsim::RpcCall> calls = cam->calls();
  ASSERT_EQ(calls.size(), 5u);

  const XmlRpcValue& connect = calls[0].params;
  ASSERT_EQ(calls[0].paramCount(), 2) << calls[0].text;
  ASSERT_EQ(connect[0].getType(), XmlRpcValue::TypeString) << calls[0].text;
  EXPECT_TRUE(isDottedIPv4(std::string(connect[0]))) << calls[0].text;
  ASSERT_EQ(connect[1].getType(), XmlRpcValue::TypeInt) << calls[0].text;
  EXPECT_EQ(int(connect[1]), 1);

  EXPECT_EQ(calls[1].text, "MDAXMLSetWorkingMode(1)");
  EXPECT_EQ(calls[2].text, "MDAXMLSetTrigger(0, 3)");
  // The two reads carry no parameter at all, not one empty parameter.
  for (int i : {3, 4}) {
    EXPECT_EQ(calls[i].params.getType(), XmlRpcValue::TypeInvalid) << calls[i].text;
    EXPECT_EQ(calls[i].requestXml.find("<param"), std::string::npos) << calls[i].requestXml;
  }

  EXPECT_TRUE(cam->waitForOpenDataConnections(1, std::chrono::seconds(5)));
  EXPECT_EQ(cam->connectionsAccepted(), 1u);
  EXPECT_TRUE(cam->dataRequests().empty()) << "opening requests no image";
}

TEST_F(OpenCloseTest, OpenedInstanceHasNoFrameYetAndTheCamerasIntegrationTimes) {
  ASSERT_EQ(open(1), VYX_OK);
  size_t size = 77;
  EXPECT_EQ(api().vyxpGetRawDataSize(1, &size), VYX_OK);
  EXPECT_EQ(size, 0u);
  VYXDataDescription d{};
  EXPECT_EQ(api().vyxpGetRawDataDescription(1, &d), VYX_NOT_SUPPORTED);
  EXPECT_EQ(lastError(*p, 1), "unknown raw data format");
  unsigned int t0 = 0, t1 = 0;
  EXPECT_EQ(api().vyxpGetIntegrationTime(1, &t0, 0), VYX_OK);
  EXPECT_EQ(api().vyxpGetIntegrationTime(1, &t1, 1), VYX_OK);
  EXPECT_EQ(t0, 1234u);
  EXPECT_EQ(t1, 2345u);
}

TEST_F(OpenCloseTest, DataPortIsTheLow16BitsOfTheAnnouncedNumber) {
  cam->setAnnouncedPort(65536u + cam->dataPort());
  ASSERT_EQ(open(1), VYX_OK) << lastError(*p, 0);
  EXPECT_TRUE(cam->waitForOpenDataConnections(1, std::chrono::seconds(5)));
  EXPECT_EQ(api().vyxpUpdate(1), VYX_OK) << "the stream behind that port is the camera's";
}

TEST_F(OpenCloseTest, AnnouncedPortIsUsedNotABuiltInOne) {
  // A port where the camera does not listen: the opening must go there and fail.
  cam->setAnnouncedPort(cam->dataPort() == 50002 ? 50003 : 50002);
  cam->setDataPortListening(false);  // and so nothing answers on the real one either
  EXPECT_EQ(open(1), VYX_COULD_NOT_OPEN);
  EXPECT_EQ(lastError(*p, 0), "data port");
  EXPECT_EQ(cam->connectionsAccepted(), 0u);
}

// --- failed openings ---------------------------------------------------------

TEST_F(OpenCloseTest, HandleAlreadyOpenLeavesTheOpenInstanceAlone) {
  ASSERT_EQ(open(1), VYX_OK);
  cam->clearLog();
  auto other = vyxtest::startCamera();
  EXPECT_EQ(api().vyxpInitRawDataPlugin(1, other->config().address.c_str()), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 0), "handle already exists");
  EXPECT_EQ(lastError(*p, 1), "") << "nothing stored under the open handle";
  EXPECT_TRUE(other->calls().empty()) << "no camera call for a taken handle";
  EXPECT_TRUE(cam->calls().empty());

  // Still the first camera's instance, still working.
  ASSERT_EQ(api().vyxpUpdate(1), VYX_OK) << lastError(*p, 1);
  EXPECT_EQ(cam->dataRequests().size(), 2u);
  EXPECT_EQ(other->connectionsAccepted(), 0u);
  EXPECT_EQ(close(1), VYX_OK);
}

TEST_F(OpenCloseTest, NoCameraOnTheControlPort) {
  EXPECT_EQ(api().vyxpInitRawDataPlugin(5, vyxtest::silentAddress().c_str()), VYX_COULD_NOT_OPEN);
  EXPECT_EQ(lastError(*p, 0), "camera connection");
  EXPECT_EQ(sizeCode(5), VYX_INVALID_HANDLE) << "no record for the handle";
  EXPECT_EQ(lastError(*p, 5), "<no text: 2049>");
  // The handle is free for a camera that is there.
  EXPECT_EQ(open(5), VYX_OK);
}

TEST_F(OpenCloseTest, NullAddressIsRefusedBeforeAnyCall) {
  EXPECT_EQ(api().vyxpInitRawDataPlugin(8, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 0), "null pointer argument");
  EXPECT_EQ(sizeCode(8), VYX_INVALID_HANDLE);
  ASSERT_EQ(open(8), VYX_OK);
  // A taken handle is reported as such, whatever the address.
  EXPECT_EQ(api().vyxpInitRawDataPlugin(8, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 0), "handle already exists");
}

TEST_F(OpenCloseTest, HandleZeroIsTakenByTheErrorSlot) {
  dirtyErrorSlot();
  cam->clearLog();
  EXPECT_EQ(open(0), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, 0), "handle already exists");
  EXPECT_TRUE(cam->calls().empty());
}

TEST_F(OpenCloseTest, RefusedDataPortThenAReopenRunsTheWholeSequence) {
  cam->setDataPortListening(false);
  EXPECT_EQ(open(3), VYX_COULD_NOT_OPEN);
  EXPECT_EQ(lastError(*p, 0), "data port");
  EXPECT_EQ(cam->methodNames(), kOpenSequence) << "all control calls were made first";
  EXPECT_EQ(sizeCode(3), VYX_INVALID_HANDLE);

  cam->setDataPortListening(true);
  cam->clearLog();
  ASSERT_EQ(open(3), VYX_OK) << lastError(*p, 0);
  EXPECT_EQ(cam->methodNames(), kOpenSequence);
  EXPECT_TRUE(cam->waitForOpenDataConnections(1, std::chrono::seconds(5)));
}

// One control call of the opening answered badly, on every call from now on.
struct CallFault {
  const char* method;
  RpcFault fault;
  bool opens;  // a call whose answer is not used takes any answer as success
};

class OpeningCallFault : public OpenCloseTest, public ::testing::WithParamInterface<CallFault> {};

TEST_P(OpeningCallFault, OutcomeAndCallsMade) {
  const CallFault c = GetParam();
  cam->setRpcFault(c.method, c.fault);
  const int rc = open(7);
  const std::vector<std::string> names = cam->methodNames();

  if (c.opens) {
    EXPECT_EQ(rc, VYX_OK) << lastError(*p, 0);
    EXPECT_EQ(names, kOpenSequence);
    EXPECT_EQ(sizeCode(7), VYX_OK);
    EXPECT_TRUE(cam->waitForOpenDataConnections(1, std::chrono::seconds(5)));
    EXPECT_EQ(close(7), VYX_OK);
    return;
  }

  EXPECT_EQ(rc, VYX_COULD_NOT_OPEN);
  EXPECT_EQ(lastError(*p, 0), "camera connection");
  EXPECT_EQ(sizeCode(7), VYX_INVALID_HANDLE);
  EXPECT_EQ(cam->connectionsAccepted(), 0u) << "no data connection after a failed call";
  // The sequence stopped at the failing call (the client may have sent that
  // one more than once); nothing after it was made.
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.back(), c.method);
  size_t failing = 0;
  while (kOpenSequence[failing] != c.method) ++failing;
  std::vector<std::string> expectedPrefix(
      kOpenSequence.begin(), kOpenSequence.begin() + static_cast<std::ptrdiff_t>(failing) + 1);
  std::vector<std::string> distinct;
  for (const std::string& n : names)
    if (distinct.empty() || distinct.back() != n) distinct.push_back(n);
  EXPECT_EQ(distinct, expectedPrefix);

  // The failure left nothing that blocks the handle.
  cam->setRpcFault(c.method, RpcFault::None);
  cam->clearLog();
  EXPECT_EQ(open(7), VYX_OK) << lastError(*p, 0);
  EXPECT_EQ(cam->methodNames(), kOpenSequence);
}

std::vector<CallFault> allCallFaults() {
  std::vector<CallFault> cases;
  for (const std::string& m : kOpenSequence) {
    const bool answerUsed = m == "MDAXMLGetTCPPortCP" || m == "MDAXMLGetFrontendData";
    for (RpcFault f : {RpcFault::Fault, RpcFault::WrongShape, RpcFault::ShortArray})
      cases.push_back({m.c_str(), f, !answerUsed});
    cases.push_back({m.c_str(), RpcFault::Close, false});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryCall, OpeningCallFault, ::testing::ValuesIn(allCallFaults()),
                         [](const ::testing::TestParamInfo<CallFault>& info) {
                           return std::string(info.param.method).substr(6) + "_" +
                                  vyxtest::rpcFaultName(info.param.fault);
                         });

// --- closing -------------------------------------------------------------------

TEST_F(OpenCloseTest, CloseDisconnectsReleasesAndFreesTheHandle) {
  ASSERT_EQ(open(2), VYX_OK);
  const std::string connectAddress = std::string(cam->calls()[0].params[0]);
  ASSERT_TRUE(cam->waitForOpenDataConnections(1, std::chrono::seconds(5)));
  cam->clearLog();
  dirtyErrorSlot();

  EXPECT_EQ(close(2), VYX_OK);
  const std::vector<lvtsim::RpcCall> calls = cam->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].method, "MDAXMLDisconnectCP");
  ASSERT_EQ(calls[0].paramCount(), 1) << calls[0].text;
  ASSERT_EQ(calls[0].params[0].getType(), XmlRpcValue::TypeString) << calls[0].text;
  const std::string disconnectAddress = std::string(calls[0].params[0]);
  EXPECT_TRUE(isDottedIPv4(disconnectAddress)) << disconnectAddress;
  EXPECT_NE(disconnectAddress, connectAddress);
  EXPECT_TRUE(cam->waitForOpenDataConnections(0, std::chrono::seconds(5)))
      << "the data connection was closed";
  EXPECT_EQ(lastError(*p, 0), "camera connection") << "a successful close leaves the slot";

  EXPECT_EQ(close(2), VYX_INVALID_HANDLE);
  EXPECT_EQ(lastError(*p, 0), "") << "second close empties the error slot";
  EXPECT_EQ(cam->calls().size(), 1u) << "and calls nothing";

  // The handle is free: a new opening runs the whole sequence.
  cam->clearLog();
  ASSERT_EQ(open(2), VYX_OK);
  EXPECT_EQ(cam->methodNames(), kOpenSequence);
}

TEST_F(OpenCloseTest, CameraGoneKeepsTheInstanceOpenUntilItIsBack) {
  ASSERT_EQ(open(4), VYX_OK);
  char text[32];
  ASSERT_EQ(api().vyxpGetInfo(4, text, sizeof text, "NoSuchKey"), VYX_NOT_AVAILABLE);
  ASSERT_EQ(lastError(*p, 4), "unknown identifier");

  cam->stop();
  EXPECT_EQ(close(4), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, 4), "") << "the instance's text is emptied";
  EXPECT_EQ(close(4), VYX_RUNTIME_ERROR) << "each time";
  EXPECT_EQ(sizeCode(4), VYX_OK) << "still open";
  unsigned int t0 = 0;
  EXPECT_EQ(api().vyxpGetIntegrationTime(4, &t0, 0), VYX_OK);
  EXPECT_EQ(t0, 1234u);

  cam->start();
  EXPECT_EQ(close(4), VYX_OK) << lastError(*p, 4);
  EXPECT_EQ(sizeCode(4), VYX_INVALID_HANDLE);
}

TEST_F(OpenCloseTest, DisconnectAnswersThatAreNotUsedStillClose) {
  // Only a call that gets no answer at all fails the close.
  ASSERT_EQ(open(6), VYX_OK);
  cam->setRpcFault("MDAXMLDisconnectCP", RpcFault::Close);
  EXPECT_EQ(close(6), VYX_RUNTIME_ERROR);
  EXPECT_EQ(sizeCode(6), VYX_OK);
  cam->setRpcFault("MDAXMLDisconnectCP", RpcFault::Fault);
  EXPECT_EQ(close(6), VYX_OK);
  EXPECT_EQ(sizeCode(6), VYX_INVALID_HANDLE);
}

// --- resources -----------------------------------------------------------------

TEST_F(OpenCloseTest, RepeatedOpeningsOfEveryOutcomeLeaveNoDescriptor) {
  const int before = vyxtest::openDescriptors();
  const std::string nobody = vyxtest::silentAddress();
  for (int cycle = 0; cycle < 20; ++cycle) {
    ASSERT_EQ(open(1), VYX_OK);
    ASSERT_EQ(api().vyxpUpdate(1), VYX_OK);
    ASSERT_EQ(open(1), VYX_INVALID_VALUE);
    ASSERT_EQ(close(1), VYX_OK);

    ASSERT_EQ(api().vyxpInitRawDataPlugin(2, nobody.c_str()), VYX_COULD_NOT_OPEN);

    cam->setRpcFault("MDAXMLGetFrontendData", RpcFault::Fault, 1);
    ASSERT_EQ(open(2), VYX_COULD_NOT_OPEN);
    // The client resends once on a kept-alive connection that closed: the
    // fault stays until cleared.
    cam->setRpcFault("MDAXMLSetTrigger", RpcFault::Close);
    ASSERT_EQ(open(2), VYX_COULD_NOT_OPEN);
    cam->setRpcFault("MDAXMLSetTrigger", RpcFault::None);

    cam->setDataPortListening(false);
    ASSERT_EQ(open(2), VYX_COULD_NOT_OPEN);
    ASSERT_EQ(lastError(*p, 0), "data port");
    cam->setDataPortListening(true);
  }
  EXPECT_TRUE(cam->waitForOpenDataConnections(0, std::chrono::seconds(5)));
  EXPECT_EQ(descriptorsSettledAt(before), before);
}

// A camera that accepts the first control call and never answers it: the
// opening must give up on its own (after its built-in limit of about ten
// seconds) instead of hanging the host. Labelled slow.
TEST(OpenSilentCamera, UnansweredConnectEndsInCameraConnection) {
  auto p = vyxtest::freshPlugin();
  const int before = vyxtest::openDescriptors();
  auto cam = vyxtest::startCamera();
  cam->setRpcFault("MDAXMLConnectCP", lvtsim::RpcFault::Silent);

  EXPECT_EQ(p->api().vyxpInitRawDataPlugin(1, cam->config().address.c_str()), VYX_COULD_NOT_OPEN);
  EXPECT_EQ(lastError(*p, 0), "camera connection");
  size_t size = 0;
  EXPECT_EQ(p->api().vyxpGetRawDataSize(1, &size), VYX_INVALID_HANDLE);
  EXPECT_EQ(cam->methodNames(), std::vector<std::string>{"MDAXMLConnectCP"});
  EXPECT_EQ(cam->connectionsAccepted(), 0u);

  // With the camera gone, nothing of the attempt is left open.
  cam.reset();
  EXPECT_EQ(vyxtest::openDescriptors(), before);
}

}  // namespace
