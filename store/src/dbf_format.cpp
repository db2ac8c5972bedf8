#include "dbf_format.h"

#include <cctype>
#include <cstring>

namespace qc::dbf {
namespace {

std::uint16_t Get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The update year is stored as year - 1900 by dBase and FoxPro 2.x (2026 is
// 126) and as year % 100 by Visual FoxPro (2026 is 26); both occur.
int DecodeYear(std::uint8_t b) {
  if (b >= 100) return 1900 + b;
  return b < 80 ? 2000 + b : 1900 + b;
}

}  // namespace

std::uint16_t PeekHeaderLength(const std::uint8_t* data, std::size_t size) {
  return size < kPrefixSize ? 0 : Get16(data + kOffHeaderLength);
}

bool DecodeHeader(const std::uint8_t* data, std::size_t size, std::uint64_t fileSize, Header& header,
                  std::vector<Field>& fields, std::string& message) {
  fields.clear();
  if (size < kPrefixSize || fileSize < kPrefixSize) {
    message = "file is shorter than a table header";
    return false;
  }
  header.version = data[0];
  header.year = DecodeYear(data[1]);
  header.month = data[2];
  header.day = data[3];
  header.recordCount = Get32(data + kOffCount);
  header.headerLength = Get16(data + kOffHeaderLength);
  header.recordLength = Get16(data + kOffRecordLength);
  header.flags = data[kOffFlags];
  header.codePage = data[kOffCodePage];

  // The first three bits give the dBase level; FoxPro and Visual FoxPro use
  // 0x30..0x32 and 0xF5/0xFB. Anything else is not a table.
  const std::uint8_t level = header.version & 0x07;
  const bool fox = header.version == 0x30 || header.version == 0x31 || header.version == 0x32 ||
                   header.version == 0xF5 || header.version == 0xFB;
  if (!fox && level != 0x03 && level != 0x04 && level != 0x05) {
    message = "unknown table version byte";
    return false;
  }
  if (header.headerLength < kPrefixSize + kDescriptorSize + 1) {
    message = "header length too small";
    return false;
  }
  if (header.headerLength > fileSize) {
    message = "header length runs beyond the end of the file";
    return false;
  }
  if (header.recordLength == 0) {
    message = "record length is 0";
    return false;
  }
  if (size < header.headerLength) {
    message = "header not read in full";
    return false;
  }

  std::size_t pos = kPrefixSize;
  int offset = 1;
  bool terminated = false;
  while (pos < header.headerLength) {
    if (data[pos] == kTerminator) {
      terminated = true;
      break;
    }
    if (pos + kDescriptorSize > header.headerLength) {
      message = "field descriptor runs past the header";
      return false;
    }
    const std::uint8_t* d = data + pos;
    Field f;
    for (std::size_t i = 0; i < kNameSize && d[i] != 0; ++i) {
      const auto c = static_cast<unsigned char>(d[i]);
      if (c < 0x21 || c > 0x7E) {
        message = "field name holds an invalid character";
        return false;
      }
      f.name += static_cast<char>(std::toupper(c));
    }
    if (f.name.empty()) {
      message = "field without a name";
      return false;
    }
    f.type = static_cast<char>(std::toupper(d[kFdType]));
    f.length = d[kFdLength];
    f.decimals = d[kFdDecimals];
    // Clipper keeps the high byte of a long character field's width in the
    // decimals byte.
    if (f.type == 'C' && f.decimals != 0 && header.version == kVersionDbase3 &&
        offset + f.length + 256 * f.decimals <= header.recordLength) {
      f.length += 256 * f.decimals;
      f.decimals = 0;
    }
    if (f.length == 0) {
      message = "field " + f.name + " has length 0";
      return false;
    }
    f.offset = offset;
    offset += f.length;
    if (offset > header.recordLength) {
      message = "fields are longer than the record length";
      return false;
    }
    fields.push_back(std::move(f));
    pos += kDescriptorSize;
  }
  if (!terminated) {
    message = "field list has no terminator inside the header";
    return false;
  }
  if (fields.empty()) {
    message = "table has no fields";
    return false;
  }
  return true;
}

std::vector<std::uint8_t> EncodeHeader(const Header& header, const std::vector<Field>& fields) {
  const std::size_t length = kPrefixSize + kDescriptorSize * fields.size() + 1;
  std::vector<std::uint8_t> out(length, 0);
  out[0] = header.version;
  EncodeDateAndCount(header, out.data() + 1);
  Put16(out.data() + kOffHeaderLength, static_cast<std::uint16_t>(length));
  Put16(out.data() + kOffRecordLength, header.recordLength);
  out[kOffFlags] = header.flags;
  out[kOffCodePage] = header.codePage;
  std::size_t pos = kPrefixSize;
  for (const Field& f : fields) {
    std::memcpy(out.data() + pos, f.name.data(), std::min(f.name.size(), kNameSize - 1));
    out[pos + kFdType] = static_cast<std::uint8_t>(f.type);
    out[pos + kFdLength] = static_cast<std::uint8_t>(f.length);
    out[pos + kFdDecimals] = static_cast<std::uint8_t>(f.decimals);
    pos += kDescriptorSize;
  }
  out[pos] = kTerminator;
  return out;
}

void EncodeDateAndCount(const Header& header, std::uint8_t out[7]) {
  out[0] = static_cast<std::uint8_t>(header.year - 1900);
  out[1] = static_cast<std::uint8_t>(header.month);
  out[2] = static_cast<std::uint8_t>(header.day);
  Put32(out + 3, header.recordCount);
}

bool ValidField(const Field& f, std::string& message) {
  if (f.name.empty() || f.name.size() > kNameSize - 1) {
    message = "field name must have 1 to 10 characters";
    return false;
  }
  for (char c : f.name) {
    if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_')) {
      message = "field name " + f.name + " holds an invalid character";
      return false;
    }
  }
  if (std::isdigit(static_cast<unsigned char>(f.name[0]))) {
    message = "field name " + f.name + " begins with a digit";
    return false;
  }
  switch (f.type) {
    case 'C':
      if (f.length < 1 || f.length > kMaxCharWidth || f.decimals != 0) break;
      return true;
    case 'D':
      if (f.length != 8 || f.decimals != 0) break;
      return true;
    case 'L':
      if (f.length != 1 || f.decimals != 0) break;
      return true;
    case 'N':
      if (f.length < 1 || f.length > kMaxNumericWidth || f.decimals < 0 ||
          (f.decimals > 0 && f.decimals > f.length - 2))
        break;
      return true;
    default:
      message = "field " + f.name + ": type must be C, D, N or L";
      return false;
  }
  message = "field " + f.name + ": invalid width or decimals for its type";
  return false;
}

}  // namespace qc::dbf
