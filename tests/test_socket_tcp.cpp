// The data-port socket library against real loopback peers: exact reads,
// peers that split, overfill, stall, close or reset, connection failures,
// descriptor ownership, signals and the byte-order helpers.
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "plugin_fixture.h"
#include "test_socket_peer.h"
#include "vyxtcpsocket.h"

namespace {

using vyxtest::LoopbackListener;
using vyxtest::openDescriptors;
using vyxtest::PeerConnection;

// Counts the receive calls that receiveMessage makes and lets a test act
// between them (for instance, let the peer send its next byte).
class CountingSocket : public vyx::TCPSocket {
 public:
  void receive(unsigned& len, void* data) override {
    ++calls;
    vyx::TCPSocket::receive(len, data);
    if (afterEachReceive) afterEachReceive();
  }
  using vyx::TCPSocket::receive;
  int calls = 0;
  std::function<void()> afterEachReceive;
};

// Runs f and returns the library's exception it raised; fails the test when
// it raised nothing.
template <typename F>
vyx::NetworkException raised(F&& f) {
  try {
    f();
  } catch (const vyx::NetworkException& e) {
    return e;
  }
  ADD_FAILURE() << "no NetworkException";
  return vyx::NetworkException(0, "");
}

bool descriptorIsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

std::vector<char> pattern(size_t n) {
  std::vector<char> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<char>(i * 7 + 3);
  return v;
}

// --- reading exactly --------------------------------------------------------

TEST(SocketReceive, MessageSentOneByteAtATimeIsAssembledInOrder) {
  LoopbackListener listener;
  CountingSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());

  // The peer sends the next byte only once the previous one was read, so
  // every receive sees exactly one byte and the loop must advance its offset.
  const std::vector<char> sent = pattern(40);
  size_t next = 0;
  sock.afterEachReceive = [&] {
    if (next < sent.size()) peer.send(&sent[next++], 1);
  };
  peer.send(&sent[next++], 1);

  std::vector<char> got(sent.size(), 'X');
  sock.receiveMessage(got);
  EXPECT_EQ(got, sent);
  EXPECT_EQ(sock.calls, 40);
  EXPECT_TRUE(sock.isConnected());
}

TEST(SocketReceive, BytesBeyondTheRequestStayForTheNextRead) {
  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  const std::vector<char> sent = pattern(10);
  peer.send(sent);

  char head[4];
  sock.receiveMessage(sizeof head, head);
  EXPECT_EQ(std::vector<char>(head, head + 4), std::vector<char>(sent.begin(), sent.begin() + 4));

  std::vector<char> rest(6);
  sock.receiveMessage(rest);
  EXPECT_EQ(rest, std::vector<char>(sent.begin() + 4, sent.end()));
  EXPECT_FALSE(sock.hasData()) << "nothing more than was sent";
}

TEST(SocketReceive, ZeroLengthReadsTouchNothing) {
  // Not even connected: a read of nothing must not reach the socket at all.
  CountingSocket idle;
  EXPECT_NO_THROW(idle.receiveMessage(0, nullptr));
  std::vector<char> empty;
  EXPECT_NO_THROW(idle.receiveMessage(empty));
  EXPECT_EQ(idle.calls, 0);

  LoopbackListener listener;
  CountingSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  peer.send({'a', 'b'});
  sock.receiveMessage(0, nullptr);
  sock.receiveMessage(empty);
  EXPECT_EQ(sock.calls, 0);
  char two[2];
  sock.receiveMessage(2, two);
  EXPECT_EQ(std::string(two, 2), "ab") << "the empty reads consumed nothing";
}

TEST(SocketReceive, PeerClosingMidMessageDisconnects) {
  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  peer.send({'1', '2', '3'});
  peer.close();

  std::vector<char> buf(8, 'X');
  auto e = raised([&] { sock.receiveMessage(buf); });
  EXPECT_EQ(e.no(), 2);
  EXPECT_STREQ(e.what(), "disconnected during receive");
  EXPECT_EQ(std::string(buf.data(), 3), "123") << "bytes already read stay in the buffer";
  EXPECT_FALSE(sock.isConnected());

  auto s = raised([&] { sock.send(1, "r"); });
  EXPECT_EQ(s.no(), 4);
  EXPECT_STREQ(s.what(), "not connected");
}

TEST(SocketReceive, ResetByPeerDisconnectsToo) {
  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  peer.reset();
  char c;
  EXPECT_EQ(raised([&] { sock.receiveMessage(1, &c); }).no(), 2);
  EXPECT_FALSE(sock.isConnected());
}

TEST(SocketReceive, SilentPeerTimesOutAsALostConnection) {
  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.setTimeout(200);
  EXPECT_EQ(sock.timeout(), 200);
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  peer.send({'x'});  // one byte of four, then silence

  char buf[4];
  auto e = raised([&] { sock.receiveMessage(sizeof buf, buf); });
  EXPECT_EQ(e.no(), 2);
  EXPECT_STREQ(e.what(), "disconnected during receive");
  EXPECT_EQ(buf[0], 'x');
  EXPECT_FALSE(sock.isConnected());
  // The socket gave up its end: the peer sees the close.
  EXPECT_TRUE(peer.receiveSome().empty());
}

// --- signals ----------------------------------------------------------------

std::atomic<int> g_alarms{0};
void countAlarm(int) { ++g_alarms; }

TEST(SocketReceive, InterruptedBySignalsKeepsWaitingForTheData) {
  if (std::getenv("VYX_TEST_EMULATED") != nullptr)
    GTEST_SKIP() << "a user-mode emulator delivers timer signals to a blocked receive its own way; "
                    "the native build checks this";
  struct sigaction action {};
  action.sa_handler = countAlarm;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: blocking calls return EINTR
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGALRM, &action, &previous), 0);

  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());

  // The peer thread blocks SIGALRM so the signals land on the reader, and
  // sends only after several of them have interrupted the wait.
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &alarm, nullptr), 0);
  g_alarms = 0;
  std::thread sender([&] {
    while (g_alarms < 3) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    peer.send({'o', 'k'});
  });
  ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &alarm, nullptr), 0);

  itimerval every20ms{{0, 20000}, {0, 20000}};
  ASSERT_EQ(::setitimer(ITIMER_REAL, &every20ms, nullptr), 0);
  char got[2] = {};
  bool threw = false;
  try {
    sock.receiveMessage(sizeof got, got);
  } catch (const vyx::NetworkException&) {
    threw = true;
  }
  itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  sender.join();
  ::sigaction(SIGALRM, &previous, nullptr);

  EXPECT_FALSE(threw) << "a signal counted as a lost connection";
  EXPECT_GE(g_alarms.load(), 3);
  EXPECT_EQ(std::string(got, 2), "ok");
  EXPECT_TRUE(sock.isConnected());
}

// --- sending ----------------------------------------------------------------

TEST(SocketSend, BytesArriveAndZeroLengthIsRefusedOnALiveConnection) {
  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());

  auto zero = raised([&] { sock.send(0, "x"); });
  EXPECT_EQ(zero.no(), 4);
  EXPECT_STREQ(zero.what(), "not connected");
  const std::vector<char> none;
  EXPECT_EQ(raised([&] { sock.send(none); }).no(), 4);
  EXPECT_TRUE(sock.isConnected()) << "a refused empty send changes nothing";

  sock.send(1, "d");
  sock.send(std::vector<char>{'i', 'j'});
  std::string seen;
  while (seen.size() < 3) {
    auto part = peer.receiveSome();
    ASSERT_FALSE(part.empty());
    seen.append(part.begin(), part.end());
  }
  EXPECT_EQ(seen, "dij");
}

TEST(SocketSend, NeverConnectedSocketRefuses) {
  vyx::TCPSocket sock;
  auto e = raised([&] { sock.send(1, "d"); });
  EXPECT_EQ(e.no(), 4);
  EXPECT_STREQ(e.what(), "not connected");
}

TEST(SocketSend, PeerGoneFailsWithoutABrokenPipeSignal) {
  // Default action for SIGPIPE kills the process: the library must not raise it.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGPIPE, &dfl, &previous), 0);

  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  peer.close();

  // The first writes after a FIN may still be accepted by the kernel; the
  // peer's reset makes a later one fail.
  int failedAt = -1;
  vyx::NetworkException last(0, "");
  for (int i = 0; i < 1000 && failedAt < 0; ++i) {
    try {
      sock.send(1, "d");
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } catch (const vyx::NetworkException& e) {
      last = e;
      failedAt = i;
    }
  }
  ::sigaction(SIGPIPE, &previous, nullptr);

  ASSERT_GE(failedAt, 0) << "sending to a closed peer never failed";
  EXPECT_EQ(last.no(), 3);
  EXPECT_STREQ(last.what(), "could not send");
  EXPECT_TRUE(sock.isConnected()) << "a failed send does not disconnect";
  EXPECT_EQ(raised([&] { sock.send(1, "d"); }).no(), 3) << "and keeps failing the same way";
}

// --- connecting -------------------------------------------------------------

TEST(SocketConnect, UnknownHostNamesTheHostVerbatim) {
  // Names that cannot resolve and are rejected without asking a name server.
  for (const std::string host : {"no such host!", ""}) {
    vyx::TCPSocket sock;
    const int before = openDescriptors();
    auto e = raised([&] { sock.connect(host, 80); });
    EXPECT_EQ(e.no(), 1);
    EXPECT_EQ(std::string(e.what()), "unknown host: " + host);
    EXPECT_FALSE(sock.isConnected());
    EXPECT_EQ(openDescriptors(), before);
  }
}

TEST(SocketConnect, RefusedPortFailsAndLeaksNoDescriptor) {
  LoopbackListener bound(false);  // bound but not listening: connects are refused
  vyx::TCPSocket sock;
  const int before = openDescriptors();
  for (int i = 0; i < 20; ++i) {
    auto e = raised([&] { sock.connect(bound.address(), bound.port()); });
    EXPECT_EQ(e.no(), 1);
    EXPECT_STREQ(e.what(), "could not connect");
    EXPECT_FALSE(sock.isConnected());
  }
  EXPECT_EQ(openDescriptors(), before);
  EXPECT_FALSE(sock.hasData());
}

TEST(SocketConnect, ReconnectClosesTheOldConnectionFirst) {
  LoopbackListener first, second;
  vyx::TCPSocket sock;
  sock.connect(first.address(), first.port());
  PeerConnection oldPeer(first.acceptFd());
  const int before = openDescriptors();

  sock.connect(second.address(), second.port());
  PeerConnection newPeer(second.acceptFd());
  EXPECT_TRUE(sock.isConnected());
  EXPECT_TRUE(oldPeer.receiveSome().empty()) << "old peer sees the end of stream";
  EXPECT_EQ(openDescriptors(), before + 1) << "old descriptor closed, only the new peer's added";

  sock.send(1, "i");
  EXPECT_EQ(newPeer.receiveSome(), std::vector<char>{'i'});
}

TEST(SocketConnect, FailedReconnectLeavesTheSocketDisconnected) {
  LoopbackListener live;
  LoopbackListener refusing(false);
  vyx::TCPSocket sock;
  sock.connect(live.address(), live.port());
  PeerConnection peer(live.acceptFd());
  EXPECT_EQ(raised([&] { sock.connect(refusing.address(), refusing.port()); }).no(), 1);
  EXPECT_FALSE(sock.isConnected());
  EXPECT_TRUE(peer.receiveSome().empty()) << "the earlier connection was closed";
}

// --- ownership of the descriptor --------------------------------------------

TEST(SocketLifetime, DestroyingAConnectedSocketClosesIt) {
  LoopbackListener listener;
  const int before = openDescriptors();
  auto sock = std::make_unique<vyx::TCPSocket>();
  sock->connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  EXPECT_EQ(openDescriptors(), before + 2);
  sock.reset();
  EXPECT_EQ(openDescriptors(), before + 1);
  EXPECT_TRUE(peer.receiveSome().empty());
}

TEST(SocketLifetime, SocketsThatOwnNothingCloseNothing) {
  // Each socket below once held a descriptor number that the system may hand
  // out again; destroying the socket must not close the new owner's file.
  LoopbackListener listener;
  LoopbackListener refusing(false);

  auto failed = std::make_unique<vyx::TCPSocket>();
  EXPECT_THROW(failed->connect(refusing.address(), refusing.port()), vyx::NetworkException);
  auto disconnected = std::make_unique<vyx::TCPSocket>();
  disconnected->connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  disconnected->disconnect();
  disconnected->disconnect();  // twice is harmless
  auto lost = std::make_unique<vyx::TCPSocket>();
  lost->connect(listener.address(), listener.port());
  PeerConnection lostPeer(listener.acceptFd());
  lostPeer.close();
  char c;
  EXPECT_THROW(lost->receiveMessage(1, &c), vyx::NetworkException);
  auto never = std::make_unique<vyx::TCPSocket>();

  std::vector<int> files;
  files.reserve(4);
  for (int i = 0; i < 4; ++i) files.push_back(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  const int before = openDescriptors();
  failed.reset();
  disconnected.reset();
  lost.reset();
  never.reset();
  EXPECT_EQ(openDescriptors(), before);
  for (int fd : files) {
    EXPECT_TRUE(descriptorIsOpen(fd)) << "descriptor " << fd << " was closed by a stale socket";
    ::close(fd);
  }
}

// --- polling ----------------------------------------------------------------

TEST(SocketPoll, HasDataFollowsThePeer) {
  vyx::TCPSocket never;
  EXPECT_FALSE(never.hasData());
  EXPECT_EQ(never.bytesWaiting(), 0);

  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  EXPECT_FALSE(sock.hasData());
  EXPECT_EQ(sock.bytesWaiting(), 0);

  peer.send({'z'});
  for (int i = 0; i < 1000 && !sock.hasData(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(sock.hasData());
  EXPECT_EQ(sock.bytesWaiting(), 1);
  EXPECT_TRUE(sock.hasData()) << "peeking consumed nothing";
  char c = 0;
  sock.receiveMessage(1, &c);
  EXPECT_EQ(c, 'z');
  EXPECT_FALSE(sock.hasData());

  peer.close();
  for (int i = 0; i < 1000 && !sock.hasData(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(sock.hasData()) << "the end of stream is readable";
  EXPECT_TRUE(sock.isConnected()) << "noticing it is not reading it";
  EXPECT_EQ(sock.bytesWaiting(), 0);
  EXPECT_FALSE(sock.isConnected()) << "a peek that sees the close disconnects";
}

TEST(SocketPoll, VectorFormsForwardToThePointerForms) {
  LoopbackListener listener;
  vyx::TCPSocket sock;
  sock.connect(listener.address(), listener.port());
  PeerConnection peer(listener.acceptFd());
  peer.send({'a', 'b', 'c'});
  while (!sock.hasData()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::vector<char> room(8, 'X');
  sock.receive(room);
  ASSERT_FALSE(room.empty());
  EXPECT_LE(room.size(), 3u) << "shrunk to what arrived";
  EXPECT_EQ(room[0], 'a');
  std::vector<char> nothing;
  sock.receive(nothing);
  EXPECT_TRUE(nothing.empty());
}

// --- byte order -------------------------------------------------------------

TEST(ByteOrder, ReversesBytesUnconditionallyAndLeavesTheArgument) {
  const uint16_t s = 0x1234;
  EXPECT_EQ(vyx::htons(s), 0x3412);
  EXPECT_EQ(s, 0x1234);
  const uint32_t l = 0x01020304u;
  EXPECT_EQ(vyx::htonl(l), 0x04030201u);
  EXPECT_EQ(vyx::htonl(vyx::htonl(l)), l);

  // 1.0f is 3F 80 00 00 big-endian: as read from the camera its bytes are
  // 3F 80 00 00 in memory, which a little-endian host reads as 0x0000803F.
  const unsigned char wire[4] = {0x3F, 0x80, 0x00, 0x00};
  float raw;
  std::memcpy(&raw, wire, sizeof raw);
  EXPECT_EQ(vyx::htonf(raw), 1.0f);
  const float one = 1.0f;
  float back = vyx::htonf(one);
  EXPECT_EQ(std::memcmp(&back, wire, 4), 0);
  EXPECT_EQ(one, 1.0f);
}

TEST(ByteOrder, FloatSwapKeepsEveryBitPattern) {
  // Image samples travel through htonf; a pattern whose reversal is a
  // signalling NaN must come back bit for bit (no quieting on the way).
  const uint32_t patterns[] = {0x0100807Fu, 0x0100C0FFu, 0x010080FFu, 0x0000C07Fu,
                               0x00000000u, 0x00000080u, 0xFFFFFFFFu, 0x12345678u};
  for (uint32_t bits : patterns) {
    float in;
    std::memcpy(&in, &bits, sizeof in);
    const float swapped = vyx::htonf(in);
    uint32_t swappedBits;
    std::memcpy(&swappedBits, &swapped, sizeof swappedBits);
    EXPECT_EQ(swappedBits, __builtin_bswap32(bits)) << std::hex << bits;
    const float twice = vyx::htonf(swapped);
    uint32_t twiceBits;
    std::memcpy(&twiceBits, &twice, sizeof twiceBits);
    EXPECT_EQ(twiceBits, bits) << std::hex << bits;
  }
}

}  // namespace
