#pragma once

#include "answer.h"

namespace lvtsim::detail {

// Writes the answer's wire bytes to a connected socket: header and image in one sendmsg() on
// the normal path, or one send() per byte when `singleBytes` is set. False if the peer is gone.
bool sendAnswer(int fd, const Answer& answer, bool singleBytes);

}  // namespace lvtsim::detail
