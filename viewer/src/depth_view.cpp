#include "depth_view.h"

#include <stdexcept>

namespace vyxview {

DepthView::DepthView(const vyxhost::LensModel& lens, const vyxhost::FilterSettings& filters)
    : pipeline_(std::make_unique<vyxhost::DepthPipeline>(lens, filters)) {}

void DepthView::setFilters(const nlohmann::json& fields) {
  if (!fields.is_object()) throw std::invalid_argument("filters: expected an object");
  nlohmann::json merged = nlohmann::json::parse(pipeline_->filters().toJson());
  for (const auto& [key, value] : fields.items()) {
    if (!merged.contains(key)) throw std::invalid_argument("filters: no filter named " + key);
    merged[key] = value;
  }
  const vyxhost::FilterSettings next = vyxhost::FilterSettings::fromJson(merged.dump());
  next.check();
  pipeline_ = std::make_unique<vyxhost::DepthPipeline>(pipeline_->lens(), next);
}

bool DepthView::process(const vyxhost::FrameConverter& converter, const vyxhost::Frame& frame) {
  return pipeline_->process(converter, frame, images_);
}

void DepthView::process(const std::vector<float>& distance, const std::vector<float>& amplitude,
                        uint32_t rows, uint32_t columns) {
  const vyxhost::LensModel& lens = pipeline_->lens();
  const size_t pixels = size_t{rows} * columns;
  if (static_cast<int>(rows) != lens.height || static_cast<int>(columns) != lens.width ||
      distance.size() != pixels) {
    throw std::runtime_error("the recorded images are " + std::to_string(columns) + " x " +
                             std::to_string(rows) + ", the lens model is for " +
                             std::to_string(lens.width) + " x " + std::to_string(lens.height));
  }
  images_.shape = {rows, columns};
  images_.distance = distance;
  images_.amplitude = amplitude.size() == pixels ? amplitude : std::vector<float>(pixels, 0.0f);
  images_.valid.resize(pixels);
  images_.xyz.resize(3 * pixels);
  images_.validCount = pipeline_->process(images_.distance.data(),
                                          amplitude.size() == pixels ? amplitude.data() : nullptr,
                                          images_.valid.data(), images_.xyz.data());
}

std::string DepthView::message(FrameHeader header, bool points) const {
  header.flags =
      (lens().nominal ? kFlagNominalLens : 0u) | (filters().enabled ? kFlagFiltersOn : 0u);
  return frameMessage(header, images_, points);
}

nlohmann::json DepthView::describe() const {
  return {{"lens", nlohmann::json::parse(vyxhost::calibrationJson(lens()))},
          {"filters", nlohmann::json::parse(filters().toJson())}};
}

}  // namespace vyxview
