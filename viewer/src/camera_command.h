// What a page may ask of the camera, parsed from its JSON text message:
//   {"id": 7, "op": "set", "name": "itime0" | "itime1" | "fps", "value": 500}
//   {"id": 8, "op": "pause"}   {"op": "resume"}   {"op": "record", "on": true}
//   {"op": "drawn"}: the page has drawn a frame and takes the next (no reply)
//   {"op": "view3d", "on": true}: the page shows the 3D view and wants the points (no reply)
//   {"op": "filters", "filters": {"enabled": true, "min_amplitude": 20, ...}}: some or all
//   of the filters (the names of vyxhost::FilterSettings::toJson)
// A replay also takes:
//   {"op": "step", "by": -1 | 1}   {"op": "seek", "frame": 120}   {"op": "speed", "value": 0.5}
// "id" (a whole number) is optional and comes back in the reply.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace vyxview {

// Its members' moves may throw by the letter of C++17 (std::string, std::vector); libstdc++'s do
// not.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct CameraCommand {
  enum class Op { Set, Pause, Resume, Record, Drawn, View3d, Filters, Step, Seek, Speed };
  Op op = Op::Pause;
  std::optional<int64_t> id;  // none when the page sent none
  std::string name;           // Set: itime0, itime1 or fps
  uint32_t value = 0;         // Set
  bool on = false;            // Record, View3d
  nlohmann::json filters;     // Filters: an object
  int64_t by = 0;             // Step: -1 or 1
  uint64_t frame = 0;         // Seek
  double speed = 1.0;         // Speed: 0.25 to 4
};

// Where the pages' commands go: the camera's loop or a recording's replay. submit() runs the
// command on that thread between two frames and hands the answer to reply there (which must only
// pass it on).
class CommandSink {
 public:
  using Reply = std::function<void(nlohmann::json)>;
  virtual ~CommandSink() = default;
  virtual void submit(CameraCommand command, Reply reply) = 0;
};

// Throws std::invalid_argument with a message for the page when the text is
// not JSON or not one of the commands above.
CameraCommand parseCameraCommand(const std::string& text);

}  // namespace vyxview
