// The DBF table layout (FoxPro 2.x / dBase III, no memo): every constant and
// the header's encode/decode live here.
//
// Header (little-endian): 0 version, 1-3 last update Y M D, 4-7 record count,
// 8-9 header length (= offset of record 1), 10-11 record length (delete flag
// included), 28 table flags, 29 code page mark, 32.. one 32-byte descriptor per
// field, then 0x0D. Records: a ' ' (live) or '*' (deleted) byte, then the fields
// as fixed-width text; one 0x1A after the last record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qc::dbf {

inline constexpr std::uint8_t kVersionDbase3 = 0x03;   // FoxBASE+/dBase III, no memo
inline constexpr std::size_t kPrefixSize = 32;
inline constexpr std::size_t kDescriptorSize = 32;
inline constexpr std::size_t kNameSize = 11;           // 10 characters and a NUL
inline constexpr std::uint8_t kTerminator = 0x0D;
inline constexpr std::uint8_t kEndOfFile = 0x1A;
inline constexpr char kLive = ' ';
inline constexpr char kDeleted = '*';
inline constexpr std::uint8_t kFlagProductionIndex = 0x01;  // byte 28

inline constexpr std::size_t kOffCount = 4;
inline constexpr std::size_t kOffHeaderLength = 8;
inline constexpr std::size_t kOffRecordLength = 10;
inline constexpr std::size_t kOffFlags = 28;
inline constexpr std::size_t kOffCodePage = 29;

// Descriptor offsets.
inline constexpr std::size_t kFdType = 11;
inline constexpr std::size_t kFdLength = 16;
inline constexpr std::size_t kFdDecimals = 17;

// Widest character field FoxPro creates.
inline constexpr int kMaxCharWidth = 254;
inline constexpr int kMaxNumericWidth = 20;

struct Field {
  std::string name;  // upper case
  char type = 'C';
  int length = 0;
  int decimals = 0;
  int offset = 0;  // inside the record, after the delete flag
};

struct Header {
  std::uint8_t version = kVersionDbase3;
  int year = 0, month = 0, day = 0;  // last update; year in full
  std::uint32_t recordCount = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
  std::uint8_t flags = 0;
  std::uint8_t codePage = 0;
};

// Decodes the header from the first bytes of a file of `fileSize` bytes.
// `data` holds min(fileSize, header length) bytes or more. False with a message
// for anything this engine cannot read safely.
bool DecodeHeader(const std::uint8_t* data, std::size_t size, std::uint64_t fileSize, Header& header,
                  std::vector<Field>& fields, std::string& message);

// The header length field read alone (0 when the file is shorter than 32 bytes).
std::uint16_t PeekHeaderLength(const std::uint8_t* data, std::size_t size);

// The bytes of a new header (terminator included) for these fields.
std::vector<std::uint8_t> EncodeHeader(const Header& header, const std::vector<Field>& fields);

// Bytes 1-7: last update date and record count, as written on each change.
void EncodeDateAndCount(const Header& header, std::uint8_t out[7]);

// Checks a field definition for creation; false with a message.
bool ValidField(const Field& field, std::string& message);

}  // namespace qc::dbf
