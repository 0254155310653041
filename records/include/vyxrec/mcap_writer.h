// Writes an MCAP file (format major version 0): messages go into zstd chunks,
// each followed by its message index records; closing the file adds the data
// end record and a summary (schemas, channels, statistics, chunk and metadata
// indexes, summary offsets) so that readers can seek by time and channel.
//
// A chunk is written to the file when it holds `chunkBytes` or has been open
// for `chunkSeconds`, whichever comes first, so a recorder killed at any moment
// leaves everything but the open chunk readable (in streaming mode). Memory
// stays flat: one chunk buffer, its compressed copy, and a few dozen bytes of
// index per chunk written. Not thread-safe: one writer per thread.
#ifndef VYXREC_MCAP_WRITER_H
#define VYXREC_MCAP_WRITER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace vyxrec {

struct McapWriterOptions {
  std::string profile = "ros2";  // the readers' hint for the message encodings
  std::string library = "lvt vyxrecords";
  size_t chunkBytes = 4u << 20;  // uncompressed
  std::chrono::milliseconds chunkAge{1000};
  int zstdLevel = 1;     // fast; camera floats compress little at any level
  bool compress = true;  // false: chunks are stored uncompressed
};

class McapWriter {
 public:
  using Metadata = std::map<std::string, std::string>;

  // Creates or truncates `path` (a regular file) and writes the magic and header.
  // Throws RecordingError when it cannot.
  McapWriter(const std::string& path, McapWriterOptions options = {});
  // Closes the file properly if close() was not called; errors are swallowed here.
  ~McapWriter();
  McapWriter(const McapWriter&) = delete;
  McapWriter& operator=(const McapWriter&) = delete;

  // Ids start at 1. The records go into the open chunk, ahead of their messages.
  uint16_t addSchema(std::string_view name, std::string_view encoding, std::string_view data);
  uint16_t addChannel(uint16_t schemaId, std::string_view topic, std::string_view messageEncoding,
                      const Metadata& metadata = {});
  // One message; `data` is copied into the open chunk.
  void write(uint16_t channelId, uint32_t sequence, uint64_t logTime, uint64_t publishTime,
             const void* data, size_t size);
  // Messages written between these two stay in one chunk (one frame's images):
  // a cut file then never ends with half a frame. endGroup() closes the chunk
  // if it is full or old.
  void beginGroup();
  void endGroup();
  // A metadata record in the data section, indexed in the summary.
  void addMetadata(const std::string& name, const Metadata& entries);
  // Writes the open chunk now (the recorder calls it when idle for a while).
  void flushChunk();
  // Writes the chunk still open if it is older than the chunk age.
  void flushIfDue();
  // Writes the open chunk, the data end, the summary and the footer, and closes
  // the file. Afterwards the writer takes nothing more. Throws RecordingError.
  void close();

  const std::string& path() const;
  uint64_t bytesWritten() const;  // file size so far, open chunk not included
  uint64_t messageCount() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vyxrec

#endif
