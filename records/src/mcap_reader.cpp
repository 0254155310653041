#include "vyxrec/mcap_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "mcap_bytes.h"
#include "mcap_format.h"
#include "vyxrec/recording_error.h"

namespace vyxrec {

using bytes::Buffer;
using bytes::Cursor;

namespace {

// Larger records or chunks than this are refused: our writer's chunks are 4 MiB
// and other writers' a few MiB, so only a damaged length comes near it.
constexpr uint64_t kMaxRecord = 256u << 20;

struct ChunkIndexEntry {
  uint64_t startTime, endTime, offset, length;
  std::vector<uint16_t> channels;  // with a message index; empty: unknown
};

// The bytes under the reader: a regular file read with pread, or a caller's span.
class Source {
 public:
  Source(const std::string& path) : name_(path) {
    // O_NONBLOCK: a FIFO in the way is refused at fstat instead of waited on.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) throw RecordingError(path, std::string("cannot open: ") + std::strerror(errno));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd_);
      throw RecordingError(path, "not a regular file");
    }
    size_ = static_cast<uint64_t>(st.st_size);
  }
  Source(const std::string& name, const uint8_t* data, size_t size)
      : name_(name), memory_(data), size_(size) {}
  ~Source() {
    if (fd_ >= 0) ::close(fd_);
  }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  uint64_t size() const { return size_; }
  const std::string& name() const { return name_; }

  // Exactly `n` bytes at `offset` into `into`; the caller has checked the range.
  void read(uint64_t offset, uint64_t n, Buffer& into) const {
    into.resize(static_cast<size_t>(n));
    if (memory_ != nullptr) {
      if (n != 0) std::memcpy(into.data(), memory_ + offset, static_cast<size_t>(n));
      return;
    }
    size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_, into.data() + done, static_cast<size_t>(n) - done,
                                  static_cast<off_t>(offset + done));
      if (got > 0) {
        done += static_cast<size_t>(got);
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else {
        throw RecordingError(name_, offset + done,
                             got < 0 ? std::string("cannot read: ") + std::strerror(errno)
                                     : std::string("the file became shorter while read"));
      }
    }
  }

 private:
  std::string name_;
  int fd_ = -1;
  const uint8_t* memory_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace

class McapReader::Impl {
 public:
  explicit Impl(std::unique_ptr<Source> source) : src_(std::move(source)) { open(); }
  ~Impl() { ZSTD_freeDCtx(dctx_); }

  bool indexed_ = false;
  std::map<uint16_t, McapSchema> schemas_;
  std::map<uint16_t, McapChannel> channels_;
  std::unique_ptr<McapStatistics> statistics_;
  std::vector<McapMetadata> metadata_;
  bool complete_ = false;
  uint64_t stoppedAt_ = 0;
  std::string stopReason_;

  bool next(McapMessage& m) {
    for (;;) {
      if (inChunk_) {
        if (nextInChunk(m)) return true;
        inChunk_ = false;
      }
      if (finished_) return false;
      if (indexed_ ? !nextIndexedChunk() : !nextStreamed(m)) {
        finished_ = true;
        return false;
      }
      if (haveLoose_) {
        haveLoose_ = false;
        return true;
      }
    }
  }

  void seek(uint64_t logTime) {
    minTime_ = logTime;
    inChunk_ = false;
    finished_ = false;
    if (indexed_) {
      nextChunk_ = 0;
      while (nextChunk_ < chunks_.size() && chunks_[nextChunk_].endTime < logTime) ++nextChunk_;
    } else {
      pos_ = dataStart_;  // read again from the start; what is met is met again
      complete_ = false;
      metadata_.clear();
    }
  }

  void onlyChannels(const std::vector<uint16_t>& ids) { wanted_ = {ids.begin(), ids.end()}; }

  const std::string& name() const { return src_->name(); }

 private:
  [[noreturn]] void fail(uint64_t offset, const std::string& what) const {
    throw RecordingError(src_->name(), offset, what);
  }

  void open() {
    const uint64_t size = src_->size();
    if (size < mcap::kMagicSize + mcap::kRecordPrefix) fail(0, "too short for an MCAP file");
    src_->read(0, mcap::kMagicSize, buf_);
    if (std::memcmp(buf_.data(), mcap::kMagic, mcap::kMagicSize) != 0) {
      fail(0, "not an MCAP file of major version 0 (wrong magic)");
    }
    src_->read(mcap::kMagicSize, mcap::kRecordPrefix, buf_);
    if (buf_[0] != mcap::kHeader) fail(mcap::kMagicSize, "the first record is not a header");
    const uint64_t headerLength = bytes::getLE(buf_.data() + 1, 8);
    if (headerLength > size - mcap::kMagicSize - mcap::kRecordPrefix) {
      fail(mcap::kMagicSize, "the header claims " + std::to_string(headerLength) +
                                 " bytes, past the end of the file");
    }
    dataStart_ = mcap::kMagicSize + mcap::kRecordPrefix + headerLength;
    pos_ = dataStart_;
    dataEnd_ = size;
    readFooter();
  }

  // A file that ends with a footer and the magic is complete: its lengths must
  // all hold. Without them the file was cut, and is read up to the cut.
  void readFooter() {
    const uint64_t size = src_->size();
    if (size < dataStart_ + mcap::kFileTail) return;
    const uint64_t footerAt = size - mcap::kFileTail;
    src_->read(footerAt, mcap::kFileTail, buf_);
    if (std::memcmp(buf_.data() + mcap::kFileTail - mcap::kMagicSize, mcap::kMagic,
                    mcap::kMagicSize) != 0 ||
        buf_[0] != mcap::kFooter || bytes::getLE(buf_.data() + 1, 8) != mcap::kFooterContent) {
      return;
    }
    strict_ = true;
    dataEnd_ = footerAt;
    const uint64_t summaryStart = bytes::getLE(buf_.data() + 9, 8);
    const uint64_t offsetsStart = bytes::getLE(buf_.data() + 17, 8);
    const uint32_t summaryCrc = static_cast<uint32_t>(bytes::getLE(buf_.data() + 25, 4));
    if (summaryStart == 0) return;  // no summary: read the data section in order
    if (summaryStart < dataStart_ || summaryStart > footerAt) {
      fail(footerAt, "the footer's summary start " + std::to_string(summaryStart) +
                         " lies outside the file's records");
    }
    if (offsetsStart != 0 && (offsetsStart < summaryStart || offsetsStart > footerAt)) {
      fail(footerAt, "the footer's summary offset start " + std::to_string(offsetsStart) +
                         " lies outside the summary");
    }
    // The summary, its offsets and the footer up to its CRC field.
    const uint64_t crcEnd = footerAt + mcap::kRecordPrefix + 16;
    if (crcEnd - summaryStart > kMaxRecord) fail(summaryStart, "the summary is too large");
    Buffer summary;
    src_->read(summaryStart, crcEnd - summaryStart, summary);
    if (summaryCrc != 0 && bytes::crc32(summary.data(), summary.size()) != summaryCrc) {
      fail(summaryStart, "the summary's CRC does not match");
    }
    const uint64_t recordsEnd = offsetsStart != 0 ? offsetsStart : footerAt;
    parseSummary(summary.data(), static_cast<size_t>(recordsEnd - summaryStart), summaryStart);
    parseSummaryOffsets(summary.data() + (recordsEnd - summaryStart),
                        static_cast<size_t>(footerAt - recordsEnd), recordsEnd);
    dataEnd_ = summaryStart;
    for (const auto& c : chunks_) {
      if (c.offset < dataStart_ || c.length < mcap::kRecordPrefix ||
          c.length > dataEnd_ - std::min(dataEnd_, c.offset)) {
        fail(summaryStart, "a chunk index points outside the data section (chunk at " +
                               std::to_string(c.offset) + ")");
      }
    }
    std::sort(
        chunks_.begin(), chunks_.end(),
        [](const ChunkIndexEntry& a, const ChunkIndexEntry& b) { return a.offset < b.offset; });
    for (const auto& [offset, length] : metadataIndex_) readMetadataAt(offset, length);
    indexed_ = true;
  }

  // Calls take(opcode, record, at) for each record of a section starting at file offset base; a
  // record cut short fails naming where it starts.
  template <class Take>
  void eachRecord(const uint8_t* data, size_t size, uint64_t base, const char* what, Take take) {
    Cursor records(data, size);
    while (!records.atEnd()) {
      const uint64_t at = base + records.position();
      try {
        const uint8_t opcode = records.u8();
        const uint64_t length = records.u64();
        Cursor r(records.take(length, what), static_cast<size_t>(length));
        take(opcode, r, at);
      } catch (const bytes::Truncated& e) {
        fail(at, e.what());
      }
    }
  }

  void outOfPlace(uint8_t opcode, uint64_t at) {
    if (opcode < 0x80) fail(at, "record " + std::to_string(opcode) + " out of place");
  }

  void parseSummary(const uint8_t* data, size_t size, uint64_t base) {
    eachRecord(data, size, base, "a summary record",
               [this](uint8_t opcode, Cursor& r, uint64_t at) {
                 if (addDefinition(opcode, r, at)) return;
                 switch (opcode) {
                   case mcap::kStatistics:
                     readStatistics(r);
                     break;
                   case mcap::kChunkIndex:
                     readChunkIndex(r);
                     break;
                   case mcap::kMetadataIndex: {
                     const uint64_t offset = r.u64();
                     const uint64_t recordLength = r.u64();
                     metadataIndex_.emplace_back(offset, recordLength);
                     break;
                   }
                   case mcap::kAttachmentIndex:
                     break;
                   default:
                     outOfPlace(opcode, at);
                 }
               });
  }

  void parseSummaryOffsets(const uint8_t* data, size_t size, uint64_t base) {
    eachRecord(data, size, base, "a summary offset record",
               [this](uint8_t opcode, Cursor&, uint64_t at) {
                 if (opcode != mcap::kSummaryOffset) outOfPlace(opcode, at);
               });
  }

  void readStatistics(Cursor& r) {
    auto s = std::make_unique<McapStatistics>();
    s->messageCount = r.u64();
    r.u16();  // schemas
    s->channelCount = r.u32();
    r.u32();  // attachments
    s->metadataCount = r.u32();
    s->chunkCount = r.u32();
    s->messageStartTime = r.u64();
    s->messageEndTime = r.u64();
    const uint32_t length = r.u32();
    Cursor counts(r.take(length, "the channel message counts"), length);
    while (!counts.atEnd()) {
      const uint16_t id = counts.u16();
      s->channelMessageCounts[id] = counts.u64();
    }
    statistics_ = std::move(s);
  }

  void readChunkIndex(Cursor& r) {
    ChunkIndexEntry c{};
    c.startTime = r.u64();
    c.endTime = r.u64();
    c.offset = r.u64();
    c.length = r.u64();
    const uint32_t length = r.u32();
    Cursor offsets(r.take(length, "the message index offsets"), length);
    while (!offsets.atEnd()) {
      c.channels.push_back(offsets.u16());
      offsets.u64();
    }
    chunks_.push_back(std::move(c));
  }

  void readMetadataAt(uint64_t offset, uint64_t length) {
    if (offset < dataStart_ || length < mcap::kRecordPrefix ||
        length > dataEnd_ - std::min(dataEnd_, offset) || length > kMaxRecord) {
      fail(offset, "a metadata index points outside the data section");
    }
    src_->read(offset, length, buf_);
    if (buf_[0] != mcap::kMetadata || bytes::getLE(buf_.data() + 1, 8) != length - 9) {
      fail(offset, "the metadata index does not point at a metadata record");
    }
    Cursor r(buf_.data() + 9, static_cast<size_t>(length - 9));
    addMetadata(r, offset);
  }

  void addMetadata(Cursor& r, uint64_t at) {
    try {
      McapMetadata m;
      m.name = r.string("the metadata name");
      m.entries = r.stringMap("the metadata");
      metadata_.push_back(std::move(m));
    } catch (const bytes::Truncated& e) {
      fail(at, e.what());
    }
  }

  // Schemas and channels, wherever they stand; false for any other record.
  bool addDefinition(uint8_t opcode, Cursor& r, uint64_t at) {
    if (opcode == mcap::kSchema) {
      addSchema(r, at);
    } else if (opcode == mcap::kChannel) {
      addChannel(r, at);
    } else {
      return false;
    }
    return true;
  }

  void addSchema(Cursor& r, uint64_t at) {
    McapSchema s;
    s.id = r.u16();
    s.name = r.string("the schema name");
    s.encoding = r.string("the schema encoding");
    s.data = r.string("the schema data");
    if (s.id == 0) return;  // invalid by definition; readers ignore it
    const auto [it, added] = schemas_.emplace(s.id, s);
    if (!added && (it->second.name != s.name || it->second.encoding != s.encoding ||
                   it->second.data != s.data)) {
      fail(at, "schema " + std::to_string(s.id) + " defined twice, differently");
    }
  }

  void addChannel(Cursor& r, uint64_t at) {
    McapChannel c;
    c.id = r.u16();
    c.schemaId = r.u16();
    c.topic = r.string("the channel topic");
    c.messageEncoding = r.string("the message encoding");
    c.metadata = r.stringMap("the channel metadata");
    if (c.schemaId != 0 && schemas_.count(c.schemaId) == 0) {
      fail(at, "channel " + std::to_string(c.id) + " names schema " + std::to_string(c.schemaId) +
                   ", not defined before it");
    }
    const auto [it, added] = channels_.emplace(c.id, c);
    if (!added && (it->second.topic != c.topic || it->second.schemaId != c.schemaId ||
                   it->second.messageEncoding != c.messageEncoding)) {
      fail(at, "channel " + std::to_string(c.id) + " defined twice, differently");
    }
  }

  // Parses a Message record's content; true if the caller should see it.
  bool readMessage(Cursor& r, uint64_t at, McapMessage& m) {
    m.channelId = r.u16();
    m.sequence = r.u32();
    m.logTime = r.u64();
    m.publishTime = r.u64();
    m.size = r.remaining();
    m.data = r.here();
    m.recordOffset = at;
    if (channels_.count(m.channelId) == 0) {
      fail(at, "message for unknown channel " + std::to_string(m.channelId));
    }
    return m.logTime >= minTime_ && (wanted_.empty() || wanted_.count(m.channelId) != 0);
  }

  // ---- Chunks

  bool nextIndexedChunk() {
    while (nextChunk_ < chunks_.size()) {
      const ChunkIndexEntry& c = chunks_[nextChunk_++];
      if (!wantsChunk(c)) continue;
      if (c.length > kMaxRecord) fail(c.offset, "the chunk is too large for this reader");
      src_->read(c.offset, c.length, buf_);
      if (buf_[0] != mcap::kChunk || bytes::getLE(buf_.data() + 1, 8) != c.length - 9) {
        fail(c.offset, "the chunk index does not point at a chunk of its length");
      }
      openChunk(buf_.data() + 9, static_cast<size_t>(c.length - 9), c.offset);
      return true;
    }
    complete_ = true;
    return false;
  }

  bool wantsChunk(const ChunkIndexEntry& c) const {
    if (c.endTime < minTime_) return false;
    if (wanted_.empty() || c.channels.empty()) return true;
    return std::any_of(c.channels.begin(), c.channels.end(),
                       [&](uint16_t id) { return wanted_.count(id) != 0; });
  }

  void openChunk(const uint8_t* content, size_t size, uint64_t at) {
    try {
      Cursor r(content, size);
      r.u64();  // start time
      r.u64();  // end time
      const uint64_t uncompressedSize = r.u64();
      const uint32_t crc = r.u32();
      const std::string compression = r.string("the compression name");
      const uint64_t recordsSize = r.u64();
      const uint8_t* records = r.take(recordsSize, "the chunk's records");
      if (uncompressedSize > kMaxRecord) {
        fail(at, "the chunk declares " + std::to_string(uncompressedSize) +
                     " bytes, more than this reader takes");
      }
      if (compression.empty()) {
        if (recordsSize != uncompressedSize) {
          fail(at, "the uncompressed chunk holds " + std::to_string(recordsSize) +
                       " bytes but declares " + std::to_string(uncompressedSize));
        }
        chunkData_.assign(records, records + recordsSize);
      } else if (compression == "zstd") {
        decompress(records, static_cast<size_t>(recordsSize), static_cast<size_t>(uncompressedSize),
                   at);
      } else {
        fail(at, "the chunk uses compression \"" + compression + "\", which this reader lacks");
      }
      if (crc != 0 && bytes::crc32(chunkData_.data(), chunkData_.size()) != crc) {
        fail(at, "the chunk's CRC does not match its records");
      }
    } catch (const bytes::Truncated& e) {
      fail(at, e.what());
    }
    chunkAt_ = at;
    chunkCursor_ = 0;
    inChunk_ = true;
  }

  // Decompresses into chunkData_, growing it only as output appears, and never
  // past the declared size.
  void decompress(const uint8_t* in, size_t inSize, size_t declared, uint64_t at) {
    if (dctx_ == nullptr) dctx_ = ZSTD_createDCtx();
    if (dctx_ == nullptr) fail(at, "cannot set up zstd");
    ZSTD_DCtx_reset(dctx_, ZSTD_reset_session_only);
    chunkData_.resize(std::min(declared, std::max<size_t>(inSize * 4, 64u << 10)));
    ZSTD_inBuffer input{in, inSize, 0};
    size_t produced = 0;
    size_t last = 1;
    while (input.pos < input.size || last != 0) {
      if (produced == chunkData_.size()) {
        if (produced == declared) {
          // Full: any further output means the chunk holds more than it says.
          uint8_t probe = 0;
          ZSTD_outBuffer one{&probe, 1, 0};
          const size_t r = ZSTD_decompressStream(dctx_, &one, &input);
          if (ZSTD_isError(r)) {
            fail(at, std::string("the chunk's zstd data is damaged: ") + ZSTD_getErrorName(r));
          }
          if (one.pos != 0 || input.pos < input.size) {
            fail(at, "the chunk decompresses to more than the " + std::to_string(declared) +
                         " bytes it declares");
          }
          last = r;
          if (last != 0) break;
          continue;
        }
        chunkData_.resize(std::min(declared, chunkData_.size() * 2));
      }
      ZSTD_outBuffer output{chunkData_.data(), chunkData_.size(), produced};
      const size_t before = input.pos;
      last = ZSTD_decompressStream(dctx_, &output, &input);
      if (ZSTD_isError(last)) {
        fail(at, std::string("the chunk's zstd data is damaged: ") + ZSTD_getErrorName(last));
      }
      const bool progress = output.pos != produced || input.pos != before;
      produced = output.pos;
      if (!progress && output.pos < output.size) break;  // input exhausted mid-frame
    }
    if (last != 0) fail(at, "the chunk's zstd data ends inside a frame");
    if (produced != declared) {
      fail(at, "the chunk decompresses to " + std::to_string(produced) + " bytes, less than the " +
                   std::to_string(declared) + " it declares");
    }
    chunkData_.resize(produced);
  }

  bool nextInChunk(McapMessage& m) {
    Cursor records(chunkData_.data(), chunkData_.size());
    records.seek(chunkCursor_);
    while (!records.atEnd()) {
      const size_t inner = records.position();
      try {
        const uint8_t opcode = records.u8();
        const uint64_t length = records.u64();
        Cursor r(records.take(length, "a record in the chunk"), static_cast<size_t>(length));
        chunkCursor_ = records.position();
        switch (opcode) {
          case mcap::kSchema:
            addSchema(r, chunkAt_);
            break;
          case mcap::kChannel:
            addChannel(r, chunkAt_);
            break;
          case mcap::kMessage:
            if (readMessage(r, chunkAt_, m)) return true;
            break;
          default:
            if (opcode < 0x80) {
              fail(chunkAt_, "record " + std::to_string(opcode) + " out of place at byte " +
                                 std::to_string(inner) + " of the chunk's records");
            }
        }
      } catch (const bytes::Truncated& e) {
        fail(chunkAt_, std::string(e.what()) + " (at byte " + std::to_string(inner) +
                           " of the chunk's records)");
      }
    }
    return false;
  }

  // ---- Streaming through the data section

  // Reads the records after pos_ until a chunk opens or a message outside
  // chunks is found (haveLoose_); false at the data end or at a cut.
  bool nextStreamed(McapMessage& m) {
    for (;;) {
      const uint64_t at = pos_;
      if (at == dataEnd_) return stop(at, "the file ends without a data end record");
      if (dataEnd_ - at < mcap::kRecordPrefix) {
        return stop(at, "the file ends inside a record's opcode and length");
      }
      src_->read(at, mcap::kRecordPrefix, buf_);
      const uint8_t opcode = buf_[0];
      const uint64_t length = bytes::getLE(buf_.data() + 1, 8);
      if (length > dataEnd_ - at - mcap::kRecordPrefix) {
        return stop(at, "record " + std::to_string(opcode) + " claims " + std::to_string(length) +
                            " bytes, past the end of the file");
      }
      pos_ = at + mcap::kRecordPrefix + length;
      switch (opcode) {
        case mcap::kDataEnd:
          complete_ = true;
          return false;
        case mcap::kMessageIndex:
        case mcap::kAttachment:
          continue;  // nothing a sequential reader needs
        case mcap::kSchema:
        case mcap::kChannel:
        case mcap::kMessage:
        case mcap::kChunk:
        case mcap::kMetadata:
          break;
        default:
          if (opcode >= 0x80) continue;  // an extension: skipped as the format asks
          fail(at, "record " + std::to_string(opcode) + " out of place in the data section");
      }
      if (length > kMaxRecord) fail(at, "the record is too large for this reader");
      src_->read(at + mcap::kRecordPrefix, length, buf_);
      Cursor r(buf_.data(), buf_.size());
      try {
        if (addDefinition(opcode, r, at)) continue;
        switch (opcode) {
          case mcap::kMetadata:
            addMetadata(r, at);
            break;
          case mcap::kChunk:
            openChunk(buf_.data(), buf_.size(), at);
            return true;
          case mcap::kMessage:
            if (readMessage(r, at, m)) {
              haveLoose_ = true;
              return true;
            }
            break;
        }
      } catch (const bytes::Truncated& e) {
        fail(at, e.what());
      }
    }
  }

  bool stop(uint64_t at, const std::string& why) {
    if (strict_) fail(at, why);
    stoppedAt_ = at;
    stopReason_ = "stopped at byte " + std::to_string(at) + ": " + why;
    return false;
  }

  std::unique_ptr<Source> src_;
  ZSTD_DCtx* dctx_ = nullptr;
  Buffer buf_, chunkData_;
  uint64_t dataStart_ = 0, dataEnd_ = 0, pos_ = 0;
  bool strict_ = false;  // the file has a footer: nothing may run past it
  bool finished_ = false, haveLoose_ = false;
  std::vector<ChunkIndexEntry> chunks_;
  std::vector<std::pair<uint64_t, uint64_t>> metadataIndex_;
  size_t nextChunk_ = 0;
  bool inChunk_ = false;
  uint64_t chunkAt_ = 0;
  size_t chunkCursor_ = 0;
  uint64_t minTime_ = 0;
  std::set<uint16_t> wanted_;
};

McapReader::McapReader(const std::string& path)
    : impl_(std::make_unique<Impl>(std::make_unique<Source>(path))) {}
McapReader::McapReader(const std::string& name, const uint8_t* data, size_t size)
    : impl_(std::make_unique<Impl>(std::make_unique<Source>(name, data, size))) {}
McapReader::~McapReader() = default;
McapReader::McapReader(McapReader&&) noexcept = default;
McapReader& McapReader::operator=(McapReader&&) noexcept = default;

bool McapReader::indexed() const { return impl_->indexed_; }
const std::map<uint16_t, McapSchema>& McapReader::schemas() const { return impl_->schemas_; }
const std::map<uint16_t, McapChannel>& McapReader::channels() const { return impl_->channels_; }
const McapStatistics* McapReader::statistics() const { return impl_->statistics_.get(); }
const std::vector<McapMetadata>& McapReader::metadata() const { return impl_->metadata_; }
bool McapReader::next(McapMessage& message) { return impl_->next(message); }
void McapReader::seek(uint64_t logTime) { impl_->seek(logTime); }
void McapReader::onlyChannels(const std::vector<uint16_t>& ids) { impl_->onlyChannels(ids); }
bool McapReader::complete() const { return impl_->complete_; }
uint64_t McapReader::stoppedAt() const { return impl_->stoppedAt_; }
const std::string& McapReader::stopReason() const { return impl_->stopReason_; }
const std::string& McapReader::name() const { return impl_->name(); }

}  // namespace vyxrec
