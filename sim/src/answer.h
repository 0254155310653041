// One answer on the data port and how it is put together from the camera's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "lvtsim/camera.h"
#include "lvtwire/frame_format.h"

namespace lvtsim::detail {

// `head`, then `bodyLength` bytes taken from `body` (zero-filled past its end); the connection is
// closed after `limit` bytes when `closeAfter` is set.
struct Answer {
  std::vector<uint8_t> head;
  std::shared_ptr<const std::vector<uint8_t>> body;
  size_t bodyLength = 0;
  bool closeAfter = false;
  size_t limit = std::numeric_limits<size_t>::max();
  bool silent = false;

  size_t fullLength() const { return head.size() + bodyLength; }
  size_t wireLength() const { return fullLength() < limit ? fullLength() : limit; }
  std::vector<uint8_t> bytes() const;  // exactly what goes on the wire
};

// What the camera knows when it answers a request with its own image.
struct ImageFacts {
  unsigned headerSize = lvtwire::kShortHeader.bytes;
  int imageType = 0;
  uint64_t frame = 0;
  char request = 0;
  int32_t itime0 = 0, itime1 = 0, fps = 0;
  std::shared_ptr<const std::vector<uint8_t>> data;  // rendered image bytes
};

// The normal header: word 0 data size, 1 header size, 2 image type, 3 frame counter, 4 request
// byte, 5/6 integration times, 7 frame rate, 15 validity 1.0, all other words 0. Words that do
// not fit whole into the header are left out. `o` (may be null) replaces words and byte counts.
Answer makeImageAnswer(const ImageFacts& facts, const ImageOverride* o);

// A recorded block sent as it is, or a raw override.
Answer makeRawAnswer(std::shared_ptr<const std::vector<uint8_t>> bytes, const ImageOverride* o);

}  // namespace lvtsim::detail
