// Text input, the built-in font, LoadFaxFont and RenderTextRow.
#include <gtest/gtest.h>

#include "apf_pages.h"
#include "faxdoc/converter.h"
#include "scratch_dir.h"

namespace qc {
namespace {

using Lines = std::vector<std::vector<uint8_t>>;

// The scan lines one text line gives at W 1728 with the standard font.
Lines RenderedText(const std::string& text, bool fine = false) {
  std::unique_ptr<TFaxConverterContext> ctx;
  EXPECT_EQ(CreateTextConverter(ctx), 0);
  EXPECT_EQ(LoadFaxFont(*ctx, kStandardFontBytes, fine), 0);
  Lines out;
  for (int row = 1; row <= ctx->font.rows; ++row) {
    std::vector<uint8_t> raster(216, 0);
    RenderTextRow(*ctx, text, row, raster);
    // Coded with LM 0 below, so the decoded line is the raster itself.
    out.push_back(raster);
  }
  FreeConverter(ctx);
  return out;
}

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Converts `text` as a text file with LM 0, standard resolution.
std::vector<Lines> ConvertText(const std::string& text, unsigned linesPerPage, unsigned tabStop = 4) {
  test::ScratchDir dir;
  TQcFaxConverter c;
  c.SetInputDocumentType(idText);
  c.SetDocumentFile(dir.Write("in.txt", text));
  c.SetLeftMargin(0);
  c.SetLinesPerPage(linesPerPage);
  c.SetTabStop(tabStop);
  EXPECT_EQ(c.ConvertToFileStatus(), 0);
  const auto f = test::DecodeApfFile(dir.File("in.APF"));
  EXPECT_TRUE(f.ok);
  std::vector<Lines> pages;
  for (const auto& p : f.pages) {
    EXPECT_EQ(p.badCodes, 0u);
    EXPECT_EQ(p.records.size(), p.lines.size() + 1);
    pages.push_back(p.lines);
  }
  return pages;
}

TEST(TextConverter, LinesPerPageBreaksPages) {
  const auto pages = ConvertText("one\r\ntwo\r\nthree\r\n", 2);
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[0], Join({RenderedText("one"), RenderedText("two")}));
  EXPECT_EQ(pages[1], RenderedText("three"));  // the third line opens page 2
}

TEST(TextConverter, FormFeeds) {
  struct Case {
    const char* text;
    std::vector<std::vector<const char*>> pages;
  } cases[] = {
      // x, form feed, y: x ends one page, y opens the next.
      {"x\fy\n", {{"x"}, {"y"}}},
      // A form feed alone on a line: no blank first line on the next page.
      {"a\n\f\nb\n", {{"a", ""}, {"b"}}},
      // A form feed at the very end opens no empty page.
      {"a\n\f\n", {{"a", ""}}},
      {"a\fb\fc", {{"a"}, {"b"}, {"c"}}},
  };
  for (const auto& k : cases) {
    const auto pages = ConvertText(k.text, 60);
    ASSERT_EQ(pages.size(), k.pages.size()) << k.text;
    for (size_t p = 0; p < pages.size(); ++p) {
      Lines expected;
      for (const char* line : k.pages[p]) expected = Join({expected, RenderedText(line)});
      EXPECT_EQ(pages[p], expected) << k.text << " page " << p + 1;
    }
  }
}

TEST(TextConverter, TabsExpandToTheTabStop) {
  EXPECT_EQ(ConvertText("A\tB\n", 60)[0], RenderedText("A   B"));
  EXPECT_EQ(ConvertText("\tAB\tC\n", 60, 3)[0], RenderedText("   AB C"));
}

TEST(TextConverter, EmptyFileGivesOnePageWithOneBlankLine) {
  const auto pages = ConvertText("", 60);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0], Lines(1, std::vector<uint8_t>(216, 0)));
}

TEST(TextConverter, LongLinesAreCutToTheLine) {
  // 86 cells fit 1728 pixels at LM 0; LM 50 takes two of them.
  const std::string longLine(200, 'M');
  EXPECT_EQ(ConvertText(longLine + "\n", 60)[0], RenderedText(std::string(86, 'M')));
}

TEST(TextConverter, FineResolutionDoublesEveryGlyphRow) {
  test::ScratchDir dir;
  TQcFaxConverter c;
  c.SetInputDocumentType(idText);
  c.SetDocumentFile(dir.Write("in.txt", "Fine\n"));
  c.SetLeftMargin(0);
  c.SetResolution(frHigh);
  ASSERT_EQ(c.ConvertToFileStatus(), 0);
  const auto f = test::DecodeApfFile(dir.File("in.APF"));
  ASSERT_EQ(f.pages.size(), 1u);
  EXPECT_TRUE(f.pages[0].header.IsFine());
  EXPECT_EQ(f.pages[0].lines, RenderedText("Fine", true));
  EXPECT_EQ(f.pages[0].lines.size(), 32u);
}

TEST(FaxFont, LoadFaxFontDoublesRowsWhenFine) {
  std::unique_ptr<TFaxConverterContext> ctx;
  ASSERT_EQ(CreateTextConverter(ctx), 0);
  for (const int size : {kSmallFontBytes, kStandardFontBytes}) {
    ASSERT_EQ(LoadFaxFont(*ctx, size, false), 0);
    const TFaxFontData normal = ctx->font;
    ASSERT_EQ(LoadFaxFont(*ctx, size, true), 0);
    const TFaxFontData& fine = ctx->font;
    EXPECT_EQ(fine.bytesPerGlyph, 2 * size);
    EXPECT_EQ(fine.rows, 2 * normal.rows);
    EXPECT_EQ(fine.cellWidth, normal.cellWidth);
    EXPECT_EQ(fine.bytesPerRow, normal.bytesPerRow);
    const int bpr = normal.bytesPerRow;
    for (int g = 0; g < 256; ++g) {
      for (int k = 0; k < normal.rows; ++k) {
        const uint8_t* n = normal.glyphs.data() + g * size + k * bpr;
        const uint8_t* a = fine.glyphs.data() + g * 2 * size + 2 * k * bpr;
        ASSERT_TRUE(std::equal(n, n + bpr, a) && std::equal(n, n + bpr, a + bpr)) << g << " " << k;
      }
    }
  }
  EXPECT_EQ(LoadFaxFont(*ctx, 24, false), ecFontFileNotFound);
  // Its size was checked before anything was copied.
  EXPECT_EQ(ctx->font.bytesPerGlyph, 2 * kStandardFontBytes);
}

TEST(FaxFont, BuiltInCellsFollowTheLayout) {
  const auto table = BuiltInFaxFont();
  struct Layout {
    size_t offset;
    int width, bytesPerRow, rows;
  } layouts[] = {{0, 12, 2, 8}, {4096, 20, 3, 16}};
  for (const auto& l : layouts) {
    for (int g = 0; g < 256; ++g) {
      const uint8_t* glyph = table.data() + l.offset + static_cast<size_t>(g) * l.bytesPerRow * l.rows;
      int ink = 0;
      for (int r = 0; r < l.rows; ++r) {
        for (int x = 0; x < l.bytesPerRow * 8; ++x) {
          const bool set = glyph[r * l.bytesPerRow + x / 8] & (0x80 >> (x % 8));
          if (x >= l.width) {
            ASSERT_FALSE(set) << "bit beyond the cell: glyph " << g;
          }
          ink += set;
        }
      }
      // Every printable character has a shape; space, NUL and no-break space are blank.
      const bool blank = g == 0 || g == ' ' || g == 0xA0;
      EXPECT_EQ(ink == 0, blank) << "glyph " << g << " at " << l.offset;
    }
  }
  // Standard cell: the capital H spans rows 3..12.
  const uint8_t* h = table.data() + 4096 + 'H' * 48;
  auto rowInk = [&](int r) { return h[r * 3] | h[r * 3 + 1] | h[r * 3 + 2]; };
  for (int r = 0; r < 16; ++r) EXPECT_EQ(rowInk(r) != 0, r >= 3 && r <= 12) << "row " << r;
  // Descenders reach row 15.
  const uint8_t* g = table.data() + 4096 + 'g' * 48;
  EXPECT_NE(g[15 * 3] | g[15 * 3 + 1] | g[15 * 3 + 2], 0);
}

TEST(FaxFont, RenderTextRowPlacesCellsSideBySide) {
  std::unique_ptr<TFaxConverterContext> ctx;
  ASSERT_EQ(CreateTextConverter(ctx), 0);
  ASSERT_EQ(LoadFaxFont(*ctx, kStandardFontBytes, false), 0);
  const uint8_t* table = BuiltInFaxFont().data() + 4096;
  const std::string text = "Qc\xE9|";
  for (int row = 0; row <= 17; ++row) {
    std::vector<uint8_t> raster(216, 0);
    RenderTextRow(*ctx, text, row, raster);
    for (int x = 0; x < 1728; ++x) {
      bool expected = false;
      const size_t cell = static_cast<size_t>(x / 20);
      if (row >= 1 && row <= 16 && cell < text.size()) {
        const uint8_t* glyph = table + static_cast<uint8_t>(text[cell]) * 48 + (row - 1) * 3;
        const int cx = x % 20;
        expected = glyph[cx / 8] & (0x80 >> (cx % 8));
      }
      ASSERT_EQ(test::PixelBlack(raster, x), expected) << "row " << row << " x " << x;
    }
  }
  // Characters that would pass the raster's end are left out.
  std::vector<uint8_t> small(5, 0);
  RenderTextRow(*ctx, "HHH", 8, small);  // 40 bits: two cells fit
  std::vector<uint8_t> two(5, 0);
  RenderTextRow(*ctx, "HH", 8, two);
  EXPECT_EQ(small, two);
}

}  // namespace
}  // namespace qc
