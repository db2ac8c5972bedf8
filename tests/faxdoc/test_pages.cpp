#include "test_pages.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

#include "faxdoc/apf.h"
#include "faxdoc/t4.h"

namespace qc::test {

RasterPage MakeBlankRaster(int width, int height, const std::string& name) {
  RasterPage p;
  p.name = name;
  p.width = width;
  p.height = height;
  p.raster.assign(static_cast<size_t>(width / 8) * height, 0);
  return p;
}

namespace {

// Glyphs of 4 x 7 cells (a typewriter face has strokes, not noise): each is
// built from strokes chosen by the character code.
uint8_t glyphRow(unsigned char c, int row) {
  if (c == ' ') return 0;
  uint32_t h = c * 2654435761u;
  uint8_t bits = 0;
  const int kind = static_cast<int>(h >> 28) & 3;
  const bool top = (h >> 8) & 1, mid = (h >> 9) & 1, bottom = (h >> 10) & 1;
  const bool left = (h >> 11) & 1 || kind == 0, right = (h >> 12) & 1 || kind == 1;
  if (row == 0 && top) bits |= 0xF;
  if (row == 3 && mid) bits |= 0xF;
  if (row == 6 && bottom) bits |= 0xF;
  if (left) bits |= 0x8;
  if (right && row != 0 && row != 6) bits |= 0x1;
  if (kind == 2 && (row == 1 || row == 5)) bits |= 0x6;
  if (kind == 3) bits |= static_cast<uint8_t>(0x8 >> (row * 4 / 7));
  if (c == '.' || c == ',') bits = row >= 5 ? 0x4 : 0;
  if (c == '-') bits = row == 3 ? 0xE : 0;
  if (bits == 0 && row == 6) bits = 0x6;
  return bits;
}

void fillRect(RasterPage& p, int x0, int y0, int w, int h) {
  for (int y = y0; y < y0 + h && y < p.height; ++y)
    for (int x = x0; x < x0 + w && x < p.width; ++x)
      if (x >= 0 && y >= 0) p.Set(x, y);
}

std::string word(std::mt19937& rng) {
  static const char* letters = "etaoinshrdlucmfwypvbgkqjxz";
  const int n = 1 + static_cast<int>(rng() % 9);
  std::string w;
  for (int i = 0; i < n; ++i) w += letters[std::min<unsigned>(rng() % 26, rng() % 26)];
  return w;
}

}  // namespace

void DrawText(RasterPage& page, int x, int y, const std::string& text, int scale) {
  const int cell = 5 * scale;  // four glyph columns and one column gap
  for (size_t i = 0; i < text.size(); ++i) {
    const int gx = x + static_cast<int>(i) * cell;
    for (int row = 0; row < 7; ++row) {
      const uint8_t bits = glyphRow(static_cast<unsigned char>(text[i]), row);
      for (int col = 0; col < 4; ++col)
        if (bits & (8 >> col)) fillRect(page, gx + col * scale, y + row * scale, scale, scale);
    }
  }
}

RasterPage MakeLetterPage(int width, int height) {
  RasterPage p = MakeBlankRaster(width, height, "letter");
  std::mt19937 rng(1728);
  // Letterhead, rule, sender line.
  DrawText(p, 200, 110, "QUILLCAST TRADING LTD", 7);
  fillRect(p, 200, 190, width - 400, 4);
  DrawText(p, 200, 210, "12 harbour road - portsmouth po1 2ab - tel 023 9287 1200", 2);
  // Address block and date.
  int y = 380;
  for (const char* l : {"mr j. fothergill", "fothergill & sons", "14 mill lane", "winchester so23 8ab"}) {
    DrawText(p, 200, y, l);
    y += 36;
  }
  DrawText(p, 1180, 380, "11 december 2026");
  y += 80;
  DrawText(p, 200, y, "dear mr fothergill,");
  y += 70;
  // Body: paragraphs of words, ragged right, double spaced.
  const int cell = 15, maxChars = (width - 400) / cell;
  for (int para = 0; para < 7 && y < height - 500; ++para) {
    const int lines = 3 + static_cast<int>(rng() % 5);
    for (int l = 0; l < lines && y < height - 500; ++l) {
      std::string text = l == 0 ? "    " : "";
      const int limit = l == lines - 1 ? maxChars / 2 + static_cast<int>(rng() % (maxChars / 3)) : maxChars - 4;
      for (;;) {
        std::string w = word(rng);
        if (static_cast<int>(text.size() + w.size() + 1) > limit) break;
        if (!text.empty() && text.back() != ' ') text += ' ';
        text += w;
        if (rng() % 9 == 0) text += ',';
      }
      text += l == lines - 1 ? "." : "";
      DrawText(p, 200, y, text);
      y += 40;
    }
    y += 40;
  }
  DrawText(p, 200, y, "yours sincerely,");
  // Signature: a thick wavy stroke.
  for (int x = 0; x < 360; ++x) {
    const int sy = y + 110 + static_cast<int>(25 * std::sin(x / 17.0) + 10 * std::sin(x / 5.0));
    fillRect(p, 210 + x, sy, 3, 4);
  }
  DrawText(p, 200, y + 180, "a. n. other, sales director");
  DrawText(p, width / 2 - 40, height - 80, "- 1 -", 2);
  return p;
}

RasterPage MakePhotoPage(int width, int height) {
  RasterPage p = MakeBlankRaster(width, height, "photo");
  // Smooth tones in 1/256 steps, Floyd-Steinberg error diffusion in integers.
  std::vector<int> err(static_cast<size_t>(width) + 2, 0), next(static_cast<size_t>(width) + 2, 0);
  for (int y = 0; y < height; ++y) {
    std::fill(next.begin(), next.end(), 0);
    for (int x = 0; x < width; ++x) {
      const double g = 0.5 + 0.28 * std::sin(x / 97.0) * std::cos(y / 71.0) + 0.17 * std::sin((x + 2 * y) / 23.0) +
                       0.05 * std::cos((x - y) / 7.0);
      const int tone = std::clamp(static_cast<int>(g * 255.0), 0, 255) * 16;  // 0 = black .. 4080 = white
      const int v = tone + err[static_cast<size_t>(x) + 1] / 16;
      const int out = v < 2040 ? 0 : 4080;
      if (out == 0) p.Set(x, y);
      const int e = v - out;
      err[static_cast<size_t>(x) + 2] += e * 7;
      next[static_cast<size_t>(x)] += e * 3;
      next[static_cast<size_t>(x) + 1] += e * 5;
      next[static_cast<size_t>(x) + 2] += e * 1;
    }
    std::swap(err, next);
  }
  return p;
}

RasterPage MakeAlmostBlankPage(int width, int height) {
  RasterPage p = MakeBlankRaster(width, height, "almost-blank");
  DrawText(p, 700, height - 180, "page intentionally left blank", 2);
  return p;
}

std::vector<RasterPage> StandardTestPages() { return {MakeLetterPage(), MakePhotoPage(), MakeAlmostBlankPage()}; }

std::vector<std::vector<uint8_t>> EncodeRasterLines(const RasterPage& page, int leftMargin) {
  TFaxLineEncoder enc(page.width, leftMargin);
  std::vector<std::vector<uint8_t>> out;
  out.reserve(page.height);
  for (int y = 0; y < page.height; ++y) {
    const int n = enc.EncodeLine(page.Line(y));
    out.emplace_back(enc.Data(), enc.Data() + n);
  }
  return out;
}

int WriteRasterApf(const std::string& fileName, const std::vector<ApfPageSpec>& pages, const std::string& stationId) {
  TApfWriter w;
  w.Create(fileName);
  for (const ApfPageSpec& def : pages) {
    w.BeginPage(def.fine, def.page->width == 2048);
    for (const auto& line : EncodeRasterLines(*def.page, def.leftMargin))
      w.WriteLine(line.data(), static_cast<int>(line.size()));
    w.EndPage();
  }
  return w.Finish(stationId, std::time(nullptr));
}

int WriteRawApf(const std::string& fileName, const std::vector<uint8_t>& data, uint16_t flags) {
  TApfReceiveWriter w;
  w.Create(fileName, "RAW", std::time(nullptr));
  w.BeginPage(flags);
  w.Append(data.data(), data.size());
  w.EndPage("RAW", std::time(nullptr));
  return w.Close();
}

RasterPage ShiftRight(const RasterPage& page, int leftMargin) {
  RasterPage out = MakeBlankRaster(page.width, page.height, page.name);
  for (int y = 0; y < page.height; ++y)
    for (int x = 0; x + leftMargin < page.width; ++x)
      if (page.Line(y)[x >> 3] & (0x80 >> (x & 7))) out.Set(x + leftMargin, y);
  return out;
}

std::string MakeTempFolder(const std::string& tag) {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/qc-" + tag + "-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) std::abort();
  return buf.data();
}

}  // namespace qc::test
