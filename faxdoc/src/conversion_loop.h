// The conversion loop shared by every reader and output form.
#pragma once

#include <cstdint>

#include "faxdoc/converter.h"

namespace qc {

// Where coded lines go: an APF file or the OnOutputLine event.
class TLineSink {
 public:
  virtual ~TLineSink() = default;
  virtual int Line(const uint8_t* data, int bytes) = 0;
  // The page is complete: end-of-page code, page count.
  virtual int EndOfPage(bool morePages) = 0;
};

// Opens ctx.inputFileName with ctx.reader, codes its pages into the sink and
// closes it. 0 or the first error.
int RunConversion(TFaxConverterContext& ctx, TLineSink& sink);

// Sinks into a TApfWriter already created: page headers before each page's
// first line, line records, end-of-page records.
class TApfLineSink final : public TLineSink {
 public:
  TApfLineSink(TApfWriter& writer, bool fine, bool wide) : writer_(writer), fine_(fine), wide_(wide) {}
  int Line(const uint8_t* data, int bytes) override;
  int EndOfPage(bool morePages) override;

 private:
  TApfWriter& writer_;
  bool fine_;
  bool wide_;
};

}  // namespace qc
