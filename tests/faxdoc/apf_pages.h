// Reads every page of an APF file back for the converter tests: the page
// headers, the line records as written and the decoded raster lines.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "faxdoc/apf.h"
#include "faxdoc/t4.h"

namespace qc::test {

struct DecodedPage {
  TApfPageHeader header;
  std::vector<std::vector<uint8_t>> records;  // contents of each line record
  std::vector<std::vector<uint8_t>> lines;    // decoded raster lines
  uint64_t badCodes = 0;
  bool pageEnded = false;
};

struct DecodedFile {
  TApfFileHeader header;
  std::vector<DecodedPage> pages;
  bool ok = false;
};

inline std::vector<uint8_t> ReadWholeFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline DecodedFile DecodeApfFile(const std::string& name) {
  DecodedFile f;
  const std::vector<uint8_t> data = ReadWholeFile(name);
  if (data.size() < kApfFileHeaderSize) return f;
  f.header = TApfFileHeader::FromBytes(data.data());
  if (!f.header.HasSignature()) return f;
  size_t pos = f.header.FirstPageOffset;
  for (unsigned p = 0; p < f.header.PageCount; ++p) {
    if (pos + kApfPageHeaderSize > data.size()) return f;
    DecodedPage page;
    page.header = TApfPageHeader::FromBytes(data.data() + pos);
    pos += kApfPageHeaderSize;
    const size_t end = pos + page.header.ImageLength;
    if (end > data.size()) return f;
    TFaxLineDecoder decoder;
    decoder.SetLineSink([&](const uint8_t* line, int bytes) { page.lines.emplace_back(line, line + bytes); });
    decoder.StartPage();
    while (pos < end) {
      if (page.header.HasLineRecords()) {
        if (pos + 2 > end) return f;
        const size_t n = data[pos] | data[pos + 1] << 8;
        pos += 2;
        if (pos + n > end) return f;
        page.records.emplace_back(data.begin() + pos, data.begin() + pos + n);
        decoder.DecodeBytes(data.data() + pos, n);
        pos += n;
      } else {
        decoder.DecodeBytes(data.data() + pos, end - pos);
        pos = end;
      }
    }
    page.badCodes = decoder.BadCodes();
    page.pageEnded = decoder.PageEnded();
    f.pages.push_back(std::move(page));
  }
  f.ok = true;
  return f;
}

// A raster line of `width` pixels with the pixels [from, to) black.
inline std::vector<uint8_t> RasterWithBlack(int width, int from, int to) {
  std::vector<uint8_t> r(static_cast<size_t>(width / 8), 0);
  for (int x = from; x < to && x < width; ++x) r[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
  return r;
}

inline bool PixelBlack(const std::vector<uint8_t>& line, int x) { return line[x >> 3] & (0x80 >> (x & 7)); }

}  // namespace qc::test
