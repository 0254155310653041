#include "vyxrec/mcap_writer.h"

#include <zstd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "mcap_bytes.h"
#include "mcap_file_out.h"
#include "mcap_format.h"
#include "vyxrec/recording_error.h"

namespace vyxrec {

using bytes::Buffer;
using Clock = std::chrono::steady_clock;

namespace {

// Starts a record in `out`; returns where its length goes, for endRecord.
size_t beginRecord(Buffer& out, uint8_t opcode) {
  bytes::put8(out, opcode);
  const size_t at = out.size();
  bytes::put64(out, 0);
  return at;
}
void endRecord(Buffer& out, size_t lengthAt) {
  bytes::patch64(out, lengthAt, out.size() - lengthAt - 8);
}

struct SchemaRecord {
  uint16_t id;
  std::string name, encoding, data;
};
struct ChannelRecord {
  uint16_t id, schemaId;
  std::string topic, encoding;
  McapWriter::Metadata metadata;
  uint64_t messages = 0;
};
// What the summary keeps of each chunk, about a hundred bytes: the message
// index offsets live in one flat list for all chunks (indexFirst, indexCount).
struct ChunkIndexRecord {
  uint64_t startTime, endTime, offset, length;
  uint32_t indexFirst;
  uint16_t indexCount;
  uint64_t messageIndexLength;
  std::string_view compression;  // a literal
  uint64_t compressedSize, uncompressedSize;
};
struct MetadataIndexRecord {
  uint64_t offset, length;
  std::string name;
};

}  // namespace

class McapWriter::Impl {
 public:
  Impl(const std::string& path, McapWriterOptions options)
      : options_(std::move(options)), file_(path) {
    if (options_.compress) {
      cctx_ = ZSTD_createCCtx();
      if (cctx_ == nullptr) throw RecordingError(path, "cannot set up zstd");
      ZSTD_CCtx_setParameter(cctx_, ZSTD_c_compressionLevel, options_.zstdLevel);
    }
    chunk_.reserve(options_.chunkBytes + (64u << 10));
    file_.append(mcap::kMagic, mcap::kMagicSize);
    const size_t at = beginRecord(out_, mcap::kHeader);
    bytes::putString(out_, options_.profile);
    bytes::putString(out_, options_.library);
    endRecord(out_, at);
    emit();
  }
  ~Impl() { ZSTD_freeCCtx(cctx_); }

  uint16_t addSchema(std::string_view name, std::string_view encoding, std::string_view data) {
    requireOpen();
    SchemaRecord s{static_cast<uint16_t>(schemas_.size() + 1), std::string(name),
                   std::string(encoding), std::string(data)};
    if (schemas_.size() >= 0xFFFE) throw RecordingError(file_.path(), "too many schemas");
    openChunkIfEmpty();
    putSchema(chunk_, s);
    schemas_.push_back(std::move(s));
    return schemas_.back().id;
  }

  uint16_t addChannel(uint16_t schemaId, std::string_view topic, std::string_view encoding,
                      const Metadata& metadata) {
    requireOpen();
    if (schemaId > schemas_.size()) {
      throw RecordingError(file_.path(), "channel " + std::string(topic) + " names schema " +
                                             std::to_string(schemaId) + ", never added");
    }
    if (channels_.size() >= 0xFFFE) throw RecordingError(file_.path(), "too many channels");
    ChannelRecord c{static_cast<uint16_t>(channels_.size() + 1), schemaId, std::string(topic),
                    std::string(encoding), metadata};
    openChunkIfEmpty();
    putChannel(chunk_, c);
    channels_.push_back(std::move(c));
    chunkIndex_.emplace_back();
    return channels_.back().id;
  }

  void write(uint16_t channelId, uint32_t sequence, uint64_t logTime, uint64_t publishTime,
             const void* data, size_t size) {
    requireOpen();
    if (channelId == 0 || channelId > channels_.size()) {
      throw RecordingError(file_.path(),
                           "message for channel " + std::to_string(channelId) + ", never added");
    }
    openChunkIfEmpty();
    const uint64_t recordOffset = chunk_.size();
    bytes::put8(chunk_, mcap::kMessage);
    bytes::put64(chunk_, mcap::kMessageFixed + size);
    bytes::put16(chunk_, channelId);
    bytes::put32(chunk_, sequence);
    bytes::put64(chunk_, logTime);
    bytes::put64(chunk_, publishTime);
    bytes::putBytes(chunk_, data, size);

    auto& index = chunkIndex_[channelId - 1];
    if (index.empty()) touched_.push_back(channelId);
    index.emplace_back(logTime, recordOffset);
    chunkStart_ = chunkMessages_ == 0 ? logTime : std::min(chunkStart_, logTime);
    chunkEnd_ = chunkMessages_ == 0 ? logTime : std::max(chunkEnd_, logTime);
    ++chunkMessages_;
    if (!inGroup_) closeChunkIfDue();
  }

  void beginGroup() { inGroup_ = true; }
  void endGroup() {
    inGroup_ = false;
    closeChunkIfDue();
  }

  void closeChunkIfDue() {
    if (chunk_.size() >= options_.chunkBytes) {
      flushChunk();
    } else {
      flushIfDue();
    }
  }

  void addMetadata(const std::string& name, const Metadata& entries) {
    requireOpen();
    const size_t at = beginRecord(out_, mcap::kMetadata);
    bytes::putString(out_, name);
    bytes::putStringMap(out_, entries);
    endRecord(out_, at);
    const MetadataIndexRecord entry{file_.offset(), out_.size(), name};
    emit();
    metadataIndex_.push_back(entry);
  }

  void flushIfDue() {
    if (!chunk_.empty() && Clock::now() - chunkOpened_ >= options_.chunkAge) flushChunk();
  }

  void flushChunk() {
    requireOpen();
    if (chunk_.empty()) return;
    // The chunk record and its message indexes go out in one write, so a
    // failure leaves the file ending at the previous chunk.
    const uint32_t crc = bytes::crc32(chunk_.data(), chunk_.size());
    ChunkIndexRecord entry{chunkMessages_ ? chunkStart_ : 0,
                           chunkMessages_ ? chunkEnd_ : 0,
                           file_.offset(),
                           0,
                           static_cast<uint32_t>(indexOffsets_.size()),
                           static_cast<uint16_t>(touched_.size()),
                           0,
                           cctx_ != nullptr ? "zstd" : "",
                           0,
                           chunk_.size()};
    const size_t at = beginRecord(out_, mcap::kChunk);
    bytes::put64(out_, entry.startTime);
    bytes::put64(out_, entry.endTime);
    bytes::put64(out_, chunk_.size());
    bytes::put32(out_, crc);
    bytes::putString(out_, entry.compression);
    const size_t sizeAt = out_.size();
    bytes::put64(out_, 0);
    const size_t recordsAt = out_.size();
    if (cctx_ != nullptr) {
      out_.resize(recordsAt + ZSTD_compressBound(chunk_.size()));
      const size_t n = ZSTD_compress2(cctx_, out_.data() + recordsAt, out_.size() - recordsAt,
                                      chunk_.data(), chunk_.size());
      if (ZSTD_isError(n)) {
        out_.clear();
        throw RecordingError(file_.path(), file_.offset(),
                             std::string("cannot compress a chunk: ") + ZSTD_getErrorName(n));
      }
      out_.resize(recordsAt + n);
    } else {
      bytes::putBytes(out_, chunk_.data(), chunk_.size());
    }
    entry.compressedSize = out_.size() - recordsAt;
    bytes::patch64(out_, sizeAt, entry.compressedSize);
    endRecord(out_, at);
    entry.length = out_.size();

    const size_t indexStart = out_.size();
    for (const uint16_t id : touched_) {
      const auto& index = chunkIndex_[id - 1];
      indexOffsets_.push_back({id, entry.offset + out_.size()});
      const size_t m = beginRecord(out_, mcap::kMessageIndex);
      bytes::put16(out_, id);
      bytes::put32(out_, static_cast<uint32_t>(index.size() * 16));
      for (const auto& [time, offset] : index) {
        bytes::put64(out_, time);
        bytes::put64(out_, offset);
      }
      endRecord(out_, m);
    }
    entry.messageIndexLength = out_.size() - indexStart;
    const uint64_t chunkMessages = chunkMessages_;
    try {
      emit();
    } catch (...) {
      indexOffsets_.resize(entry.indexFirst);
      // Its messages are lost; what the file holds stays whole. The next chunk
      // repeats the definitions, in case this one carried them.
      dropChunk();
      openChunkIfEmpty();
      for (const auto& schema : schemas_) putSchema(chunk_, schema);
      for (const auto& channel : channels_) putChannel(chunk_, channel);
      throw;
    }
    for (const uint16_t id : touched_) channels_[id - 1].messages += chunkIndex_[id - 1].size();
    if (chunkMessages != 0) {
      fileStart_ = messages_ == 0 ? chunkStart_ : std::min(fileStart_, chunkStart_);
      fileEnd_ = messages_ == 0 ? chunkEnd_ : std::max(fileEnd_, chunkEnd_);
      messages_ += chunkMessages;
    }
    chunks_.push_back(entry);
    dropChunk();
  }

  void close() {
    if (closed_) return;
    flushChunk();
    closed_ = true;
    const size_t end = beginRecord(out_, mcap::kDataEnd);
    bytes::put32(out_, file_.crc());  // covers the magic and every record before this one
    endRecord(out_, end);
    emit();

    const uint64_t summaryStart = file_.offset();
    file_.restartCrc();
    std::vector<std::pair<uint8_t, std::pair<uint64_t, uint64_t>>> groups;
    auto group = [&](uint8_t opcode, auto&& putAll) {
      const uint64_t start = file_.offset();
      putAll();
      if (out_.empty()) return;
      groups.push_back({opcode, {start, out_.size()}});
      emit();
    };
    group(mcap::kSchema, [&] {
      for (const auto& s : schemas_) putSchema(out_, s);
    });
    group(mcap::kChannel, [&] {
      for (const auto& c : channels_) putChannel(out_, c);
    });
    group(mcap::kStatistics, [&] { putStatistics(out_); });
    group(mcap::kChunkIndex, [&] {
      for (const auto& c : chunks_) putChunkIndex(out_, c);
    });
    group(mcap::kMetadataIndex, [&] {
      for (const auto& m : metadataIndex_) {
        const size_t at = beginRecord(out_, mcap::kMetadataIndex);
        bytes::put64(out_, m.offset);
        bytes::put64(out_, m.length);
        bytes::putString(out_, m.name);
        endRecord(out_, at);
      }
    });
    const uint64_t offsetsStart = file_.offset();
    for (const auto& [opcode, range] : groups) {
      const size_t at = beginRecord(out_, mcap::kSummaryOffset);
      bytes::put8(out_, opcode);
      bytes::put64(out_, range.first);
      bytes::put64(out_, range.second);
      endRecord(out_, at);
    }
    emit();
    bytes::put8(out_, mcap::kFooter);
    bytes::put64(out_, mcap::kFooterContent);
    bytes::put64(out_, summaryStart);
    bytes::put64(out_, offsetsStart);
    bytes::put32(out_, bytes::crc32(out_.data(), out_.size(), file_.crc()));
    bytes::putBytes(out_, mcap::kMagic, mcap::kMagicSize);
    emit();
    file_.close();
  }

  const std::string& path() const { return file_.path(); }
  uint64_t bytesWritten() const { return file_.offset(); }
  uint64_t messageCount() const { return messages_ + chunkMessages_; }
  bool closed() const { return closed_; }

 private:
  void requireOpen() const {
    if (closed_) throw RecordingError(file_.path(), "the recording is already closed");
  }
  void dropChunk() {
    for (const uint16_t id : touched_) chunkIndex_[id - 1].clear();
    touched_.clear();
    chunk_.clear();
    chunkMessages_ = 0;
  }
  void openChunkIfEmpty() {
    if (chunk_.empty()) chunkOpened_ = Clock::now();
  }
  // Writes out_ to the file and empties it (its capacity stays).
  void emit() {
    if (out_.empty()) return;
    try {
      file_.append(out_.data(), out_.size());
    } catch (...) {
      out_.clear();
      throw;
    }
    out_.clear();
  }

  static void putSchema(Buffer& out, const SchemaRecord& s) {
    const size_t at = beginRecord(out, mcap::kSchema);
    bytes::put16(out, s.id);
    bytes::putString(out, s.name);
    bytes::putString(out, s.encoding);
    bytes::putString(out, s.data);  // uint32-prefixed bytes, the same layout
    endRecord(out, at);
  }
  static void putChannel(Buffer& out, const ChannelRecord& c) {
    const size_t at = beginRecord(out, mcap::kChannel);
    bytes::put16(out, c.id);
    bytes::put16(out, c.schemaId);
    bytes::putString(out, c.topic);
    bytes::putString(out, c.encoding);
    bytes::putStringMap(out, c.metadata);
    endRecord(out, at);
  }
  void putStatistics(Buffer& out) const {
    const size_t at = beginRecord(out, mcap::kStatistics);
    bytes::put64(out, messages_);
    bytes::put16(out, static_cast<uint16_t>(schemas_.size()));
    bytes::put32(out, static_cast<uint32_t>(channels_.size()));
    bytes::put32(out, 0);  // attachments
    bytes::put32(out, static_cast<uint32_t>(metadataIndex_.size()));
    bytes::put32(out, static_cast<uint32_t>(chunks_.size()));
    bytes::put64(out, messages_ ? fileStart_ : 0);
    bytes::put64(out, messages_ ? fileEnd_ : 0);
    bytes::put32(out, static_cast<uint32_t>(channels_.size() * 10));
    for (const auto& c : channels_) {
      bytes::put16(out, c.id);
      bytes::put64(out, c.messages);
    }
    endRecord(out, at);
  }
  void putChunkIndex(Buffer& out, const ChunkIndexRecord& c) const {
    const size_t at = beginRecord(out, mcap::kChunkIndex);
    bytes::put64(out, c.startTime);
    bytes::put64(out, c.endTime);
    bytes::put64(out, c.offset);
    bytes::put64(out, c.length);
    bytes::put32(out, static_cast<uint32_t>(c.indexCount * 10u));
    for (uint32_t i = c.indexFirst; i < c.indexFirst + c.indexCount; ++i) {
      bytes::put16(out, indexOffsets_[i].channel);
      bytes::put64(out, indexOffsets_[i].offset);
    }
    bytes::put64(out, c.messageIndexLength);
    bytes::putString(out, c.compression);
    bytes::put64(out, c.compressedSize);
    bytes::put64(out, c.uncompressedSize);
    endRecord(out, at);
  }

  McapWriterOptions options_;
  mcap::FileOut file_;
  ZSTD_CCtx* cctx_ = nullptr;
  Buffer out_, chunk_;

  std::vector<SchemaRecord> schemas_;
  std::vector<ChannelRecord> channels_;
  std::vector<ChunkIndexRecord> chunks_;
  struct IndexOffset {
    uint16_t channel;
    uint64_t offset;
  };
  std::vector<IndexOffset> indexOffsets_;
  std::vector<MetadataIndexRecord> metadataIndex_;

  // The open chunk: per channel (id - 1) its message index, and the channels in it.
  std::vector<std::vector<std::pair<uint64_t, uint64_t>>> chunkIndex_;
  std::vector<uint16_t> touched_;
  Clock::time_point chunkOpened_{};
  uint64_t chunkStart_ = 0, chunkEnd_ = 0, chunkMessages_ = 0;
  uint64_t fileStart_ = 0, fileEnd_ = 0, messages_ = 0;
  bool closed_ = false;
  bool inGroup_ = false;
};

McapWriter::McapWriter(const std::string& path, McapWriterOptions options)
    : impl_(std::make_unique<Impl>(path, std::move(options))) {}

McapWriter::~McapWriter() {
  if (impl_->closed()) return;
  try {
    impl_->close();
  } catch (...) {
    // A destructor cannot report; the file ends at its last whole record.
  }
}

uint16_t McapWriter::addSchema(std::string_view name, std::string_view encoding,
                               std::string_view data) {
  return impl_->addSchema(name, encoding, data);
}
uint16_t McapWriter::addChannel(uint16_t schemaId, std::string_view topic,
                                std::string_view messageEncoding, const Metadata& metadata) {
  return impl_->addChannel(schemaId, topic, messageEncoding, metadata);
}
void McapWriter::write(uint16_t channelId, uint32_t sequence, uint64_t logTime,
                       uint64_t publishTime, const void* data, size_t size) {
  impl_->write(channelId, sequence, logTime, publishTime, data, size);
}
void McapWriter::beginGroup() { impl_->beginGroup(); }
void McapWriter::endGroup() { impl_->endGroup(); }
void McapWriter::addMetadata(const std::string& name, const Metadata& entries) {
  impl_->addMetadata(name, entries);
}
void McapWriter::flushChunk() { impl_->flushChunk(); }
void McapWriter::flushIfDue() { impl_->flushIfDue(); }
void McapWriter::close() { impl_->close(); }
const std::string& McapWriter::path() const { return impl_->path(); }
uint64_t McapWriter::bytesWritten() const { return impl_->bytesWritten(); }
uint64_t McapWriter::messageCount() const { return impl_->messageCount(); }

}  // namespace vyxrec
