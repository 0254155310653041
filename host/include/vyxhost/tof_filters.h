// Time-of-flight filters: which pixels of a frame carry a usable distance.
//
// A pixel is invalid when too little light came back (amplitude below minAmplitude), when the
// sensor was full (amplitude at or above saturation), when its distance lies outside
// [minDistance, maxDistance] or is not a number, or when it is a flying pixel: one that straddles
// a depth edge and reads a mix of both surfaces, seen as a jump of more than flyingThreshold
// times its distance to both of two opposite neighbours. The temporal median replaces each
// distance by the median of the last temporalMedian frames before the tests run.
// Invalid pixels are NaN in float outputs and 0 in 16-bit outputs (maskInvalid).
#ifndef VYXHOST_TOF_FILTERS_H
#define VYXHOST_TOF_FILTERS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vyxhost {

// The amplitude the camera reports when the sensor is full.
constexpr float kFullAmplitude = 3000.0f;

// Each test with 0 is off (a distance that is not a number is invalid all the same).
struct FilterSettings {
  float minAmplitude = 20.0f;         // below: too little light for a trustworthy distance
  float saturation = kFullAmplitude;  // at or above: the sensor was full
  float minDistance = 0.05f;          // metres
  float maxDistance = 7.49f;          // metres: the camera's unambiguous range at 20 MHz
  float flyingThreshold = 0.04f;      // relative to the pixel's distance
  int temporalMedian = 0;             // frames; at most kMaxTemporalMedian
  bool enabled = true;                // false: every pixel is valid, nothing is tested

  static constexpr int kMaxTemporalMedian = 31;

  // Everything shown: no test at all.
  static FilterSettings none();
  // Throws std::invalid_argument naming the first unusable field.
  void check() const;
  // One JSON object with every field, for run manifests and recordings, e.g.
  // {"enabled":true,"min_amplitude":20.0,"saturation":3000.0,"min_distance":0.05,...}.
  std::string toJson() const;
  // The settings of a toJson text; fields it lacks keep their defaults. Throws
  // std::invalid_argument naming the field for text that is not such an object.
  static FilterSettings fromJson(const std::string& text);
};

class TofFilter {
 public:
  // Throws std::invalid_argument for unusable settings or a size that is not positive.
  TofFilter(const FilterSettings& settings, int width, int height);

  const FilterSettings& settings() const { return settings_; }

  // Tests one frame: distance and amplitude are width x height images (amplitude may be null:
  // its tests are skipped); valid gets 1 for a usable pixel and 0 otherwise. With the temporal
  // median on, distance is replaced by the median of this and the previous frames first.
  // Returns the number of valid pixels.
  size_t apply(float* distance, const float* amplitude, uint8_t* valid);

  // Forgets the frames the temporal median holds (after a gap in the stream).
  void reset();

 private:
  void median(float* distance);
  void flying(const float* distance, uint8_t* valid);

  FilterSettings settings_;
  int width_, height_;
  std::vector<float> history_;  // temporalMedian frames, oldest overwritten first
  size_t frames_ = 0;           // frames seen since the last reset
  std::vector<float> scratch_;
  std::vector<float> jumps_;  // between neighbours, four directions
};

// Invalid pixels (valid[i] == 0) become NaN resp. 0.
void maskInvalid(const uint8_t* valid, float* image, size_t pixels);
void maskInvalid(const uint8_t* valid, uint16_t* image, size_t pixels);

}  // namespace vyxhost

#endif
