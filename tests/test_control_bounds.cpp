// Answers on the control channel that once took the host down or held it:
// a huge answer, a header that never ends, deeply nested values. Each must
// end as a failed call, with the texts and codes of a camera that does not
// answer, within the call's limit, leaving no descriptor behind.
#include <chrono>
#include <ostream>
#include <string>

#include "control_peer.h"
#include "plugin_fixture.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using vyxtest::ControlPeer;
using vyxtest::ControlReply;
using vyxtest::httpAnswer;
using vyxtest::lastError;
using vyxtest::methodResponse;

constexpr unsigned int kId = 1;
// The plug-in's limit per control call, and what the check of it allows on a
// loaded machine.
constexpr auto kCallLimit = seconds(10);
constexpr auto kMargin = seconds(3);
// What the fake camera may get into the client at most: the largest answer
// taken, plus what loopback socket buffers hold.
constexpr size_t kMaxBytesTaken = size_t{32} << 20;

std::string repeated(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

std::string nestedStructs(size_t depth) {
  return repeated("<value><struct><member><name>a</name>", depth) + "<value><i4>1</i4></value>" +
         repeated("</member></struct></value>", depth);
}

std::string nestedArrays(size_t depth) {
  return repeated("<value><array><data>", depth) + "<value><i4>1</i4></value>" +
         repeated("</data></array></value>", depth);
}

ControlReply reply(std::string bytes) {
  ControlReply r;
  r.bytes = std::move(bytes);
  return r;
}

struct BadAnswer {
  const char* name;
  ControlReply (*make)();
};

const BadAnswer kBadAnswers[] = {
    {"HugeDeclaredLength",
     [] {
       ControlReply r;
       r.bytes = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-length: 2147483647\r\n\r\n";
       r.repeat = repeated("<value><string>xxxxxxxx</string></value>", 1000);
       return r;
     }},
    {"EndlessHeader",
     [] {
       ControlReply r;
       r.bytes = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n";
       r.repeat = repeated("X-Padding: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n", 100);
       return r;
     }},
    {"TwelveThousandNestedStructs",
     [] { return reply(httpAnswer(methodResponse(nestedStructs(12000)))); }},
    {"HundredThousandNestedArrays",
     [] { return reply(httpAnswer(methodResponse(nestedArrays(100000)))); }},
    // As deep as fits in the largest answer taken: only the nesting check stands
    // between this and the library's recursive parse.
    {"NestedArraysWithinTheSizeLimit",
     [] { return reply(httpAnswer(methodResponse(repeated("<value><array><data>", 50000)))); }},
    // A byte every few milliseconds: endless, and never enough to reach a size
    // limit before the time limit.
    {"TrickledHeader",
     [] {
       ControlReply r;
       r.bytes = "HTTP/1.1 200 OK\r\n";
       r.repeat = "X-Slow: a\r\n";
       r.pieceBytes = 1;
       r.pieceGap = milliseconds(5);
       return r;
     }},
};

void PrintTo(const BadAnswer& answer, std::ostream* os) { *os << answer.name; }

class ControlPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    p = vyxtest::freshPlugin();
    peer = ControlPeer::startOnFreeLoopback();
    descriptors = vyxtest::openDescriptors();
  }

  // The client stopped taking the answer early, and the descriptors of the
  // calls are gone once the fake camera has seen every connection closed.
  void expectCutShortAndNothingLeft() {
    EXPECT_TRUE(peer->waitIdle(seconds(5))) << "a connection is still held open";
    EXPECT_LT(peer->bytesSent(), kMaxBytesTaken) << "the client kept taking the answer";
    EXPECT_EQ(vyxtest::openDescriptors(), descriptors);
  }

  // Runs call, checks its time against the limit of `rpcCalls` control calls.
  template <typename Call>
  int timed(int rpcCalls, Call call) {
    const auto start = std::chrono::steady_clock::now();
    const int code = call();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, rpcCalls * kCallLimit + kMargin);
    return code;
  }

  std::unique_ptr<vyxhost::Plugin> p;
  std::unique_ptr<ControlPeer> peer;
  int descriptors = 0;
};

class ControlBoundsTest : public ControlPeerTest,
                          public ::testing::WithParamInterface<BadAnswer> {};

// A camera that closes the connection after every answer is served as before:
// the client takes a closed connection between calls as the library does.
TEST_F(ControlPeerTest, CameraClosingAfterEveryAnswerIsServedAsBefore) {
  peer->setScript([this](const std::string& method) {
    ControlReply r = peer->normalReply(method);
    r.close = true;
    return r;
  });
  ASSERT_EQ(p->api().vyxpInitRawDataPlugin(kId, peer->address().c_str()), VYX_OK);
  EXPECT_EQ(p->api().vyxpSetIntegrationTime(kId, 0, 1500), VYX_OK);
  EXPECT_EQ(p->api().vyxpDeinitPlugin(kId), VYX_OK);
  EXPECT_EQ(peer->methods(),
            (std::vector<std::string>{"MDAXMLConnectCP", "MDAXMLSetWorkingMode", "MDAXMLSetTrigger",
                                      "MDAXMLGetTCPPortCP", "MDAXMLGetFrontendData",
                                      "MDAXMLSetFrontendData", "MDAXMLDisconnectCP"}));
  expectCutShortAndNothingLeft();
}

// Opening: the first call gets the bad answer; the opening fails as with a
// camera that does not answer, and the handle stays free.
TEST_P(ControlBoundsTest, OpeningRefusesTheAnswer) {
  peer->setScript([this](const std::string& method) {
    return method == "MDAXMLConnectCP" ? GetParam().make() : peer->normalReply(method);
  });
  const int code =
      timed(1, [&] { return p->api().vyxpInitRawDataPlugin(kId, peer->address().c_str()); });
  EXPECT_EQ(code, VYX_COULD_NOT_OPEN);
  EXPECT_EQ(lastError(*p, 0), "camera connection");
  size_t size = 0;
  EXPECT_EQ(p->api().vyxpGetRawDataSize(kId, &size), VYX_INVALID_HANDLE);
  EXPECT_EQ(peer->methods(), std::vector<std::string>{"MDAXMLConnectCP"});
  expectCutShortAndNothingLeft();
}

// Closing: the disconnect gets the bad answer and the instance stays open, as
// with a camera that does not answer; a well-formed answer then closes it.
// The instance's other calls still work in between.
TEST_P(ControlBoundsTest, ClosingRefusesTheAnswerAndCanBeRetried) {
  ASSERT_EQ(p->api().vyxpInitRawDataPlugin(kId, peer->address().c_str()), VYX_OK);
  unsigned int itime = 0;
  EXPECT_EQ(p->api().vyxpGetIntegrationTime(kId, &itime, 1), VYX_OK);
  EXPECT_EQ(itime, 2000u) << "the front-end answer was read as before";
  peer->setScript([this](const std::string& method) {
    return method == "MDAXMLDisconnectCP" ? GetParam().make() : peer->normalReply(method);
  });
  EXPECT_EQ(timed(1, [&] { return p->api().vyxpDeinitPlugin(kId); }), VYX_RUNTIME_ERROR);
  EXPECT_EQ(lastError(*p, kId), "");
  EXPECT_EQ(p->api().vyxpSetIntegrationTime(kId, 0, 1500), VYX_OK);

  peer->setScript({});
  EXPECT_EQ(p->api().vyxpDeinitPlugin(kId), VYX_OK);
  EXPECT_EQ(lastError(*p, kId), "<no text: " + std::to_string(VYX_INVALID_HANDLE) + ">");
  expectCutShortAndNothingLeft();
}

INSTANTIATE_TEST_SUITE_P(BadAnswers, ControlBoundsTest, ::testing::ValuesIn(kBadAnswers),
                         [](const ::testing::TestParamInfo<BadAnswer>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
