// MH coding of the three test pages, ours and libtiff's side by side, and the
// unpacker on the letter page. Rates are pages per second ("pages/s").
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "faxdoc/apf.h"
#include "faxdoc/bitmap.h"
#include "faxdoc/converter.h"
#include "faxdoc/t4.h"
#include "faxdoc/unpacker.h"
#include "test_pages.h"
#include "tiff_mem.h"

namespace {

using namespace qc;

struct Fixture {
  std::vector<test::RasterPage> pages = test::StandardTestPages();
  std::vector<std::vector<uint8_t>> coded;  // our coding, LM 0, with page end
  std::vector<std::vector<uint8_t>> tiffs;  // the same bytes as a TIFF strip
  std::string folder = test::MakeTempFolder("bench");
  std::string letterApf = folder + "/letter.apf";

  Fixture() {
    test::QuietLibtiff();
    for (const auto& p : pages) {
      std::vector<uint8_t> c;
      for (const auto& l : test::EncodeRasterLines(p, 0)) c.insert(c.end(), l.begin(), l.end());
      TFaxLineEncoder enc;
      c.insert(c.end(), enc.Data(), enc.Data() + enc.EncodePageEnd());
      tiffs.push_back(test::WrapMhInTiff(c, p.width, p.height));
      coded.push_back(std::move(c));
    }
    test::WriteRasterApf(letterApf, {{&pages[0], true, 0}});
  }
  ~Fixture() { std::filesystem::remove_all(folder); }
};

Fixture& F() {
  static Fixture f;
  return f;
}

void Pages(benchmark::State& state) {
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel(F().pages[state.range(0)].name);
}

void BM_EncodeOurs(benchmark::State& state) {
  const test::RasterPage& page = F().pages[state.range(0)];
  std::vector<uint8_t> out(1 << 20);
  TFaxLineEncoder enc(page.width, 0);
  for (auto _ : state) {
    size_t at = 0;
    for (int y = 0; y < page.height; ++y) {
      const int n = enc.EncodeLine(page.Line(y));
      if (at + n > out.size()) out.resize(2 * out.size());
      std::memcpy(out.data() + at, enc.Data(), n);
      at += n;
    }
    const int n = enc.EncodePageEnd();
    std::memcpy(out.data() + at, enc.Data(), n);
    benchmark::DoNotOptimize(out.data());
  }
  Pages(state);
}

void BM_EncodeLibtiff(benchmark::State& state) {
  const test::RasterPage& page = F().pages[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(test::EncodeTiffMh(page));
  Pages(state);
}

void BM_DecodeOurs(benchmark::State& state) {
  const test::RasterPage& page = F().pages[state.range(0)];
  const std::vector<uint8_t>& coded = F().coded[state.range(0)];
  std::vector<uint8_t> raster(page.raster.size());
  size_t at = 0;
  TFaxLineDecoder dec;
  dec.SetLineSink([&](const uint8_t* l, int n) {
    if (at + n <= raster.size()) std::memcpy(raster.data() + at, l, n);
    at += n;
  });
  for (auto _ : state) {
    at = 0;
    dec.StartPage();
    dec.DecodeBytes(coded.data(), coded.size());
    benchmark::DoNotOptimize(raster.data());
  }
  if (raster != page.raster) state.SkipWithError("our decoder gave another raster");
  Pages(state);
}

void BM_DecodeLibtiff(benchmark::State& state) {
  const test::RasterPage& page = F().pages[state.range(0)];
  const std::vector<uint8_t>& tiff = F().tiffs[state.range(0)];
  test::RasterPage out;
  for (auto _ : state) {
    test::DecodeTiff(tiff, out);
    benchmark::DoNotOptimize(out.raster.data());
  }
  if (out.raster != page.raster) state.SkipWithError("libtiff gave another raster");
  Pages(state);
}

void BM_UnpackPageAsBitmap(benchmark::State& state) {
  TQcFaxUnpacker u;
  u.SetInFileName(F().letterApf);
  for (auto _ : state) benchmark::DoNotOptimize(u.UnpackPageAsBitmap(1));
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel("letter");
}

// The program's use: a 1728 x 2156 page bitmap into a fine one-page APF file.
void BM_ConvertBitmapToApf(benchmark::State& state) {
  const test::RasterPage& page = F().pages[0];
  const TMonoBitmap bitmap = RasterToBitmap(page.raster.data(), page.width, page.height, page.width / 8);
  TQcFaxConverter c;
  c.SetOptions(coYield);
  c.SetResolution(frHigh);
  c.SetLeftMargin(0);
  c.SetOutFileName(F().folder + "/converted.apf");
  for (auto _ : state) c.ConvertBitmapToApf(bitmap);
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.SetLabel("letter");
}

BENCHMARK(BM_EncodeOurs)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeLibtiff)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeOurs)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeLibtiff)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ConvertBitmapToApf)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnpackPageAsBitmap)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
