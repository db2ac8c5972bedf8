// Runs one coding operation on one test page once, inside Measured(), so
// that callgrind can count its instructions alone (callgrind_ratios.sh):
//   faxdoc_callgrind_driver OP PAGE      OP: ours-encode tiff-encode ours-decode tiff-decode
//                                        PAGE: 0 letter, 1 photo, 2 almost blank
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "faxdoc/t4.h"
#include "test_pages.h"
#include "tiff_mem.h"

using namespace qc;

namespace {

struct Input {
  test::RasterPage page;
  std::vector<uint8_t> coded, tiff, out;
};

extern "C" __attribute__((noinline)) void Measured(const std::string& op, Input& in) {
  if (op == "ours-encode") {
    TFaxLineEncoder enc(in.page.width, 0);
    size_t at = 0;
    for (int y = 0; y < in.page.height; ++y) {
      const int n = enc.EncodeLine(in.page.Line(y));
      std::memcpy(in.out.data() + at, enc.Data(), n);
      at += n;
    }
    const int n = enc.EncodePageEnd();
    std::memcpy(in.out.data() + at, enc.Data(), n);
  } else if (op == "tiff-encode") {
    in.out = test::EncodeTiffMh(in.page);
  } else if (op == "ours-decode") {
    TFaxLineDecoder dec;
    size_t at = 0;
    dec.SetLineSink([&](const uint8_t* l, int n) {
      std::memcpy(in.out.data() + at, l, n);
      at += n;
    });
    dec.DecodeBytes(in.coded.data(), in.coded.size());
  } else if (op == "tiff-decode") {
    test::RasterPage r;
    test::DecodeTiff(in.tiff, r);
    in.out = std::move(r.raster);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: faxdoc_callgrind_driver OP PAGE\n");
    return 2;
  }
  const int which = std::atoi(argv[2]);
  Input in;
  in.page = which == 0 ? test::MakeLetterPage() : which == 1 ? test::MakePhotoPage() : test::MakeAlmostBlankPage();
  for (const auto& l : test::EncodeRasterLines(in.page, 0)) in.coded.insert(in.coded.end(), l.begin(), l.end());
  TFaxLineEncoder enc;
  in.coded.insert(in.coded.end(), enc.Data(), enc.Data() + enc.EncodePageEnd());
  in.tiff = test::WrapMhInTiff(in.coded, in.page.width, in.page.height);
  in.out.assign(4 << 20, 0);
  // Warm up: tables built, libtiff's codec registered, pages touched.
  Input warm = in;
  Measured(argv[1], warm);
  Measured(argv[1], in);
  return 0;
}
