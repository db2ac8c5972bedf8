#include "faxdoc/bitmap.h"

#include <algorithm>
#include <cstring>

namespace qc {

TMonoBitmap::TMonoBitmap(int width, int height, int bitsPerPixel)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      bitsPerPixel_(bitsPerPixel),
      bytesPerRow_(RowBytesFor(std::max(width, 0), bitsPerPixel)),
      bits_(static_cast<size_t>(bytesPerRow_) * height_, 0xFF) {}

int TMonoBitmap::RowBytesFor(int width, int bitsPerPixel) {
  const long bitsPerRow = static_cast<long>(width) * bitsPerPixel;
  return static_cast<int>((bitsPerRow + 15) / 16 * 2);
}

void TMonoBitmap::SetBlack(int x, int y, bool black) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  uint8_t& b = Row(y)[x >> 3];
  const uint8_t mask = 0x80 >> (x & 7);
  if (black)
    b &= static_cast<uint8_t>(~mask);
  else
    b |= mask;
}

void TMonoBitmap::Fill(bool white) { std::fill(bits_.begin(), bits_.end(), white ? 0xFF : 0x00); }

TMonoBitmap TMonoBitmap::Adopt(int width, int height, int bytesPerRow, std::vector<uint8_t>&& bits) {
  TMonoBitmap b;
  b.width_ = width;
  b.height_ = height;
  b.bitsPerPixel_ = 1;
  b.bytesPerRow_ = bytesPerRow;
  b.bits_ = std::move(bits);
  b.bits_.resize(static_cast<size_t>(bytesPerRow) * height, 0xFF);
  return b;
}

void BitmapRowToRaster(const TMonoBitmap& bitmap, int y, uint8_t* raster, int rasterBytes) {
  const int n = std::min(rasterBytes, bitmap.BytesPerRow());
  const uint8_t* row = bitmap.Row(y);
  for (int i = 0; i < n; ++i) raster[i] = static_cast<uint8_t>(~row[i]);
  if (rasterBytes > n) std::memset(raster + n, 0, rasterBytes - n);
  // Bits past the width are pad bits of the platform row, not pixels.
  const int widthBytes = RasterBytesFor(bitmap.Width());
  if (widthBytes <= rasterBytes) {
    if (bitmap.Width() & 7) raster[widthBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (bitmap.Width() & 7));
    if (rasterBytes > widthBytes) std::memset(raster + widthBytes, 0, rasterBytes - widthBytes);
  }
}

std::vector<uint8_t> BitmapToRaster(const TMonoBitmap& bitmap) {
  const int bytes = RasterBytesFor(bitmap.Width());
  std::vector<uint8_t> out(static_cast<size_t>(bytes) * bitmap.Height());
  for (int y = 0; y < bitmap.Height(); ++y) BitmapRowToRaster(bitmap, y, out.data() + static_cast<size_t>(y) * bytes, bytes);
  return out;
}

TMonoBitmap RasterToBitmap(const uint8_t* raster, int width, int height, int rasterBytesPerLine) {
  TMonoBitmap b(width, height);
  const int n = std::min(RasterBytesFor(width), rasterBytesPerLine);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = b.Row(y);
    const uint8_t* src = raster + static_cast<size_t>(y) * rasterBytesPerLine;
    for (int i = 0; i < n; ++i) row[i] = static_cast<uint8_t>(~src[i]);
    if ((width & 7) && n == RasterBytesFor(width)) row[n - 1] |= static_cast<uint8_t>(0xFF >> (width & 7));
  }
  return b;
}

}  // namespace qc
