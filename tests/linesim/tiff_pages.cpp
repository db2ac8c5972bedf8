#include "tiff_pages.h"

#include <tiffio.h>

#include <algorithm>
#include <memory>

namespace qc::linesim {

namespace {
struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffFile = std::unique_ptr<TIFF, TiffCloser>;

void Quiet(const char*, const char*, va_list) {}
}  // namespace

std::vector<TiffPage> ReadTiffPages(const std::string& path, std::string* error) {
  std::vector<TiffPage> pages;
  TIFFSetWarningHandler(Quiet);
  TiffFile tif(TIFFOpen(path.c_str(), "r"));
  if (!tif) {
    if (error) *error = "cannot open " + path;
    return pages;
  }
  do {
    uint32_t width = 0, length = 0;
    uint16_t bits = 1, photometric = PHOTOMETRIC_MINISWHITE;
    float yres = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &length);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif.get(), TIFFTAG_YRESOLUTION, &yres);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_RESOLUTIONUNIT, &unit);
    if (bits != 1 || width == 0) {
      if (error) *error = "not a bilevel page";
      return {};
    }
    TiffPage page;
    page.width = static_cast<int>(width);
    const float perInch = unit == RESUNIT_CENTIMETER ? yres * 2.54f : yres;
    page.fine = perInch > 150;
    const tmsize_t rowBytes = TIFFScanlineSize(tif.get());
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    for (uint32_t y = 0; y < length; ++y) {
      if (TIFFReadScanline(tif.get(), row.data(), y, 0) < 0) {
        if (error) *error = "bad row " + std::to_string(y);
        return {};
      }
      std::vector<uint8_t> out(row.begin(), row.begin() + (width + 7) / 8);
      if (photometric == PHOTOMETRIC_MINISBLACK)
        for (uint8_t& b : out) b = static_cast<uint8_t>(~b);
      page.rows.push_back(std::move(out));
    }
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(tif.get()));
  return pages;
}

bool WriteTiffPages(const std::string& path, const std::vector<TiffPage>& pages) {
  TiffFile tif(TIFFOpen(path.c_str(), "w"));
  if (!tif) return false;
  for (size_t i = 0; i < pages.size(); ++i) {
    const TiffPage& page = pages[i];
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.rows.size()));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, GROUP3OPT_FILLBITS);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(page.rows.size()));
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(t, TIFFTAG_XRESOLUTION, 204.0f);
    TIFFSetField(t, TIFFTAG_YRESOLUTION, page.fine ? 196.0f : 98.0f);
    TIFFSetField(t, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(i), static_cast<uint16_t>(pages.size()));
    std::vector<uint8_t> row(static_cast<size_t>((page.width + 7) / 8));
    for (size_t y = 0; y < page.rows.size(); ++y) {
      std::fill(row.begin(), row.end(), uint8_t{0});
      std::copy_n(page.rows[y].begin(), std::min(row.size(), page.rows[y].size()), row.begin());
      if (TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
    }
    if (!TIFFWriteDirectory(t)) return false;
  }
  return true;
}

}  // namespace qc::linesim
