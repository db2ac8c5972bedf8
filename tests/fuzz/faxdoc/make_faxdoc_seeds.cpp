// Writes the seed inputs of fuzz_apf_unpack and fuzz_mh_decode:
//   make_faxdoc_seeds SEEDS_FOLDER   (creates apf_unpack/ and mh_decode/ in it)
// The seeds are committed; rerun this after changing it.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "faxdoc/apf.h"
#include "faxdoc/t4.h"

using namespace qc;
using Bytes = std::vector<uint8_t>;

namespace {

void Save(const std::string& name, const Bytes& b) {
  std::ofstream(name, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(b.data()), b.size());
}
Bytes Load(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

// A small page: `lines` lines of width, a short black run wandering across.
Bytes CodedLines(int width, int lines, int lm) {
  TFaxLineEncoder enc(width, lm);
  Bytes raster(width / 8), out;
  for (int y = 0; y < lines; ++y) {
    std::fill(raster.begin(), raster.end(), 0);
    if (y % 3) raster[(y * 7) % (width / 8)] = static_cast<uint8_t>(0xF0 >> (y % 4));
    const int n = enc.EncodeLine(raster.data());
    out.insert(out.end(), enc.Data(), enc.Data() + n);
  }
  return out;
}

Bytes PageEnd() {
  TFaxLineEncoder enc;
  const int n = enc.EncodePageEnd();
  return Bytes(enc.Data(), enc.Data() + n);
}

Bytes RecordFile(const std::string& tmp, int pages, bool wide) {
  TApfWriter w;
  w.Create(tmp);
  TFaxLineEncoder enc(wide ? 2048 : 1728, 0);
  Bytes raster(enc.Width() / 8);
  for (int p = 0; p < pages; ++p) {
    w.BeginPage(p % 2 == 0, wide);
    for (int y = 0; y < 6; ++y) {
      std::fill(raster.begin(), raster.end(), 0);
      raster[(y * 11 + p) % raster.size()] = 0x3C;
      const int n = enc.EncodeLine(raster.data());
      w.WriteLine(enc.Data(), n);
    }
    w.EndPage();
  }
  w.Finish("SEED", 0);
  return Load(tmp);
}

void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_faxdoc_seeds SEEDS_FOLDER\n");
    return 2;
  }
  const std::string root = argv[1];
  const std::string apf = root + "/apf_unpack", mh = root + "/mh_decode";
  mkdir(apf.c_str(), 0755);
  mkdir(mh.c_str(), 0755);
  const std::string tmp = root + "/.seed.tmp";

  const Bytes one = RecordFile(tmp, 1, false);
  Save(apf + "/record_page.apf", one);
  Save(apf + "/two_wide_pages.apf", RecordFile(tmp, 2, true));
  {
    TApfReceiveWriter w;
    w.Create(tmp, "REMOTE", 0);
    w.BeginPage(0);
    Bytes data = CodedLines(1728, 8, 0);
    Bytes end = PageEnd();
    data.insert(data.end(), end.begin(), end.end());
    w.Append(data.data(), data.size());
    w.EndPage("REMOTE", 0);
    w.Close();
    Save(apf + "/raw_standard_page.apf", Load(tmp));
  }
  // Hostile headers.
  Bytes many(one.begin(), one.begin() + 80);
  many[32] = 0xFF, many[33] = 0xFF;
  Put32(many, 64, 0);
  Save(apf + "/pagecount_65535_tiny.apf", many);
  Bytes huge = one;
  Put32(huge, 64, 0xFFFFFFF0u);
  huge[68] = 0;  // raw page whose ImageLength lies near 4 GiB
  huge[32] = 2;
  Save(apf + "/imagelength_4gib.apf", huge);
  Bytes bigRecord = one;
  bigRecord[80] = 0x01, bigRecord[81] = 0x20;  // a record of 8193 bytes
  Save(apf + "/record_count_8193.apf", bigRecord);
  Save(apf + "/truncated_page.apf", Bytes(one.begin(), one.begin() + static_cast<long>(one.size() / 2)));
  // The last byte selects the unpacker's mode in the fuzz target: vary it.
  for (uint8_t mode : {0x05, 0x0E, 0x11}) {
    Bytes b = one;
    b.push_back(mode);
    Save(apf + "/record_page_mode_" + std::to_string(mode) + ".apf", b);
  }

  // mh_decode: first byte is the chunk size selector, then coded bytes.
  auto withChunk = [](uint8_t c, const Bytes& d) {
    Bytes b{c};
    b.insert(b.end(), d.begin(), d.end());
    return b;
  };
  Bytes page = CodedLines(1728, 10, 50);
  const Bytes end = PageEnd();
  page.insert(page.end(), end.begin(), end.end());
  Save(mh + "/page_1728.mh", withChunk(0, page));
  Bytes wide = CodedLines(2048, 6, 0);
  Save(mh + "/lines_2048_no_end.mh", withChunk(6, wide));
  Bytes damaged = page;
  for (size_t i = 5; i < damaged.size(); i += 17) damaged[i] ^= 0x24;
  Save(mh + "/damaged_page.mh", withChunk(2, damaged));
  Bytes fill = {0x00, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x01, 0x00, 0x01};
  Save(mh + "/fill_and_ones.mh", withChunk(1, fill));
  unlink(tmp.c_str());
  return 0;
}
