// The image readers (TIFF, PCX, DCX, BMP, PBM, user) and image placement.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <filesystem>

#include "apf_pages.h"
#include "faxdoc/converter.h"
#include "image_writers.h"
#include "scratch_dir.h"

namespace qc {
namespace {

using test::Picture;

struct Result {
  int status = 0;
  bool outputExists = false;
  test::DecodedFile file;
};

// Converts `bytes` as a file of `type`: fine, LM 0, no placement options,
// unless the caller's setup says otherwise.
Result Convert(TFaxInputDocumentType type, const std::vector<uint8_t>& bytes,
               const std::function<void(TQcFaxConverter&)>& setup = {}) {
  test::ScratchDir dir;
  TQcFaxConverter c;
  c.SetInputDocumentType(type);
  c.SetDocumentFile(dir.Write("input.img", bytes));
  c.SetResolution(frHigh);
  c.SetLeftMargin(0);
  c.SetOptions(0);
  if (setup) setup(c);
  Result r;
  r.status = c.ConvertToFileStatus();
  r.outputExists = std::filesystem::exists(c.OutFileName());
  if (r.status == 0) r.file = test::DecodeApfFile(c.OutFileName());
  return r;
}

// The decoded lines a picture gives at pixel 0 on a 1728 line.
std::vector<std::vector<uint8_t>> Expected(const Picture& p) {
  std::vector<std::vector<uint8_t>> lines;
  for (int y = 0; y < p.h; ++y) {
    std::vector<uint8_t> line(216, 0);
    for (int x = 0; x < p.w && x < 1728; ++x) {
      if (p.Black(x, y)) line[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    lines.push_back(line);
  }
  return lines;
}

void ExpectPages(const Result& r, const std::vector<Picture>& pages) {
  ASSERT_EQ(r.status, 0);
  ASSERT_TRUE(r.file.ok);
  ASSERT_EQ(r.file.header.PageCount, pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(r.file.pages[i].badCodes, 0u);
    EXPECT_EQ(r.file.pages[i].lines, Expected(pages[i])) << "page " << i + 1;
  }
}

void ExpectRejected(const Result& r, int code = ecBadGraphicsFormat) {
  EXPECT_EQ(r.status, code);
  EXPECT_FALSE(r.outputExists);
}

// A TIFF written by libtiff, as an independent writer.
std::vector<uint8_t> LibTiffBytes(const Picture& p, const char* mode, uint16_t compression, uint16_t photometric,
                                  uint32_t rowsPerStrip) {
  test::ScratchDir dir;
  const std::string name = dir.File("libtiff.tif");
  TIFF* tif = TIFFOpen(name.c_str(), mode);
  EXPECT_NE(tif, nullptr);
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(p.w));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(p.h));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  for (int y = 0; y < p.h; ++y) {
    std::vector<uint8_t> row = p.rows[static_cast<size_t>(y)];
    if (photometric == PHOTOMETRIC_MINISBLACK) {
      for (auto& v : row) v = static_cast<uint8_t>(~v);
    }
    EXPECT_EQ(TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), 0), 1);
  }
  TIFFClose(tif);
  return test::ReadWholeFile(name);
}

TEST(TiffReader, ReadsWhatLibtiffWrites) {
  const Picture p = test::MakePicture(203, 41);
  struct Case {
    const char* mode;
    uint16_t compression, photometric;
    uint32_t rowsPerStrip;
  } cases[] = {
      {"wl", COMPRESSION_NONE, PHOTOMETRIC_MINISWHITE, 41},
      {"wb", COMPRESSION_NONE, PHOTOMETRIC_MINISBLACK, 5},
      {"wl", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISWHITE, 7},
      {"wb", COMPRESSION_PACKBITS, PHOTOMETRIC_MINISBLACK, 1},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(std::string(k.mode) + " compression " + std::to_string(k.compression) + " photometric " +
                 std::to_string(k.photometric));
    ExpectPages(Convert(idTiff, LibTiffBytes(p, k.mode, k.compression, k.photometric, k.rowsPerStrip)), {p});
  }
}

TEST(TiffReader, FillOrderAndWideImages) {
  // Least significant bit first; and an image wider than the line loses its right part.
  const Picture p = test::MakePicture(77, 9, 3);
  test::TiffOptions lsb;
  lsb.fillOrderLsb = true;
  lsb.packBits = true;
  ExpectPages(Convert(idTiff, test::TiffBytes(p, lsb)), {p});
  const Picture wide = test::MakePicture(2000, 4, 4);
  ExpectPages(Convert(idTiff, test::TiffBytes(wide)), {wide});
}

// A TIFF's bytes with the 4-byte value of tag `tag` replaced.
std::vector<uint8_t> PatchTag(std::vector<uint8_t> b, uint16_t tag, uint32_t value, uint16_t type = 4) {
  const uint32_t ifd = b[4] | b[5] << 8 | b[6] << 16 | static_cast<uint32_t>(b[7]) << 24;
  const int n = b[ifd] | b[ifd + 1] << 8;
  for (int i = 0; i < n; ++i) {
    uint8_t* e = b.data() + ifd + 2 + 12 * i;
    if ((e[0] | e[1] << 8) != tag) continue;
    e[2] = static_cast<uint8_t>(type);
    e[3] = 0;
    for (int k = 0; k < 4; ++k) e[8 + k] = static_cast<uint8_t>(value >> (8 * k));
  }
  return b;
}

TEST(TiffReader, HostileFilesEndWithTheirCode) {
  const Picture p = test::MakePicture(64, 16, 5);
  const auto good = test::TiffBytes(p);
  ExpectPages(Convert(idTiff, good), {p});
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"strip offset past the end", PatchTag(good, 273, 0x7FFFFFF0)},
      {"ImageLength near 4 GiB", PatchTag(PatchTag(good, 257, 0xFFFFFFF0), 278, 0xFFFFFFF0)},
      {"8 bits per sample", PatchTag(good, 258, 8, 3)},
      {"CCITT compression", PatchTag(good, 259, 3, 3)},
      {"strip offsets missing", [&] {
         auto b = good;
         const uint32_t ifd = b[4] | b[5] << 8;
         for (int i = 0; i < 10; ++i) {
           if ((b[ifd + 2 + 12 * i] | b[ifd + 3 + 12 * i] << 8) == 273) b[ifd + 2 + 12 * i] = 0xFF;  // another tag
         }
         return b;
       }()},
      {"rows per strip 0", PatchTag(good, 278, 0)},
      {"truncated strip", std::vector<uint8_t>(good.begin(), good.begin() + 8 + 64)},
      {"no TIFF at all", std::vector<uint8_t>{'I', 'I', 43, 0, 8, 0, 0, 0}},
      {"empty file", {}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    ExpectRejected(Convert(idTiff, k.bytes));
  }
  // An offsets array that points into nowhere (many strips, one strip per row).
  test::TiffOptions o;
  o.rowsPerStrip = 1;
  ExpectRejected(Convert(idTiff, PatchTag(test::TiffBytes(p, o), 273, 0xFFFFFF00)));
}

TEST(PcxReader, ReadsRunLengthImages) {
  const Picture p = test::MakePicture(203, 30, 6);
  ExpectPages(Convert(idPcx, test::PcxBytes(p)), {p});
  const Picture full = test::MakePicture(1728, 3, 7);
  ExpectPages(Convert(idPcx, test::PcxBytes(full)), {full});
}

TEST(PcxReader, RejectsWhatItCannotTake) {
  const Picture p = test::MakePicture(40, 10, 8);
  auto good = test::PcxBytes(p);
  auto wide = test::PcxBytes(test::MakePicture(1729, 2, 9));
  auto colour = good;
  colour[65] = 4;  // four planes
  auto eightBit = good;
  eightBit[3] = 8;
  auto notPcx = good;
  notPcx[0] = 0;
  ExpectRejected(Convert(idPcx, wide));
  ExpectRejected(Convert(idPcx, colour));
  ExpectRejected(Convert(idPcx, eightBit));
  ExpectRejected(Convert(idPcx, notPcx));
  ExpectRejected(Convert(idPcx, std::vector<uint8_t>(good.begin(), good.end() - 5)));
  ExpectRejected(Convert(idPcx, std::vector<uint8_t>(good.begin(), good.begin() + 60)));
}

TEST(DcxReader, PagesInAscendingOffsetOrder) {
  const Picture a = test::MakePicture(100, 12, 10), b = test::MakePicture(300, 5, 11);
  // The table lists page 2 first; the reader takes them by offset.
  const auto dcx = test::DcxBytes({test::PcxBytes(a), test::PcxBytes(b)}, {1, 0});
  ExpectPages(Convert(idDcx, dcx), {a, b});
  auto noPages = dcx;
  std::fill(noPages.begin() + 4, noPages.begin() + 8, 0);
  ExpectRejected(Convert(idDcx, noPages));
  auto badMagic = dcx;
  badMagic[0] ^= 1;
  ExpectRejected(Convert(idDcx, badMagic));
  auto pastEnd = dcx;
  pastEnd[4] = 0xFF, pastEnd[5] = 0xFF, pastEnd[6] = 0xFF;
  ExpectRejected(Convert(idDcx, pastEnd));
}

TEST(BmpReader, OneBitImagesBothWaysUp) {
  const Picture p = test::MakePicture(37, 13, 12);
  ExpectPages(Convert(idBmp, test::Bmp1Bytes(p)), {p});
  ExpectPages(Convert(idBmp, test::Bmp1Bytes(p, true)), {p});
  ExpectPages(Convert(idBmp, test::Bmp1Bytes(p, false, true)), {p});
}

TEST(BmpReader, ColourImagesAreDithered) {
  // Black and white stay exact; a middle grey gives the matrix's share of black.
  const auto r = Convert(idBmp, test::Bmp24Bytes(48, 32, [](int x, int y) -> uint8_t {
                           if (x < 16) return (x + y) % 2 ? 255 : 0;
                           return x < 32 ? 255 : 128;
                         }));
  ASSERT_EQ(r.status, 0);
  const auto& lines = r.file.pages[0].lines;
  ASSERT_EQ(lines.size(), 32u);
  int greyBlack = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 48; ++x) {
      const bool black = test::PixelBlack(lines[y], x);
      if (x < 16) {
        ASSERT_EQ(black, (x + y) % 2 == 0) << x << "," << y;
      } else if (x < 32) {
        ASSERT_FALSE(black) << x << "," << y;
      } else {
        greyBlack += black;
      }
    }
    for (int x = 48; x < 1728; ++x) ASSERT_FALSE(test::PixelBlack(lines[y], x));
  }
  // Thresholds 0..254 over 256 cells: 127 of them are at least 128, twice over.
  EXPECT_EQ(greyBlack, 2 * 127);
}

TEST(BmpReader, RejectsWhatItCannotTake) {
  const Picture p = test::MakePicture(40, 10, 13);
  const auto good = test::Bmp1Bytes(p);
  auto rle = test::Bmp24Bytes(8, 8, [](int, int) -> uint8_t { return 0; });
  rle[30] = 1;  // BI_RLE8
  ExpectRejected(Convert(idBmp, test::Bmp1Bytes(test::MakePicture(1729, 2, 14))));
  ExpectRejected(Convert(idBmp, rle));
  ExpectRejected(Convert(idBmp, std::vector<uint8_t>(good.begin(), good.end() - 1)));
  auto huge = good;
  huge[22] = 0xFF, huge[23] = 0xFF, huge[24] = 0xFF, huge[25] = 0x7F;  // height 2^31 - 1
  ExpectRejected(Convert(idBmp, huge));
  auto notBmp = good;
  notBmp[0] = 'X';
  ExpectRejected(Convert(idBmp, notBmp));
}

TEST(PbmReader, EveryRowIsCoded) {
  const Picture p = test::MakePicture(1000, 17, 15);
  ExpectPages(Convert(idPbm, test::PbmBytes(p)), {p});
  // Comments and other white space in the header; two images are two pages.
  const Picture q = test::MakePicture(9, 3, 16);
  auto two = test::PbmBytes(q, "P4 # a comment\n9\t# another\r\n 3\n");
  const auto second = test::PbmBytes(p);
  two.insert(two.end(), second.begin(), second.end());
  ExpectPages(Convert(idPbm, two), {q, p});
  // Pixels beyond the line are dropped.
  const Picture wide = test::MakePicture(2100, 4, 17);
  ExpectPages(Convert(idPbm, test::PbmBytes(wide)), {wide});
}

TEST(PbmReader, RejectsWhatItCannotTake) {
  const auto good = test::PbmBytes(test::MakePicture(20, 5, 18));
  ExpectRejected(Convert(idPbm, std::vector<uint8_t>(good.begin(), good.end() - 1)));
  const std::string plain = "P1\n2 2\n0 1\n1 0\n";
  ExpectRejected(Convert(idPbm, std::vector<uint8_t>(plain.begin(), plain.end())));
  const std::string huge = "P4\n99999999999 1\n";
  ExpectRejected(Convert(idPbm, std::vector<uint8_t>(huge.begin(), huge.end())));
  const std::string zero = "P4\n0 5\n";
  ExpectRejected(Convert(idPbm, std::vector<uint8_t>(zero.begin(), zero.end())));
}

TEST(ImagePlacement, DoubleWidthCentringAndHalfHeight) {
  const Picture p = test::MakePicture(100, 6, 19);
  const auto bytes = test::PbmBytes(p);
  // Standard resolution with the default options: doubled (200 <= 1728 - 50)
  // and centred by (1728 - 200) / 32 = 47 bytes.
  const auto r = Convert(idPbm, bytes, [](TQcFaxConverter& c) {
    c.SetResolution(frNormal);
    c.SetLeftMargin(50);
    c.SetOptions(coDoubleWidth | coCenterImage);
  });
  ASSERT_EQ(r.status, 0);
  ASSERT_EQ(r.file.pages[0].lines.size(), 6u);
  EXPECT_FALSE(r.file.pages[0].header.IsFine());
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 1728; ++x) {
      const int px = (x - 50) / 2 - 47 * 8;
      const bool black = x >= 50 && px >= 0 && px < 100 && p.Black(px, y);
      ASSERT_EQ(test::PixelBlack(r.file.pages[0].lines[y], x), black) << x << "," << y;
    }
  }
  // Fine resolution never doubles; centring alone moves by (1728 - 100) / 16 bytes.
  const auto centred = Convert(idPbm, bytes, [](TQcFaxConverter& c) { c.SetOptions(coDoubleWidth | coCenterImage); });
  ASSERT_EQ(centred.status, 0);
  for (int x = 0; x < 1728; ++x) {
    const int px = x - 101 * 8;
    ASSERT_EQ(test::PixelBlack(centred.file.pages[0].lines[0], x), px >= 0 && px < 100 && p.Black(px, 0));
  }
  // Half height at standard resolution codes lines 1, 3, 5 of the input.
  const Picture tall = test::MakePicture(1700, 6, 20);
  const auto half = Convert(idPbm, test::PbmBytes(tall), [](TQcFaxConverter& c) {
    c.SetResolution(frNormal);
    c.SetOptions(coDoubleWidth | coHalfHeight);
  });
  ASSERT_EQ(half.status, 0);
  const auto all = Expected(tall);
  EXPECT_EQ(half.file.pages[0].lines, (std::vector<std::vector<uint8_t>>{all[0], all[2], all[4]}));
}

TEST(UserReader, LinesComeFromTheEvents) {
  std::vector<std::string> log;
  int calls = 0;
  const auto r = Convert(idUser, {}, [&](TQcFaxConverter& c) {
    c.OnOpenUserFile = [&](TQcFaxConverter&, const std::string&) { log.push_back("open"); };
    c.OnCloseUserFile = [&](TQcFaxConverter&) { log.push_back("close"); };
    c.OnReadUserLine = [&](TQcFaxConverter&, uint8_t* data, int& len, bool& eop, bool& more) {
      ++calls;
      // Page 1: two lines; page 2: one line.
      const int pageCall = calls <= 3 ? calls : calls - 3;
      const int pageLines = calls <= 3 ? 2 : 1;
      eop = pageCall > pageLines;
      more = calls <= 3;
      if (!eop) {
        data[0] = static_cast<uint8_t>(0x80 >> calls);
        len = 1;
      }
    };
  });
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"open", "close"}));
  ASSERT_EQ(r.file.pages.size(), 2u);
  ASSERT_EQ(r.file.pages[0].lines.size(), 2u);
  ASSERT_EQ(r.file.pages[1].lines.size(), 1u);
  EXPECT_TRUE(test::PixelBlack(r.file.pages[0].lines[0], 1));
  EXPECT_TRUE(test::PixelBlack(r.file.pages[0].lines[1], 2));
  EXPECT_TRUE(test::PixelBlack(r.file.pages[1].lines[0], 4));
  // Without a line source nothing is converted.
  ExpectRejected(Convert(idUser, {}), ecBadArgument);
}

}  // namespace
}  // namespace qc
