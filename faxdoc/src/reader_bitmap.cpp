// Bitmap input: rows of a 1-bit bitmap in platform form (set bit = white),
// read in place. The first call that reaches the last row reports the end of
// the page, so an H-row bitmap gives H - 1 coded lines: the program's page
// bitmaps rely on this and keep their bottom row free.
#include "readers.h"

namespace qc {

namespace {

class BitmapReader final : public TFaxInputReader {
 public:
  explicit BitmapReader(const TMonoBitmap& bitmap) : bitmap_(bitmap) {}

  int Open(TFaxConverterContext& ctx, const std::string&) override {
    height_ = bitmap_.Height();
    bytesPerRow_ = bitmap_.BytesPerRow();
    ctx.bytesTotal = static_cast<long long>(bytesPerRow_) * height_;
    rowIndex_ = 1;
    sourceRow_ = 0;
    PlaceImage(ctx, bitmap_.Width());
    return ecOK;
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    morePages = false;
    endOfPage = rowIndex_ >= height_;
    if (sourceRow_ < height_) {
      const size_t rasterBytes = static_cast<size_t>(ctx.RasterBytes());
      if (ctx.centerOffset < rasterBytes) {
        // Pad bits are inverted and coded like pixels (the program's pages
        // are 1728 wide and have none).
        const uint8_t* src = bitmap_.Row(sourceRow_);
        uint8_t* dst = raster + ctx.centerOffset;
        const size_t room = rasterBytes - ctx.centerOffset;
        const size_t n = static_cast<size_t>(bytesPerRow_) < room ? bytesPerRow_ : room;
        for (size_t i = 0; i < n; ++i) dst[i] = static_cast<uint8_t>(~src[i]);
      }
      ++sourceRow_;
      ctx.bytesRead += bytesPerRow_;
    }
    bytes = ctx.RasterBytes();
    ++rowIndex_;
    return ecOK;
  }

  void Close(TFaxConverterContext&) override {}

 private:
  const TMonoBitmap& bitmap_;
  int height_ = 0;
  int bytesPerRow_ = 0;
  int rowIndex_ = 1;
  int sourceRow_ = 0;
};

}  // namespace

std::unique_ptr<TFaxInputReader> MakeBitmapReader(const TMonoBitmap& bitmap) {
  return std::make_unique<BitmapReader>(bitmap);
}

}  // namespace qc
