// The free-text channels: "SetFPS " and "testcommand" through
// vyxpPlatformCommand, and the keys of vyxpGetInfo, with the trimming of
// commands and keys, the answers in the caller's buffer and the stored texts.
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "camera_fixture.h"
#include "lvtwire/frame_format.h"

namespace {

using vyxtest::lastError;

constexpr unsigned int kId = 2;
constexpr char kUnwritten = 'X';

struct Answer {
  int code;
  std::string text;  // the buffer up to its first zero
  bool untouched;    // the buffer still holds only kUnwritten
};

class PlatformTest : public vyxtest::OpenCameraTest {
 protected:
  void SetUp() override {
    lvtsim::CameraConfig cfg;
    cfg.frontend[lvtwire::frontend::kFps] = 10;
    openCamera(kId, cfg);
    cam->clearLog();
  }

  static Answer answer(int code, const char (&buffer)[64]) {
    const std::string all(buffer, sizeof buffer);
    return {code, std::string(buffer, ::strnlen(buffer, sizeof buffer)),
            all == std::string(sizeof buffer, kUnwritten)};
  }

  Answer command(const char* cmd, unsigned int id = kId) {
    char buffer[64];
    std::memset(buffer, kUnwritten, sizeof buffer);
    const int code = api().vyxpPlatformCommand(id, buffer, sizeof buffer, cmd);
    return answer(code, buffer);
  }

  Answer info(const char* key, unsigned int id = kId) {
    char buffer[64];
    std::memset(buffer, kUnwritten, sizeof buffer);
    const int code = api().vyxpGetInfo(id, buffer, sizeof buffer, key);
    return answer(code, buffer);
  }

  // Gives the instance a text, so that a call that empties it shows.
  void markError() {
    ASSERT_EQ(command("no such command").code, VYX_NOT_SUPPORTED);
    ASSERT_EQ(lastError(*p, kId), "command not available");
  }

  std::vector<std::string> methods() const { return cam->methodNames(); }
};

TEST_F(PlatformTest, SetFpsTakenByTheCamera) {
  const Answer a = command("SetFPS 25");
  EXPECT_EQ(a.code, VYX_OK);
  EXPECT_EQ(a.text, "OK");
  EXPECT_EQ(cam->frontend()[7], 25);
  // The block is written and then read back.
  EXPECT_EQ(methods(),
            (std::vector<std::string>{"MDAXMLSetFrontendData", "MDAXMLGetFrontendData"}));
  const std::vector<lvtsim::RpcCall> calls = cam->calls();
  ASSERT_EQ(calls[0].paramCount(), 9);
  XmlRpc::XmlRpcValue params = calls[0].params;
  EXPECT_EQ(static_cast<int>(params[7]), 25) << calls[0].text;
  EXPECT_EQ(calls[1].paramCount(), 0);
  EXPECT_EQ(info("FPS").text, "25");
}

TEST_F(PlatformTest, SetFpsClampedByTheCamera) {
  cam->setFpsRange(1, 20);
  markError();
  const Answer a = command("SetFPS 25");
  EXPECT_EQ(a.code, VYX_INVALID_VALUE);
  EXPECT_EQ(a.text, "setting failed");
  EXPECT_EQ(lastError(*p, kId), "");
  EXPECT_EQ(info("FPS").text, "20");
}

// The camera takes the rate on the write but another one is read back.
TEST_F(PlatformTest, SetFpsDecidedByTheReadBack) {
  cam->setFrontendWriteAdjust([](std::array<int32_t, 9>& v) { v[7] = v[7] == 12 ? 12 : 9; });
  EXPECT_EQ(command("SetFPS 12").code, VYX_OK);
  EXPECT_EQ(command("SetFPS 13").text, "setting failed");
  EXPECT_EQ(info("FPS").text, "9");
}

TEST_F(PlatformTest, RatesThatAreNoRatesSendNothing) {
  const char* const commands[] = {"SetFPS abc",         "SetFPS 0",          "SetFPS -5",
                                  "SetFPS 99999999999", "SetFPS 2147483648", "SetFPS +",
                                  "SetFPS 00",          "SetFPS \t-1",       "SetFPS 4294967321"};
  markError();
  for (const char* cmd : commands) {
    SCOPED_TRACE(cmd);
    const Answer a = command(cmd);
    EXPECT_EQ(a.code, VYX_INVALID_VALUE);
    EXPECT_EQ(a.text, "invalid framerate");
    EXPECT_EQ(lastError(*p, kId), "");
  }
  EXPECT_TRUE(cam->calls().empty());
  EXPECT_EQ(info("FPS").text, "10");
}

TEST_F(PlatformTest, LargestSignedRateIsSent) {
  const Answer a = command("SetFPS 2147483647");
  EXPECT_EQ(a.text, "setting failed") << "the camera clamps it to its range";
  ASSERT_FALSE(cam->calls().empty());
  XmlRpc::XmlRpcValue params = cam->calls()[0].params;
  EXPECT_EQ(static_cast<int>(params[7]), 2147483647);
}

TEST_F(PlatformTest, RateIsReadUpToTheFirstNonDigit) {
  const char* const commands[] = {"SetFPS    30abc", "SetFPS 30.9", "\t\n SetFPS 30  ",
                                  "SetFPS 30 40", "SetFPS +30"};
  for (const char* cmd : commands) {
    SCOPED_TRACE(cmd);
    ASSERT_EQ(command("SetFPS 11").code, VYX_OK);
    const Answer a = command(cmd);
    EXPECT_EQ(a.code, VYX_OK);
    EXPECT_EQ(a.text, "OK");
    EXPECT_EQ(cam->frontend()[7], 30);
  }
}

TEST_F(PlatformTest, TestCommandAnswersOk) {
  for (const char* cmd : {"testcommand", " \t testcommand  ", "\ntestcommand"}) {
    const Answer a = command(cmd);
    EXPECT_EQ(a.code, VYX_OK) << cmd;
    EXPECT_EQ(a.text, "OK") << cmd;
  }
  EXPECT_TRUE(cam->calls().empty());
}

TEST_F(PlatformTest, OtherCommandsAreNotAvailable) {
  const char* const commands[] = {
      "SetFPS    ",    "SetFPS",        "setfps 25",   "SETFPS 25",     "SetFPS25", "SetFPS\t25",
      "testcommand\n", "testcommand\t", "TestCommand", "testcommand x", "",         "   "};
  for (const char* cmd : commands) {
    SCOPED_TRACE(std::string("\"") + cmd + "\"");
    const Answer a = command(cmd);
    EXPECT_EQ(a.code, VYX_NOT_SUPPORTED);
    EXPECT_TRUE(a.untouched) << "the buffer was written";
    EXPECT_EQ(lastError(*p, kId), "command not available");
  }
  EXPECT_TRUE(cam->calls().empty());
}

TEST_F(PlatformTest, FailingExchangeIsARuntimeError) {
  for (const char* method : {"MDAXMLSetFrontendData", "MDAXMLGetFrontendData"}) {
    SCOPED_TRACE(method);
    cam->setRpcFault(method, lvtsim::RpcFault::Fault, 1);
    const Answer a = command("SetFPS 15");
    EXPECT_EQ(a.code, VYX_RUNTIME_ERROR);
    EXPECT_TRUE(a.untouched);
    EXPECT_EQ(lastError(*p, kId), "setting failed");
  }
  // Every write is cut off: the XML-RPC client tries a closed connection again.
  cam->setRpcFault("MDAXMLSetFrontendData", lvtsim::RpcFault::Close);
  EXPECT_EQ(command("SetFPS 16").code, VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "setting failed");
  EXPECT_EQ(lastError(*p, 0), "XML-RPC error: ");
  EXPECT_EQ(info("FPS").text, "16") << "the copy keeps the requested rate";

  cam->setRpcFault("MDAXMLSetFrontendData", lvtsim::RpcFault::None);
  EXPECT_EQ(command("SetFPS 17").text, "OK") << "the camera answers again";
}

TEST_F(PlatformTest, NullTextsAreRefused) {
  char buffer[8];
  std::memset(buffer, kUnwritten, sizeof buffer);
  EXPECT_EQ(api().vyxpPlatformCommand(kId, buffer, sizeof buffer, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, kId), "null pointer argument");
  markError();
  EXPECT_EQ(api().vyxpGetInfo(kId, buffer, sizeof buffer, nullptr), VYX_INVALID_VALUE);
  EXPECT_EQ(lastError(*p, kId), "null pointer argument");
  EXPECT_EQ(buffer[0], kUnwritten);
  EXPECT_TRUE(cam->calls().empty());
}

TEST_F(PlatformTest, AnswersFollowTheTextRule) {
  EXPECT_EQ(api().vyxpPlatformCommand(kId, nullptr, 64, "SetFPS 21"), VYX_OK);
  EXPECT_EQ(cam->frontend()[7], 21) << "a null buffer does not stop the command";
  char small[4] = {kUnwritten, kUnwritten, kUnwritten, kUnwritten};
  EXPECT_EQ(api().vyxpPlatformCommand(kId, small, 0, "testcommand"), VYX_OK);
  EXPECT_EQ(small[0], kUnwritten);
  EXPECT_EQ(api().vyxpPlatformCommand(kId, small, 2, "SetFPS 0"), VYX_INVALID_VALUE);
  EXPECT_EQ(std::string(small, 3), std::string("i\0X", 3));
}

TEST_F(PlatformTest, InfoKeys) {
  EXPECT_EQ(info("AspectRatio").text, "0.750000");
  EXPECT_EQ(info("SerialNumber").text, "unknown");
  EXPECT_EQ(info("FPS").text, "10");
  // Leading white space of any kind and trailing blanks are trimmed.
  EXPECT_EQ(info("\t\n FPS").text, "10");
  EXPECT_EQ(info("AspectRatio   ").text, "0.750000");
  EXPECT_EQ(info("\vSerialNumber ").code, VYX_OK);
  EXPECT_TRUE(cam->calls().empty()) << "the camera is not asked";
}

TEST_F(PlatformTest, AspectRatioIsCutToTheBuffer) {
  char buffer[6];
  std::memset(buffer, kUnwritten, sizeof buffer);
  EXPECT_EQ(api().vyxpGetInfo(kId, buffer, 4, "AspectRatio"), VYX_OK);
  EXPECT_EQ(std::string(buffer, 5), std::string("0.7\0X", 5));
  EXPECT_EQ(api().vyxpGetInfo(kId, nullptr, 64, "SerialNumber"), VYX_OK);
}

TEST_F(PlatformTest, UnknownKeysAreNotAvailable) {
  for (const char* key : {"FPS\t", "FPS\n", "fps", "Fps", "AspectRatio\n", "Serial", "", " "}) {
    SCOPED_TRACE(std::string("\"") + key + "\"");
    const Answer a = info(key);
    EXPECT_EQ(a.code, VYX_NOT_AVAILABLE);
    EXPECT_TRUE(a.untouched);
    EXPECT_EQ(lastError(*p, kId), "unknown identifier");
  }
}

TEST_F(PlatformTest, UnknownHandleTouchesNothing) {
  ASSERT_EQ(api().vyxpInitRawDataPlugin(kId, "127.0.0.1"), VYX_INVALID_VALUE);
  ASSERT_EQ(lastError(*p, 0), "handle already exists");
  Answer a = command("SetFPS 20", kId + 1);
  EXPECT_EQ(a.code, VYX_INVALID_HANDLE);
  EXPECT_TRUE(a.untouched);
  EXPECT_EQ(lastError(*p, 0), "");

  ASSERT_EQ(api().vyxpInitRawDataPlugin(kId, "127.0.0.1"), VYX_INVALID_VALUE);
  a = info("AspectRatio", kId + 1);
  EXPECT_EQ(a.code, VYX_INVALID_HANDLE);
  EXPECT_TRUE(a.untouched);
  EXPECT_EQ(lastError(*p, 0), "");
  EXPECT_TRUE(cam->calls().empty());
}

}  // namespace
