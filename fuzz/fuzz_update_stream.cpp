// Fuzzes frame acquisition: the input is the whole byte stream of one
// data-port connection, ended by the peer closing it. The plug-in opens a
// simulated camera whose control channel is real and whose announced data
// port is a StreamPeer that sends the input. Updates run until one fails
// (the end of the stream makes one fail at the latest), and whatever each
// update stored is read back, described and converted as a host would.
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "lvtwire/frame_format.h"
#include "sim_fixture.h"
#include "stream_peer.h"

namespace {

using vyxfuzz::require;

constexpr unsigned int kSource = 1;
constexpr unsigned int kProcessing = 1;
constexpr int kMaxUpdates = 4;
constexpr std::chrono::seconds kCloseLimit{20};

const uint32_t kOutputTypes[] = {VYX_TYPE_10001, VYX_TYPE_10002, VYX_TYPE_10004,
                                 VYX_TYPE_10020, VYX_TYPE_10040, VYX_TYPE_10080};

// The simulated camera and the data peer it announces, set up once.
struct Rig {
  std::unique_ptr<lvtsim::Camera> camera = vyxtest::startCamera();
  std::string address = camera->config().address;
  vyxfuzz::StreamPeer peer{address};

  Rig() {
    camera->setAnnouncedPort(peer.port());
    const int code = vyxfuzz::plugin()->vyxpInitProcessingPlugin(kProcessing, "");
    require(code == VYX_OK, "processing instance opens");
  }
};

Rig& rig() {
  static Rig* r = new Rig();  // lives as long as the process
  return *r;
}

// Converts the stored frame into every output type that vyxpCanProcess
// offers, each into an output block of exactly the offered size.
void convert(const vyxhost::EntryPoints& p, VYXDataDescription description,
             std::vector<uint8_t>& frame) {
  for (uint32_t type : kOutputTypes) {
    int bytes = 0;
    require(p.vyxpCanProcess(kProcessing, &bytes, type, 1, &description) == VYX_OK,
            "vyxpCanProcess accepts a stored frame's description");
    if (bytes <= 0) continue;
    std::unique_ptr<uint8_t[]> out(new uint8_t[bytes]);
    VYXDataDescription outDescription{};
    outDescription.type = type;
    outDescription.size = static_cast<uint32_t>(bytes);
    void* output = out.get();
    void* input = frame.data();
    const int code =
        p.vyxpProcess(kProcessing, 1, &outDescription, &output, 1, &description, &input);
    require(code == VYX_OK || code == VYX_NOT_AVAILABLE,
            "a frame that names the image type converts, or the image is not found");
  }
}

// Reads back what the last update left, with buffers of exactly its size.
size_t inspect(const vyxhost::EntryPoints& p) {
  size_t size = 0;
  require(p.vyxpGetRawDataSize(kSource, &size) == VYX_OK, "an open instance reports its size");
  std::vector<uint8_t> frame(size);
  frame.shrink_to_fit();
  if (size > 0) require(p.vyxpGetRawData(kSource, frame.data()) == VYX_OK, "frame copies out");
  VYXDataDescription description;
  const int code = p.vyxpGetRawDataDescription(kSource, &description);
  require(code == VYX_OK || code == VYX_NOT_SUPPORTED, "description is given or refused");
  if (code == VYX_OK) {
    require(description.size == size, "the description states the frame's size");
    require(description.std.numColumns == lvtwire::kColumns &&
                description.std.numRows == lvtwire::kRows,
            "the description states the camera's image");
    if (size > 0) convert(p, description, frame);
  }
  return size;
}

}  // namespace

VYXFUZZ_SET_UP_BEFORE_FUZZING(rig)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Rig& r = rig();
  const vyxhost::EntryPoints& p = vyxfuzz::plugin().api();

  r.camera->clearLog();  // the camera logs every call; keep that from piling up
  r.peer.setStream(std::vector<uint8_t>(data, data + size));
  const size_t served = r.peer.served();
  require(p.vyxpInitRawDataPlugin(kSource, r.address.c_str()) == VYX_OK,
          "the simulated camera opens");

  size_t stored = 0;  // bytes kept by successful updates, all taken from this stream
  for (int n = 0; n < kMaxUpdates; ++n) {
    const int code = p.vyxpUpdate(kSource);
    require(code == VYX_OK || code == VYX_RUNTIME_ERROR, "an update succeeds or fails");
    if (code != VYX_OK) {
      char text[64] = {};
      require(p.vyxpGetLastError(kSource, text, sizeof text) == VYX_OK &&
                  std::strcmp(text, "connection lost") == 0,
              "a failed update reports the lost connection");
    }
    const size_t frameBytes = inspect(p);
    if (code != VYX_OK) break;
    stored += frameBytes;
    require(stored <= size, "frames hold no more bytes than the stream had");
  }

  require(p.vyxpDeinitPlugin(kSource) == VYX_OK, "the instance closes");
  require(r.peer.waitServed(served + 1, kCloseLimit), "the data connection is closed");
  return 0;
}
