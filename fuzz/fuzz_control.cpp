// Fuzzes the control channel: a fake camera whose answer to every control
// call of an instance's life (opening, an integration time, a frame rate, the
// front-end read-back, closing) comes from the input (control_answers.h):
// well-formed, faults, wrong types and shapes, broken XML and broken HTTP.
//
// Invariants: no crash; every entry point returns one of its codes, and
// within the time the fake camera's answers allow (it never holds an answer
// back longer than kMaxSilence, so a long call waited on nothing real); texts
// end inside the caller's buffer; a failed opening leaves the handle free with
// the opening's text; a failed closing can be retried; and afterwards every
// connection is closed and the process holds the descriptors it held before.
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "control_answers.h"
#include "control_peer.h"
#include "descriptors.h"
#include "fuzz_support.h"

namespace {

using vyxfuzz::ByteReader;
using vyxfuzz::require;

constexpr unsigned int kId = 1;
// The input's first bytes: the arguments of the entry points and text buffer sizes.
constexpr size_t kArgumentBytes = 10;
// One entry point makes at most five control calls; each may be held back for
// kMaxSilence. The rest is room for a loaded machine and a sanitizer build.
constexpr auto kEntryPointLimit = std::chrono::seconds(5);

struct Rig {
  std::unique_ptr<vyxtest::ControlPeer> peer = vyxtest::ControlPeer::startOnFreeLoopback();
  std::mutex mu;
  ByteReader* in = nullptr;  // the answers of the running input; null: well-formed answers

  Rig() {
    peer->setScript([this](const std::string& method) {
      std::lock_guard<std::mutex> lock(mu);
      return in != nullptr ? vyxfuzz::decodeControlAnswer(*in, *peer, method)
                           : peer->normalReply(method);
    });
  }

  void answerFrom(ByteReader* input) {
    std::lock_guard<std::mutex> lock(mu);
    in = input;
  }
};

Rig& rig() {
  static Rig* r = new Rig();  // lives as long as the process
  return *r;
}

template <typename Call>
int timed(const char* what, Call call) {
  const auto start = std::chrono::steady_clock::now();
  const int code = call();
  require(std::chrono::steady_clock::now() - start < kEntryPointLimit, what);
  return code;
}

// The caller's text buffer: exactly its size, filled with 'X' beforehand.
struct TextBuffer {
  std::unique_ptr<char[]> bytes;
  size_t size;

  explicit TextBuffer(uint8_t choice) : bytes(new char[1 + choice % 40]), size(1 + choice % 40) {
    std::memset(bytes.get(), 'X', size);
  }
  void requireTerminated(const char* what) const {
    require(std::memchr(bytes.get(), '\0', size) != nullptr, what);
  }
};

bool isPrefixOf(const std::string& text, const char* full) {
  return std::string(full).compare(0, text.size(), text) == 0 && text.size() <= std::strlen(full);
}

std::string lastErrorOf(const vyxhost::EntryPoints& p, unsigned int id, ByteReader& in) {
  const TextBuffer text(in.byte());
  require(p.vyxpGetLastError(id, text.bytes.get(), text.size) == VYX_OK,
          "vyxpGetLastError answers after a call");
  text.requireTerminated("vyxpGetLastError ends its text inside the buffer");
  return text.bytes.get();
}

void useInstance(const vyxhost::EntryPoints& p, ByteReader& args) {
  const unsigned int itime = 1 + args.u16() % 5000;
  const int set = timed("vyxpSetIntegrationTime returns in time",
                        [&] { return p.vyxpSetIntegrationTime(kId, args.byte() % 2, itime); });
  require(set == VYX_OK || set == VYX_RUNTIME_ERROR, "vyxpSetIntegrationTime answers its codes");

  const TextBuffer answer(args.byte());
  const std::string command = "SetFPS " + std::to_string(1 + args.byte() % 40);
  const int fps = timed("vyxpPlatformCommand returns in time", [&] {
    return p.vyxpPlatformCommand(kId, answer.bytes.get(), answer.size, command.c_str());
  });
  require(fps == VYX_OK || fps == VYX_RUNTIME_ERROR || fps == VYX_INVALID_VALUE,
          "vyxpPlatformCommand answers its codes");
  if (answer.bytes[0] != 'X') answer.requireTerminated("vyxpPlatformCommand ends its answer");
  if (fps == VYX_RUNTIME_ERROR) {
    require(isPrefixOf(lastErrorOf(p, kId, args), "setting failed"), "a failed frame rate says so");
  }

  const TextBuffer info(args.byte());
  require(p.vyxpGetInfo(kId, info.bytes.get(), info.size, "FPS") == VYX_OK,
          "vyxpGetInfo answers FPS");
  info.requireTerminated("vyxpGetInfo ends its answer inside the buffer");
}

}  // namespace

VYXFUZZ_SET_UP_BEFORE_FUZZING([] {
  rig();
  vyxfuzz::plugin();
})

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Rig& r = rig();
  const vyxhost::EntryPoints& p = vyxfuzz::plugin().api();
  // The entry points' own arguments first, then the camera's answers.
  const size_t argumentBytes = size < kArgumentBytes ? size : kArgumentBytes;
  ByteReader choices(data, argumentBytes);
  ByteReader in(data + argumentBytes, size - argumentBytes);
  const int descriptors = vyxtest::openDescriptors();
  r.answerFrom(&in);

  const int opened = timed("vyxpInitRawDataPlugin returns in time",
                           [&] { return p.vyxpInitRawDataPlugin(kId, r.peer->address().c_str()); });
  if (opened == VYX_OK) {
    useInstance(p, choices);
    const int closed =
        timed("vyxpDeinitPlugin returns in time", [&] { return p.vyxpDeinitPlugin(kId); });
    require(closed == VYX_OK || closed == VYX_RUNTIME_ERROR, "vyxpDeinitPlugin answers its codes");
    if (closed != VYX_OK) {
      require(lastErrorOf(p, kId, choices).empty(), "a failed closing leaves no text");
      r.answerFrom(nullptr);
      require(p.vyxpDeinitPlugin(kId) == VYX_OK, "closing again with a camera that answers");
    }
  } else {
    require(opened == VYX_COULD_NOT_OPEN, "vyxpInitRawDataPlugin answers its codes");
    const std::string text = lastErrorOf(p, 0, choices);
    require(isPrefixOf(text, "camera connection") || isPrefixOf(text, "data port"),
            "a failed opening names what failed");
  }
  size_t rawSize = 0;
  require(p.vyxpGetRawDataSize(kId, &rawSize) == VYX_INVALID_HANDLE, "the handle is free again");

  r.answerFrom(nullptr);
  require(r.peer->waitIdle(std::chrono::seconds(5)), "every control connection is closed");
  require(vyxtest::openDescriptors() == descriptors, "no descriptor is left behind");
  return 0;
}
