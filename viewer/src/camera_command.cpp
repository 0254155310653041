#include "camera_command.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace vyxview {

CameraCommand parseCameraCommand(const std::string& text) {
  const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
  if (j.is_discarded()) throw std::invalid_argument("the message is not JSON");
  if (!j.is_object()) throw std::invalid_argument("the message is not a JSON object");
  CameraCommand c;
  if (j.contains("id")) {
    if (!j["id"].is_number_integer()) throw std::invalid_argument("\"id\" must be a whole number");
    c.id = j["id"].get<int64_t>();
  }
  const auto op = j.find("op");
  if (op == j.end() || !op->is_string()) throw std::invalid_argument("the message has no \"op\"");
  const std::string name = *op;
  if (name == "drawn") {
    c.op = CameraCommand::Op::Drawn;
  } else if (name == "pause") {
    c.op = CameraCommand::Op::Pause;
  } else if (name == "resume") {
    c.op = CameraCommand::Op::Resume;
  } else if (name == "record") {
    c.op = CameraCommand::Op::Record;
    const auto on = j.find("on");
    if (on == j.end() || !on->is_boolean())
      throw std::invalid_argument("record needs \"on\": true or false");
    c.on = *on;
  } else if (name == "set") {
    c.op = CameraCommand::Op::Set;
    const auto what = j.find("name");
    if (what == j.end() || !what->is_string() ||
        (*what != "itime0" && *what != "itime1" && *what != "fps")) {
      throw std::invalid_argument("set needs \"name\": \"itime0\", \"itime1\" or \"fps\"");
    }
    c.name = *what;
    const auto value = j.find("value");
    if (value == j.end() || !value->is_number_integer() || value->get<int64_t>() < 0 ||
        value->get<int64_t>() > std::numeric_limits<uint32_t>::max()) {
      throw std::invalid_argument("set needs \"value\": a whole number from 0 to 4294967295");
    }
    c.value = value->get<uint32_t>();
  } else {
    throw std::invalid_argument("unknown op \"" + name + "\"");
  }
  return c;
}

}  // namespace vyxview
