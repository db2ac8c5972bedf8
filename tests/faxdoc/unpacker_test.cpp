#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "control/errors.h"
#include "faxdoc/apf.h"
#include "faxdoc/unpacker.h"
#include "test_pages.h"

namespace qc {
namespace {

namespace fs = std::filesystem;

class UnpackerTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempFolder("unpack"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& n) const { return dir_ + "/" + n; }

  // A single-page file of the page; returns its name.
  std::string Write(const test::RasterPage& page, bool fine, const std::string& name = "p.apf") {
    const std::string file = Path(name);
    EXPECT_EQ(test::WriteRasterApf(file, {{&page, fine, 0}}), 0);
    return file;
  }
  static test::RasterPage Lines(int n, int inkAt, int width = 1728) {
    test::RasterPage p = test::MakeBlankRaster(width, n);
    for (int y = 0; y < n; ++y) p.Set(inkAt, y);
    return p;
  }
  std::string dir_;
};

TEST_F(UnpackerTest, PlatformFormAndCropping) {
  struct Case {
    int lines, inkAt, width;
    int expectWidth;
  };
  // Ink at 1000 ends in byte 125: 126 bytes, already even. Ink at 1008 ends
  // in byte 126: 127 bytes, one pad byte.
  const Case cases[] = {{2155, 1720, 1728, 1728}, {40, 1000, 1728, 1008}, {40, 1008, 1728, 1024}, {40, 2047, 2048, 2048},
                        {40, 0, 1728, 16}};
  for (const Case& c : cases) {
    test::RasterPage page = Lines(c.lines, c.inkAt, c.width);
    TQcFaxUnpacker u;
    u.SetInFileName(Write(page, true));
    const TMonoBitmap b = u.UnpackPageAsBitmap(1);
    EXPECT_EQ(b.Width(), c.expectWidth) << c.inkAt;
    EXPECT_EQ(b.Height(), c.lines) << c.inkAt;
    ASSERT_EQ(b.BytesPerRow() % 2, 0);
    // Platform form: ink is a clear bit, everything else (pad byte too) set.
    for (int y : {0, c.lines - 1})
      for (int x = 0; x < b.BytesPerRow() * 8; ++x) ASSERT_EQ(b.IsBlack(x, y), x == c.inkAt) << x;
  }
}

TEST_F(UnpackerTest, StandardPagesAutoScale) {
  test::RasterPage page = Lines(1100, 1700);
  for (int y = 0; y < 1100; ++y) page.Set(1701, y);  // a pair, so half width keeps it
  const std::string file = Write(page, false);
  struct Case {
    TAutoScaleMode mode;
    int rows;
    int maxWidth;
  };
  for (const Case& c : {Case{asDoubleHeight, 2200, 1728}, Case{asHalfWidth, 1100, 864}, Case{asNone, 1100, 1728}}) {
    TQcFaxUnpacker u;
    u.SetInFileName(file);
    u.SetAutoScaleMode(c.mode);
    const TMonoBitmap b = u.UnpackPageAsBitmap(1);
    EXPECT_EQ(b.Height(), c.rows);
    EXPECT_LE(b.Width(), c.maxWidth);
    EXPECT_TRUE(b.IsBlack(c.mode == asHalfWidth ? 850 : 1700, c.rows - 1));
  }
  // Fine pages are never rescaled.
  TQcFaxUnpacker u;
  u.SetInFileName(Write(page, true, "fine.apf"));
  u.SetAutoScaleMode(asHalfWidth);
  EXPECT_EQ(u.UnpackPageAsBitmap(1).Height(), 1100);
}

TEST_F(UnpackerTest, HalfWidthJoinsPairsAfterInversion) {
  test::RasterPage page = test::MakeBlankRaster(1728, 1);
  page.Set(2, 0), page.Set(3, 0);  // a black pair: stays black
  page.Set(9, 0);                  // half of a pair: the white half wins
  TQcFaxUnpacker u;
  u.SetInFileName(Write(page, false));
  u.SetAutoScaleMode(asHalfWidth);
  const TMonoBitmap b = u.UnpackPageAsBitmap(1);
  ASSERT_EQ(b.Height(), 1);
  EXPECT_TRUE(b.IsBlack(1, 0));
  EXPECT_FALSE(b.IsBlack(4, 0));
}

TEST_F(UnpackerTest, WhitespaceCompression) {
  // Rows of the result: text rows are black at pixel 5.
  struct Case {
    std::vector<int> pattern;  // >0: that many text lines; <0: that many blank lines
    int rows;
  };
  const Case cases[] = {
      {{1, -25, 1}, 4}, {{1, -9, 1}, 11}, {{1, -25}, 3}, {{1, -9}, 10}, {{1, -10, 1}, 4}, {{-30, 2}, 4},
  };
  for (const Case& c : cases) {
    int total = 0;
    for (int n : c.pattern) total += std::abs(n);
    test::RasterPage page = test::MakeBlankRaster(1728, total);
    int y = 0;
    for (int n : c.pattern) {
      for (int i = 0; i < std::abs(n); ++i, ++y)
        if (n > 0) page.Set(5, y);
    }
    TQcFaxUnpacker u;
    u.SetInFileName(Write(page, true));
    u.SetWhitespaceCompression(true);
    u.SetWhitespaceFrom(10);
    u.SetWhitespaceTo(2);
    const TMonoBitmap b = u.UnpackPageAsBitmap(1);
    EXPECT_EQ(b.Height(), c.rows) << c.pattern.size() << " " << c.pattern[1];
    // Blank rows released by the stage are white in platform form.
    if (b.Height() > 1) {
      EXPECT_FALSE(b.IsBlack(5, 1));
    }
  }
}

TEST_F(UnpackerTest, WhitespaceOnStandardPageIsDoubled) {
  test::RasterPage page = test::MakeBlankRaster(1728, 27);
  page.Set(5, 0), page.Set(5, 26);
  TQcFaxUnpacker u;
  u.SetInFileName(Write(page, false));
  u.SetWhitespaceCompression(true);
  u.SetWhitespaceFrom(10);
  u.SetWhitespaceTo(2);
  EXPECT_EQ(u.UnpackPageAsBitmap(1).Height(), 8);  // (1 + 2 + 1) * 2
}

TEST_F(UnpackerTest, BadWhitespaceArguments) {
  const test::RasterPage page = Lines(3, 5);
  for (auto [from, to] : {std::pair{2u, 5u}, std::pair{0u, 3u}}) {
    TQcFaxUnpacker u;
    u.SetInFileName(Write(page, true));
    u.SetWhitespaceCompression(true);
    u.SetWhitespaceFrom(from);
    u.SetWhitespaceTo(to);
    TMonoBitmap b;
    EXPECT_EQ(u.UnpackPageAsBitmap(1, b), ecBadArgument);
    EXPECT_THROW(u.UnpackPageAsBitmap(1), EBadArgument);
    u.SetWhitespaceCompression(false);  // only checked while compression is on
    EXPECT_EQ(u.UnpackPageAsBitmap(1, b), 0);
  }
}

TEST_F(UnpackerTest, RowBlockGrowsEvery1024Rows) {
  for (auto [lines, growths] : {std::pair{1023, 0}, std::pair{1024, 1}, std::pair{2047, 1}, std::pair{2049, 2}}) {
    TQcFaxUnpacker u;
    u.SetInFileName(Write(Lines(lines, 300), true));
    const TMonoBitmap b = u.UnpackPageAsBitmap(1);
    EXPECT_EQ(b.Height(), lines);
    EXPECT_EQ(u.Context().RowBlockGrowths(), growths) << lines;
    EXPECT_TRUE(b.IsBlack(300, lines - 1));
  }
}

TEST_F(UnpackerTest, RowBlockStopsAtTheRowLimit) {
  const int limit = static_cast<int>(TFaxUnpackContext::kMaxPageRows);
  TQcFaxUnpacker u;
  // The longest page that fits still unpacks whole ...
  u.SetInFileName(Write(Lines(limit - 1, 5), true, "longest.apf"));
  EXPECT_EQ(u.UnpackPageAsBitmap(1).Height(), limit - 1);
  // ... one with more rows is refused instead of growing further.
  u.SetInFileName(Write(Lines(limit + 10, 5), true, "toolong.apf"));
  EXPECT_THROW(u.UnpackPageAsBitmap(1), EOutOfMemory);
  EXPECT_LE(u.Context().RowBlockGrowths(), limit / TFaxUnpackContext::kRowBlockStep);
}

TEST_F(UnpackerTest, NotAnApfFile) {
  const std::string text = Path("letter.txt");
  std::ofstream(text) << "Dear Sir,\nthis is no fax.\n";
  TQcFaxUnpacker u;
  u.SetInFileName(text);
  EXPECT_EQ(u.GetPageCount(), 0);
  EXPECT_THROW(u.UnpackPageAsBitmap(1), EFaxBadFormat);
  u.SetInFileName("");
  EXPECT_EQ(u.GetPageCount(), 0);
  TMonoBitmap b;
  EXPECT_EQ(u.UnpackPageAsBitmap(1, b), ecFileNotFound);
  u.SetInFileName(Write(Lines(3, 5), true));
  EXPECT_EQ(u.GetPageCount(), 1);
  EXPECT_THROW(u.UnpackPageAsBitmap(2), EFaxBadFormat);
  EXPECT_TRUE(u.IsPageFine());
  EXPECT_FALSE(u.IsPageWide());
}

TEST_F(UnpackerTest, RawPages) {
  const test::RasterPage page = Lines(50, 77);
  std::vector<uint8_t> data;
  for (const auto& l : test::EncodeRasterLines(page, 0)) data.insert(data.end(), l.begin(), l.end());
  TQcFaxUnpacker u;
  // No page end code: decoded to the end of the data.
  ASSERT_EQ(test::WriteRawApf(Path("raw.apf"), data, pfFine), 0);
  u.SetInFileName(Path("raw.apf"));
  // The last line has no EOL after it: it is still in progress when the data ends.
  EXPECT_EQ(u.UnpackPageAsBitmap(1).Height(), 49);
  // ImageLength 0 decodes nothing.
  ASSERT_EQ(test::WriteRawApf(Path("zero.apf"), {}, pfFine), 0);
  u.SetInFileName(Path("zero.apf"));
  const TMonoBitmap empty = u.UnpackPageAsBitmap(1);
  EXPECT_EQ(empty.Width(), 0);
  EXPECT_EQ(empty.Height(), 0);
}

TEST_F(UnpackerTest, DamagedFiles) {
  const test::RasterPage page = Lines(50, 77);
  const std::string good = Write(page, true, "good.apf");
  std::ifstream in(good, std::ios::binary);
  const std::vector<uint8_t> d(std::istreambuf_iterator<char>(in), {});

  auto unpack = [&](const std::vector<uint8_t>& bytes) {
    const std::string f = Path("bad.apf");
    std::ofstream(f, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    TQcFaxUnpacker u;
    u.SetInFileName(f);
    TMonoBitmap b;
    return u.UnpackPageAsBitmap(1, b);
  };
  // Truncated record page: read on into the end of the file.
  EXPECT_EQ(unpack(std::vector<uint8_t>(d.begin(), d.end() - 20)), ecFaxBadFormat);
  // A record count above 4096.
  std::vector<uint8_t> big = d;
  big[80] = 0x01, big[81] = 0x10;
  EXPECT_EQ(unpack(big), ecFaxBadFormat);
  // Truncated raw page.
  std::vector<uint8_t> raw(d.begin(), d.begin() + 80);
  raw[68] = pfFine;
  raw[64] = 0xFF, raw[65] = 0xFF, raw[66] = 0xFF, raw[67] = 0xF0;  // ImageLength near 4 GiB
  for (const auto& l : test::EncodeRasterLines(page, 0)) raw.insert(raw.end(), l.begin(), l.end());
  EXPECT_EQ(unpack(raw), ecFaxBadFormat);
  // PageCount 65535 on a tiny file.
  std::vector<uint8_t> many(d.begin(), d.begin() + 64);
  many[32] = 0xFF, many[33] = 0xFF;
  EXPECT_LT(unpack(many), 0);
}

TEST_F(UnpackerTest, AbortKeepsRowsSoFar) {
  const std::string file = Write(Lines(200, 9), true);
  TQcFaxUnpacker u;
  u.SetInFileName(file);
  long calls = 0;
  u.OnStatus = [&](TQcFaxUnpacker& sender, const std::string& name, int page, long done, long total) {
    EXPECT_EQ(name, file);
    EXPECT_EQ(page, 1);
    EXPECT_LE(done, total);
    if (++calls == 300) sender.SetOptions(sender.Options() | uoAbort);
  };
  const TMonoBitmap b = u.UnpackPageAsBitmap(1);
  EXPECT_EQ(calls, 300);
  EXPECT_GT(b.Height(), 0);
  EXPECT_LT(b.Height(), 200);
  // The next operation starts afresh.
  u.OnStatus = nullptr;
  EXPECT_EQ(u.UnpackPageAsBitmap(1).Height(), 200);
}

TEST_F(UnpackerTest, QuitWhileYielding) {
  TQcFaxUnpacker u;
  u.SetInFileName(Write(Lines(200, 9), true));
  int yields = 0;
  u.YieldCallback = [&] { return ++yields < 50; };
  EXPECT_THROW(u.UnpackPageAsBitmap(1), EGotQuitMsg);
  EXPECT_EQ(yields, 50);
  // Without uoYield the hook is not called.
  yields = 0;
  u.SetOptions(0);
  EXPECT_EQ(u.UnpackPageAsBitmap(1).Height(), 200);
  EXPECT_EQ(yields, 0);
}

TEST_F(UnpackerTest, ScalingHalvesBothDimensions) {
  const test::RasterPage letter = test::MakeLetterPage();
  TQcFaxUnpacker u;
  u.SetInFileName(Write(letter, true));
  const TMonoBitmap full = u.UnpackPageAsBitmap(1);
  u.SetScaling(true);
  u.SetHorizDiv(2);
  u.SetVertDiv(2);
  u.SetHorizMult(0);  // ignored
  const TMonoBitmap half = u.UnpackPageAsBitmap(1);
  EXPECT_EQ(half.Width(), full.Width() / 2);
  EXPECT_EQ(half.Height(), full.Height() / 2);
  // Black wins: a black source pixel keeps its 2x2 block black.
  for (int y = 0; y < half.Height(); y += 7)
    for (int x = 0; x < half.Width(); x += 5) {
      const bool any = full.IsBlack(2 * x, 2 * y) || full.IsBlack(2 * x + 1, 2 * y) || full.IsBlack(2 * x, 2 * y + 1) ||
                       full.IsBlack(2 * x + 1, 2 * y + 1);
      ASSERT_EQ(half.IsBlack(x, y), any) << x << "," << y;
    }
}

TEST_F(UnpackerTest, LetterRoundTripIsExact) {
  const test::RasterPage letter = test::MakeLetterPage();
  TQcFaxUnpacker u;
  u.SetInFileName(Write(letter, true));
  const TMonoBitmap b = u.UnpackPageAsBitmap(1);
  ASSERT_EQ(b.Height(), letter.height);
  for (int y = 0; y < letter.height; ++y)
    for (int x = 0; x < b.Width(); ++x)
      ASSERT_EQ(b.IsBlack(x, y), (letter.Line(y)[x >> 3] & (0x80 >> (x & 7))) != 0) << x << "," << y;
}

TEST_F(UnpackerTest, InFileNameSetsOutFileName) {
  TQcFaxUnpacker u;
  u.SetInFileName("/tmp/FAX/LETTER.APF");
  EXPECT_EQ(u.OutFileName(), "/tmp/FAX/LETTER");
  u.SetOutFileName("other");
  u.SetInFileName("/tmp/fax/letter.apf");  // same name in other case: no change
  EXPECT_EQ(u.OutFileName(), "other");
}

}  // namespace
}  // namespace qc
