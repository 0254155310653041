// Recordings in one MCAP file: what the recorder writes reads back equal to the
// truth (through the summary, by seeking, and in streaming mode from a file cut
// anywhere or left by a recorder that was killed), and damaged or hostile files
// are refused with the file and the byte offset named.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <set>

#include "recording_fixture.h"
#include "temp_dir.h"
#include "vyxrec/mcap_playback.h"
#include "vyxrec/mcap_reader.h"
#include "vyxrec/recording_error.h"

namespace {

using vyxrec::McapPlayback;
using vyxrec::McapReader;
using vyxrec::RecordingError;
using Bytes = std::vector<uint8_t>;

Bytes slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void spill(const std::string& path, const Bytes& bytes, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
}
uint64_t le(const Bytes& b, size_t at, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= uint64_t{b[at + i]} << (8 * i);
  return v;
}
void setLe(Bytes& b, size_t at, size_t n, uint64_t v) {
  for (size_t i = 0; i < n; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The top-level records of a file, walked independently of the reader.
struct Record {
  uint8_t opcode;
  size_t offset, length;  // whole record
};
std::vector<Record> walk(const Bytes& b) {
  std::vector<Record> records;
  for (size_t at = 8; at + 9 <= b.size() - 8;) {
    const size_t length = 9 + static_cast<size_t>(le(b, at + 1, 8));
    records.push_back({b[at], at, length});
    at += length;
  }
  return records;
}
const Record& first(const std::vector<Record>& records, uint8_t opcode) {
  for (const auto& r : records) {
    if (r.opcode == opcode) return r;
  }
  throw std::runtime_error("no record " + std::to_string(opcode));
}

// Plays a file back and checks every frame against the truth; returns how many
// frames each camera gave (they must come in order, from frame 0, without gaps).
std::vector<uint64_t> checkPlayback(McapPlayback& play, unsigned cameras) {
  std::vector<uint64_t> seen(cameras, 0);
  vyxtest::RecFrame truth;
  vyxrec::PlaybackFrame f;
  while (play.next(f)) {
    const unsigned c = static_cast<unsigned>(std::stoul(play.cameras().at(f.camera).substr(3)));
    EXPECT_EQ(play.cameras()[f.camera], vyxtest::recCameraName(c));
    const uint64_t n = seen.at(c)++;
    vyxtest::recFill(c, n, truth);
    EXPECT_EQ(f.stampNs, vyxtest::recStamp(n));
    EXPECT_EQ(f.sequence, n);
    EXPECT_EQ(f.width, vyxtest::kRecWidth);
    EXPECT_EQ(f.height, vyxtest::kRecHeight);
    EXPECT_TRUE(f.distance == truth.distance) << "distance of " << c << "/" << n;
    EXPECT_TRUE(f.amplitude == truth.amplitude) << "amplitude of " << c << "/" << n;
    EXPECT_TRUE(f.hasRaw);
    EXPECT_TRUE(f.raw == truth.raw) << "raw of " << c << "/" << n;
    EXPECT_EQ(0, std::memcmp(f.description.data(), &truth.description, 128));
  }
  return seen;
}

TEST(McapRecording, ReadsBackEveryFrameThroughTheSummary) {
  vyxtest::TempDir dir("mcap");
  const std::string path = dir.file("run.mcap");
  vyxrec::McapWriterOptions small;
  small.chunkBytes = 200000;  // several chunks
  vyxtest::recWrite(path, 2, 120, small);

  McapPlayback play(path);
  ASSERT_TRUE(play.reader().indexed());
  EXPECT_EQ(play.runManifest(), vyxtest::recManifest());
  EXPECT_EQ(play.counters(), vyxtest::recCounters(240));
  EXPECT_EQ(play.failure(), "");
  EXPECT_EQ(checkPlayback(play, 2), (std::vector<uint64_t>{120, 120}));
  EXPECT_TRUE(play.complete());
  for (unsigned c = 0; c < 2; ++c) {
    const auto* info = play.cameraInfo(c);
    ASSERT_NE(info, nullptr);
    EXPECT_TRUE(info->sameModel(vyxtest::recInfo(c, 119))) << "the last lens model";
    EXPECT_EQ(info->stampNs, vyxtest::recStamp(50)) << "written again only when it changed";
    EXPECT_EQ(info->distortionModel, "plumb_bob");
    EXPECT_EQ(info->frameId, vyxtest::recCameraName(c));
  }

  const auto* stats = play.reader().statistics();
  ASSERT_NE(stats, nullptr);
  EXPECT_EQ(stats->messageCount, 2u * (3 * 120 + 2));
  EXPECT_GT(stats->chunkCount, 20u);
  EXPECT_EQ(stats->messageStartTime, vyxtest::recStamp(0));
  EXPECT_EQ(stats->messageEndTime, vyxtest::recStamp(119));

  // Seek by time and channel: the first distance message at or after frame 77.
  McapReader reader(path);
  std::set<std::string> topics;
  uint16_t distance1 = 0;
  for (const auto& [id, ch] : reader.channels()) {
    topics.insert(ch.topic);
    if (ch.topic == "/lvt/cam1/distance") distance1 = id;
    EXPECT_EQ(ch.messageEncoding, "cdr");
    EXPECT_EQ(reader.schemas().at(ch.schemaId).encoding, "ros2msg");
  }
  EXPECT_EQ(topics.size(), 8u);
  reader.seek(vyxtest::recStamp(77));
  reader.onlyChannels({distance1});
  vyxrec::McapMessage m;
  std::vector<float> pixels;
  uint64_t expected = 77;
  while (reader.next(m)) {
    ASSERT_EQ(m.channelId, distance1);
    ASSERT_EQ(m.logTime, vyxtest::recStamp(expected));
    const auto image = vyxrec::ros2::decodeImage32FC1(m.data, m.size, pixels);
    EXPECT_EQ(image.encoding, "32FC1");
    EXPECT_EQ(pixels[1234], vyxtest::recPixel(1, expected, 0, 1234));
    ++expected;
  }
  EXPECT_EQ(expected, 120u);
}

// A recorder killed at any moment leaves a file whose written chunks read back;
// a file cut at any byte reads in streaming mode up to the cut.
TEST(McapRecording, CutFilesReadUpToTheirLastWholeChunk) {
  vyxtest::TempDir dir("mcap");
  const std::string path = dir.file("run.mcap");
  vyxrec::McapWriterOptions small;
  small.chunkBytes = 100000;
  vyxtest::recWrite(path, 1, 60, small);
  const Bytes whole = slurp(path);
  const auto records = walk(whole);

  // Cuts: right after each chunk's message indexes, inside chunks, and at random bytes.
  std::vector<size_t> cuts;
  for (size_t i = 0; i + 1 < records.size(); ++i) {
    if (records[i].opcode == 0x07 && records[i + 1].opcode != 0x07) {
      cuts.push_back(records[i].offset + records[i].length);
    }
    if (records[i].opcode == 0x06) cuts.push_back(records[i].offset + records[i].length / 2);
  }
  std::mt19937 random(20);
  for (int i = 0; i < 12; ++i) cuts.push_back(9 + random() % (whole.size() - 10));

  // Which chunk holds each frame, from the whole file: a frame never spans two.
  std::map<uint64_t, uint64_t> framesInChunk;
  {
    McapReader reader(path);
    vyxrec::McapMessage m;
    while (reader.next(m)) {
      if (reader.channels().at(m.channelId).topic == "/lvt/cam0/distance") {
        ++framesInChunk[m.recordOffset];
      }
    }
  }
  ASSERT_GT(framesInChunk.size(), 5u);

  for (const size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const std::string cutPath = dir.file("cut.mcap");
    spill(cutPath, whole, cut);
    uint64_t expected = 0;  // the frames of the chunks wholly before the cut
    for (const auto& r : records) {
      if (r.opcode == 0x06 && r.offset + r.length <= cut) expected += framesInChunk[r.offset];
    }
    McapPlayback play(cutPath);
    EXPECT_FALSE(play.reader().indexed());
    EXPECT_EQ(checkPlayback(play, 1), std::vector<uint64_t>{expected});
    EXPECT_FALSE(play.complete());
    EXPECT_NE(play.stopReason().find("stopped at byte"), std::string::npos);
    EXPECT_LE(play.reader().stoppedAt(), cut);
    EXPECT_EQ(play.runManifest(), vyxtest::recManifest());
  }

  // The summary-less end of a finished file still reads everything.
  const size_t dataEnd = first(records, 0x0F).offset;
  spill(dir.file("cut.mcap"), whole, dataEnd);
  McapPlayback play(dir.file("cut.mcap"));
  EXPECT_EQ(checkPlayback(play, 1), std::vector<uint64_t>{60});
}

TEST(McapRecording, KilledRecorderLeavesTheWrittenChunksReadable) {
  vyxtest::TempDir dir("mcap");
  const std::string path = dir.file("live.mcap");
  vyxrec::McapWriterOptions options;
  options.chunkAge = std::chrono::milliseconds(0);  // every frame due at once
  vyxrec::McapRecorder rec(path, vyxtest::recManifest(), options);
  const int cam = rec.addCamera(vyxtest::recCameraName(0));
  vyxtest::RecFrame f;
  for (uint64_t n = 0; n < 25; ++n) {
    vyxtest::recFill(0, n, f);
    rec.record(cam, vyxtest::recView(f, n));
  }
  // A copy of the file as it is now is what a kill would leave.
  spill(dir.file("killed.mcap"), slurp(path), slurp(path).size());
  McapPlayback play(dir.file("killed.mcap"));
  EXPECT_EQ(checkPlayback(play, 1), std::vector<uint64_t>{25});
  EXPECT_FALSE(play.complete());

  rec.fail("camera lost", vyxtest::recCounters(25));
  McapPlayback closed(path);
  EXPECT_TRUE(closed.reader().indexed());
  EXPECT_EQ(closed.failure(), "camera lost");
  EXPECT_EQ(closed.reader().metadata().back().name, "failure") << "the reason comes last";
  EXPECT_EQ(checkPlayback(closed, 1), std::vector<uint64_t>{25});
}

// Every damage is refused with the file and the byte at fault; none crashes.
TEST(McapRecording, DamagedFilesAreRefusedNamingFileAndOffset) {
  vyxtest::TempDir dir("mcap");
  const std::string path = dir.file("good.mcap");
  vyxtest::recWrite(path, 1, 4);
  const Bytes good = slurp(path);
  const auto records = walk(good);
  const Record chunk = first(records, 0x06);
  // The chunk's fields: start, end, uncompressed size, crc, compression, records.
  const size_t sizeAt = chunk.offset + 9 + 16, crcAt = sizeAt + 8;
  const size_t footerAt = good.size() - 8 - 29;

  // The same recording with uncompressed chunks and no CRC, to reach inside a chunk.
  vyxrec::McapWriterOptions plain;
  plain.compress = false;
  vyxtest::recWrite(dir.file("plain.mcap"), 1, 4, plain);
  const Bytes open = slurp(dir.file("plain.mcap"));
  const Record plainChunk = first(walk(open), 0x06);
  const size_t plainRecords = plainChunk.offset + 9 + 8 + 8 + 8 + 4 + 4 + 8;

  struct Case {
    const char* name;
    Bytes base;
    std::function<void(Bytes&)> damage;
    uint64_t offset;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"wrong magic", good, [](Bytes& b) { b[1] = 'X'; }, 0, "magic"},
      {"header length 2^64", good, [](Bytes& b) { setLe(b, 9, 8, ~uint64_t{0}); }, 8,
       "past the end"},
      {"summary start past the end", good,
       [&](Bytes& b) { setLe(b, footerAt + 9, 8, b.size() + 100); }, footerAt, "summary start"},
      {"bad summary CRC", good, [&](Bytes& b) { b[le(b, footerAt + 9, 8) + 12] ^= 0x40; },
       le(good, footerAt + 9, 8), "CRC"},
      {"bad chunk CRC", good, [&](Bytes& b) { b[crcAt] ^= 1; }, chunk.offset, "CRC"},
      {"chunk decompresses to more", good,
       [&](Bytes& b) { setLe(b, sizeAt, 8, le(b, sizeAt, 8) - 1); }, chunk.offset, "more"},
      {"chunk decompresses to less", good,
       [&](Bytes& b) { setLe(b, sizeAt, 8, le(b, sizeAt, 8) + 1); }, chunk.offset, "less"},
      {"chunk length past the end", good,
       [&](Bytes& b) { setLe(b, chunk.offset + 1, 8, 1ull << 40); }, chunk.offset,
       "does not point at a chunk"},
      {"message for an unknown channel", open,
       [&](Bytes& b) {
         setLe(b, plainChunk.offset + 9 + 24, 4, 0);  // no CRC
         // The records: 3 schemas, 4 channels, then the first message.
         size_t at = plainRecords;
         while (b[at] != 0x05) at += 9 + static_cast<size_t>(le(b, at + 1, 8));
         setLe(b, at + 9, 2, 99);
       },
       plainChunk.offset, "unknown channel 99"},
      {"record out of place", open,
       [&](Bytes& b) {
         setLe(b, plainChunk.offset + 9 + 24, 4, 0);
         b[plainRecords] = 0x02;  // a footer inside a chunk
       },
       plainChunk.offset, "out of place"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bad = c.base;
    c.damage(bad);
    const std::string badPath = dir.file("bad.mcap");
    spill(badPath, bad, bad.size());
    try {
      McapPlayback play(badPath);
      vyxrec::PlaybackFrame f;
      while (play.next(f)) {
      }
      ADD_FAILURE() << "read without complaint";
    } catch (const RecordingError& e) {
      const std::string what = e.what();
      EXPECT_EQ(e.file(), badPath);
      EXPECT_TRUE(e.hasOffset());
      EXPECT_EQ(e.offset(), c.offset) << what;
      EXPECT_NE(what.find(badPath + " at byte " + std::to_string(c.offset)), std::string::npos);
      EXPECT_NE(what.find(c.says), std::string::npos) << what;
    }
  }

  // Only regular files: a directory and a FIFO (which must not be waited on).
  const std::string fifo = dir.file("fifo.mcap");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& odd : {dir.path(), fifo}) {
    try {
      McapReader reader(odd);
      ADD_FAILURE() << odd << " opened";
    } catch (const RecordingError& e) {
      EXPECT_NE(std::string(e.what()).find("not a regular file"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
