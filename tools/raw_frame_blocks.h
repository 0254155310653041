// A look inside a raw frame as the plug-in hands it out: image blocks one after another, each a
// header of big-endian float words (word 0 the data size in bytes, word 1 the header size, word 2
// the camera image type) followed by the image data.
#pragma once

#include <cstdint>
#include <vector>

namespace vyxgrab {

// The camera image type of every complete block, in order. Stops at the first header that is cut
// short or names sizes that do not fit the frame.
std::vector<int> imageTypesInFrame(const std::vector<uint8_t>& frame);

}  // namespace vyxgrab
