// Frames of several cameras matched by host time stamp, against ground truth: synthetic stamps
// with known jitter and delivery order, frames one camera dropped, a camera that started late.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <stdexcept>
#include <vector>

#include "vyxhost/frame_matcher.h"

namespace {

constexpr int64_t kPeriod = 40'000'000;  // 25 frames/s
constexpr int64_t kMs = 1'000'000;

struct Arrival {
  size_t camera;
  int instant;      // the ground truth: which instant the frame belongs to
  int64_t stampNs;  // host stamp: instant, camera phase, jitter
  int64_t arrivesNs;
};

TEST(FrameMatcher, MatchesEveryInstantAllCamerasSawAndCountsTheRest) {
  // Three cameras in phases -5, 0 and +6 ms with up to 3 ms of jitter: one instant's frames
  // spread over at most 17 ms (< 20, half a period), neighbouring instants' are 23 ms or more
  // apart, so the instant every camera saw is the only right partner.
  const int instants = 200;
  const int64_t phase[3] = {0, 6 * kMs, -5 * kMs};
  const int lateStart = 30;                           // camera 2 starts here
  std::set<int> dropped = {17, 18, 50, 51, 52, 120};  // by camera 1
  std::mt19937 random(23);
  std::uniform_int_distribution<int64_t> jitter(-3 * kMs, 3 * kMs);
  std::uniform_int_distribution<int64_t> delay(0, 30 * kMs);
  std::bernoulli_distribution drop(0.05);
  for (int k = 0; k < instants - 1; ++k)
    if (drop(random)) dropped.insert(k);

  // Each camera delivers in its own order; the cameras interleave by when frames arrive.
  std::vector<Arrival> arrivals;
  size_t frames[3] = {0, 0, 0};
  for (size_t cam = 0; cam < 3; ++cam) {
    int64_t lastArrival = 0;
    for (int k = 0; k < instants; ++k) {
      if ((cam == 1 && dropped.count(k)) || (cam == 2 && k < lateStart)) continue;
      const int64_t stamp = 1'700'000'000'000'000'000 + k * kPeriod + phase[cam] + jitter(random);
      lastArrival = std::max(lastArrival, stamp + delay(random));
      arrivals.push_back({cam, k, stamp, lastArrival});
      ++frames[cam];
    }
  }
  std::stable_sort(arrivals.begin(), arrivals.end(),
                   [](const Arrival& a, const Arrival& b) { return a.arrivesNs < b.arrivesNs; });

  const size_t maxPending = 8;  // less than camera 2's late start: the cap must act
  vyxhost::FrameMatcher<int> matcher(3, kPeriod, maxPending);
  std::vector<std::vector<int>> tuples;
  for (const Arrival& a : arrivals) {
    matcher.add(a.camera, a.stampNs, a.instant);
    for (size_t cam = 0; cam < 3; ++cam) ASSERT_LE(matcher.waiting(cam), maxPending);
    while (auto tuple = matcher.next()) tuples.push_back(*tuple);
  }

  std::vector<std::vector<int>> expected;
  for (int k = lateStart; k < instants; ++k)
    if (!dropped.count(k)) expected.push_back({k, k, k});
  EXPECT_EQ(tuples, expected);
  for (size_t cam = 0; cam < 3; ++cam) {
    EXPECT_EQ(matcher.unmatched()[cam], frames[cam] - expected.size()) << "camera " << cam;
    EXPECT_EQ(matcher.waiting(cam), 0u) << "camera " << cam;  // the last instant matched
  }

  // Two cameras exactly half a period apart never match ("less than half"); a nanosecond
  // closer, every frame does.
  for (const int64_t offset : {kPeriod / 2, kPeriod / 2 - 1}) {
    vyxhost::FrameMatcher<int> pair(2, kPeriod);
    int matched = 0;
    for (int k = 0; k < 50; ++k) {
      pair.add(0, k * kPeriod, k);
      pair.add(1, k * kPeriod + offset, k);
      while (auto tuple = pair.next()) matched += (*tuple)[0] == (*tuple)[1];
    }
    const int expectMatched = offset == kPeriod / 2 ? 0 : 50;
    EXPECT_EQ(matched, expectMatched) << "offset " << offset;
    EXPECT_EQ(pair.unmatched()[0] + pair.unmatched()[1] + pair.waiting(0) + pair.waiting(1),
              uint64_t(100 - 2 * expectMatched))
        << "offset " << offset;
  }

  EXPECT_THROW(vyxhost::FrameMatcher<int>(0, kPeriod), std::invalid_argument);
  EXPECT_THROW(vyxhost::FrameMatcher<int>(2, 0), std::invalid_argument);
  EXPECT_THROW(matcher.add(3, 0, 0), std::out_of_range);
}

}  // namespace
