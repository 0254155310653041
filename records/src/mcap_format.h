// The constants of the MCAP container, major version 0: magic, opcodes and the
// sizes of the fixed parts of records.
#ifndef VYXREC_MCAP_FORMAT_H
#define VYXREC_MCAP_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace vyxrec::mcap {

inline constexpr uint8_t kMagic[8] = {0x89, 'M', 'C', 'A', 'P', '0', '\r', '\n'};
inline constexpr size_t kMagicSize = sizeof(kMagic);
inline constexpr size_t kRecordPrefix = 1 + 8;  // opcode, content length

enum Opcode : uint8_t {
  kHeader = 0x01,
  kFooter = 0x02,
  kSchema = 0x03,
  kChannel = 0x04,
  kMessage = 0x05,
  kChunk = 0x06,
  kMessageIndex = 0x07,
  kChunkIndex = 0x08,
  kAttachment = 0x09,
  kAttachmentIndex = 0x0A,
  kStatistics = 0x0B,
  kMetadata = 0x0C,
  kMetadataIndex = 0x0D,
  kSummaryOffset = 0x0E,
  kDataEnd = 0x0F,
};

inline constexpr size_t kFooterContent = 8 + 8 + 4;
// A whole footer record and the trailing magic: what a complete file ends with.
inline constexpr size_t kFileTail = kRecordPrefix + kFooterContent + kMagicSize;
// channel, sequence, log time, publish time before a message's data.
inline constexpr size_t kMessageFixed = 2 + 4 + 8 + 8;

}  // namespace vyxrec::mcap

#endif
