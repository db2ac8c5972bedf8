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

std::vector<uint8_t> EncodePage(const Raster& page) {
  TFaxLineEncoder encoder(1728, 0);
  std::vector<uint8_t> out;
  for (const auto& row : page) {
    const int n = encoder.EncodeLine(row.data());
    out.insert(out.end(), encoder.Data(), encoder.Data() + n);
  }
  const int n = encoder.EncodePageEnd();
  out.insert(out.end(), encoder.Data(), encoder.Data() + n);
  return out;
}

Raster DecodePage(const std::vector<uint8_t>& data, uint64_t* badCodes) {
  Raster rows;
  TFaxLineDecoder decoder;
  decoder.SetLineSink([&](const uint8_t* line, int bytes) { rows.emplace_back(line, line + bytes); });
  decoder.StartPage();
  decoder.DecodeBytes(data.data(), data.size());
  if (badCodes) *badCodes = decoder.BadCodes();
  return rows;
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

StoredFax ReadStoredFax(const std::string& path) {
  StoredFax f;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) {
    f.status = -2;
    return f;
  }
  std::vector<uint8_t> all;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) all.insert(all.end(), buf, buf + n);
  std::fclose(in);
  f.fileSize = all.size();
  if (all.size() < static_cast<size_t>(kApfFileHeaderSize)) {
    f.status = -8001;
    return f;
  }
  f.header = TApfFileHeader::FromBytes(all.data());
  size_t pos = f.header.FirstPageOffset;
  for (unsigned p = 0; p < f.header.PageCount; ++p) {
    if (pos + kApfPageHeaderSize > all.size()) {
      f.status = -8001;
      return f;
    }
    const TApfPageHeader ph = TApfPageHeader::FromBytes(all.data() + pos);
    pos += kApfPageHeaderSize;
    if (pos + ph.ImageLength > all.size()) {
      f.status = -8001;
      return f;
    }
    f.pageHeaders.push_back(ph);
    f.pages.emplace_back(all.begin() + static_cast<long>(pos), all.begin() + static_cast<long>(pos + ph.ImageLength));
    pos += ph.ImageLength;
  }
  return f;
}

}  // namespace qc::test
