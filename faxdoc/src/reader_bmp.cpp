// BMP input: Windows and OS/2 bitmaps, rows delivered top to bottom. One-bit
// images are taken as they are; images of more colours are reduced to black
// and white by ordered dithering, row by row as they are read.
#include <array>
#include <cstring>
#include <vector>

#include "input_file.h"
#include "readers.h"

namespace qc {

namespace {

constexpr int kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;   // BITMAPCOREHEADER (OS/2)
constexpr uint32_t kInfoHeaderSize = 40;   // BITMAPINFOHEADER and its larger successors
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr uint64_t kMasksOffset = kFileHeaderSize + kInfoHeaderSize;

// TDitherMatrix: a 16 x 16 ordered-dither (Bayer) threshold matrix, thresholds
// 0..254, so that pure white stays white and pure black stays black.
struct TDitherMatrix {
  uint8_t t[16][16];
};

constexpr TDitherMatrix MakeDitherMatrix() {
  TDitherMatrix m{};
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) {
      // Bayer index: interleave the bits of x ^ y and y, most significant first.
      int v = 0;
      const int a = x ^ y;
      for (int bit = 3; bit >= 0; --bit) {
        v = (v << 1) | ((a >> bit) & 1);
        v = (v << 1) | ((y >> bit) & 1);
      }
      m.t[y][x] = static_cast<uint8_t>(v * 255 / 256);
    }
  }
  return m;
}

constexpr TDitherMatrix kDither = MakeDitherMatrix();

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// A colour channel given by a bit mask, scaled to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  void Set(uint32_t m) {
    mask = m;
    shift = 0;
    if (m == 0) return;
    while (!((m >> shift) & 1)) ++shift;
    max = m >> shift;
  }
  unsigned Get(uint32_t v) const { return max ? static_cast<unsigned>((((v & mask) >> shift) * 255u) / max) : 0; }
};

class BmpReader final : public TFaxInputReader {
 public:
  std::string DefaultExtension() const override { return "BMP"; }

  int Open(TFaxConverterContext& ctx, const std::string& fileName) override {
    if (int r = file_.Open(fileName)) return r;
    const uint64_t size = static_cast<uint64_t>(file_.Size());
    ctx.bytesTotal = static_cast<long long>(size);
    uint8_t h[kFileHeaderSize + kInfoHeaderSize] = {};
    if (file_.ReadAt(0, h, kFileHeaderSize + 4) || h[0] != 'B' || h[1] != 'M') return bad();
    const uint32_t dataOffset = Le32(h + 10);
    const uint32_t infoSize = Le32(h + 14);
    int64_t width = 0, height = 0;
    uint32_t compression = kBiRgb, colorsUsed = 0;
    unsigned paletteEntryBytes = 4;
    if (infoSize == kCoreHeaderSize) {
      if (file_.ReadAt(kFileHeaderSize, h + kFileHeaderSize, kCoreHeaderSize)) return bad();
      width = Le16(h + 18);
      height = Le16(h + 20);
      bitCount_ = Le16(h + 24);
      paletteEntryBytes = 3;
    } else if (infoSize >= kInfoHeaderSize) {
      if (file_.ReadAt(kFileHeaderSize, h + kFileHeaderSize, kInfoHeaderSize)) return bad();
      width = static_cast<int32_t>(Le32(h + 18));
      height = static_cast<int32_t>(Le32(h + 22));
      bitCount_ = Le16(h + 28);
      compression = Le32(h + 30);
      colorsUsed = Le32(h + 46);
    } else {
      return ecBadGraphicsFormat;
    }
    topDown_ = height < 0;
    if (height < 0) height = -height;
    if (width <= 0 || width > ctx.width || height == 0) return ecBadGraphicsFormat;
    switch (bitCount_) {
      case 1: case 4: case 8: case 16: case 24: case 32: break;
      default: return ecBadGraphicsFormat;
    }
    if (compression == kBiBitfields && (bitCount_ == 16 || bitCount_ == 32)) {
      uint8_t m[12];
      if (file_.ReadAt(kMasksOffset, m, sizeof m)) return bad();
      red_.Set(Le32(m));
      green_.Set(Le32(m + 4));
      blue_.Set(Le32(m + 8));
    } else if (compression == kBiRgb) {
      if (bitCount_ == 16) {
        red_.Set(0x7C00);
        green_.Set(0x03E0);
        blue_.Set(0x001F);
      } else {
        red_.Set(0xFF0000);
        green_.Set(0x00FF00);
        blue_.Set(0x0000FF);
      }
    } else {
      return ecBadGraphicsFormat;  // run-length and embedded JPEG/PNG images
    }
    width_ = width;
    height_ = height;
    stride_ = (static_cast<uint64_t>(width) * bitCount_ + 31) / 32 * 4;
    if (dataOffset > size || stride_ * height_ > size - dataOffset) return ecBadGraphicsFormat;
    dataOffset_ = dataOffset;
    grey_.fill(0);
    if (bitCount_ <= 8) {
      unsigned entries = 1u << bitCount_;
      if (colorsUsed != 0 && colorsUsed < entries) entries = colorsUsed;
      const uint64_t paletteOffset = kFileHeaderSize + uint64_t{infoSize};
      for (unsigned i = 0; i < entries; ++i) {
        uint8_t e[4];
        if (file_.ReadAt(paletteOffset + uint64_t{i} * paletteEntryBytes, e, paletteEntryBytes)) return bad();
        grey_[i] = static_cast<uint8_t>((unsigned{e[0]} + e[1] + e[2]) / 3);  // B, G, R
      }
    }
    // One-bit images: the darker palette entry is black.
    invert_ = grey_[0] < grey_[1];
    row_.resize(static_cast<size_t>(stride_));
    y_ = 0;
    PlaceImage(ctx, width_);
    return ecOK;
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    morePages = false;
    bytes = 0;
    endOfPage = y_ >= height_;
    if (endOfPage) return ecOK;
    const int64_t fileRow = topDown_ ? y_ : height_ - 1 - y_;
    if (file_.ReadAt(dataOffset_ + static_cast<uint64_t>(fileRow) * stride_, row_.data(), row_.size())) return bad();
    ctx.bytesRead += static_cast<long long>(stride_);
    const size_t rowBytes = static_cast<size_t>((width_ + 7) / 8);
    if (bitCount_ == 1) {
      if (invert_) {
        for (size_t i = 0; i < rowBytes; ++i) row_[i] = static_cast<uint8_t>(~row_[i]);
      }
      PutImageRow(ctx, row_.data(), rowBytes, width_, raster);  // pad bits come out white
    } else {
      dither(static_cast<unsigned>(y_ & 15));
      PutImageRow(ctx, bits_, rowBytes, width_, raster);
    }
    bytes = ctx.RasterBytes();
    ++y_;
    return ecOK;
  }

  void Close(TFaxConverterContext&) override { file_.Close(); }

 private:
  int bad() const { return file_.Error() ? file_.Error() : ecBadGraphicsFormat; }

  // The current row into raster form: black where the pixel's grey level
  // does not exceed its threshold.
  void dither(unsigned ty) {
    const uint8_t* thresholds = kDither.t[ty];
    std::memset(bits_, 0, static_cast<size_t>((width_ + 7) / 8));
    const uint8_t* p = row_.data();
    for (int64_t x = 0; x < width_; ++x) {
      unsigned grey;
      switch (bitCount_) {
        case 4: grey = grey_[(p[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F]; break;
        case 8: grey = grey_[p[x]]; break;
        case 16: {
          const uint32_t v = Le16(p + 2 * x);
          grey = (red_.Get(v) + green_.Get(v) + blue_.Get(v)) / 3;
          break;
        }
        case 24: grey = (unsigned{p[3 * x]} + p[3 * x + 1] + p[3 * x + 2]) / 3; break;
        default: {
          const uint32_t v = Le32(p + 4 * x);
          grey = (red_.Get(v) + green_.Get(v) + blue_.Get(v)) / 3;
          break;
        }
      }
      if (grey <= thresholds[x & 15]) bits_[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
  }

  TInputFile file_;
  unsigned bitCount_ = 0;
  int64_t width_ = 0;
  int64_t height_ = 0;
  int64_t y_ = 0;
  uint64_t stride_ = 0;
  uint64_t dataOffset_ = 0;
  bool topDown_ = false;
  bool invert_ = false;
  std::array<uint8_t, 256> grey_{};
  Channel red_, green_, blue_;
  std::vector<uint8_t> row_;
  uint8_t bits_[kMaxRasterBytes];
};

}  // namespace

std::unique_ptr<TFaxInputReader> MakeBmpReader() {
  return std::make_unique<BmpReader>();
}

}  // namespace qc
