#include "test_pages.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "faxdoc/apf.h"
#include "faxdoc/converter.h"
#include "faxdoc/t4.h"

namespace qc::test {

namespace {
constexpr int kRowBytes = 216;
constexpr int kLeftMargin = 50;

void SetPixel(std::vector<uint8_t>& row, int x) {
  row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
}
bool Pixel(const uint8_t* row, int x) { return (row[x / 8] >> (7 - x % 8)) & 1; }
}  // namespace

Raster PatternPage(int seed, int rows) {
  Raster page(static_cast<size_t>(rows), std::vector<uint8_t>(kRowBytes, 0));
  const int left = 100 + 137 * seed % 1200, width = 20 + 31 * seed % 200;
  for (int y = 0; y < rows; ++y) {
    if ((y / (4 + seed)) % 2) continue;
    for (int x = left; x < left + width && x < 1728; ++x) SetPixel(page[static_cast<size_t>(y)], x);
    SetPixel(page[static_cast<size_t>(y)], (y * 7 + seed) % 1728);
  }
  return page;
}

void WriteApf(const std::string& path, const std::vector<Raster>& pages, bool fine) {
  TApfWriter writer;
  TFaxLineEncoder encoder(1728, 0);
  if (writer.Create(path) != 0) throw std::runtime_error("cannot create " + path);
  for (const Raster& page : pages) {
    writer.BeginPage(fine, false);
    for (const auto& row : page) {
      const int n = encoder.EncodeLine(row.data());
      writer.WriteLine(encoder.Data(), n);
    }
    writer.EndPage();
  }
  if (writer.Finish("FIXTURE", 0) != 0) throw std::runtime_error("cannot finish " + path);
}

Raster TextRows(const std::string& text, bool smallFont, bool fine) {
  std::unique_ptr<TFaxConverterContext> ctx;
  CreateTextConverter(ctx);
  LoadFaxFont(*ctx, smallFont ? kSmallFontBytes : kStandardFontBytes, fine);
  Raster out;
  for (int r = 1; r <= ctx->font.rows; ++r) {
    std::vector<uint8_t> raster(kRowBytes, 0);
    RenderTextRow(*ctx, text, r, raster);
    std::vector<uint8_t> placed(kRowBytes, 0);
    for (int x = 0; x + kLeftMargin < 1728; ++x)
      if (Pixel(raster.data(), x)) SetPixel(placed, x + kLeftMargin);
    out.push_back(placed);
  }
  return out;
}

Raster BlankRows(int count) { return Raster(static_cast<size_t>(count), std::vector<uint8_t>(kRowBytes, 0)); }

Raster Concat(std::initializer_list<Raster> parts) {
  Raster all;
  for (const Raster& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "qcengine-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
  dir_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace qc::test
