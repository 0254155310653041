// What a page may ask of the camera, parsed from its JSON text message:
//   {"id": 7, "op": "set", "name": "itime0" | "itime1" | "fps", "value": 500}
//   {"id": 8, "op": "pause"}   {"op": "resume"}   {"op": "record", "on": true}
//   {"op": "drawn"}: the page has drawn a frame and takes the next (no reply)
// "id" (a whole number) is optional and comes back in the reply.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vyxview {

struct CameraCommand {
  enum class Op { Set, Pause, Resume, Record, Drawn };
  Op op = Op::Pause;
  std::optional<int64_t> id;  // none when the page sent none
  std::string name;           // Set: itime0, itime1 or fps
  uint32_t value = 0;         // Set
  bool on = false;            // Record
};

// Throws std::invalid_argument with a message for the page when the text is
// not JSON or not one of the commands above.
CameraCommand parseCameraCommand(const std::string& text);

}  // namespace vyxview
