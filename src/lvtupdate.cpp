// Taking a frame from the camera over the data port.
#include <stdexcept>

#include "headerword.h"
#include "lvtinternal.h"
#include "vyxplugin.h"

namespace {

namespace word = lvtwire::word;

// Largest header or image the plug-in accepts; a camera image is 12800
// bytes, so anything near this is a broken stream, not a camera image.
constexpr uint32_t kMaxBlockBytes = 16u << 20;
// Header words up to the validity word must be present.
constexpr uint32_t kMinHeaderBytes = lvtwire::kFilledHeaderWords * lvtwire::kWordBytes;
// Consecutive rejected images after which the update gives up.
constexpr unsigned kMaxAttempts = 5000;

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

// Receives the rest of a header (headBytes) and the image after it
// (imageBytes) into `into`, as much per receive as the stream holds: a camera
// sends both together, so an image mostly takes one system call. atHeaderEnd
// runs as soon as the header is complete, so that its words take effect even
// when the image then fails.
template <typename AtHeaderEnd>
void receiveHeaderAndImage(vyx::NetworkInterface& sock, char* into, uint32_t headBytes,
                           uint32_t imageBytes, AtHeaderEnd&& atHeaderEnd) {
  const uint32_t total = headBytes + imageBytes;  // each at most kMaxBlockBytes
  uint32_t received = 0;
  bool headerDone = false;
  for (;;) {
    if (!headerDone && received >= headBytes) {
      headerDone = true;
      atHeaderEnd();
    }
    if (received == total) return;
    unsigned want = total - received;
    sock.receive(want, into + received);
    received += want;
  }
}

// Appends one image block per command character to dat.data, each header and
// image exactly as received. The header and image are read straight into the
// frame buffer; a rejected image is cut off again before its command is re-sent.
void acquireFrame(vyxlvt::PluginData& dat) {
  const std::string cmd(dat.dataCommand.begin(), dat.dataCommand.end());
  const size_t len = cmd.size();
  vyx::TCPSocket& sock = *dat.sock;
  lvt::FrameBuffer& frame = dat.data;

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

        constexpr uint32_t sizeWords = lvtwire::kSizeWordsBytes;
        frame.resize(oldSize + sizeWords);
        // Both size words in one receive, decoded in order: a bad data size
        // fails before the header size is looked at.
        sock.receiveMessage(sizeWords, &frame[oldSize]);
        const uint32_t size = lengthWord(lvt::headerWord(&frame[oldSize], word::kDataSize));
        const uint32_t headerSize = lengthWord(lvt::headerWord(&frame[oldSize], word::kHeaderSize));
        if (const auto* layout = lvtwire::layoutForHeaderBytes(headerSize))
          dat.version = layout->version;
        if (headerSize < kMinHeaderBytes) throw BrokenStream("header too short");

        frame.resize(oldSize + headerSize + size);
        receiveHeaderAndImage(sock, &frame[oldSize + sizeWords], headerSize - sizeWords, size, [&] {
          const char* head = &frame[oldSize];
          imageType = lvt::wordToUnsigned(lvt::headerWord(head, word::kImageType)).value_or(0);
          dat.itime0 = static_cast<int32_t>(
              lvt::wordToUnsigned(lvt::headerWord(head, word::kItime0)).value_or(UINT32_MAX));
          dat.itime1 = static_cast<int32_t>(
              lvt::wordToUnsigned(lvt::headerWord(head, word::kItime1)).value_or(UINT32_MAX));
          validImage = lvt::wordToValidity(lvt::headerWord(head, word::kValidity));
        });

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
    vyxlvt::PluginData& dat = vyxlvt::cameraOf(id);
    try {
      acquireFrame(dat);
      return VYX_OK;
    } catch (const NoValidImage&) {
      // Every rejected image was read in full: the stream is still aligned.
    } catch (...) {
      // Whatever is left of the answer in the stream would be misread by the
      // next update: drop the connection instead.
      dat.sock->disconnect();
    }
    dat.errorMessage = "connection lost";
    return VYX_RUNTIME_ERROR;
  });
}
