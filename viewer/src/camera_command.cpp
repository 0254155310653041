#include "camera_command.h"

#include <cstdlib>
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
  } else if (name == "record" || name == "view3d") {
    c.op = name == "record" ? CameraCommand::Op::Record : CameraCommand::Op::View3d;
    const auto on = j.find("on");
    if (on == j.end() || !on->is_boolean())
      throw std::invalid_argument(name + " needs \"on\": true or false");
    c.on = *on;
  } else if (name == "filters") {
    c.op = CameraCommand::Op::Filters;
    const auto f = j.find("filters");
    if (f == j.end() || !f->is_object())
      throw std::invalid_argument("filters needs \"filters\": an object");
    c.filters = *f;
  } else if (name == "step") {
    c.op = CameraCommand::Op::Step;
    const auto by = j.find("by");
    if (by == j.end() || !by->is_number_integer() || std::abs(by->get<int64_t>()) != 1)
      throw std::invalid_argument("step needs \"by\": -1 or 1");
    c.by = by->get<int64_t>();
  } else if (name == "seek") {
    c.op = CameraCommand::Op::Seek;
    const auto frame = j.find("frame");
    if (frame == j.end() || !frame->is_number_integer() || frame->get<int64_t>() < 0)
      throw std::invalid_argument("seek needs \"frame\": a whole number from 0");
    c.frame = frame->get<uint64_t>();
  } else if (name == "speed") {
    c.op = CameraCommand::Op::Speed;
    const auto value = j.find("value");
    if (value == j.end() || !value->is_number() || !(value->get<double>() >= 0.25) ||
        !(value->get<double>() <= 4.0))
      throw std::invalid_argument("speed needs \"value\": a number from 0.25 to 4");
    c.speed = value->get<double>();
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
