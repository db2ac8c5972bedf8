// Our MH coder against libtiff's, both ways, on the three test pages.
#include <gtest/gtest.h>

#include <vector>

#include "faxdoc/t4.h"
#include "reference_decoder.h"
#include "test_pages.h"
#include "tiff_mem.h"

namespace qc {
namespace {

class TiffInterop : public ::testing::TestWithParam<int> {
 protected:
  static const std::vector<test::RasterPage>& Pages() {
    static const std::vector<test::RasterPage> pages = test::StandardTestPages();
    return pages;
  }
  const test::RasterPage& Page() const { return Pages()[GetParam()]; }
};

size_t FirstDifferentLine(const test::RasterPage& a, const test::RasterPage& b) {
  for (int y = 0; y < std::min(a.height, b.height); ++y)
    if (!std::equal(a.Line(y), a.Line(y) + a.width / 8, b.Line(y))) return static_cast<size_t>(y);
  return a.height == b.height ? SIZE_MAX : static_cast<size_t>(std::min(a.height, b.height));
}

TEST_P(TiffInterop, OurPagesDecodeInLibtiff) {
  const test::RasterPage& page = Page();
  for (int lm : {0, 50}) {
    std::vector<uint8_t> coded;
    for (const auto& l : test::EncodeRasterLines(page, lm)) coded.insert(coded.end(), l.begin(), l.end());
    TFaxLineEncoder enc;
    coded.insert(coded.end(), enc.Data(), enc.Data() + enc.EncodePageEnd());
    test::RasterPage decoded;
    ASSERT_TRUE(test::DecodeTiff(test::WrapMhInTiff(coded, page.width, page.height), decoded)) << page.name;
    const test::RasterPage expected = test::ShiftRight(page, lm);
    EXPECT_EQ(FirstDifferentLine(decoded, expected), SIZE_MAX) << page.name << " lm " << lm;
  }
}

TEST_P(TiffInterop, LibtiffPagesDecodeInOurs) {
  const test::RasterPage& page = Page();
  const std::vector<uint8_t> tiff = test::EncodeTiffMh(page);
  test::RasterPage libtiffRaster;
  ASSERT_TRUE(test::DecodeTiff(tiff, libtiffRaster));
  ASSERT_EQ(FirstDifferentLine(libtiffRaster, page), SIZE_MAX);  // libtiff is lossless too

  std::vector<uint8_t> raw = test::RawStrip(tiff);
  ASSERT_FALSE(raw.empty());
  // libtiff ends the strip after the last line's code, without RTC; a fax
  // page ends with one, and only an EOL completes a line, so add it as the
  // sending station would.
  TFaxLineEncoder enc;
  raw.insert(raw.end(), enc.Data(), enc.Data() + enc.EncodePageEnd());
  test::RasterPage ours = test::MakeBlankRaster(page.width, 0);
  TFaxLineDecoder dec;
  dec.SetLineSink([&](const uint8_t* l, int n) {
    ASSERT_EQ(n, page.width / 8);
    ours.raster.insert(ours.raster.end(), l, l + n);
    ++ours.height;
  });
  dec.DecodeBytes(raw.data(), raw.size());
  EXPECT_EQ(dec.Stats().BadCodes, 0u);
  EXPECT_EQ(dec.Stats().LinesDropped, 0u);
  EXPECT_TRUE(dec.PageEnded());
  EXPECT_EQ(ours.height, page.height);
  EXPECT_EQ(FirstDifferentLine(ours, libtiffRaster), SIZE_MAX) << page.name;

  // And the bit walk agrees on libtiff's stream as well.
  test::ReferenceDecoder ref;
  ref.Feed(raw.data(), raw.size());
  EXPECT_EQ(ref.stats.LinesDelivered, static_cast<uint64_t>(ours.height));
}

INSTANTIATE_TEST_SUITE_P(Pages, TiffInterop, ::testing::Values(0, 1, 2), [](const auto& info) {
  return std::string(info.param == 0 ? "Letter" : info.param == 1 ? "Photo" : "AlmostBlank");
});

}  // namespace
}  // namespace qc
