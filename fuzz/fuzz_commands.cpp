// Fuzzes the text channels: arbitrary command and key texts with arbitrary
// buffer lengths (0 to 64 bytes, each buffer its own allocation of exactly
// that size, or none at all) go to vyxpPlatformCommand, vyxpGetInfo,
// vyxpConfigureProcess and vyxpGetLastError on an instance opened on a
// simulated camera, so a "SetFPS" really reaches the camera. Between calls
// the input may make the camera's next front-end exchange fail or narrow the
// frame rates it takes. At most kMaxCalls calls per input bound the traffic.
//
// Input: a sequence of operations, each an operation byte, a buffer byte and
// (for the text calls) a text of up to 80 bytes with its length byte first.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "sim_fixture.h"

namespace {

using vyxfuzz::ByteReader;
using vyxfuzz::require;

constexpr unsigned int kSource = 1;
constexpr unsigned int kProcessing = 2;
constexpr int kMaxCalls = 8;
constexpr size_t kMaxBuffer = 64;
constexpr size_t kMaxText = 80;

const char* const kFrontendMethods[] = {"MDAXMLSetFrontendData", "MDAXMLGetFrontendData"};
const lvtsim::RpcFault kFaults[] = {lvtsim::RpcFault::Fault, lvtsim::RpcFault::WrongShape,
                                    lvtsim::RpcFault::ShortArray, lvtsim::RpcFault::Close};

struct Rig {
  std::unique_ptr<lvtsim::Camera> camera = vyxtest::startCamera();
  std::string address = camera->config().address;

  Rig() {
    const vyxhost::EntryPoints& p = vyxfuzz::plugin().api();
    require(p.vyxpInitRawDataPlugin(kSource, address.c_str()) == VYX_OK, "camera opens");
    require(p.vyxpInitProcessingPlugin(kProcessing, "") == VYX_OK, "processing instance opens");
  }

  // Every input starts from the same camera: no planned faults, the usual rates.
  void reset() {
    for (const char* method : kFrontendMethods) camera->setRpcFault(method, lvtsim::RpcFault::None);
    camera->setFpsRange(1, 30);
    camera->clearLog();
  }
};

Rig& rig() {
  static Rig* r = new Rig();  // lives as long as the process
  return *r;
}

// A caller's answer buffer: exactly maxLen bytes of its own, or none.
struct Buffer {
  std::unique_ptr<char[]> bytes;
  size_t maxLen;

  explicit Buffer(uint8_t choice) : maxLen(choice % (kMaxBuffer + 1)) {
    if (choice < 0xF0) bytes.reset(new char[maxLen]);
    if (bytes && maxLen > 0) std::memset(bytes.get(), 'X', maxLen);
  }
  char* get() const { return bytes.get(); }

  // The text rule: something written means the last byte is a terminator.
  void checkTerminated(const char* what) const {
    if (!bytes || maxLen == 0 || bytes[0] == 'X') return;
    require(bytes[maxLen - 1] == '\0', what);
  }
};

// The text as a C string, or now and then no text at all.
const char* textOrNull(const std::string& text, uint8_t op) {
  return (op & 0x80) != 0 && (op & 0x40) != 0 ? nullptr : text.c_str();
}

void platformCommand(const vyxhost::EntryPoints& p, ByteReader& in, uint8_t op) {
  const Buffer buffer(in.byte());
  const std::string text = in.text(kMaxText);
  const int code =
      p.vyxpPlatformCommand(kSource, buffer.get(), buffer.maxLen, textOrNull(text, op));
  require(code == VYX_OK || code == VYX_RUNTIME_ERROR || code == VYX_INVALID_VALUE ||
              code == VYX_NOT_SUPPORTED,
          "vyxpPlatformCommand answers one of its codes");
  buffer.checkTerminated("vyxpPlatformCommand terminates its answer");
}

void getInfo(const vyxhost::EntryPoints& p, ByteReader& in, uint8_t op) {
  const Buffer buffer(in.byte());
  const std::string text = in.text(kMaxText);
  const int code = p.vyxpGetInfo(kSource, buffer.get(), buffer.maxLen, textOrNull(text, op));
  require(code == VYX_OK || code == VYX_INVALID_VALUE || code == VYX_NOT_AVAILABLE,
          "vyxpGetInfo answers one of its codes");
  buffer.checkTerminated("vyxpGetInfo terminates its answer");
}

void configureProcess(const vyxhost::EntryPoints& p, ByteReader& in, uint8_t op) {
  const Buffer buffer(in.byte());
  const std::string text = in.text(kMaxText);
  const int code =
      p.vyxpConfigureProcess(kProcessing, buffer.get(), buffer.maxLen, textOrNull(text, op));
  require(code == VYX_NOT_SUPPORTED, "vyxpConfigureProcess declines every command");
  require(!buffer.get() || buffer.maxLen == 0 || buffer.get()[0] == 'X',
          "vyxpConfigureProcess leaves the buffer alone");
}

void lastError(const vyxhost::EntryPoints& p, ByteReader& in) {
  const Buffer buffer(in.byte());
  const unsigned int ids[] = {0, kSource, kProcessing, 77};
  const unsigned int id = ids[in.byte() % 4];
  const int code = p.vyxpGetLastError(id, buffer.get(), buffer.maxLen);
  // Handle 0 is known once an error slot exists; 77 never is.
  require(code == VYX_OK || ((id == 0 || id == 77) && code == VYX_INVALID_HANDLE),
          "vyxpGetLastError answers every open handle");
  buffer.checkTerminated("vyxpGetLastError terminates its text");
}

void planCameraTrouble(Rig& r, ByteReader& in) {
  const uint8_t what = in.byte();
  if ((what & 1) != 0) {
    r.camera->setRpcFault(kFrontendMethods[(what >> 1) & 1], kFaults[(what >> 2) % 4], 1);
  } else {
    const int low = in.byte() % 40;
    r.camera->setFpsRange(low, low + in.byte() % 40);
  }
}

}  // namespace

VYXFUZZ_SET_UP_BEFORE_FUZZING(rig)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Rig& r = rig();
  r.reset();
  const vyxhost::EntryPoints& p = vyxfuzz::plugin().api();
  ByteReader in(data, size);
  for (int call = 0; call < kMaxCalls && in.remaining() > 0; ++call) {
    const uint8_t op = in.byte();
    switch (op % 5) {
      case 0:
        platformCommand(p, in, op);
        break;
      case 1:
        getInfo(p, in, op);
        break;
      case 2:
        configureProcess(p, in, op);
        break;
      case 3:
        lastError(p, in);
        break;
      default:
        planCameraTrouble(r, in);
        break;
    }
  }
  // Whatever happened, the instance is still open and answers.
  char fps[16];
  require(p.vyxpGetInfo(kSource, fps, sizeof fps, "FPS") == VYX_OK, "the instance stays usable");
  return 0;
}
