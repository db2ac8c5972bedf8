// Writes the seed inputs of the converter reader fuzz targets:
//   faxdoc_make_reader_seeds tests/fuzz/seeds
// Each seed is one settings byte (see tests/fuzz/faxdoc/reader_fuzz.h)
// followed by a small valid file of the reader's format.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../../faxdoc/image_writers.h"

namespace {

using qc::test::MakePicture;
using qc::test::Picture;

void Seed(const std::filesystem::path& root, const std::string& target, const std::string& name, uint8_t settings,
          const std::vector<uint8_t>& file) {
  const auto dir = root / target;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.put(static_cast<char>(settings));
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: faxdoc_make_reader_seeds SEEDS_FOLDER\n");
    return 2;
  }
  const std::filesystem::path root = argv[1];
  const Picture small = MakePicture(40, 12, 1);
  const Picture odd = MakePicture(203, 9, 2);

  qc::test::TiffOptions be;
  be.bigEndian = true;
  be.packBits = true;
  be.rowsPerStrip = 4;
  be.photometric = 1;
  qc::test::TiffOptions lsb;
  lsb.fillOrderLsb = true;
  lsb.rowsPerStrip = 1;
  Seed(root, "tiff_reader", "le_none.bin", 0x00, qc::test::TiffBytes(small));
  Seed(root, "tiff_reader", "be_packbits_strips.bin", 0x15, qc::test::TiffBytes(odd, be));
  Seed(root, "tiff_reader", "lsb_rows.bin", 0x2C, qc::test::TiffBytes(small, lsb));

  Seed(root, "pcx_reader", "small.bin", 0x00, qc::test::PcxBytes(small));
  Seed(root, "pcx_reader", "odd.bin", 0x1D, qc::test::PcxBytes(odd));

  Seed(root, "dcx_reader", "two_pages.bin", 0x14,
       qc::test::DcxBytes({qc::test::PcxBytes(small), qc::test::PcxBytes(odd)}, {1, 0}));

  Seed(root, "bmp_reader", "one_bit.bin", 0x00, qc::test::Bmp1Bytes(small));
  Seed(root, "bmp_reader", "one_bit_top_down.bin", 0x11, qc::test::Bmp1Bytes(odd, true, true));
  Seed(root, "bmp_reader", "grey24.bin", 0x04,
       qc::test::Bmp24Bytes(24, 8, [](int x, int y) { return static_cast<uint8_t>(x * 10 + y * 3); }));

  Seed(root, "pbm_reader", "small.bin", 0x00, qc::test::PbmBytes(small));
  auto two = qc::test::PbmBytes(odd, "P4 # two images\n203 9\n");
  const auto second = qc::test::PbmBytes(small);
  two.insert(two.end(), second.begin(), second.end());
  Seed(root, "pbm_reader", "two_images.bin", 0x1C, two);

  Seed(root, "text_reader", "letter.bin", 0x00, Text("Dear Sir,\r\n\r\n\tThank you.\r\nA\tB\tC\r\n"));
  Seed(root, "text_reader", "form_feeds.bin", 0x80, Text("one\ftwo\n\f\nthree\nfour\nfive\n\xE9\xFC\x80\n"));
  return 0;
}
