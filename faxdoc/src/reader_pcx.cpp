// PCX and DCX input: 1-bit run-length coded PCX images (ZSoft PCX file
// format, version 3.0 and later), and DCX files that gather PCX pages.
#include <algorithm>
#include <cstring>
#include <vector>

#include "input_file.h"
#include "readers.h"

namespace qc {

namespace {

constexpr int kPcxHeaderSize = 128;
constexpr uint8_t kPcxManufacturer = 10;
constexpr uint8_t kPcxEncodingRle = 1;
constexpr uint32_t kDcxMagic = 987654321;
constexpr int kDcxMaxPages = 1023;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// One PCX image inside a file, decoded row by row.
class PcxImage {
 public:
  int Open(TFaxConverterContext& ctx, TInputFile& file, uint64_t offset) {
    uint8_t h[kPcxHeaderSize];
    if (file.ReadAt(offset, h, sizeof h)) return bad(file);
    const int xMin = Le16(h + 4), yMin = Le16(h + 6), xMax = Le16(h + 8), yMax = Le16(h + 10);
    const int planes = h[65];
    bytesPerLine_ = Le16(h + 66);
    if (h[0] != kPcxManufacturer || h[2] != kPcxEncodingRle || h[3] != 1) return ecBadGraphicsFormat;
    // Several planes of one bit are colour images.
    if (planes > 1 || xMax < xMin || yMax < yMin) return ecBadGraphicsFormat;
    width_ = xMax - xMin + 1;
    height_ = yMax - yMin + 1;
    if (width_ > ctx.width) return ecBadGraphicsFormat;
    keep_ = static_cast<size_t>((width_ + 7) / 8);
    if (bytesPerLine_ < keep_) return ecBadGraphicsFormat;
    row_ = 0;
    run_ = 0;
    file.Seek(offset + kPcxHeaderSize);
    PlaceImage(ctx, width_);
    return ecOK;
  }

  bool Done() const { return row_ >= height_; }

  int Row(TFaxConverterContext& ctx, TInputFile& file, uint8_t* raster) {
    const uint64_t before = file.Position();
    size_t i = 0;
    while (i < bytesPerLine_) {
      if (run_ == 0) {
        const int b = file.NextByte();
        if (b < 0) return bad(file);
        if (b >= 0xC0) {
          // A count byte: its low 6 bits repeat the next byte (0 gives none).
          const int v = file.NextByte();
          if (v < 0) return bad(file);
          run_ = static_cast<unsigned>(b & 0x3F);
          runByte_ = static_cast<uint8_t>(v);
          continue;
        }
        run_ = 1;
        runByte_ = static_cast<uint8_t>(b);
      }
      // PCX stores 1 = white.
      if (i < keep_) rowBuf_[i] = static_cast<uint8_t>(~runByte_);
      --run_;
      ++i;
    }
    ctx.bytesRead += static_cast<long long>(file.Position() - before);
    PutImageRow(ctx, rowBuf_, keep_, width_, raster);
    ++row_;
    return ecOK;
  }

 private:
  static int bad(const TInputFile& file) { return file.Error() ? file.Error() : ecBadGraphicsFormat; }

  int width_ = 0;
  int height_ = 0;
  size_t bytesPerLine_ = 0;
  size_t keep_ = 0;
  int row_ = 0;
  unsigned run_ = 0;
  uint8_t runByte_ = 0;
  uint8_t rowBuf_[kMaxRasterBytes];
};

class PcxReader final : public TFaxInputReader {
 public:
  std::string DefaultExtension() const override { return "PCX"; }

  int Open(TFaxConverterContext& ctx, const std::string& fileName) override {
    if (int r = file_.Open(fileName)) return r;
    ctx.bytesTotal = file_.Size();
    return image_.Open(ctx, file_, 0);
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    morePages = false;
    bytes = 0;
    endOfPage = image_.Done();
    if (endOfPage) return ecOK;
    bytes = ctx.RasterBytes();
    return image_.Row(ctx, file_, raster);
  }

  void Close(TFaxConverterContext&) override { file_.Close(); }

 private:
  TInputFile file_;
  PcxImage image_;
};

class DcxReader final : public TFaxInputReader {
 public:
  std::string DefaultExtension() const override { return "DCX"; }

  int Open(TFaxConverterContext& ctx, const std::string& fileName) override {
    if (int r = file_.Open(fileName)) return r;
    ctx.bytesTotal = file_.Size();
    uint8_t magic[4];
    if (file_.ReadAt(0, magic, 4) || Le32(magic) != kDcxMagic) return bad();
    pages_.clear();
    for (int i = 0; i < kDcxMaxPages; ++i) {
      uint8_t entry[4];
      if (file_.ReadAt(4 + 4ull * i, entry, 4)) break;
      const uint32_t offset = Le32(entry);
      if (offset == 0) break;
      pages_.push_back(offset);
    }
    std::sort(pages_.begin(), pages_.end());
    pages_.erase(std::unique(pages_.begin(), pages_.end()), pages_.end());
    if (pages_.empty()) return ecBadGraphicsFormat;
    page_ = 0;
    return image_.Open(ctx, file_, pages_[0]);
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    bytes = 0;
    morePages = page_ + 1 < pages_.size();
    endOfPage = image_.Done();
    if (endOfPage) {
      // The next page's placement must be known before its first line.
      if (morePages) return image_.Open(ctx, file_, pages_[++page_]);
      return ecOK;
    }
    bytes = ctx.RasterBytes();
    return image_.Row(ctx, file_, raster);
  }

  void Close(TFaxConverterContext&) override { file_.Close(); }

 private:
  int bad() const { return file_.Error() ? file_.Error() : ecBadGraphicsFormat; }

  TInputFile file_;
  PcxImage image_;
  std::vector<uint32_t> pages_;
  size_t page_ = 0;
};

}  // namespace

std::unique_ptr<TFaxInputReader> MakePcxReader() {
  return std::make_unique<PcxReader>();
}

std::unique_ptr<TFaxInputReader> MakeDcxReader() {
  return std::make_unique<DcxReader>();
}

}  // namespace qc
