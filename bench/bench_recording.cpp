// What recording into one MCAP file costs per frame (raw block, distance and
// amplitude), next to a memcpy of the same bytes; write throughput on one core
// in frames/s (the goal: 16 cameras at 25 frames/s, 400 frames/s, with room);
// file size per frame against the raw bytes; playback speed in frames/s.
//   bench_recording                 the benchmarks
//   bench_recording --memory [N]    records N frames (default 100000) at the
//                                   camera's chunk cadence (25 frames a chunk)
//                                   and prints how resident memory grew
//                                   between frame 1000 and frame N
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "recording_fixture.h"
#include "temp_dir.h"
#include "vyxrec/mcap_playback.h"

namespace {

constexpr uint64_t kDistinctFrames = 64;  // frames are made once and cycled

size_t frameBytes(const vyxtest::RecFrame& f) {
  return f.raw.size() + (f.distance.size() + f.amplitude.size()) * sizeof(float);
}

std::vector<vyxtest::RecFrame> makeFrames() {
  std::vector<vyxtest::RecFrame> frames(kDistinctFrames);
  for (uint64_t n = 0; n < kDistinctFrames; ++n) vyxtest::recFill(0, n, frames[n]);
  return frames;
}

void BM_MemcpyFrame(benchmark::State& state) {
  const auto frames = makeFrames();
  std::vector<uint8_t> dst(frameBytes(frames[0]));
  uint64_t n = 0;
  for (auto _ : state) {
    const auto& f = frames[n++ % kDistinctFrames];
    uint8_t* p = dst.data();
    std::memcpy(p, f.raw.data(), f.raw.size());
    p += f.raw.size();
    std::memcpy(p, f.distance.data(), f.distance.size() * 4);
    std::memcpy(p + f.distance.size() * 4, f.amplitude.data(), f.amplitude.size() * 4);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(dst.size()));
}
BENCHMARK(BM_MemcpyFrame);

// Arg: 1 zstd, 0 uncompressed chunks.
void BM_RecordFrame(benchmark::State& state) {
  const auto frames = makeFrames();
  vyxtest::TempDir dir("bench-rec");
  vyxrec::McapWriterOptions options;
  options.compress = state.range(0) != 0;
  uint64_t n = 0;
  uint64_t fileBytes = 0;
  {
    vyxrec::McapRecorder rec(dir.file("bench.mcap"), "{}", options);
    const int cam = rec.addCamera("cam0");
    for (auto _ : state) {
      rec.record(cam, vyxtest::recView(frames[n % kDistinctFrames], n));
      ++n;
    }
    rec.finish("{}");
  }
  std::ifstream in(dir.file("bench.mcap"), std::ios::binary | std::ios::ate);
  fileBytes = static_cast<uint64_t>(in.tellg());
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frameBytes(frames[0])));
  state.counters["file_bytes_per_frame"] = static_cast<double>(fileBytes) / static_cast<double>(n);
  state.counters["raw_bytes_per_frame"] = static_cast<double>(frames[0].raw.size());
  state.counters["file_vs_raw"] = static_cast<double>(fileBytes) / static_cast<double>(n) /
                                  static_cast<double>(frames[0].raw.size());
}
BENCHMARK(BM_RecordFrame)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_PlaybackFrame(benchmark::State& state) {
  vyxtest::TempDir dir("bench-play");
  const uint64_t frames = 2000;
  vyxtest::recWrite(dir.file("play.mcap"), 1, frames);
  uint64_t read = 0;
  for (auto _ : state) {
    vyxrec::McapPlayback play(dir.file("play.mcap"));
    vyxrec::PlaybackFrame f;
    while (play.next(f)) ++read;
  }
  state.SetItemsProcessed(static_cast<int64_t>(read));
}
BENCHMARK(BM_PlaybackFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The writer's memory over a long run. Frames compress to almost nothing here
// (the disk would otherwise take 5 GB); what is measured is what the writer
// keeps per chunk, and a chunk holds 25 frames, one second at the camera's pace.
int memoryCheck(uint64_t frames) {
  vyxtest::TempDir dir("bench-rss");
  vyxtest::RecFrame f;
  vyxtest::recFill(0, 0, f);
  std::fill(f.raw.begin(), f.raw.end(), 0);
  vyxrec::McapWriterOptions options;
  options.chunkBytes = 25 * (frameBytes(f) + 600);
  vyxrec::McapRecorder rec(dir.file("long.mcap"), "{}", options);
  const int cam = rec.addCamera("cam0");
  long at1000 = 0;
  for (uint64_t n = 0; n < frames; ++n) {
    f.distance[n % f.distance.size()] = static_cast<float>(n);
    rec.record(cam, vyxtest::recView(f, n));
    if (n == 1000) at1000 = residentKiB();
  }
  const long atEnd = residentKiB();
  rec.finish("{}");
  std::printf(
      "memory: %llu frames, resident %ld KiB at frame 1000, %ld KiB at the end: "
      "growth %ld KiB (limit 1024)\n",
      static_cast<unsigned long long>(frames), at1000, atEnd, atEnd - at1000);
  return atEnd - at1000 < 1024 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--memory") == 0) {
    return memoryCheck(argc >= 3 ? std::strtoull(argv[2], nullptr, 10) : 100000);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
