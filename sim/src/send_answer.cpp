#include "send_answer.h"

#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>

#include "net.h"

namespace lvtsim::detail {
namespace {

struct Span {
  const uint8_t* data;
  size_t length;
};

constexpr size_t kZeroBlock = size_t{64} * 1024;

const uint8_t* zeros() {
  static const std::vector<uint8_t> block(kZeroBlock, 0);
  return block.data();
}

bool sendSingleBytes(int fd, Span span) {
  for (size_t i = 0; i < span.length; ++i) {
    if (!sendAll(fd, span.data + i, 1)) return false;
  }
  return true;
}

// Header and image in one call; whatever a short write leaves is finished with send().
bool sendPair(int fd, Span a, Span b) {
  iovec iov[2] = {{const_cast<uint8_t*>(a.data), a.length},
                  {const_cast<uint8_t*>(b.data), b.length}};
  msghdr msg{};
  msg.msg_iov = iov;
  msg.msg_iovlen = 2;
  ssize_t n;
  do {
    n = sendmsg(fd, &msg, MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  size_t sent = static_cast<size_t>(n);
  const size_t fromA = std::min(sent, a.length);
  if (!sendAll(fd, a.data + fromA, a.length - fromA)) return false;
  sent -= fromA;
  return sendAll(fd, b.data + sent, b.length - sent);
}

}  // namespace

bool sendAnswer(int fd, const Answer& answer, bool singleBytes) {
  size_t budget = answer.wireLength();
  const Span head{answer.head.data(), std::min(answer.head.size(), budget)};
  budget -= head.length;
  const size_t bodyStored = answer.body ? std::min(answer.body->size(), answer.bodyLength) : 0;
  const Span body{answer.body ? answer.body->data() : nullptr, std::min(bodyStored, budget)};
  budget -= body.length;
  size_t padding = budget;  // zero bytes past the stored body

  if (singleBytes) {
    setNoDelay(fd);
    if (!sendSingleBytes(fd, head) || !sendSingleBytes(fd, body)) return false;
    for (; padding > 0; --padding) {
      if (!sendAll(fd, zeros(), 1)) return false;
    }
    return true;
  }
  if (!sendPair(fd, head, body)) return false;
  while (padding > 0) {
    const size_t chunk = std::min(padding, kZeroBlock);
    if (!sendAll(fd, zeros(), chunk)) return false;
    padding -= chunk;
  }
  return true;
}

}  // namespace lvtsim::detail
