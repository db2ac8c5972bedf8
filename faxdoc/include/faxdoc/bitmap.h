// The library's own monochrome bitmap: what display and printing receive and
// what the converter reads. Platform form: a set bit is white, rows are padded
// to an even number of bytes, bit 7 of a row's first byte is the leftmost pixel.
//
// The raster form used by the coder (a set bit is black, (width + 7) / 8 bytes
// per line) is reached through the helpers at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qc {

class TMonoBitmap {
 public:
  TMonoBitmap() = default;
  // A bitmap of width x height pixels with every bit set (all white for a
  // 1-bit bitmap). Other depths exist only so that callers can be told that
  // a bitmap is not monochrome; their pixels are not interpreted here.
  TMonoBitmap(int width, int height, int bitsPerPixel = 1);

  // Bytes per row of a bitmap of this width and depth: rounded up to 2.
  static int RowBytesFor(int width, int bitsPerPixel = 1);

  int Width() const { return width_; }
  int Height() const { return height_; }
  int BitsPerPixel() const { return bitsPerPixel_; }
  int BytesPerRow() const { return bytesPerRow_; }
  bool IsEmpty() const { return width_ == 0 || height_ == 0; }

  uint8_t* Bits() { return bits_.data(); }
  const uint8_t* Bits() const { return bits_.data(); }
  size_t SizeBytes() const { return bits_.size(); }
  uint8_t* Row(int y) { return bits_.data() + static_cast<size_t>(y) * bytesPerRow_; }
  const uint8_t* Row(int y) const { return bits_.data() + static_cast<size_t>(y) * bytesPerRow_; }

  // 1-bit bitmaps only. Pixels outside the bitmap read as white, and
  // setting them does nothing.
  bool IsBlack(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return false;
    return (Row(y)[x >> 3] & (0x80 >> (x & 7))) == 0;
  }
  void SetBlack(int x, int y, bool black);
  // Every bit set (white) or clear (black), pad bits included.
  void Fill(bool white);

  // Takes over a block already in platform form (bytesPerRow even, >= the
  // width's need); used by the unpacker to avoid a copy.
  static TMonoBitmap Adopt(int width, int height, int bytesPerRow, std::vector<uint8_t>&& bits);

 private:
  int width_ = 0;
  int height_ = 0;
  int bitsPerPixel_ = 1;
  int bytesPerRow_ = 0;
  std::vector<uint8_t> bits_;
};

// Raster line bytes of a line of `width` pixels.
inline int RasterBytesFor(int width) { return (width + 7) / 8; }

// One bitmap row into raster form: the first `rasterBytes` bytes, inverted;
// bytes beyond the bitmap's row come out white (0).
void BitmapRowToRaster(const TMonoBitmap& bitmap, int y, uint8_t* raster, int rasterBytes);

// The whole bitmap in raster form, RasterBytesFor(width) bytes per line.
std::vector<uint8_t> BitmapToRaster(const TMonoBitmap& bitmap);

// A 1-bit bitmap of width x height built from raster lines of
// `rasterBytesPerLine` bytes each; pixels beyond `width` and pad bits are white.
TMonoBitmap RasterToBitmap(const uint8_t* raster, int width, int height, int rasterBytesPerLine);

}  // namespace qc
