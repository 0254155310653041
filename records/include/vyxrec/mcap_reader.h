// Reads an MCAP file (format major version 0) written by us or any other
// writer that uses zstd or no compression.
//
// A complete file is read through its summary: schemas, channels, statistics
// and metadata are known at once, and chunks are visited through their index,
// which lets seek() jump to a time and onlyChannels() skip chunks. A file
// without a readable summary (a recorder killed or a disk that filled up) is
// read in streaming mode from the start up to its last whole record, and
// stopReason() says where and why reading stopped.
//
// Everything the file claims is checked before it is used: a damaged or
// hostile file raises RecordingError naming the file and the byte offset, and
// no allocation exceeds what the file's size (or a chunk's checked
// decompression) justifies. Only regular files are opened.
#ifndef VYXREC_MCAP_READER_H
#define VYXREC_MCAP_READER_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vyxrec {

struct McapSchema {
  uint16_t id = 0;
  std::string name, encoding, data;
};

struct McapChannel {
  uint16_t id = 0, schemaId = 0;
  std::string topic, messageEncoding;
  std::map<std::string, std::string> metadata;
};

struct McapStatistics {
  uint64_t messageCount = 0;
  uint32_t channelCount = 0, metadataCount = 0, chunkCount = 0;
  uint64_t messageStartTime = 0, messageEndTime = 0;
  std::map<uint16_t, uint64_t> channelMessageCounts;
};

struct McapMetadata {
  std::string name;
  std::map<std::string, std::string> entries;
};

// One message; `data` points into the reader and is valid until the next call of next().
struct McapMessage {
  uint16_t channelId = 0;
  uint32_t sequence = 0;
  uint64_t logTime = 0, publishTime = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint64_t recordOffset = 0;  // of the message, or of the chunk that holds it
};

class McapReader {
 public:
  // Opens `path` and reads its header and, if the file is complete, its summary.
  explicit McapReader(const std::string& path);
  // The same over bytes in memory (kept by the caller); `name` stands for the file in errors.
  McapReader(const std::string& name, const uint8_t* data, size_t size);
  ~McapReader();
  McapReader(McapReader&&) noexcept;
  McapReader& operator=(McapReader&&) noexcept;

  // True when the summary was read: the file ended with a footer and a summary.
  bool indexed() const;
  const std::map<uint16_t, McapSchema>& schemas() const;    // known so far
  const std::map<uint16_t, McapChannel>& channels() const;  // known so far
  const McapStatistics* statistics() const;                 // null when absent
  // Indexed: all of them from the start. Streaming: those met so far.
  const std::vector<McapMetadata>& metadata() const;

  // The next message in file order (log-time order per channel for our recorder);
  // false at the end. Throws RecordingError on damage.
  bool next(McapMessage& message);
  // From the first message at or after `logTime`; an indexed file starts at the
  // first chunk that can hold it, a streaming one reads from the start and skips.
  void seek(uint64_t logTime);
  // Only these channels' messages (empty: all); indexed reading skips chunks without them.
  void onlyChannels(const std::vector<uint16_t>& channelIds);

  // After next() returned false: true if the data section ended properly.
  bool complete() const;
  // Where reading stopped in a cut file, and why; empty when complete.
  uint64_t stoppedAt() const;
  const std::string& stopReason() const;
  const std::string& name() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vyxrec

#endif
