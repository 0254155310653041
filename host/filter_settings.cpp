// The filter settings as people and files see them: checked, and as one JSON object.
#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "vyxhost/tof_filters.h"

namespace vyxhost {
namespace {

void requireAtLeastZero(float value, const char* field) {
  if (!(value >= 0.0f) || std::isinf(value))
    throw std::invalid_argument(std::string("filters: ") + field +
                                " must be a finite number, 0 or more");
}

template <typename T>
void take(const nlohmann::json& doc, const char* field, T& value) {
  const auto it = doc.find(field);
  if (it == doc.end()) return;
  const bool fits = std::is_same_v<T, bool>  ? it->is_boolean()
                    : std::is_same_v<T, int> ? it->is_number_integer()
                                             : it->is_number();
  if (!fits)
    throw std::invalid_argument(std::string("filters: field \"") + field + "\" has the wrong type");
  value = it->get<T>();
}

}  // namespace

FilterSettings FilterSettings::none() {
  FilterSettings s;
  s.enabled = false;
  return s;
}

void FilterSettings::check() const {
  requireAtLeastZero(minAmplitude, "min_amplitude");
  requireAtLeastZero(saturation, "saturation");
  requireAtLeastZero(minDistance, "min_distance");
  requireAtLeastZero(maxDistance, "max_distance");
  requireAtLeastZero(flyingThreshold, "flying_threshold");
  if (maxDistance > 0.0f && maxDistance <= minDistance)
    throw std::invalid_argument("filters: max_distance must lie above min_distance");
  if (temporalMedian < 0 || temporalMedian > kMaxTemporalMedian)
    throw std::invalid_argument("filters: temporal_median must be 0 to " +
                                std::to_string(kMaxTemporalMedian) + " frames");
}

std::string FilterSettings::toJson() const {
  nlohmann::ordered_json doc;
  doc["enabled"] = enabled;
  doc["min_amplitude"] = minAmplitude;
  doc["saturation"] = saturation;
  doc["min_distance"] = minDistance;
  doc["max_distance"] = maxDistance;
  doc["flying_threshold"] = flyingThreshold;
  doc["temporal_median"] = temporalMedian;
  return doc.dump();
}

FilterSettings FilterSettings::fromJson(const std::string& text) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(text);
  } catch (const nlohmann::json::exception& e) {
    throw std::invalid_argument(std::string("filters: not JSON (") + e.what() + ")");
  }
  if (!doc.is_object()) throw std::invalid_argument("filters: not a JSON object");
  FilterSettings s;
  take(doc, "enabled", s.enabled);
  take(doc, "min_amplitude", s.minAmplitude);
  take(doc, "saturation", s.saturation);
  take(doc, "min_distance", s.minDistance);
  take(doc, "max_distance", s.maxDistance);
  take(doc, "flying_threshold", s.flyingThreshold);
  take(doc, "temporal_median", s.temporalMedian);
  s.check();
  return s;
}

}  // namespace vyxhost
