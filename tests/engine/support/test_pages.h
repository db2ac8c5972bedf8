// Fixture pages for the engine tests, made on the fly (the generator is the
// code below): APF files of known rasters, and the rasters a receiving modem
// must see for text rendered with the built-in fonts.
#pragma once

#include <string>
#include <vector>

#include "faxdoc/apf.h"

namespace qc::test {

using Raster = std::vector<std::vector<uint8_t>>;  // rows of 216 bytes, set bit = black

// A page of `rows` lines with a black bar whose place and width depend on
// `seed`, so that pages differ from each other.
Raster PatternPage(int seed, int rows);

// Writes `pages` as an APF file of line records (no left margin), fine or not.
void WriteApf(const std::string& path, const std::vector<Raster>& pages, bool fine);

// The lines a text renders to with the small (header) or standard font,
// placed as the engine's coder places them (left margin of 50 pixels).
Raster TextRows(const std::string& text, bool smallFont, bool fine);

// Eight blank lines, as every page starts.
Raster BlankRows(int count);

Raster Concat(std::initializer_list<Raster> parts);

// A page coded as a fax machine sends it: MH lines with EOL and fill (no left
// margin), then RTC; first bit of the stream in bit 0 of each byte.
std::vector<uint8_t> EncodePage(const Raster& page);
// The rows an MH stream decodes to (stops at RTC); `badCodes` counts codes
// that could not be decoded.
Raster DecodePage(const std::vector<uint8_t>& data, uint64_t* badCodes = nullptr);

// A stored APF file read back: the header and every page's header and bytes.
struct StoredFax {
  int status = 0;
  TApfFileHeader header;
  std::vector<TApfPageHeader> pageHeaders;
  std::vector<std::vector<uint8_t>> pages;
  uint64_t fileSize = 0;
};
StoredFax ReadStoredFax(const std::string& path);

// A temporary folder removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

}  // namespace qc::test
