// TQcFaxConverter and the transmitter's text-coder context.
#include "faxdoc/converter.h"

#include <ctime>
#include <new>
#include <sys/stat.h>

#include "control/errors.h"
#include "conversion_loop.h"
#include "readers.h"

namespace qc {

namespace {

// Position of the extension's dot in the last path component, or npos.
size_t ExtensionDot(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::string::npos;
  if (dot == (slash == std::string::npos ? 0 : slash + 1)) return std::string::npos;  // ".profile"
  return dot;
}

std::string ChangeExtension(const std::string& name, const std::string& ext) {
  const size_t dot = ExtensionDot(name);
  return (dot == std::string::npos ? name : name.substr(0, dot)) + ext;
}

bool FileExists(const std::string& name) {
  struct stat st;
  return ::stat(name.c_str(), &st) == 0;
}

// The input name as the readers open it: a name without extension that does
// not exist as given gets the reader's default extension.
std::string InputName(const std::string& documentFile, const std::string& defaultExtension) {
  if (documentFile.empty() || defaultExtension.empty() || ExtensionDot(documentFile) != std::string::npos ||
      FileExists(documentFile)) {
    return documentFile;
  }
  return documentFile + "." + defaultExtension;
}

class OutputLineSink final : public TLineSink {
 public:
  OutputLineSink(TQcFaxConverter& owner, TFaxLineEncoder& encoder) : owner_(owner), encoder_(encoder) {}
  int Line(const uint8_t* data, int bytes) override {
    if (owner_.OnOutputLine) owner_.OnOutputLine(owner_, data, bytes, false, true);
    return ecOK;
  }
  int EndOfPage(bool morePages) override {
    const int n = encoder_.EncodePageEnd();
    if (owner_.OnOutputLine) owner_.OnOutputLine(owner_, encoder_.Data(), n, true, morePages);
    return ecOK;
  }

 private:
  TQcFaxConverter& owner_;
  TFaxLineEncoder& encoder_;
};

// Restores InputDocumentType on every way out of ConvertBitmapToApf.
class TypeGuard {
 public:
  TypeGuard(TQcFaxConverter& c, TFaxInputDocumentType during) : c_(c), saved_(c.InputDocumentType()) {
    c_.SetInputDocumentType(during);
  }
  ~TypeGuard() { c_.SetInputDocumentType(saved_); }

 private:
  TQcFaxConverter& c_;
  TFaxInputDocumentType saved_;
};

}  // namespace

std::string ApfOutputFileName(const std::string& outFileName, const std::string& documentFile) {
  if (!outFileName.empty()) {
    return ExtensionDot(outFileName) == std::string::npos ? outFileName + ".APF" : outFileName;
  }
  return documentFile.empty() ? std::string() : ChangeExtension(documentFile, ".APF");
}

int CreateTextConverter(std::unique_ptr<TFaxConverterContext>& ctx) {
  try {
    ctx = std::make_unique<TFaxConverterContext>();
    ctx->reader = MakeTextReader();
  } catch (const std::bad_alloc&) {
    ctx.reset();
    return ecOutOfMemory;
  }
  ctx->width = 1728;
  ctx->leftMargin = 50;
  ctx->topMargin = 0;
  ctx->options = coDoubleWidth | coCenterImage | coYield;
  ctx->tabStop = 4;
  ctx->encoder.SetWidth(ctx->width);
  ctx->encoder.SetLeftMargin(ctx->leftMargin);
  return ecOK;
}

int EncodeLine(TFaxConverterContext& ctx, const uint8_t* raster) {
  ctx.encoder.SetWidth(ctx.width);
  ctx.encoder.SetLeftMargin(ctx.leftMargin);
  ctx.encoder.SetDoubleWidth(ctx.doubleWidth);
  return ctx.encoder.EncodeLine(raster);
}

int EncodePageEnd(TFaxConverterContext& ctx) {
  return ctx.encoder.EncodePageEnd();
}

void FreeConverter(std::unique_ptr<TFaxConverterContext>& ctx) {
  ctx.reset();
}

void TQcFaxConverter::SetOptions(TFaxCvtOptionSet o) {
  if (o & coYieldOften) o |= coYield;
  options_ = o;
}

void TQcFaxConverter::SetDocumentFile(const std::string& f) {
  documentFile_ = f;
  outFileName_ = ChangeExtension(f, ".APF");
}

std::unique_ptr<TFaxInputReader> TQcFaxConverter::readerFor(TFaxInputDocumentType t) {
  switch (t) {
    case idText: return MakeTextReader();
    case idTiff: return MakeTiffReader();
    case idPcx: return MakePcxReader();
    case idDcx: return MakeDcxReader();
    case idBmp: return MakeBmpReader();
    case idPbm: return MakePbmReader();
    case idUser: return MakeUserReader(*this);
    case idNone:
    case idBitmap: break;
  }
  return nullptr;
}

void TQcFaxConverter::prepare(TFaxConverterContext& ctx, std::unique_ptr<TFaxInputReader> reader) {
  ctx.reader = std::move(reader);
  ctx.options = options_;
  ctx.width = width_ == fwWide ? 2048 : 1728;
  ctx.leftMargin = static_cast<int>(leftMargin_ > static_cast<unsigned>(ctx.width) ? ctx.width : leftMargin_);
  ctx.topMargin = topMargin_;
  ctx.fine = resolution_ == frHigh;
  ctx.stationId = headerStationId_.substr(0, kApfStationIdChars);
  ctx.tabStop = tabStop_ == 0 ? 4 : tabStop_;
  ctx.linesPerPage = linesPerPage_;
  ctx.fontType = fontType_;
  ctx.defaultExtension = ctx.reader->DefaultExtension().substr(0, 3);
  ctx.inputFileName = InputName(documentFile_, ctx.defaultExtension);
  ctx.outputFileName = ApfOutputFileName(outFileName_, documentFile_);
  ctx.yield = yield_;
  ctx.status = [this](bool starting, bool ending, int pages, int lines, long long done, long long total) {
    bool abort = false;
    if (OnStatus) OnStatus(*this, starting, ending, pages, lines, done, total, abort);
    return abort;
  };
}

int TQcFaxConverter::runToFile(TFaxConverterContext& ctx) {
  TApfWriter writer;
  if (int r = writer.Create(ctx.outputFileName)) {
    writer.Abort();
    return r;
  }
  TApfLineSink sink(writer, ctx.fine, ctx.width == 2048);
  int result = RunConversion(ctx, sink);
  if (result == ecOK) result = writer.Finish(ctx.stationId, std::time(nullptr));
  if (result != ecOK) writer.Abort();
  return result;
}

int TQcFaxConverter::ConvertBitmapToApfStatus(const TMonoBitmap& bitmap) {
  TypeGuard guard(*this, idBitmap);
  if (bitmap.IsEmpty() || bitmap.BitsPerPixel() != 1) return ecBadArgument;
  try {
    auto ctx = std::make_unique<TFaxConverterContext>();
    prepare(*ctx, MakeBitmapReader(bitmap));
    return runToFile(*ctx);
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
}

void TQcFaxConverter::ConvertBitmapToApf(const TMonoBitmap& bitmap) {
  RaiseForCode(ConvertBitmapToApfStatus(bitmap));
}

int TQcFaxConverter::ConvertToFileStatus() {
  auto reader = readerFor(inputDocumentType_);
  if (!reader) return ecBadArgument;
  try {
    auto ctx = std::make_unique<TFaxConverterContext>();
    prepare(*ctx, std::move(reader));
    return runToFile(*ctx);
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
}

void TQcFaxConverter::ConvertToFile() {
  RaiseForCode(ConvertToFileStatus());
}

int TQcFaxConverter::ConvertStatus() {
  auto reader = readerFor(inputDocumentType_);
  if (!reader) return ecBadArgument;
  try {
    auto ctx = std::make_unique<TFaxConverterContext>();
    prepare(*ctx, std::move(reader));
    OutputLineSink sink(*this, ctx->encoder);
    return RunConversion(*ctx, sink);
  } catch (const std::bad_alloc&) {
    return ecOutOfMemory;
  }
}

void TQcFaxConverter::Convert() {
  RaiseForCode(ConvertStatus());
}

}  // namespace qc
