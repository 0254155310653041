// The camera's nine front-end settings as the plug-in exchanges them: read
// at opening, written back whole (nine integer parameters) with the camera's
// answer taken as the new copy, and the texts left by failed exchanges.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "lvtwire/frame_format.h"
#include "plugin_fixture.h"
#include "sim_fixture.h"

namespace {

using lvtsim::RpcFault;
using vyxtest::lastError;
using XmlRpc::XmlRpcValue;

constexpr unsigned int kId = 1;
using Frontend = std::array<int32_t, 9>;
const Frontend kCameraFrontend = {10, 11, 12, 13, 1000, 2000, 16, 25, 18};

class FrontendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lvtsim::CameraConfig cfg;
    cfg.frontend = kCameraFrontend;
    cam = vyxtest::startCamera(cfg);
    p = vyxtest::freshPlugin();
    ASSERT_EQ(p->api().vyxpInitRawDataPlugin(kId, cam->config().address.c_str()), VYX_OK);
    cam->clearLog();
  }
  void TearDown() override { EXPECT_EQ(p->api().vyxpDeinitPlugin(kId), VYX_OK); }

  const vyxhost::EntryPoints& api() const { return p->api(); }

  unsigned int integrationTime(unsigned int idx) const {
    unsigned int t = 0;
    EXPECT_EQ(api().vyxpGetIntegrationTime(kId, &t, idx), VYX_OK);
    return t;
  }
  std::string fps() const {
    char text[32];
    std::memset(text, 'X', sizeof text);
    EXPECT_EQ(api().vyxpGetInfo(kId, text, sizeof text, "FPS"), VYX_OK);
    return text;
  }

  // The parameters of the only SetFrontendData call since the log was cleared.
  std::vector<int> writtenValues() const {
    std::vector<int> values;
    const std::vector<lvtsim::RpcCall> calls = cam->calls();
    EXPECT_EQ(calls.size(), 1u);
    if (calls.empty()) return values;
    const lvtsim::RpcCall& call = calls.back();
    EXPECT_EQ(call.method, "MDAXMLSetFrontendData");
    EXPECT_EQ(call.paramCount(), 9) << "nine parameters, not one array: " << call.text;
    for (int i = 0; i < call.paramCount(); ++i) {
      EXPECT_EQ(call.params[i].getType(), XmlRpcValue::TypeInt) << call.text;
      if (call.params[i].getType() == XmlRpcValue::TypeInt) values.push_back(int(call.params[i]));
    }
    return values;
  }

  // Gives the instance a text, so that a later "empty" is a real change.
  void dirtyInstanceText() {
    char text[8];
    ASSERT_EQ(api().vyxpGetInfo(kId, text, sizeof text, "NoSuchKey"), VYX_NOT_AVAILABLE);
    ASSERT_EQ(lastError(*p, kId), "unknown identifier");
  }

  std::unique_ptr<lvtsim::Camera> cam;
  std::unique_ptr<vyxhost::Plugin> p;
};

TEST_F(FrontendTest, OpeningTakesElementsOneToNineOfTheAnswer) {
  // The camera answers 0, 10, 11, 12, 13, 1000, 2000, 16, 25, 18.
  EXPECT_EQ(integrationTime(0), 1000u);
  EXPECT_EQ(integrationTime(1), 2000u);
  EXPECT_EQ(fps(), "25");
  EXPECT_TRUE(cam->calls().empty()) << "reading the copy asks the camera nothing";
}

TEST_F(FrontendTest, WriteSendsTheWholeCopyAsNineIntegers) {
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 0, 1500), VYX_OK) << lastError(*p, kId);
  EXPECT_EQ(writtenValues(), (std::vector<int>{10, 11, 12, 13, 1500, 2000, 16, 25, 18}));

  cam->clearLog();
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 1, 700), VYX_OK) << lastError(*p, kId);
  EXPECT_EQ(writtenValues(), (std::vector<int>{10, 11, 12, 13, 1500, 700, 16, 25, 18}));
  EXPECT_EQ(integrationTime(0), 1500u);
  EXPECT_EQ(integrationTime(1), 700u);
}

TEST_F(FrontendTest, TheCamerasAnswerToAWriteBecomesTheCopy) {
  // The camera changes what it was sent: integration time 1, the frame rate
  // and two elements that carry no meaning for the plug-in.
  cam->setFrontendWriteAdjust([](Frontend& v) {
    v[0] = 99;
    v[lvtwire::frontend::kItime1] = 1800;
    v[lvtwire::frontend::kFps] = 20;
    v[8] = -5;
  });
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 0, 1200), VYX_OK);
  EXPECT_EQ(integrationTime(0), 1200u);
  EXPECT_EQ(integrationTime(1), 1800u);
  EXPECT_EQ(fps(), "20");

  // The next write sends back exactly what the camera answered.
  cam->setFrontendWriteAdjust(nullptr);
  cam->clearLog();
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 0, 1300), VYX_OK);
  EXPECT_EQ(writtenValues(), (std::vector<int>{99, 11, 12, 13, 1300, 1800, 16, 20, -5}));
}

TEST_F(FrontendTest, WriteWithoutAnAnswerLeavesTheEditAndTheSlotText) {
  dirtyInstanceText();
  cam->setRpcFault("MDAXMLSetFrontendData", RpcFault::Close);
  EXPECT_EQ(api().vyxpSetIntegrationTime(kId, 0, 1700), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "") << "the instance's text is emptied";
  EXPECT_EQ(lastError(*p, 0), "XML-RPC error: ");
  EXPECT_EQ(integrationTime(0), 1700u) << "the edit stays in the copy";
  EXPECT_EQ(cam->frontend(), kCameraFrontend) << "the camera took nothing";
}

TEST_F(FrontendTest, WriteAnsweredWithTheWrongShapeFailsWithoutTheSlotText) {
  // An answer arrived, so no call failed: only the instance's text changes.
  for (RpcFault fault : {RpcFault::Fault, RpcFault::WrongShape, RpcFault::ShortArray}) {
    dirtyInstanceText();
    ASSERT_EQ(api().vyxpInitRawDataPlugin(kId, "x"), VYX_INVALID_VALUE);  // slot 0 text
    cam->setRpcFault("MDAXMLSetFrontendData", fault, 1);
    EXPECT_EQ(api().vyxpSetIntegrationTime(kId, 1, 400), VYX_RUNTIME_ERROR);
    EXPECT_EQ(lastError(*p, kId), "");
    EXPECT_EQ(lastError(*p, 0), "handle already exists");
    EXPECT_EQ(integrationTime(1), 400u);
  }
  // The instance keeps working with the camera.
  ASSERT_EQ(api().vyxpSetIntegrationTime(kId, 1, 450), VYX_OK);
  EXPECT_EQ(cam->frontend()[5], 450);
}

TEST_F(FrontendTest, FailedReadBackAfterAFrameRateWrite) {
  cam->setRpcFault("MDAXMLGetFrontendData", RpcFault::Close);
  char answer[16];
  std::memset(answer, 'X', sizeof answer);
  EXPECT_EQ(api().vyxpPlatformCommand(kId, answer, sizeof answer, "SetFPS 10"), VYX_RUNTIME_ERROR);
  EXPECT_EQ(answer[0], 'X') << "no answer text";
  EXPECT_EQ(lastError(*p, kId), "setting failed");
  EXPECT_EQ(lastError(*p, 0), "XML-RPC error");

  // The write went out whole before the read-back failed.
  const std::vector<lvtsim::RpcCall> calls = cam->calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls[0].method, "MDAXMLSetFrontendData");
  EXPECT_EQ(calls[0].text, "MDAXMLSetFrontendData(10, 11, 12, 13, 1000, 2000, 16, 10, 18)");
  EXPECT_EQ(calls.back().method, "MDAXMLGetFrontendData");
  EXPECT_EQ(cam->frontend()[7], 10);
  EXPECT_EQ(fps(), "10") << "the written answer is the copy";
}

}  // namespace
