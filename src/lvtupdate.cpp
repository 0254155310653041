// Taking a frame from the camera over the data port.
#include <stdexcept>

#include "headerword.h"
#include "lvtinternal.h"
#include "vyxplugin.h"

namespace {

// Largest header or image the plug-in accepts; a 64 x 50 float image is
// 12800 bytes, so anything near this is a broken stream, not a camera image.
constexpr uint32_t kMaxBlockBytes = 16u << 20;
// Header words up to the validity word (15) must be present.
constexpr uint32_t kMinHeaderBytes = 64;
// Consecutive rejected images after which the update gives up.
constexpr unsigned kMaxAttempts = 5000;

constexpr unsigned kWordImageType = 2;
constexpr unsigned kWordItime0 = 5;
constexpr unsigned kWordItime1 = 6;
constexpr unsigned kWordValidity = 15;

// The stream can no longer be trusted; the connection is dropped.
struct BrokenStream : std::runtime_error {
  using std::runtime_error::runtime_error;
};
// The camera kept sending images that are not usable; the stream is intact.
struct NoValidImage : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint32_t lengthWord(float value) {
  auto v = lvt::wordToUnsigned(value);
  if (!v || *v > kMaxBlockBytes) throw BrokenStream("length out of range");
  return *v;
}

// Appends one image block per command character to dat.data, each header and
// image exactly as received. The header and image are read straight into the
// frame buffer; a rejected image is cut off again before its command is re-sent.
void acquireFrame(vyxlvt::PluginData& dat) {
  const std::string cmd(dat.dataCommand.begin(), dat.dataCommand.end());
  const size_t len = cmd.size();
  vyx::TCPSocket& sock = *dat.sock;
  std::vector<char>& frame = dat.data;

  frame.clear();
  dat.clearFlags();
  size_t complete = 0;  // whole blocks survive a failure, a partial one does not
  try {
    for (size_t c = 0; c < len; ++c) {
      const size_t oldSize = frame.size();
      int32_t validImage = -1;
      uint32_t imageType = 0;
      unsigned attempts = 0;
      while (validImage < 0) {
        if (++attempts > kMaxAttempts) throw NoValidImage("camera sends no valid image");
        sock.send(1, &cmd[c]);

        frame.resize(oldSize + 8);
        sock.receiveMessage(4, &frame[oldSize]);
        const uint32_t size = lengthWord(lvt::headerWord(&frame[oldSize], 0));
        sock.receiveMessage(4, &frame[oldSize + 4]);
        const uint32_t headerSize = lengthWord(lvt::headerWord(&frame[oldSize], 1));
        if (headerSize == 68) {
          dat.version = 1007;
        } else if (headerSize == 412) {
          dat.version = 1013;
        }
        if (headerSize < kMinHeaderBytes) throw BrokenStream("header too short");

        frame.resize(oldSize + headerSize);
        sock.receiveMessage(headerSize - 8, &frame[oldSize + 8]);
        const char* head = &frame[oldSize];
        imageType = lvt::wordToUnsigned(lvt::headerWord(head, kWordImageType)).value_or(0);
        dat.itime0 = static_cast<int32_t>(
            lvt::wordToUnsigned(lvt::headerWord(head, kWordItime0)).value_or(UINT32_MAX));
        dat.itime1 = static_cast<int32_t>(
            lvt::wordToUnsigned(lvt::headerWord(head, kWordItime1)).value_or(UINT32_MAX));
        validImage = lvt::wordToValidity(lvt::headerWord(head, kWordValidity));

        frame.resize(oldSize + headerSize + size);
        sock.receiveMessage(size, frame.data() + oldSize + headerSize);

        if (c > 0) validImage = 1;
        if (imageType == 0) validImage = -1;
        if (validImage < 0) frame.resize(oldSize);
      }
      dat.imageTypes.push_back(static_cast<int>(imageType));
      complete = frame.size();
    }
  } catch (...) {
    frame.resize(complete);
    throw;
  }
}

}  // namespace

extern "C" int vyxpUpdate(unsigned int id) {
  return vyxlvt::sourceGuarded(id, [&]() -> int {
    vyxlvt::PluginData* dat = vyxlvt::openCamera(id);
    if (dat == nullptr) {
      vyxlvt::setErrorSlot("");
      return VYX_INVALID_HANDLE;
    }
    try {
      acquireFrame(*dat);
      return VYX_OK;
    } catch (const NoValidImage&) {
      // Every rejected image was read in full: the stream is still aligned.
    } catch (...) {
      // Whatever is left of the answer in the stream would be misread by the
      // next update: drop the connection instead.
      dat->sock->disconnect();
    }
    dat->errorMessage = "connection lost";
    return VYX_RUNTIME_ERROR;
  });
}
