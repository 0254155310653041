// The calibration file: a small JSON object with the lens model's numbers and where they came
// from.
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "vyxhost/lens.h"

namespace vyxhost {
namespace {

using nlohmann::json;

// Says what the distance image means, in every file, so that no reader takes it for z.
constexpr const char* kDistanceMeaning =
    "the distance image holds the radial distance in metres from the optical centre along each "
    "pixel's ray, not z; point = distance * unit ray of the pixel";
constexpr const char* kConventions =
    "pixel centres at integer coordinates, (0, 0) the top-left pixel; x right, y down, z forward; "
    "distortion k1, k2, p1, p2, k3 in the usual pinhole model";

std::runtime_error fieldError(const std::string& path, const std::string& field,
                              const std::string& what) {
  return std::runtime_error(path + ": field \"" + field + "\" " + what);
}

const json& member(const json& doc, const std::string& path, const char* field) {
  const auto it = doc.find(field);
  if (it == doc.end()) throw fieldError(path, field, "is missing");
  return *it;
}

double number(const json& doc, const std::string& path, const char* field) {
  const json& v = member(doc, path, field);
  if (!v.is_number()) throw fieldError(path, field, "must be a number");
  return v.get<double>();
}

int wholeNumber(const json& doc, const std::string& path, const char* field) {
  const json& v = member(doc, path, field);
  if (!v.is_number_integer() || v.get<int64_t>() <= 0 || v.get<int64_t>() > 1 << 20)
    throw fieldError(path, field, "must be a whole number of pixels above 0");
  return v.get<int>();
}

}  // namespace

std::string calibrationJson(const LensModel& lens, const std::string& extraFields) {
  json extra;
  try {
    extra = json::parse(extraFields);
  } catch (const json::exception& e) {
    throw std::invalid_argument(std::string("calibration extra fields: ") + e.what());
  }
  if (!extra.is_object())
    throw std::invalid_argument("calibration extra fields must be a JSON object");
  nlohmann::ordered_json doc;  // fields in the order a reader expects them
  doc["width"] = lens.width;
  doc["height"] = lens.height;
  doc["fx"] = lens.fx;
  doc["fy"] = lens.fy;
  doc["cx"] = lens.cx;
  doc["cy"] = lens.cy;
  doc["distortion"] = lens.distortion;
  doc["source"] = lens.source;
  doc["nominal"] = lens.nominal;
  doc["distance"] = kDistanceMeaning;
  doc["conventions"] = kConventions;
  for (auto it = extra.begin(); it != extra.end(); ++it) doc[it.key()] = it.value();
  return doc.dump(2) + "\n";
}

void writeCalibration(const std::string& path, const LensModel& lens,
                      const std::string& extraFields) {
  const std::string text = calibrationJson(lens, extraFields);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) throw std::runtime_error(path + ": cannot write the calibration file");
}

LensModel readCalibration(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read the calibration file");
  std::stringstream text;
  text << in.rdbuf();
  json doc;
  try {
    doc = json::parse(text.str());
  } catch (const json::parse_error& e) {
    throw std::runtime_error(path + ": not a JSON calibration file (" + e.what() + ")");
  }
  if (!doc.is_object()) throw std::runtime_error(path + ": not a JSON object");

  LensModel lens;
  lens.width = wholeNumber(doc, path, "width");
  lens.height = wholeNumber(doc, path, "height");
  lens.fx = number(doc, path, "fx");
  lens.fy = number(doc, path, "fy");
  lens.cx = number(doc, path, "cx");
  lens.cy = number(doc, path, "cy");
  const json& k = member(doc, path, "distortion");
  if (!k.is_array() || k.size() != lens.distortion.size())
    throw fieldError(path, "distortion", "must be 5 numbers: k1, k2, p1, p2, k3");
  for (size_t i = 0; i < lens.distortion.size(); ++i) {
    if (!k[i].is_number())
      throw fieldError(path, "distortion", "must be 5 numbers: k1, k2, p1, p2, k3");
    lens.distortion[i] = k[i].get<double>();
  }
  lens.source = path;
  if (const auto it = doc.find("source"); it != doc.end()) {
    if (!it->is_string()) throw fieldError(path, "source", "must be a text");
    lens.source = it->get<std::string>();
  }
  if (const auto it = doc.find("nominal"); it != doc.end()) {
    if (!it->is_boolean()) throw fieldError(path, "nominal", "must be true or false");
    lens.nominal = it->get<bool>();
  }
  try {
    checkLens(lens);
  } catch (const std::invalid_argument& e) {
    // "lens: fx must be positive" -> "FILE: fx must be positive"
    const std::string what = e.what();
    throw std::runtime_error(path + ": " + what.substr(what.find(": ") + 2));
  }
  return lens;
}

}  // namespace vyxhost
