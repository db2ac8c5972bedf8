#include "tiff_mem.h"

#include <tiffio.h>

#include <algorithm>
#include <cstring>

namespace qc::test {

namespace {

struct MemFile {
  std::vector<uint8_t> data;
  toff_t pos = 0;
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemFile*>(h);
  if (m->pos >= m->data.size()) return 0;
  const tmsize_t k = std::min<tmsize_t>(n, static_cast<tmsize_t>(m->data.size() - m->pos));
  std::memcpy(buf, m->data.data() + m->pos, static_cast<size_t>(k));
  m->pos += static_cast<toff_t>(k);
  return k;
}
tmsize_t memWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* m = static_cast<MemFile*>(h);
  if (m->pos + n > m->data.size()) m->data.resize(m->pos + n);
  std::memcpy(m->data.data() + m->pos, buf, static_cast<size_t>(n));
  m->pos += static_cast<toff_t>(n);
  return n;
}
toff_t memSeek(thandle_t h, toff_t off, int whence) {
  auto* m = static_cast<MemFile*>(h);
  if (whence == SEEK_SET)
    m->pos = off;
  else if (whence == SEEK_CUR)
    m->pos += off;
  else
    m->pos = m->data.size() + off;
  return m->pos;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<MemFile*>(h)->data.size(); }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

TIFF* open(MemFile& m, const char* mode) {
  return TIFFClientOpen("mem", mode, &m, memRead, memWrite, memSeek, memClose, memSize, memMap, memUnmap);
}

void setTags(TIFF* t, int width, int height) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(height));
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
}

}  // namespace

void QuietLibtiff() {
  TIFFSetWarningHandler(nullptr);
  TIFFSetErrorHandler(nullptr);
}

std::vector<uint8_t> WrapMhInTiff(const std::vector<uint8_t>& coded, int width, int height) {
  MemFile m;
  TIFF* t = open(m, "w");
  setTags(t, width, height);
  TIFFWriteRawStrip(t, 0, const_cast<uint8_t*>(coded.data()), static_cast<tmsize_t>(coded.size()));
  TIFFClose(t);
  return m.data;
}

std::vector<uint8_t> EncodeTiffMh(const RasterPage& page) {
  MemFile m;
  TIFF* t = open(m, "w");
  setTags(t, page.width, page.height);
  TIFFWriteEncodedStrip(t, 0, const_cast<uint8_t*>(page.raster.data()), static_cast<tmsize_t>(page.raster.size()));
  TIFFClose(t);
  return m.data;
}

bool DecodeTiff(const std::vector<uint8_t>& tiff, RasterPage& out) {
  MemFile m;
  m.data = tiff;
  TIFF* t = open(m, "r");
  if (!t) return false;
  uint32_t w = 0, h = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  out = MakeBlankRaster(static_cast<int>(w), static_cast<int>(h), out.name);
  const tmsize_t got = TIFFReadEncodedStrip(t, 0, out.raster.data(), static_cast<tmsize_t>(out.raster.size()));
  TIFFClose(t);
  return got == static_cast<tmsize_t>(out.raster.size());
}

std::vector<uint8_t> RawStrip(const std::vector<uint8_t>& tiff) {
  MemFile m;
  m.data = tiff;
  TIFF* t = open(m, "r");
  if (!t) return {};
  toff_t* counts = nullptr;
  TIFFGetField(t, TIFFTAG_STRIPBYTECOUNTS, &counts);
  std::vector<uint8_t> raw(counts ? counts[0] : 0);
  if (!raw.empty()) TIFFReadRawStrip(t, 0, raw.data(), static_cast<tmsize_t>(raw.size()));
  TIFFClose(t);
  return raw;
}

}  // namespace qc::test
