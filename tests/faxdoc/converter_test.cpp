// The bitmap conversion, the conversion loop's status, abort and yield, and
// output naming.
#include <gtest/gtest.h>

#include <filesystem>

#include "apf_pages.h"
#include "control/errors.h"
#include "faxdoc/converter.h"
#include "scratch_dir.h"

namespace qc {
namespace {

using test::DecodeApfFile;
using test::PixelBlack;

// A 1728-wide page bitmap in platform form; row y has black pixels
// [y mod 1600, y mod 1600 + 8) and [1670, 1728).
TMonoBitmap TestPage(int height) {
  TMonoBitmap bm(1728, height);
  for (int y = 0; y < height; ++y) {
    for (int x = y % 1600; x < y % 1600 + 8; ++x) bm.SetBlack(x, y, true);
    for (int x = 1670; x < 1728; ++x) bm.SetBlack(x, y, true);
  }
  return bm;
}

TQcFaxConverter ProgramConverter(const std::string& out, unsigned leftMargin) {
  TQcFaxConverter c;
  c.SetOptions(coYield);
  c.SetResolution(frHigh);
  c.SetLeftMargin(leftMargin);
  c.SetOutFileName(out);
  return c;
}

TEST(ConvertBitmap, BottomRowIsNeverCodedAndPageIsFine) {
  test::ScratchDir dir;
  const std::string out = dir.File("page.apf");
  TQcFaxConverter c = ProgramConverter(out, 0);
  const TMonoBitmap bm = TestPage(2156);
  ASSERT_EQ(c.ConvertBitmapToApfStatus(bm), 0);
  EXPECT_EQ(c.InputDocumentType(), idNone);  // restored after the call

  const auto f = DecodeApfFile(out);
  ASSERT_TRUE(f.ok);
  EXPECT_EQ(f.header.PageCount, 1);
  EXPECT_EQ(f.header.FirstPageOffset, 64u);
  // No station id: length 0, twenty spaces.
  EXPECT_EQ(f.header.StationId[0], 0);
  for (int i = 1; i <= 20; ++i) EXPECT_EQ(f.header.StationId[i], ' ');
  ASSERT_EQ(f.pages.size(), 1u);
  const auto& page = f.pages[0];
  EXPECT_EQ(page.header.Flags, pfFine | pfLineRecords);
  ASSERT_EQ(page.records.size(), 2155u + 1u);  // H - 1 lines and the end-of-page record
  const std::vector<uint8_t> eop = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
  EXPECT_EQ(page.records.back(), eop);
  EXPECT_TRUE(page.pageEnded);
  EXPECT_EQ(page.badCodes, 0u);
  ASSERT_EQ(page.lines.size(), 2155u);
  for (int y = 0; y < 2155; ++y) {
    std::vector<uint8_t> expected(216);
    BitmapRowToRaster(bm, y, expected.data(), 216);
    ASSERT_EQ(page.lines[y], expected) << "row " << y;
  }
}

TEST(ConvertBitmap, LeftMarginShiftsAndCutsEveryLine) {
  test::ScratchDir dir;
  const std::string out = dir.File("page.apf");
  TQcFaxConverter c = ProgramConverter(out, 50);
  ASSERT_EQ(c.ConvertBitmapToApfStatus(TestPage(20)), 0);
  const auto f = DecodeApfFile(out);
  ASSERT_TRUE(f.ok);
  ASSERT_EQ(f.pages[0].lines.size(), 19u);
  for (int y = 0; y < 19; ++y) {
    const auto& line = f.pages[0].lines[y];
    for (int x = 0; x < 1728; ++x) {
      // Raster pixel p lands at 50 + p; pixels from 1678 on fall off the line.
      const int p = x - 50;
      const bool black = p >= 0 && ((p >= y && p < y + 8) || p >= 1670);
      ASSERT_EQ(PixelBlack(line, x), black) << "row " << y << " pixel " << x;
    }
  }
}

TEST(ConvertBitmap, BitmapsThatAreNotMonochromeWriteNothing) {
  test::ScratchDir dir;
  const std::string out = dir.File("page.apf");
  TQcFaxConverter c = ProgramConverter(out, 50);
  EXPECT_EQ(c.ConvertBitmapToApfStatus(TMonoBitmap(1728, 100, 24)), ecBadArgument);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(c.ConvertBitmapToApfStatus(TMonoBitmap()), ecBadArgument);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_THROW(c.ConvertBitmapToApf(TMonoBitmap(1728, 100, 24)), EBadArgument);
  EXPECT_EQ(c.InputDocumentType(), idNone);
}

TEST(ConvertBitmap, StatusReportsEveryLineAndAbortDeletesTheOutput) {
  test::ScratchDir dir;
  const std::string out = dir.File("page.apf");
  struct Call {
    bool starting, ending;
    int pages, lines;
    long long done, total;
  };
  for (const int abortAt : {0, 5}) {
    TQcFaxConverter c = ProgramConverter(out, 50);
    std::vector<Call> calls;
    c.OnStatus = [&](TQcFaxConverter&, bool s, bool e, int p, int l, long long d, long long t, bool& abort) {
      calls.push_back({s, e, p, l, d, t});
      abort = static_cast<int>(calls.size()) - 1 == abortAt;
    };
    EXPECT_EQ(c.ConvertBitmapToApfStatus(TestPage(10)), ecConvertAbort) << abortAt;
    EXPECT_FALSE(std::filesystem::exists(out)) << abortAt;
    calls.clear();
    EXPECT_THROW(c.ConvertBitmapToApf(TestPage(10)), EConvertAbort);
  }

  TQcFaxConverter c = ProgramConverter(out, 50);
  std::vector<Call> calls;
  c.OnStatus = [&](TQcFaxConverter&, bool s, bool e, int p, int l, long long d, long long t, bool&) {
    calls.push_back({s, e, p, l, d, t});
  };
  ASSERT_EQ(c.ConvertBitmapToApfStatus(TestPage(10)), 0);
  // Starting, ten GetLine calls (the tenth ends the page), Ending.
  ASSERT_EQ(calls.size(), 12u);
  EXPECT_TRUE(calls.front().starting);
  EXPECT_TRUE(calls.back().ending);
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(calls[i].pages, 1);
    EXPECT_EQ(calls[i].lines, i);
    EXPECT_EQ(calls[i].done, 216LL * i);
    EXPECT_EQ(calls[i].total, 216LL * 10);
  }
  EXPECT_EQ(DecodeApfFile(out).header.PageCount, 1);
}

TEST(ConvertBitmap, QuitWhileYieldingEndsTheConversion) {
  test::ScratchDir dir;
  const std::string out = dir.File("page.apf");
  TQcFaxConverter c = ProgramConverter(out, 50);
  c.SetOptions(coYieldOften);
  EXPECT_EQ(c.Options(), coYield | coYieldOften);
  int calls = 0;
  c.SetYieldCallback([&] { return ++calls < 3; });
  EXPECT_EQ(c.ConvertBitmapToApfStatus(TestPage(100)), ecGotQuitMsg);
  EXPECT_EQ(calls, 3);  // after lines 16, 32 and 48
  EXPECT_FALSE(std::filesystem::exists(out));

  c.SetOptions(coYield);
  calls = 0;
  c.SetYieldCallback([&] { return ++calls < 100; });
  EXPECT_EQ(c.ConvertBitmapToApfStatus(TestPage(100)), 0);
  EXPECT_EQ(calls, 1);  // once after the page
}

TEST(ConvertBitmap, TopMarginAndStationId) {
  test::ScratchDir dir;
  for (const TFaxWidth width : {fwNormal, fwWide}) {
    const std::string out = dir.File("page.apf");
    TQcFaxConverter c = ProgramConverter(out, 50);
    c.SetTopMargin(3);
    c.SetWidth(width);
    c.SetHeaderStationId("12345");
    ASSERT_EQ(c.ConvertBitmapToApfStatus(TestPage(5)), 0);
    const auto f = DecodeApfFile(out);
    ASSERT_TRUE(f.ok);
    EXPECT_EQ(f.header.StationIdText(), "12345");
    const auto& page = f.pages[0];
    EXPECT_EQ(page.header.IsWide(), width == fwWide);
    ASSERT_EQ(page.records.size(), 3u + 4u + 1u);
    const size_t marginBytes = width == fwWide ? 5 : 4;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(page.records[i].size(), marginBytes);
    ASSERT_EQ(page.lines.size(), 3u + 4u);
    const size_t W = width == fwWide ? 256 : 216;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(page.lines[i], std::vector<uint8_t>(W, 0));
    EXPECT_TRUE(PixelBlack(page.lines[3], 50));
  }
}

TEST(ConverterNaming, OutputFileNames) {
  struct Case {
    const char* out;
    const char* document;
    const char* expected;
  } cases[] = {
      {"/fax/TEMP1", "", "/fax/TEMP1.APF"},
      {"/fax/TEMP1.apf", "", "/fax/TEMP1.apf"},
      {"", "/docs/LETTER.TXT", "/docs/LETTER.APF"},
      {"", "/docs.d/LETTER", "/docs.d/LETTER.APF"},
      {"/fax.d/OUT", "/docs/LETTER.TXT", "/fax.d/OUT.APF"},
  };
  for (const auto& k : cases) EXPECT_EQ(ApfOutputFileName(k.out, k.document), k.expected) << k.out << k.document;

  TQcFaxConverter c;
  c.SetDocumentFile("/docs/LETTER.TXT");
  EXPECT_EQ(c.OutFileName(), "/docs/LETTER.APF");
}

TEST(ConverterDefaults, PropertiesOnCreation) {
  const TQcFaxConverter c;
  EXPECT_EQ(c.InputDocumentType(), idNone);
  EXPECT_EQ(c.Options(), coDoubleWidth | coCenterImage | coYield);
  EXPECT_EQ(c.Resolution(), frNormal);
  EXPECT_EQ(c.Width(), fwNormal);
  EXPECT_EQ(c.TopMargin(), 0u);
  EXPECT_EQ(c.LeftMargin(), 50u);
  EXPECT_EQ(c.LinesPerPage(), 60u);
  EXPECT_EQ(c.TabStop(), 4u);
  EXPECT_EQ(c.FontType(), ffStandard);
  EXPECT_EQ(c.FontFile(), "QCFAX.FNT");
}

}  // namespace
}  // namespace qc
