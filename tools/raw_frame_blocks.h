// The image blocks of a raw frame; the frame format's own reader.
#pragma once

#include "lvtwire/frame_blocks.h"

namespace vyxgrab {
using lvtwire::imageTypesInFrame;
}  // namespace vyxgrab
