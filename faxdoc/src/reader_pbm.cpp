// Binary PBM ("P4", Netpbm) input: set bit = black, rows of (width + 7) / 8
// bytes, most significant bit first. Every row of the image is coded; a file
// holding several images in a row gives one page each.
#include <algorithm>

#include "input_file.h"
#include "readers.h"

namespace qc {

namespace {

constexpr long long kMaxDimension = 1LL << 31;

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

class PbmReader final : public TFaxInputReader {
 public:
  std::string DefaultExtension() const override { return "PBM"; }

  int Open(TFaxConverterContext& ctx, const std::string& fileName) override {
    if (int r = file_.Open(fileName)) return r;
    ctx.bytesTotal = file_.Size();
    return openImage(ctx);
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    bytes = 0;
    endOfPage = row_ >= height_;
    if (endOfPage) {
      morePages = nextImageFollows();
      return morePages ? openImage(ctx) : ecOK;
    }
    morePages = true;
    const uint64_t keep = std::min<uint64_t>(rowBytes_, ctx.RasterBytes());
    if (file_.Read(rowBuf_, keep) != static_cast<long>(keep)) return bad();
    if (rowBytes_ > keep) {
      const uint64_t next = file_.Position() + (rowBytes_ - keep);
      if (next > static_cast<uint64_t>(file_.Size())) return bad();
      file_.Seek(next);
    }
    ctx.bytesRead += static_cast<long long>(rowBytes_);
    PutImageRow(ctx, rowBuf_, keep, width_, raster);
    bytes = ctx.RasterBytes();
    ++row_;
    return ecOK;
  }

  void Close(TFaxConverterContext&) override { file_.Close(); }

 private:
  int bad() const { return file_.Error() ? file_.Error() : ecBadGraphicsFormat; }

  bool nextImageFollows() {
    const uint64_t at = file_.Position();
    const bool follows = file_.NextByte() == 'P' && file_.NextByte() == '4';
    file_.Seek(at);
    return follows;
  }

  // Netpbm header: "P4", then width and height as decimal numbers separated by
  // white space and "#" comments, then exactly one white-space character.
  int openImage(TFaxConverterContext& ctx) {
    if (file_.NextByte() != 'P' || file_.NextByte() != '4') return bad();
    long long w = 0, h = 0;
    if (int r = number(w)) return r;
    if (int r = number(h)) return r;
    if (!IsSpace(file_.NextByte())) return bad();
    if (w == 0) return ecBadGraphicsFormat;
    width_ = w;
    height_ = h;
    rowBytes_ = static_cast<uint64_t>((w + 7) / 8);
    const uint64_t left = static_cast<uint64_t>(file_.Size()) - file_.Position();
    if (rowBytes_ * static_cast<uint64_t>(h) > left) return ecBadGraphicsFormat;  // truncated image
    row_ = 0;
    PlaceImage(ctx, width_);
    return ecOK;
  }

  int number(long long& out) {
    int c = file_.NextByte();
    for (;;) {
      if (c == '#') {
        while (c != '\n' && c != '\r' && c >= 0) c = file_.NextByte();
      } else if (IsSpace(c)) {
        c = file_.NextByte();
      } else {
        break;
      }
    }
    if (c < '0' || c > '9') return bad();
    out = 0;
    while (c >= '0' && c <= '9') {
      out = out * 10 + (c - '0');
      if (out > kMaxDimension) return ecBadGraphicsFormat;
      c = file_.NextByte();
    }
    // The character after the number belongs to the header's separators.
    file_.Seek(file_.Position() - (c >= 0 ? 1 : 0));
    return ecOK;
  }

  TInputFile file_;
  long long width_ = 0;
  long long height_ = 0;
  long long row_ = 0;
  uint64_t rowBytes_ = 0;
  uint8_t rowBuf_[kMaxRasterBytes];
};

}  // namespace

std::unique_ptr<TFaxInputReader> MakePbmReader() {
  return std::make_unique<PbmReader>();
}

}  // namespace qc
