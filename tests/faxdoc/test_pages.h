// Generated 1728 x 2156 test pages (raster form: set bit = black, width / 8
// bytes per line) and helpers that store raster pages as APF files. Used by
// the tests, the benchmarks and the fuzz seed generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qc::test {

struct RasterPage {
  std::string name;
  int width = 1728;
  int height = 2156;
  std::vector<uint8_t> raster;  // height lines of width / 8 bytes

  uint8_t* Line(int y) { return raster.data() + static_cast<size_t>(y) * (width / 8); }
  const uint8_t* Line(int y) const { return raster.data() + static_cast<size_t>(y) * (width / 8); }
  void Set(int x, int y) { Line(y)[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7)); }
};

RasterPage MakeBlankRaster(int width, int height, const std::string& name = "blank");
// A typed business letter: letterhead, rule, address, paragraphs of
// typewriter-like glyphs, signature.
RasterPage MakeLetterPage(int width = 1728, int height = 2156);
// A dithered photograph (error diffusion of smooth tones): the worst case for MH.
RasterPage MakePhotoPage(int width = 1728, int height = 2156);
// Almost blank: one short text line near the bottom.
RasterPage MakeAlmostBlankPage(int width = 1728, int height = 2156);
// The three above.
std::vector<RasterPage> StandardTestPages();

// Draws `text` in the letter's typewriter glyphs with its top-left corner at
// (x, y), each glyph cell `scale` * 4 pixels wide.
void DrawText(RasterPage& page, int x, int y, const std::string& text, int scale = 3);

// Coded lines of a raster page as our encoder makes them (LM `leftMargin`),
// each line's bytes separately.
std::vector<std::vector<uint8_t>> EncodeRasterLines(const RasterPage& page, int leftMargin);

struct ApfPageSpec {
  const RasterPage* page;
  bool fine = true;
  int leftMargin = 0;
};
// Writes pages of line records through TApfWriter; returns its status.
int WriteRasterApf(const std::string& fileName, const std::vector<ApfPageSpec>& pages,
                   const std::string& stationId = "TEST");

// Writes one raw (receiver) page holding `data` as it is.
int WriteRawApf(const std::string& fileName, const std::vector<uint8_t>& data, uint16_t flags);

// The raster shifted right by `leftMargin` pixels, pixels past the width lost.
RasterPage ShiftRight(const RasterPage& page, int leftMargin);

// A fresh, empty folder under the system's temporary folder.
std::string MakeTempFolder(const std::string& tag);

}  // namespace qc::test
