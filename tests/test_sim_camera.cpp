// The camera simulator, driven in-process through an XML-RPC client and raw sockets.
#include <XmlRpc.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <vector>

#include "lvtsim/camera.h"
#include "lvtsim/replay.h"
#include "lvtsim/scene.h"
#include "lvtwire/frame_format.h"
#include "sim_fixture.h"

namespace {

using lvtsim::Camera;
using lvtsim::CameraConfig;
using lvtsim::ImageOverride;
using lvtsim::RpcFault;
using XmlRpc::XmlRpcValue;
using Bytes = std::vector<uint8_t>;

constexpr size_t kImageBytes = lvtwire::kImageBytes;
constexpr auto kHangGuard = std::chrono::seconds(20);

using vyxtest::startCamera;

bool rpc(const Camera& cam, const char* method, const XmlRpcValue& params, XmlRpcValue& result) {
  XmlRpc::XmlRpcClient client(cam.config().address.c_str(), cam.config().controlPort);
  return client.execute(method, params, result);
}

XmlRpcValue ints(std::initializer_list<int> values) {
  XmlRpcValue v;
  int i = 0;
  for (int x : values) v[i++] = x;
  return v;
}

// A plain TCP client of the data port. Receives give up after kHangGuard so that a broken
// simulator fails the test instead of hanging it.
class DataClient {
 public:
  DataClient(const std::string& address, uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{static_cast<time_t>(kHangGuard.count()), 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    error_ = connected_ ? 0 : errno;
  }
  explicit DataClient(const Camera& cam) : DataClient(cam.config().address, cam.dataPort()) {}
  ~DataClient() { close(fd_); }

  bool connected() const { return connected_; }
  int error() const { return error_; }
  void request(char c) { ASSERT_EQ(send(fd_, &c, 1, MSG_NOSIGNAL), 1); }
  // Up to n bytes; fewer only if the peer closed the connection.
  Bytes read(size_t n) {
    Bytes out(n);
    size_t got = 0;
    while (got < n) {
      const ssize_t k = recv(fd_, out.data() + got, n - got, 0);
      if (k <= 0) break;
      got += static_cast<size_t>(k);
    }
    out.resize(got);
    return out;
  }
  Bytes readUntilClosed() { return read(size_t{1} << 24); }
  // Request and read one answer with a header of `headerBytes` as the header announces it.
  Bytes exchange(char c, size_t headerBytes = 68) {
    request(c);
    Bytes answer = read(headerBytes);
    if (answer.size() < 8) return answer;
    const Bytes data = read(static_cast<size_t>(lvtwire::wordAt(answer, 0)));
    answer.insert(answer.end(), data.begin(), data.end());
    return answer;
  }

 private:
  int fd_;
  bool connected_;
  int error_;
};

Bytes tail(const Bytes& b, size_t from) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.end());
}

// An image block as a recording holds it: header words, then `data`.
Bytes block(float type, const Bytes& data, size_t headerBytes = 68) {
  Bytes out(headerBytes + data.size(), 0);
  lvtwire::putFloatBE(&out[0], static_cast<float>(data.size()));
  lvtwire::putFloatBE(&out[4], static_cast<float>(headerBytes));
  lvtwire::putFloatBE(&out[8], type);
  std::copy(data.begin(), data.end(), out.begin() + static_cast<std::ptrdiff_t>(headerBytes));
  return out;
}

// ---------------------------------------------------------------- control channel

TEST(SimControl, AnswersTheSevenMethodsAndLogsThemExactly) {
  auto cam = startCamera();
  XmlRpcValue args, result;
  args[0] = "127.0.0.1";
  args[1] = 1;
  ASSERT_TRUE(rpc(*cam, "MDAXMLConnectCP", args, result));
  EXPECT_EQ(result.getType(), XmlRpcValue::TypeArray);
  ASSERT_TRUE(rpc(*cam, "MDAXMLSetWorkingMode", ints({1}), result));
  ASSERT_TRUE(rpc(*cam, "MDAXMLSetTrigger", ints({0, 3}), result));

  ASSERT_TRUE(rpc(*cam, "MDAXMLGetTCPPortCP", XmlRpcValue(), result));
  ASSERT_EQ(result.size(), 2);
  EXPECT_EQ(static_cast<int>(result[1]), cam->dataPort());
  EXPECT_NE(cam->dataPort(), 0);

  ASSERT_TRUE(rpc(*cam, "MDAXMLGetFrontendData", XmlRpcValue(), result));
  ASSERT_EQ(result.size(), 10);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(static_cast<int>(result[i + 1]), cam->config().frontend[i]);

  XmlRpcValue bye;
  bye[0] = "127.0.0.2";
  ASSERT_TRUE(rpc(*cam, "MDAXMLDisconnectCP", bye, result));

  const std::vector<std::string> expected = {"MDAXMLConnectCP(\"127.0.0.1\", 1)",
                                             "MDAXMLSetWorkingMode(1)",
                                             "MDAXMLSetTrigger(0, 3)",
                                             "MDAXMLGetTCPPortCP()",
                                             "MDAXMLGetFrontendData()",
                                             "MDAXMLDisconnectCP(\"127.0.0.2\")"};
  const auto calls = cam->calls();
  ASSERT_EQ(calls.size(), expected.size());
  for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(calls[i].text, expected[i]);
  EXPECT_EQ(calls[3].paramCount(), 0);
  EXPECT_FALSE(calls[3].params.valid());
  EXPECT_EQ(calls[3].requestXml.find("<params>"), std::string::npos);
  EXPECT_EQ(calls[0].paramCount(), 2);
  EXPECT_EQ(calls[0].params[0].getType(), XmlRpcValue::TypeString);
  EXPECT_EQ(calls[0].params[1].getType(), XmlRpcValue::TypeInt);
  EXPECT_EQ(cam->methodNames()[5], "MDAXMLDisconnectCP");

  cam->clearLog();
  EXPECT_TRUE(cam->calls().empty());
}

TEST(SimControl, WrongParameterShapesAreFaultsAndLoggedWithTheirTypes) {
  auto cam = startCamera();
  XmlRpc::XmlRpcClient client(cam->config().address.c_str(), 8080);
  XmlRpcValue result;

  XmlRpcValue oneEmpty;
  oneEmpty[0] = "";
  ASSERT_TRUE(client.execute("MDAXMLGetTCPPortCP", oneEmpty, result));
  EXPECT_TRUE(client.isFault());

  XmlRpcValue textForInt;
  textForInt[0] = "1";
  ASSERT_TRUE(client.execute("MDAXMLSetWorkingMode", textForInt, result));
  EXPECT_TRUE(client.isFault());

  XmlRpcValue eightValues = ints({0, 0, 0, 0, 1, 1, 0, 5});
  ASSERT_TRUE(client.execute("MDAXMLSetFrontendData", eightValues, result));
  EXPECT_TRUE(client.isFault());
  EXPECT_EQ(cam->frontend(), cam->config().frontend);

  XmlRpcValue asDouble;
  asDouble[0] = 1.0;
  ASSERT_TRUE(client.execute("MDAXMLSetWorkingMode", asDouble, result));
  EXPECT_TRUE(client.isFault());

  const auto calls = cam->calls();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].text, "MDAXMLGetTCPPortCP(\"\")");
  EXPECT_EQ(calls[0].paramCount(), 1);
  EXPECT_EQ(calls[1].text, "MDAXMLSetWorkingMode(\"1\")");
  EXPECT_EQ(calls[2].text, "MDAXMLSetFrontendData(0, 0, 0, 0, 1, 1, 0, 5)");
  EXPECT_EQ(calls[3].text, "MDAXMLSetWorkingMode(1.0)");
}

TEST(SimControl, FrontendWritesAreClampedAndAnsweredAsHeld) {
  auto cam = startCamera();
  XmlRpcValue result;
  ASSERT_TRUE(
      rpc(*cam, "MDAXMLSetFrontendData", ints({10, 11, 12, 13, 0, 9000, 16, 99, 18}), result));
  const std::array<int32_t, 9> held = {10, 11, 12, 13, 1, 5000, 16, 30, 18};
  ASSERT_EQ(result.size(), 10);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(static_cast<int>(result[i + 1]), held[i]) << i;
  EXPECT_EQ(cam->frontend(), held);

  ASSERT_TRUE(rpc(*cam, "MDAXMLGetFrontendData", XmlRpcValue(), result));
  for (int i = 0; i < 9; ++i) EXPECT_EQ(static_cast<int>(result[i + 1]), held[i]) << i;

  // The next image header carries the new integration times and frame rate.
  DataClient data(*cam);
  const Bytes answer = data.exchange('d');
  EXPECT_EQ(lvtwire::wordAt(answer, 5), 1.0f);
  EXPECT_EQ(lvtwire::wordAt(answer, 6), 5000.0f);
  EXPECT_EQ(lvtwire::wordAt(answer, 7), 30.0f);

  ASSERT_TRUE(rpc(*cam, "MDAXMLSetFrontendData", ints({0, 0, 0, 0, 5000, 1, 0, 0, 0}), result));
  EXPECT_EQ(static_cast<int>(result[8]), 1);
  EXPECT_EQ(static_cast<int>(result[5]), 5000);
  EXPECT_EQ(static_cast<int>(result[6]), 1);
}

TEST(SimControl, FpsRangeAndWriteAdjustment) {
  auto cam = startCamera();
  cam->setFpsRange(5, 12);
  XmlRpcValue result;
  ASSERT_TRUE(rpc(*cam, "MDAXMLSetFrontendData", ints({0, 0, 0, 0, 100, 100, 0, 2, 0}), result));
  EXPECT_EQ(static_cast<int>(result[8]), 5);
  ASSERT_TRUE(rpc(*cam, "MDAXMLSetFrontendData", ints({0, 0, 0, 0, 100, 100, 0, 20, 0}), result));
  EXPECT_EQ(static_cast<int>(result[8]), 12);

  // A camera that refuses 7 fps keeps the rate it had.
  Camera* c = cam.get();
  cam->setFrontendWriteAdjust([c](std::array<int32_t, 9>& v) {
    if (v[7] == 7) v[7] = c->frontend()[7];
  });
  ASSERT_TRUE(rpc(*cam, "MDAXMLSetFrontendData", ints({0, 0, 0, 0, 100, 100, 0, 7, 0}), result));
  EXPECT_EQ(static_cast<int>(result[8]), 12);
  ASSERT_TRUE(rpc(*cam, "MDAXMLSetFrontendData", ints({0, 0, 0, 0, 100, 100, 0, 8, 0}), result));
  EXPECT_EQ(static_cast<int>(result[8]), 8);
  EXPECT_EQ(cam->frontend()[7], 8);
}

TEST(SimControl, AnnouncedPortOverride) {
  auto cam = startCamera();
  cam->setAnnouncedPort(65536u + cam->dataPort());
  XmlRpcValue result;
  ASSERT_TRUE(rpc(*cam, "MDAXMLGetTCPPortCP", XmlRpcValue(), result));
  EXPECT_EQ(static_cast<int>(result[1]), 65536 + cam->dataPort());
  cam->setAnnouncedPort(std::nullopt);
  ASSERT_TRUE(rpc(*cam, "MDAXMLGetTCPPortCP", XmlRpcValue(), result));
  EXPECT_EQ(static_cast<int>(result[1]), cam->dataPort());
}

TEST(SimControl, RpcFaultKinds) {
  auto cam = startCamera();
  XmlRpc::XmlRpcClient client(cam->config().address.c_str(), 8080);
  XmlRpcValue none, result;

  cam->setRpcFault("MDAXMLGetTCPPortCP", RpcFault::Fault, 1);
  ASSERT_TRUE(client.execute("MDAXMLGetTCPPortCP", none, result));
  EXPECT_TRUE(client.isFault());
  ASSERT_TRUE(client.execute("MDAXMLGetTCPPortCP", none, result));  // count used up
  EXPECT_FALSE(client.isFault());
  EXPECT_EQ(static_cast<int>(result[1]), cam->dataPort());

  cam->setRpcFault("MDAXMLGetFrontendData", RpcFault::WrongShape);
  ASSERT_TRUE(client.execute("MDAXMLGetFrontendData", none, result));
  EXPECT_FALSE(client.isFault());
  EXPECT_EQ(result.getType(), XmlRpcValue::TypeString);
  ASSERT_TRUE(client.execute("MDAXMLGetFrontendData", none, result));  // -1: stays on
  EXPECT_EQ(result.getType(), XmlRpcValue::TypeString);

  cam->setRpcFault("MDAXMLGetFrontendData", RpcFault::ShortArray);
  ASSERT_TRUE(client.execute("MDAXMLGetFrontendData", none, result));
  ASSERT_EQ(result.getType(), XmlRpcValue::TypeArray);
  EXPECT_EQ(result.size(), 1);

  cam->setRpcFault("MDAXMLGetFrontendData", RpcFault::None);
  ASSERT_TRUE(client.execute("MDAXMLGetFrontendData", none, result));
  EXPECT_EQ(result.size(), 10);

  // Only the named method is affected.
  cam->setRpcFault("MDAXMLSetTrigger", RpcFault::Close);
  ASSERT_TRUE(client.execute("MDAXMLSetWorkingMode", ints({1}), result));
  EXPECT_FALSE(client.execute("MDAXMLSetTrigger", ints({0, 3}), result));
  cam->setRpcFault("MDAXMLSetTrigger", RpcFault::None);
  XmlRpc::XmlRpcClient fresh(cam->config().address.c_str(), 8080);
  EXPECT_TRUE(fresh.execute("MDAXMLSetTrigger", ints({0, 3}), result));
  EXPECT_FALSE(fresh.isFault());
}

TEST(SimControl, StopReleasesASilentCall) {
  auto cam = startCamera();
  cam->setRpcFault("MDAXMLConnectCP", RpcFault::Silent);
  const std::string address = cam->config().address;
  auto call = std::async(std::launch::async, [address] {
    XmlRpc::XmlRpcClient client(address.c_str(), 8080);
    XmlRpcValue args, result;
    args[0] = "127.0.0.1";
    args[1] = 1;
    return client.execute("MDAXMLConnectCP", args, result);
  });
  // The call is being served once it is in the log; it must still be waiting for an answer.
  while (cam->calls().empty()) std::this_thread::yield();
  EXPECT_EQ(call.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  cam->stop();
  ASSERT_EQ(call.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_FALSE(call.get());
  EXPECT_FALSE(cam->running());
  cam->stop();  // idempotent
}

// ---------------------------------------------------------------- data channel

TEST(SimData, OneFrameIsTwoImagesWithTheDocumentedHeader) {
  auto cam = startCamera();
  DataClient data(*cam);
  ASSERT_TRUE(data.connected());
  const Bytes d = data.exchange('d');
  const Bytes i = data.exchange('i');
  ASSERT_EQ(d.size() + i.size(), 25736u);

  const float expected[17] = {12800, 68, 1, 0, 'd', 1000, 2000, 25, 0, 0, 0, 0, 0, 0, 0, 1, 0};
  for (size_t w = 0; w < 17; ++w) EXPECT_EQ(lvtwire::wordAt(d, w), expected[w]) << "word " << w;
  EXPECT_EQ(lvtwire::wordAt(i, 2), 2.0f);
  EXPECT_EQ(lvtwire::wordAt(i, 4), static_cast<float>('i'));
  EXPECT_EQ(tail(d, 68), lvtsim::renderImage(cam->config(), 1, 0));
  EXPECT_EQ(tail(i, 68), lvtsim::renderImage(cam->config(), 2, 0));
  EXPECT_EQ(cam->lastAnswer('d'), d);
  EXPECT_EQ(cam->lastAnswer('i'), i);

  // The frame counter advances per request byte.
  const Bytes d2 = data.exchange('d');
  EXPECT_EQ(lvtwire::wordAt(d2, 3), 1.0f);
  EXPECT_EQ(tail(d2, 68), lvtsim::renderImage(cam->config(), 1, 1));
  EXPECT_EQ(cam->framesAnswered('d'), 2u);
  EXPECT_EQ(cam->dataRequests(), (Bytes{'d', 'i', 'd'}));

  // An unknown request byte is answered with image type 0, so a client asks again.
  const Bytes unknown = data.exchange('x');
  ASSERT_EQ(unknown.size(), 68 + kImageBytes);
  EXPECT_EQ(lvtwire::wordAt(unknown, 2), 0.0f);
}

TEST(SimData, HeaderSizeFromConfig) {
  for (unsigned headerSize : {412u, 100u, 10u}) {
    CameraConfig cfg;
    cfg.headerSize = headerSize;
    auto cam = startCamera(cfg);
    DataClient data(*cam);
    const Bytes answer = data.exchange('d', headerSize);
    ASSERT_EQ(answer.size(), headerSize + kImageBytes) << headerSize;
    EXPECT_EQ(lvtwire::wordAt(answer, 1), static_cast<float>(headerSize));
    if (headerSize >= 64) {
      EXPECT_EQ(lvtwire::wordAt(answer, 15), 1.0f);
    }
    for (size_t w = 17; w < headerSize / 4; ++w) EXPECT_EQ(lvtwire::wordAt(answer, w), 0.0f);
    EXPECT_EQ(tail(answer, headerSize), lvtsim::renderImage(cfg, 1, 0));
  }
}

TEST(SimData, QueuedOverridesApplyInOrderToTheirRequestByte) {
  auto cam = startCamera();
  ImageOverride invalid;
  invalid.validity = -1.0f;
  invalid.itime0 = -1.0f;
  cam->queueImage('d', invalid);
  ImageOverride empty;
  empty.size = 0;
  empty.imageType = 0;
  cam->queueImage('d', empty);
  ImageOverride longHeader;
  longHeader.headerSize = 412;
  longHeader.itime1 = 800;
  cam->queueImage('i', longHeader);

  DataClient data(*cam);
  const Bytes i = data.exchange('i', 412);
  ASSERT_EQ(i.size(), 412 + kImageBytes);
  EXPECT_EQ(lvtwire::wordAt(i, 1), 412.0f);
  EXPECT_EQ(Bytes(i.begin() + 24, i.begin() + 28), (Bytes{0x44, 0x48, 0x00, 0x00}));  // 800.0

  const Bytes first = data.exchange('d');
  ASSERT_EQ(first.size(), 68 + kImageBytes);
  EXPECT_EQ(lvtwire::wordAt(first, 15), -1.0f);
  EXPECT_EQ(lvtwire::wordAt(first, 5), -1.0f);
  EXPECT_EQ(lvtwire::wordAt(first, 6), 2000.0f);

  const Bytes second = data.exchange('d');
  ASSERT_EQ(second.size(), 68u);
  EXPECT_EQ(lvtwire::wordAt(second, 0), 0.0f);
  EXPECT_EQ(lvtwire::wordAt(second, 2), 0.0f);

  const Bytes normal = data.exchange('d');
  ASSERT_EQ(normal.size(), 68 + kImageBytes);
  EXPECT_EQ(lvtwire::wordAt(normal, 15), 1.0f);
  EXPECT_EQ(lvtwire::wordAt(normal, 3), 2.0f);  // overridden answers count as frames too
}

TEST(SimData, LargerDataSizeIsZeroFilled) {
  auto cam = startCamera();
  ImageOverride bigger;
  bigger.size = static_cast<float>(kImageBytes + 8);
  cam->queueImage('d', bigger);
  DataClient data(*cam);
  const Bytes answer = data.exchange('d');
  ASSERT_EQ(answer.size(), 68 + kImageBytes + 8);
  EXPECT_EQ(tail(answer, answer.size() - 8), Bytes(8, 0));
  EXPECT_EQ(cam->lastAnswer('d'), answer);
}

TEST(SimData, CloseAfterBytesRawAndSilentAnswers) {
  auto cam = startCamera();
  ImageOverride cut;
  cut.closeAfterBytes = 68 + 100;
  cam->queueImage('i', cut);
  {
    DataClient data(*cam);
    EXPECT_EQ(data.exchange('d').size(), 68 + kImageBytes);
    data.request('i');
    const Bytes got = data.readUntilClosed();
    EXPECT_EQ(got.size(), 168u);
    EXPECT_EQ(cam->lastAnswer('i'), got);
  }

  ImageOverride raw;
  raw.raw = Bytes{1, 2, 3, 4, 5};
  cam->queueImage('d', raw);
  ImageOverride quiet;
  quiet.silent = true;
  cam->queueImage('i', quiet);
  {
    DataClient data(*cam);
    data.request('d');
    EXPECT_EQ(data.read(5), (Bytes{1, 2, 3, 4, 5}));
    const Bytes next = data.exchange('d');  // the raw answer was all there was
    EXPECT_EQ(lvtwire::wordAt(next, 2), 1.0f);

    data.request('i');
    data.request('d');  // a silent connection answers nothing more, but still logs
    while (cam->dataRequests().size() < 6) std::this_thread::yield();
    EXPECT_EQ(cam->framesAnswered('d'), 3u);
  }
  // The camera notices the client giving up on a silent answer.
  EXPECT_TRUE(cam->waitForOpenDataConnections(0, kHangGuard));

  cam->queueImage('d', quiet);
  DataClient stuck(*cam);
  stuck.request('d');
  while (cam->dataRequests().size() < 7) std::this_thread::yield();
  cam->stop();
  EXPECT_TRUE(stuck.readUntilClosed().empty());  // nothing was sent before the stop
  EXPECT_EQ(cam->openDataConnections(), 0u);
}

TEST(SimData, SingleByteSendsCarryTheSameAnswer) {
  auto cam = startCamera();
  cam->setSplitIntoSingleBytes(true);
  DataClient data(*cam);
  const Bytes split = data.exchange('d');
  cam->setSplitIntoSingleBytes(false);
  EXPECT_EQ(split.size(), 68 + kImageBytes);
  EXPECT_EQ(split, cam->lastAnswer('d'));
  EXPECT_EQ(tail(split, 68), lvtsim::renderImage(cam->config(), 1, 0));
  const Bytes whole = data.exchange('d');
  EXPECT_EQ(tail(whole, 68), lvtsim::renderImage(cam->config(), 1, 1));
}

TEST(SimData, ReplayAnswersRecordedBlocksInOrderAndLoops) {
  auto cam = startCamera();
  const Bytes a = block(1, Bytes(16, 0xaa)), b = block(2, Bytes(8, 0xbb), 412),
              c = block(8, Bytes{});
  Bytes frame1 = a;
  frame1.insert(frame1.end(), b.begin(), b.end());
  cam->setReplay({frame1, c});

  DataClient data(*cam);
  EXPECT_EQ(data.exchange('d'), a);
  EXPECT_EQ(data.exchange('i', 412), b);
  EXPECT_EQ(data.exchange('d'), c);
  EXPECT_EQ(data.exchange('z'), a);  // any byte takes the next block
  EXPECT_EQ(cam->lastAnswer('z'), a);

  cam->setReplay({});
  const Bytes synthetic = data.exchange('d');
  EXPECT_EQ(tail(synthetic, 68), lvtsim::renderImage(cam->config(), 1, 2));

  Bytes cutShort = a;
  cutShort.pop_back();
  EXPECT_THROW(cam->setReplay({cutShort}), std::invalid_argument);
  EXPECT_THROW(cam->setReplay({Bytes(4, 0)}), std::invalid_argument);
  EXPECT_THROW(cam->setReplay({Bytes{}}), std::invalid_argument);
}

TEST(SimData, ReplayFramesLoadFromADirectoryInNameOrder) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("lvtsim-replay-" + std::to_string(getpid()));
  fs::create_directories(dir);
  auto write = [&](const std::string& name, const Bytes& bytes) {
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  };
  write("frame_0002.raw", block(2, Bytes(4, 2)));
  write("frame_0001.raw", block(1, Bytes(4, 1)));
  write("notes.txt", Bytes{'x'});
  const auto frames = lvtsim::loadReplayFrames(dir.string());
  fs::remove_all(dir);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], block(1, Bytes(4, 1)));
  EXPECT_EQ(frames[1], block(2, Bytes(4, 2)));
  EXPECT_THROW(lvtsim::loadReplayFrames(dir.string()), std::runtime_error);
}

TEST(SimData, ListenerCanBeClosedAndReopenedOnTheSamePort) {
  auto cam = startCamera();
  const uint16_t port = cam->dataPort();
  DataClient before(*cam);
  // Answered means accepted: closing the listener drops connections still in its backlog.
  ASSERT_EQ(before.exchange('d').size(), 68 + kImageBytes);

  cam->setDataPortListening(false);
  DataClient refused(*cam);
  EXPECT_FALSE(refused.connected());
  EXPECT_EQ(refused.error(), ECONNREFUSED);
  EXPECT_EQ(before.exchange('d').size(), 68 + kImageBytes);  // open connections keep working

  cam->setDataPortListening(true);
  EXPECT_EQ(cam->dataPort(), port);
  DataClient after(*cam);
  ASSERT_TRUE(after.connected());
  EXPECT_EQ(after.exchange('d').size(), 68 + kImageBytes);
  EXPECT_EQ(cam->connectionsAccepted(), 2u);
}

TEST(SimData, ServesSeveralConnectionsAndCountsThem) {
  auto cam = startCamera();
  {
    DataClient one(*cam), two(*cam);
    EXPECT_EQ(two.exchange('i').size(), 68 + kImageBytes);
    EXPECT_EQ(one.exchange('d').size(), 68 + kImageBytes);
    EXPECT_EQ(cam->connectionsAccepted(), 2u);
    EXPECT_EQ(cam->openDataConnections(), 2u);
  }
  EXPECT_TRUE(cam->waitForOpenDataConnections(0, kHangGuard));

  // stop() closes connections that are still open.
  DataClient three(*cam);
  EXPECT_EQ(three.exchange('d').size(), 68 + kImageBytes);
  cam->stop();
  EXPECT_TRUE(three.readUntilClosed().empty());
  EXPECT_EQ(cam->openDataConnections(), 0u);
}

// ---------------------------------------------------------------- lifecycle

TEST(SimLifecycle, StartRefusesBadAddressesAndBusyPorts) {
  CameraConfig cfg;
  cfg.address = "10.0.0.1";
  EXPECT_THROW(Camera(cfg).start(), std::invalid_argument);
  cfg.address = "localhost";
  EXPECT_THROW(Camera(cfg).start(), std::invalid_argument);

  auto cam = startCamera();
  Camera twin(cam->config());
  try {
    twin.start();
    FAIL() << "second camera on the same address started";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(cam->config().address + ":8080"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(twin.running());
}

TEST(SimLifecycle, RestartKeepsTheDataPortAndState) {
  auto cam = startCamera();
  const uint16_t port = cam->dataPort();
  XmlRpcValue result;
  ASSERT_TRUE(rpc(*cam, "MDAXMLSetFrontendData", ints({0, 0, 0, 0, 300, 400, 0, 10, 0}), result));
  cam->stop();
  XmlRpc::XmlRpcClient down(cam->config().address.c_str(), 8080);
  EXPECT_FALSE(down.execute("MDAXMLGetFrontendData", XmlRpcValue(), result));
  EXPECT_FALSE(DataClient(*cam).connected());

  cam->start();
  EXPECT_EQ(cam->dataPort(), port);
  ASSERT_TRUE(rpc(*cam, "MDAXMLGetFrontendData", XmlRpcValue(), result));
  EXPECT_EQ(static_cast<int>(result[5]), 300);
  DataClient data(*cam);
  EXPECT_EQ(data.exchange('d').size(), 68 + kImageBytes);
}

// ---------------------------------------------------------------- scene

TEST(SimScene, DeterministicPerSeedAndFrameAndPeriodic) {
  CameraConfig cfg;
  const Bytes f0 = lvtsim::renderImage(cfg, 1, 0);
  ASSERT_EQ(f0.size(), kImageBytes);
  EXPECT_EQ(f0, lvtsim::renderImage(cfg, 1, 0));
  EXPECT_EQ(f0, lvtsim::renderImage(cfg, 1, lvtsim::kScenePeriod));
  EXPECT_NE(f0, lvtsim::renderImage(cfg, 1, 1));
  EXPECT_NE(f0, lvtsim::renderImage(cfg, 2, 0));
  CameraConfig other = cfg;
  other.seed = 2;
  EXPECT_NE(f0, lvtsim::renderImage(other, 1, 0));
  EXPECT_EQ(lvtsim::renderImage(cfg, 5, 0), Bytes(kImageBytes, 0));
  other.columns = 10;
  other.rows = 3;
  EXPECT_EQ(lvtsim::renderImage(other, 2, 0).size(), 120u);
}

TEST(SimScene, ValuesArePlausible) {
  CameraConfig cfg;
  for (uint64_t frame : {0u, 30u, 77u}) {
    const Bytes d = lvtsim::renderImage(cfg, 1, frame), a = lvtsim::renderImage(cfg, 2, frame);
    const Bytes x = lvtsim::renderImage(cfg, 8, frame), y = lvtsim::renderImage(cfg, 9, frame),
                z = lvtsim::renderImage(cfg, 10, frame);
    for (size_t k = 0; k < 3200; ++k) {
      const float dist = lvtwire::wordAt(d, k), amp = lvtwire::wordAt(a, k);
      ASSERT_TRUE(std::isfinite(dist) && std::isfinite(amp));
      ASSERT_GT(dist, 0.5f);
      ASSERT_LT(dist, 4.0f);
      ASSERT_GT(amp, 0.0f);
      const float px = lvtwire::wordAt(x, k), py = lvtwire::wordAt(y, k),
                  pz = lvtwire::wordAt(z, k);
      ASSERT_NEAR(std::sqrt(px * px + py * py + pz * pz), dist, 1e-4f);
      ASSERT_GT(pz, 0.0f);
    }
  }
  // The sphere in the middle is nearer and brighter than the wall in a corner.
  const Bytes d = lvtsim::renderImage(cfg, 1, 0), a = lvtsim::renderImage(cfg, 2, 0);
  const size_t centre = 25 * 64 + 32, corner = 0;
  EXPECT_LT(lvtwire::wordAt(d, centre), lvtwire::wordAt(d, corner));
  EXPECT_GT(lvtwire::wordAt(a, centre), lvtwire::wordAt(a, corner));
}

TEST(SimScene, AmplitudeFollowsTheIntegrationTimeAndSaturates) {
  CameraConfig cfg;
  const auto amplitudes = [&cfg](int32_t itime) {
    const Bytes a = lvtsim::renderImage(cfg, 2, 0, itime);
    std::vector<float> v(lvtwire::kPixelWords);
    for (size_t k = 0; k < v.size(); ++k) v[k] = lvtwire::wordAt(a, k);
    return v;
  };
  EXPECT_EQ(lvtsim::renderImage(cfg, 2, 0),
            lvtsim::renderImage(cfg, 2, 0, cfg.frontend[lvtwire::frontend::kItime0]));
  const std::vector<float> a500 = amplitudes(500), a1000 = amplitudes(1000),
                           a2000 = amplitudes(2000), a5000 = amplitudes(5000);
  size_t saturated = 0;
  for (size_t k = 0; k < 3200; ++k) {
    ASSERT_NEAR(a2000[k] / a1000[k], 2.0f, 1e-3f) << k;
    ASSERT_NEAR(a500[k] / a1000[k], 0.5f, 1e-3f) << k;
    ASSERT_LT(a2000[k], lvtsim::kAmplitudeSaturation) << k;
    ASSERT_LE(a5000[k], lvtsim::kAmplitudeSaturation) << k;
    saturated += a5000[k] == lvtsim::kAmplitudeSaturation ? 1 : 0;
  }
  // The bright sphere saturates at the longest exposure, the dim wall corners do not.
  EXPECT_GT(saturated, 50u);
  EXPECT_LT(saturated, 3000u);
  // Seeded noise: the same seed gives the same image, another seed another one.
  CameraConfig other = cfg;
  other.seed = 7;
  EXPECT_EQ(lvtsim::renderImage(cfg, 2, 3, 800), lvtsim::renderImage(cfg, 2, 3, 800));
  EXPECT_NE(lvtsim::renderImage(other, 2, 3, 800), lvtsim::renderImage(cfg, 2, 3, 800));
}

}  // namespace
