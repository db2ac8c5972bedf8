// fontgen: renders a fixed-pitch TrueType face through FreeType into the two
// cell layouts of the built-in fax font and writes the 16384-byte table.
//
//   fontgen FONT.ttf OUT.bin [OUT.inc] [--preview OUT.pbm]
//
// Layout of the table:
//   bytes    0..4095   small cells:    256 glyphs x 16 bytes, 12 x 8 pixels, 2 bytes per row
//   bytes 4096..16383  standard cells: 256 glyphs x 48 bytes, 20 x 16 pixels, 3 bytes per row
// Each row is most-significant-bit first, a set bit is black, bits beyond the
// cell width are 0.
//
// Fax pixels are not square: at standard resolution a scan line is about twice
// as far from the next as a pixel from its neighbour (3.85 lines/mm against
// 8 pixels/mm). Glyphs are therefore rendered with a horizontal pixel size a
// little over twice the vertical one, so that they look right on paper.
//
// Character codes 0x20..0xFF follow Windows-1252 (the code page text files of
// the program's users are written in); 0x00..0x1F, 0x7F and the five codes that
// Windows-1252 leaves undefined take the shapes of code page 437.

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Unicode code point drawn for each character code.
constexpr uint16_t kCodePoint[256] = {
    // 0x00..0x1F: code page 437 picture characters
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,
    // 0x20..0x7E: ASCII, 0x7F: code page 437 house
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x2302,
    // 0x80..0x9F: Windows-1252; 81, 8D, 8F, 90, 9D from code page 437
    0x20AC, 0x00FC, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x00EC, 0x017D, 0x00C5,
    0x00C9, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x00A5, 0x017E, 0x0178,
    // 0xA0..0xFF: Latin-1 (no-break space drawn blank)
    0x0020, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,
    0x00C0, 0x00C1, 0x00C2, 0x00C3, 0x00C4, 0x00C5, 0x00C6, 0x00C7,
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x00CC, 0x00CD, 0x00CE, 0x00CF,
    0x00D0, 0x00D1, 0x00D2, 0x00D3, 0x00D4, 0x00D5, 0x00D6, 0x00D7,
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x00DD, 0x00DE, 0x00DF,
    0x00E0, 0x00E1, 0x00E2, 0x00E3, 0x00E4, 0x00E5, 0x00E6, 0x00E7,
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x00EC, 0x00ED, 0x00EE, 0x00EF,
    0x00F0, 0x00F1, 0x00F2, 0x00F3, 0x00F4, 0x00F5, 0x00F6, 0x00F7,
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x00FD, 0x00FE, 0x00FF,
};

// One cell layout and how the face is fitted into it.
struct Cell {
  const char* name;
  int width;         // pixels
  int rows;
  int bytesPerRow;
  int baselineRow;   // row holding the bottom of the capitals
  int capRows;       // rows the capitals span (ending at baselineRow)
  double xScale;     // horizontal pixel size relative to the vertical one
  size_t offset;     // start of this layout in the table
};

constexpr Cell kSmall{"small", 12, 8, 2, 6, 6, 2.1, 0};
constexpr Cell kStandard{"standard", 20, 16, 3, 12, 10, 2.1, 4096};
constexpr size_t kTableSize = 16384;

bool Fail(const char* what, int error) {
  std::fprintf(stderr, "fontgen: %s (FreeType error %d)\n", what, error);
  return false;
}

// Renders all 256 glyphs of one layout into the table.
bool RenderCells(FT_Face face, const Cell& cell, std::vector<uint8_t>& table) {
  // Pick the vertical pixel size from the face's cap height so that the
  // capitals span exactly capRows rows.
  double capHeightUnits = 0.729 * face->units_per_EM;  // fallback
  if (FT_UInt h = FT_Get_Char_Index(face, 'H')) {
    if (FT_Load_Glyph(face, h, FT_LOAD_NO_SCALE) == 0) {
      capHeightUnits = static_cast<double>(face->glyph->metrics.height);
    }
  }
  const double yPpem = cell.capRows * face->units_per_EM / capHeightUnits;
  const double xPpem = yPpem * cell.xScale;
  // Character size in 26.6 points at 72 dpi, so one point is one pixel.
  if (int e = FT_Set_Char_Size(face, static_cast<FT_F26Dot6>(xPpem * 64 + 0.5),
                               static_cast<FT_F26Dot6>(yPpem * 64 + 0.5), 72, 72)) {
    return Fail("cannot set the character size", e);
  }
  const int bytesPerGlyph = cell.rows * cell.bytesPerRow;
  for (int code = 0; code < 256; ++code) {
    uint8_t* glyph = table.data() + cell.offset + static_cast<size_t>(code) * bytesPerGlyph;
    std::memset(glyph, 0, bytesPerGlyph);
    const FT_ULong cp = kCodePoint[code];
    if (cp == 0 || cp == 0x20) continue;
    const FT_UInt index = FT_Get_Char_Index(face, cp);
    if (index == 0) {
      std::fprintf(stderr, "fontgen: %s cell %02X: U+%04lX not in the face, left blank\n",
                   cell.name, code, cp);
      continue;
    }
    if (int e = FT_Load_Glyph(face, index, FT_LOAD_RENDER | FT_LOAD_TARGET_MONO | FT_LOAD_MONOCHROME)) {
      return Fail("cannot render a glyph", e);
    }
    const FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    // Centre the advance in the cell; the baseline sits on baselineRow.
    const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
    const int originX = (cell.width - advance) / 2;
    const int left = originX + slot->bitmap_left;
    const int top = cell.baselineRow + 1 - slot->bitmap_top;
    for (unsigned y = 0; y < bm.rows; ++y) {
      // Parts that reach beyond the cell (the tail of g, the underscore,
      // accents on capitals) are folded onto its edge row rather than cut
      // off, so that they stay visible in the tight cells.
      int row = top + static_cast<int>(y);
      if (row < 0) row = 0;
      if (row >= cell.rows) row = cell.rows - 1;
      const uint8_t* src = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
      for (unsigned x = 0; x < bm.width; ++x) {
        if (!(src[x >> 3] & (0x80 >> (x & 7)))) continue;
        const int col = left + static_cast<int>(x);
        if (col < 0 || col >= cell.width) continue;
        glyph[row * cell.bytesPerRow + (col >> 3)] |= static_cast<uint8_t>(0x80 >> (col & 7));
      }
    }
  }
  return true;
}

// A sheet of all glyphs of both layouts, 16 per line, as a binary PBM, for
// looking at the result.
bool WritePreview(const std::vector<uint8_t>& table, const char* path) {
  const int gap = 4;
  const int sheetWidth = 16 * (kStandard.width + gap);
  const int smallHeight = 16 * (kSmall.rows + gap);
  const int sheetHeight = smallHeight + 16 * (kStandard.rows + gap);
  const int stride = (sheetWidth + 7) / 8;
  std::vector<uint8_t> sheet(static_cast<size_t>(stride) * sheetHeight, 0);
  auto blit = [&](const Cell& cell, int code, int x0, int y0) {
    const uint8_t* glyph = table.data() + cell.offset + static_cast<size_t>(code) * cell.rows * cell.bytesPerRow;
    for (int r = 0; r < cell.rows; ++r) {
      for (int c = 0; c < cell.width; ++c) {
        if (glyph[r * cell.bytesPerRow + (c >> 3)] & (0x80 >> (c & 7))) {
          const int x = x0 + c, y = y0 + r;
          sheet[static_cast<size_t>(y) * stride + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
        }
      }
    }
  };
  for (int code = 0; code < 256; ++code) {
    const int col = code % 16, line = code / 16;
    blit(kSmall, code, col * (kStandard.width + gap), line * (kSmall.rows + gap));
    blit(kStandard, code, col * (kStandard.width + gap), smallHeight + line * (kStandard.rows + gap));
  }
  FILE* f = std::fopen(path, "wb");
  if (!f) return false;
  std::fprintf(f, "P4\n%d %d\n", sheetWidth, sheetHeight);
  const bool ok = std::fwrite(sheet.data(), 1, sheet.size(), f) == sheet.size();
  return std::fclose(f) == 0 && ok;
}

bool WriteInclude(const std::vector<uint8_t>& table, const char* path) {
  FILE* f = std::fopen(path, "w");
  if (!f) return false;
  std::fprintf(f, "// Generated by tools/fontgen from DejaVu Sans Mono; do not edit.\n"
                  "// 16384 bytes: small cells (12 x 8) then standard cells (20 x 16).\n");
  for (size_t i = 0; i < table.size(); ++i) {
    std::fprintf(f, "0x%02X,%s", table[i], (i % 16 == 15) ? "\n" : "");
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> positional;
  const char* preview = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--preview") == 0 && i + 1 < argc) {
      preview = argv[++i];
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() < 2 || positional.size() > 3) {
    std::fprintf(stderr, "usage: fontgen FONT.ttf OUT.bin [OUT.inc] [--preview OUT.pbm]\n");
    return 2;
  }
  FT_Library library;
  if (int e = FT_Init_FreeType(&library)) return Fail("cannot start FreeType", e) ? 0 : 1;
  FT_Face face;
  if (int e = FT_New_Face(library, positional[0], 0, &face)) {
    Fail("cannot open the font", e);
    return 1;
  }
  std::vector<uint8_t> table(kTableSize, 0);
  if (!RenderCells(face, kSmall, table) || !RenderCells(face, kStandard, table)) return 1;
  FT_Done_Face(face);
  FT_Done_FreeType(library);

  FILE* out = std::fopen(positional[1], "wb");
  if (!out || std::fwrite(table.data(), 1, table.size(), out) != table.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "fontgen: cannot write %s\n", positional[1]);
    return 1;
  }
  if (positional.size() == 3 && !WriteInclude(table, positional[2])) {
    std::fprintf(stderr, "fontgen: cannot write %s\n", positional[2]);
    return 1;
  }
  if (preview && !WritePreview(table, preview)) {
    std::fprintf(stderr, "fontgen: cannot write %s\n", preview);
    return 1;
  }
  return 0;
}
