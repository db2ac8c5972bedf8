#include "conversion_loop.h"

#include <cstring>

namespace qc {

namespace {

bool StatusAborts(TFaxConverterContext& ctx, bool starting, bool ending) {
  // Strips of a hostile file may overlap; progress still stops at the end.
  const long long done = ctx.bytesRead < ctx.bytesTotal ? ctx.bytesRead : ctx.bytesTotal;
  return ctx.status && ctx.status(starting, ending, static_cast<int>(ctx.pageNumber),
                                  static_cast<int>(ctx.lineCounter), done, ctx.bytesTotal);
}

// A top-margin line: 12-bit EOL and one white run of W, padded to whole
// bytes (4 bytes at 1728, 5 at 2048).
int EncodeBlankMarginLine(TFaxLineEncoder& encoder, int width) {
  const TFaxCodeTables& tables = FaxCodeTables();
  encoder.BeginLine();
  encoder.PutCode(tables.Eol.Code, tables.Eol.Length);
  encoder.PutRun(width, false);
  const int bytes = encoder.ByteIndex() + 1;
  encoder.SetUsedBytes(bytes);
  return bytes;
}

// One page: top margin, then lines until the reader reports the page end.
int ConvertPage(TFaxConverterContext& ctx, TLineSink& sink, bool& morePages) {
  TFaxLineEncoder& encoder = ctx.encoder;
  encoder.SetDoubleWidth(ctx.doubleWidth);
  for (unsigned i = 0; i < ctx.topMargin; ++i) {
    const int n = EncodeBlankMarginLine(encoder, ctx.width);
    if (int r = sink.Line(encoder.Data(), n)) return r;
  }
  const size_t rasterBytes = static_cast<size_t>(ctx.RasterBytes());
  uint8_t* raster = ctx.raster.data();
  const bool yieldOften = (ctx.options & coYield) && (ctx.options & coYieldOften);
  bool endOfPage = false;
  // Clears the raster, reads the next line and reports it.
  auto next = [&]() -> int {
    std::memset(raster, 0, rasterBytes);
    ++ctx.lineCounter;
    int bytes = 0;
    morePages = false;
    if (int r = ctx.reader->GetLine(ctx, raster, bytes, endOfPage, morePages)) return r;
    return StatusAborts(ctx, false, false) ? ecConvertAbort : ecOK;
  };
  if (int r = next()) return r;
  while (!endOfPage) {
    if (!(ctx.halfHeight && ctx.lineCounter % 2 == 0)) {
      const int n = encoder.EncodeLine(raster);
      if (int r = sink.Line(encoder.Data(), n)) return r;
    }
    if (int r = next()) return r;
    if (yieldOften && ctx.lineCounter % 16 == 0) {
      if (int r = ProcessPendingMessage(ctx.yield)) return r;
    }
  }
  return sink.EndOfPage(morePages);
}

}  // namespace

int RunConversion(TFaxConverterContext& ctx, TLineSink& sink) {
  ctx.pageNumber = 0;
  ctx.lineCounter = 0;
  if (StatusAborts(ctx, true, false)) return ecConvertAbort;
  ctx.encoder.SetWidth(ctx.width);
  ctx.encoder.SetLeftMargin(ctx.leftMargin);
  ctx.encoder.SetDoubleWidth(false);
  if (int r = ctx.reader->Open(ctx, ctx.inputFileName)) return r;

  int result = ecOK;
  bool morePages = true;
  while (morePages) {
    ++ctx.pageNumber;
    ctx.lineCounter = 0;
    if ((result = ConvertPage(ctx, sink, morePages))) break;
    if (ctx.options & coYield) {
      if ((result = ProcessPendingMessage(ctx.yield))) break;
    }
  }
  StatusAborts(ctx, false, true);  // too late to abort: the result stands
  ctx.reader->Close(ctx);
  return result;
}

int TApfLineSink::Line(const uint8_t* data, int bytes) {
  if (!writer_.InPage()) {
    if (int r = writer_.BeginPage(fine_, wide_)) return r;
  }
  return writer_.WriteLine(data, bytes);
}

int TApfLineSink::EndOfPage(bool) {
  // A page without lines still gets its header and end-of-page record.
  if (!writer_.InPage()) {
    if (int r = writer_.BeginPage(fine_, wide_)) return r;
  }
  return writer_.EndPage();
}

}  // namespace qc
