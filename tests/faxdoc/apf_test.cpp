#include <gtest/gtest.h>

#include <ctime>
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

std::vector<uint8_t> ReadAll(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}
void WriteAll(const std::string& name, const std::vector<uint8_t>& data) {
  std::ofstream f(name, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}
uint32_t Get32(const std::vector<uint8_t>& d, size_t at) {
  return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}

class ApfTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = test::MakeTempFolder("apf"); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& n) const { return dir_ + "/" + n; }

  // A page of `lines` lines, line i with a black run at i % 1600 (so every
  // page's content is recognisable after copying).
  static test::RasterPage Page(int lines, int seed, int width = 1728) {
    test::RasterPage p = test::MakeBlankRaster(width, lines);
    for (int y = 0; y < lines; ++y)
      for (int x = 0; x < 8; ++x) p.Set((y * 37 + seed * 101) % 1600 + x, y);
    return p;
  }
  std::string dir_;
};

TEST_F(ApfTest, ConverterLayout) {
  const test::RasterPage page = Page(3, 0);
  const std::string file = Path("a.apf");
  ASSERT_EQ(test::WriteRasterApf(file, {{&page, true, 0}}, "ABCDE"), 0);
  const std::vector<uint8_t> d = ReadAll(file);
  ASSERT_GT(d.size(), 80u);
  const std::vector<uint8_t> sig = {'A', 'P', 'F', '1', '0', 0x1A};
  EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.begin() + 6), sig);
  // Station id: real length, five characters, fifteen spaces.
  EXPECT_EQ(d[10], 5);
  EXPECT_EQ(std::string(d.begin() + 11, d.begin() + 16), "ABCDE");
  EXPECT_EQ(std::string(d.begin() + 16, d.begin() + 31), std::string(15, ' '));
  EXPECT_EQ(d[31], 0);
  EXPECT_EQ(d[32] | (d[33] << 8), 1);
  EXPECT_EQ(Get32(d, 34), 64u);
  for (size_t i = 38; i < 64; ++i) EXPECT_EQ(d[i], 0) << i;
  // Page header: ImageLength covers everything after it; flags records + fine.
  EXPECT_EQ(Get32(d, 64), d.size() - 80);
  EXPECT_EQ(d[68] | (d[69] << 8), pfLineRecords | pfFine);
  // Three line records and the 14-byte end record.
  const std::vector<uint8_t> end = {0x0C, 0x00, 0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(d.end() - 14, d.end()), end);
  size_t at = 80, records = 0;
  while (at < d.size()) {
    at += 2 + (d[at] | (d[at + 1] << 8));
    ++records;
  }
  EXPECT_EQ(at, d.size());
  EXPECT_EQ(records, 4u);
  // Time stamp of now, packed.
  TApfFileHeader h;
  ASSERT_EQ(ReadApfHeader(file, h), 0);
  EXPECT_NEAR(static_cast<double>(DosTimeStampToTime(h.TimeStamp)), static_cast<double>(std::time(nullptr)), 5.0);
}

TEST_F(ApfTest, ReceiverStationIdForms) {
  const std::string file = Path("r.apf");
  TApfReceiveWriter w;
  ASSERT_EQ(w.Create(file, "+44 23", std::time(nullptr)), 0);
  TApfFileHeader h;
  ASSERT_EQ(ReadApfHeader(file, h), 0);
  EXPECT_EQ(h.StationId[0], 20);  // padded form until a page is complete
  EXPECT_EQ(h.StationIdText(), "+44 23" + std::string(14, ' '));
  EXPECT_EQ(h.PageCount, 0);
  const std::vector<uint8_t> raw = {1, 2, 3, 4, 5};
  ASSERT_EQ(w.BeginPage(pfWide), 0);
  ASSERT_EQ(w.Append(raw.data(), raw.size()), 0);
  ASSERT_EQ(w.EndPage("+44 23", std::time(nullptr)), 0);
  ASSERT_EQ(ReadApfHeader(file, h), 0);
  EXPECT_EQ(h.StationId[0], 6);
  EXPECT_EQ(std::string(h.StationId.begin() + 1, h.StationId.end()), "+44 23" + std::string(14, ' '));
  EXPECT_EQ(h.PageCount, 1);
  TApfPageHeader p;
  uint64_t offset = 0;
  ASSERT_EQ(LocateApfPage(file, 1, p, offset), 0);
  EXPECT_EQ(p.ImageLength, 5u);
  EXPECT_EQ(p.Flags, pfWide);
  EXPECT_EQ(offset, 80u);
  ASSERT_EQ(w.Close(), 0);
}

TEST_F(ApfTest, SignatureAndHeaderErrors) {
  WriteAll(Path("text.txt"), std::vector<uint8_t>(100, 'x'));
  std::vector<uint8_t> almost = {'A', 'P', 'F', '1', '0', 0x1B};
  almost.resize(64, 0);
  WriteAll(Path("almost.apf"), almost);
  WriteAll(Path("short.apf"), {'A', 'P', 'F'});
  std::vector<uint8_t> sigOnly = {'A', 'P', 'F', '1', '0', 0x1A};
  WriteAll(Path("sigonly.apf"), sigOnly);
  struct Case {
    std::string name;
    bool isApf;
    int readCode;
  };
  const Case cases[] = {
      {"", false, ecFileNotFound},
      {Path("missing.apf"), false, ecFileNotFound},
      {Path("text.txt"), false, ecFaxBadFormat},
      {Path("almost.apf"), false, ecFaxBadFormat},
      {Path("short.apf"), false, ecFaxBadFormat},
      // The signature alone is an APF file by IsApfFile; its header is incomplete.
      {Path("sigonly.apf"), true, ecFaxBadFormat},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsApfFile(c.name), c.isApf) << c.name;
    TApfFileHeader h;
    EXPECT_EQ(ReadApfHeader(c.name, h), c.readCode) << c.name;
  }
}

TEST_F(ApfTest, LocatePagesAndEmptyFile) {
  const std::string empty = Path("empty.apf");
  {
    TApfWriter w;
    ASSERT_EQ(w.Create(empty), 0);
    ASSERT_EQ(w.Finish("", std::time(nullptr)), 0);
  }
  TApfPageHeader p;
  uint64_t offset = 0;
  EXPECT_EQ(LocateApfPage(empty, 0, p, offset), 0);
  EXPECT_EQ(LocateApfPage(empty, 1, p, offset), ecFaxBadFormat);

  const test::RasterPage a = Page(10, 1), b = Page(20, 2, 2048);
  const std::string two = Path("two.apf");
  ASSERT_EQ(test::WriteRasterApf(two, {{&a, false, 0}, {&b, true, 0}}), 0);
  ASSERT_EQ(LocateApfPage(two, 2, p, offset), 0);
  EXPECT_EQ(p.Flags, pfLineRecords | pfFine | pfWide);
  EXPECT_EQ(LocateApfPage(two, 3, p, offset), ecFaxBadFormat);
}

// Page n+1 is found only through page n's ImageLength.
TEST_F(ApfTest, WrongImageLengthHidesLaterPages) {
  const test::RasterPage p1 = Page(30, 1), p2 = Page(30, 2), p3 = Page(30, 3), p4 = Page(30, 4);
  const std::string file = Path("four.apf");
  ASSERT_EQ(test::WriteRasterApf(file, {{&p1}, {&p2}, {&p3}, {&p4}}), 0);
  TQcFaxUnpacker u;
  u.SetInFileName(file);
  std::vector<TMonoBitmap> good;
  for (unsigned n = 1; n <= 4; ++n) good.push_back(u.UnpackPageAsBitmap(n));

  TApfPageHeader page2;
  uint64_t offset = 0;
  ASSERT_EQ(LocateApfPage(file, 2, page2, offset), 0);
  std::vector<uint8_t> d = ReadAll(file);
  const size_t at = offset - 16;
  const uint32_t wrong = page2.ImageLength + 7;
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(wrong >> (8 * i));
  WriteAll(file, d);

  for (unsigned n = 1; n <= 4; ++n) {
    TMonoBitmap bmp;
    const int r = u.UnpackPageAsBitmap(n, bmp);
    if (n <= 2) {
      ASSERT_EQ(r, 0) << n;
      EXPECT_EQ(bmp.Height(), good[n - 1].Height());
      EXPECT_EQ(std::vector<uint8_t>(bmp.Bits(), bmp.Bits() + bmp.SizeBytes()),
                std::vector<uint8_t>(good[n - 1].Bits(), good[n - 1].Bits() + good[n - 1].SizeBytes()))
          << n;
    } else {
      // Read from the wrong place: an error, or at best no page of the original.
      EXPECT_TRUE(r != 0 || bmp.Height() != good[n - 1].Height()) << n;
    }
  }
}

TEST_F(ApfTest, AppendTwoPagesOntoThree) {
  const test::RasterPage t1 = Page(5, 1), t2 = Page(6, 2), t3 = Page(7, 3);
  const test::RasterPage s1 = Page(8, 4), s2 = Page(9, 5, 2048);
  const std::string target = Path("target.apf"), source = Path("source.apf");
  ASSERT_EQ(test::WriteRasterApf(target, {{&t1}, {&t2}, {&t3}}, "TARGET"), 0);
  ASSERT_EQ(test::WriteRasterApf(source, {{&s1, false}, {&s2, true}}, "SOURCE"), 0);
  // Make the stamps differ so that keeping the target's is visible.
  std::vector<uint8_t> d = ReadAll(target);
  d[6] = 0x21, d[7] = 0x43, d[8] = 0x65, d[9] = 0x47;
  WriteAll(target, d);
  TApfFileHeader before;
  ASSERT_EQ(ReadApfHeader(target, before), 0);

  ASSERT_NO_THROW(AppendApfFile(target, source));
  TApfFileHeader after;
  ASSERT_EQ(ReadApfHeader(target, after), 0);
  EXPECT_EQ(after.PageCount, 5);
  EXPECT_EQ(after.StationIdText(), "TARGET");
  EXPECT_EQ(after.TimeStamp, before.TimeStamp);

  TQcFaxUnpacker src, dst;
  src.SetInFileName(source);
  dst.SetInFileName(target);
  dst.SetAutoScaleMode(asNone);
  src.SetAutoScaleMode(asNone);
  for (unsigned n = 1; n <= 2; ++n) {
    TApfPageHeader ps, pd;
    uint64_t o1 = 0, o2 = 0;
    ASSERT_EQ(LocateApfPage(source, n, ps, o1), 0);
    ASSERT_EQ(LocateApfPage(target, n + 3, pd, o2), 0);
    EXPECT_EQ(pd.Flags, ps.Flags);  // a standard page may precede fine ones
    const TMonoBitmap a = src.UnpackPageAsBitmap(n), b = dst.UnpackPageAsBitmap(n + 3);
    EXPECT_EQ(std::vector<uint8_t>(a.Bits(), a.Bits() + a.SizeBytes()),
              std::vector<uint8_t>(b.Bits(), b.Bits() + b.SizeBytes()));
  }
  EXPECT_EQ(dst.UnpackPageAsBitmap(3).Height(), 7);
}

TEST_F(ApfTest, AppendMissingFileRaisesFileNotFound) {
  const test::RasterPage t1 = Page(5, 1);
  const std::string target = Path("target.apf");
  ASSERT_EQ(test::WriteRasterApf(target, {{&t1}}), 0);
  for (auto [t, s] : {std::pair{target, Path("none.apf")}, std::pair{Path("none.apf"), target}}) {
    try {
      AppendApfFile(t, s);
      ADD_FAILURE() << "no exception";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.ErrorCode(), 2);
    }
  }
}

TEST_F(ApfTest, AppendOntoItselfDoublesOnce) {
  const test::RasterPage t1 = Page(5, 1), t2 = Page(6, 2);
  const std::string file = Path("self.apf");
  ASSERT_EQ(test::WriteRasterApf(file, {{&t1}, {&t2}}), 0);
  ASSERT_EQ(AppendApfFileStatus(file, file), 0);
  TQcFaxUnpacker u;
  u.SetInFileName(file);
  u.SetAutoScaleMode(asNone);
  EXPECT_EQ(u.GetPageCount(), 4);
  EXPECT_EQ(u.UnpackPageAsBitmap(4).Height(), 6);
}

TEST(ApfTimeStamp, PackedForm) {
  std::tm tm{};
  tm.tm_year = 2026 - 1900, tm.tm_mon = 11, tm.tm_mday = 11, tm.tm_hour = 13, tm.tm_min = 5, tm.tm_sec = 31;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  const uint32_t s = DosTimeStamp(t);
  EXPECT_EQ(s >> 16, static_cast<uint32_t>(((2026 - 1980) << 9) | (12 << 5) | 11));
  EXPECT_EQ(s & 0xFFFF, static_cast<uint32_t>((13 << 11) | (5 << 5) | 15));
  tm.tm_year = 2100 - 1900;
  EXPECT_EQ(DosTimeStamp(std::mktime(&tm)), 0u);
  tm.tm_year = 1979 - 1900;
  EXPECT_EQ(DosTimeStamp(std::mktime(&tm)), 0u);
}

}  // namespace
}  // namespace qc
