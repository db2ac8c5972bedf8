// Text input: each text line becomes glyph-row high scan lines of the loaded
// font; form feeds and LinesPerPage break pages.
#include <string>

#include "input_file.h"
#include "readers.h"

namespace qc {

namespace {

class TextReader final : public TFaxInputReader {
 public:
  std::string DefaultExtension() const override { return "TXT"; }

  int Open(TFaxConverterContext& ctx, const std::string& fileName) override {
    if (int r = file_.Open(fileName)) return r;
    ctx.bytesTotal = file_.Size();
    if (ctx.tabStop == 0) ctx.tabStop = 4;
    if (ctx.font.bytesPerGlyph == 0) {
      const int size = ctx.fontType == ffSmall ? kSmallFontBytes : kStandardFontBytes;
      if (int r = LoadFaxFont(ctx, size, ctx.fine)) return r;
    }
    const int cell = ctx.font.cellWidth;
    maxChars_ = static_cast<size_t>(ctx.width / cell - ctx.leftMargin / cell);
    if (maxChars_ > kMaxTextLineChars) maxChars_ = kMaxTextLineChars;
    linesOnPage_ = 0;
    glyphRow_ = 0;
    line_.clear();
    remainder_.clear();
    pending_ = false;
    return ecOK;
  }

  int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
              bool& morePages) override {
    endOfPage = false;
    morePages = true;
    bytes = 0;
    while (glyphRow_ == 0) {
      if (!pending_ && file_.AtEnd()) {
        if (int e = file_.Error()) return e;
        morePages = false;
        // An empty page still gets one blank scan line.
        endOfPage = ctx.lineCounter != 1;
        return ecOK;
      }
      std::string text;
      const bool fromRemainder = pending_;
      if (pending_) {
        text.swap(remainder_);
        pending_ = false;
      } else if (int r = readLine(ctx, text)) {
        return r;
      }
      const size_t ff = text.find('\f');
      if (ff != std::string::npos) {
        remainder_.assign(text, ff + 1, kMaxTextLineChars);
        pending_ = true;
        text.resize(ff);
      }
      expandTabs(ctx, text);
      if (text.size() > maxChars_) text.resize(maxChars_);
      line_.swap(text);
      glyphRow_ = 1;
      ++linesOnPage_;
      if (fromRemainder || (ctx.linesPerPage != 0 && linesOnPage_ == ctx.linesPerPage + 1)) {
        endOfPage = true;
        if (fromRemainder && line_.empty()) {
          // Never open a page with the empty rest of a form-feed line.
          glyphRow_ = 0;
          linesOnPage_ = 0;
          morePages = pending_ || !file_.AtEnd();
        } else {
          linesOnPage_ = 1;
        }
        return ecOK;
      }
    }
    RenderTextRow(ctx, line_, glyphRow_, std::span<uint8_t>(raster, ctx.RasterBytes()));
    bytes = static_cast<int>((line_.size() * ctx.font.cellWidth + 7) / 8);
    if (++glyphRow_ > ctx.font.rows) glyphRow_ = 0;
    return ecOK;
  }

  void Close(TFaxConverterContext&) override { file_.Close(); }

 private:
  // One input line (ended by LF, CR LF or CR); at most 144 characters are
  // kept, the rest of the line is skipped.
  int readLine(TFaxConverterContext& ctx, std::string& text) {
    long long length = 0;
    for (;;) {
      const int b = file_.NextByte();
      if (b == TInputFile::kEof) break;
      if (b < 0) return b;
      if (b == '\n') break;
      if (b == '\r') {
        if (!file_.AtEnd()) {
          const uint64_t at = file_.Position();
          if (file_.NextByte() != '\n') file_.Seek(at);
        }
        break;
      }
      if (text.size() < kMaxTextLineChars) text.push_back(static_cast<char>(b));
      ++length;
    }
    if (int e = file_.Error()) return e;
    ctx.bytesRead += length + 2;
    if (ctx.bytesRead > ctx.bytesTotal) ctx.bytesRead = ctx.bytesTotal;
    return ecOK;
  }

  static void expandTabs(const TFaxConverterContext& ctx, std::string& text) {
    if (text.find('\t') == std::string::npos) return;
    std::string out;
    out.reserve(kMaxTextLineChars);
    for (const char c : text) {
      if (out.size() >= kMaxTextLineChars) break;
      if (c == '\t') {
        size_t next = (out.size() / ctx.tabStop + 1) * ctx.tabStop;
        if (next > kMaxTextLineChars) next = kMaxTextLineChars;
        out.append(next - out.size(), ' ');
      } else {
        out.push_back(c);
      }
    }
    text.swap(out);
  }

  TInputFile file_;
  size_t maxChars_ = 0;
  unsigned linesOnPage_ = 0;
  int glyphRow_ = 0;
  std::string line_;
  std::string remainder_;
  bool pending_ = false;
};

}  // namespace

std::unique_ptr<TFaxInputReader> MakeTextReader() {
  return std::make_unique<TextReader>();
}

}  // namespace qc
