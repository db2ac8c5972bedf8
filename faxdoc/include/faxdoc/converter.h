// The document-to-fax converter: turns a monochrome bitmap, a text file or an
// image file into an APF file of MH coded pages, and the text-row renderer with
// the built-in fax font that the fax transmitter uses for header lines and
// text cover pages.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "faxdoc/apf.h"
#include "faxdoc/bitmap.h"
#include "faxdoc/t4.h"
#include "faxdoc/yield.h"

namespace qc {

// "Font data unavailable" (no message text of its own).
constexpr int ecFontFileNotFound = -8052;

enum TFaxInputDocumentType { idNone, idText, idTiff, idPcx, idDcx, idBmp, idBitmap, idUser, idPbm };

// Conversion options, combined as a bit set.
enum TFaxCvtOptions : unsigned {
  coDoubleWidth = 1u << 0,  // image readers: double narrow images horizontally (standard resolution)
  coHalfHeight = 1u << 1,   // image readers: code only every other line (standard resolution)
  coCenterImage = 1u << 2,  // image readers: centre narrow images
  coYield = 1u << 3,        // let the caller's event loop run after each page
  coYieldOften = 1u << 4,   // ... and every 16 lines
};
using TFaxCvtOptionSet = unsigned;

enum TFaxFont { ffStandard, ffSmall };

// Bytes per glyph of the two built-in fonts, as LoadFaxFont takes them.
constexpr int kSmallFontBytes = 16;     // 12 x 8 cells
constexpr int kStandardFontBytes = 48;  // 20 x 16 cells
// The built-in table: small glyphs at 0, standard glyphs at 4096.
constexpr size_t kFaxFontTableSize = 16384;
std::span<const uint8_t, kFaxFontTableSize> BuiltInFaxFont();

constexpr int kMaxRasterBytes = 4096;
constexpr int kMaxTextLineChars = 144;

struct TFaxConverterContext;

// What every input reader does. GetLine fills the raster (cleared by the
// caller before each call; W/8 bytes, bit 7 of byte 0 leftmost, set bit =
// black), sets `bytes` to the bytes it delivered, `endOfPage` when the call
// delivers no line because the page is complete and `morePages` when another
// page follows this one. Results are 0 or a negative code. ctx.lineCounter
// counts the GetLine calls of the current page, this one included (the text
// reader gives an empty page one blank line on its first call).
class TFaxInputReader {
 public:
  virtual ~TFaxInputReader() = default;
  virtual int Open(TFaxConverterContext& ctx, const std::string& fileName) = 0;
  virtual int GetLine(TFaxConverterContext& ctx, uint8_t* raster, int& bytes, bool& endOfPage,
                      bool& morePages) = 0;
  virtual void Close(TFaxConverterContext& ctx) = 0;
  // Extension tried when the input name has none ("TXT", "TIF", ...).
  virtual std::string DefaultExtension() const { return {}; }
};

// A font copied into a context by LoadFaxFont.
struct TFaxFontData {
  std::array<uint8_t, 256 * 96> glyphs{};
  int bytesPerGlyph = 0;  // 0: no font loaded
  int rows = 0;
  int cellWidth = 0;
  int bytesPerRow = 0;
};

// Status dispatch of a conversion: true to abort.
using TConverterStatus = std::function<bool(bool starting, bool ending, int pagesConverted,
                                            int linesConverted, long long bytesConverted,
                                            long long bytesToConvert)>;

// One conversion (or one transmitting call's text coder). Fields are set up by
// the converter component or by CreateTextConverter.
struct TFaxConverterContext {
  bool fine = false;
  bool doubleWidth = false;
  bool halfHeight = false;
  TFaxCvtOptionSet options = coDoubleWidth | coCenterImage | coYield;
  int width = 1728;       // W
  int leftMargin = 50;    // LM
  unsigned topMargin = 0;
  TFaxLineEncoder encoder;
  unsigned pageNumber = 0;
  unsigned lineCounter = 0;    // GetLine calls on the current page
  unsigned centerOffset = 0;   // bytes each raster row is moved right
  std::unique_ptr<TFaxInputReader> reader;
  long long bytesRead = 0;
  long long bytesTotal = 0;
  std::array<uint8_t, kMaxRasterBytes> raster{};
  std::string defaultExtension;
  std::string inputFileName;
  std::string outputFileName;
  std::string stationId;
  TConverterStatus status;
  TYieldCallback yield;

  // Text input.
  unsigned tabStop = 4;
  unsigned linesPerPage = 60;
  TFaxFont fontType = ffStandard;
  TFaxFontData font;

  int RasterBytes() const { return width / 8; }
};

// The transmitter's text coder: W 1728, LM 50, TM 0, options [coDoubleWidth,
// coCenterImage, coYield], tab stop 4, a text reader attached. -8 when memory
// is short.
int CreateTextConverter(std::unique_ptr<TFaxConverterContext>& ctx);
// Copies the 256 glyphs of one built-in font (bytes per glyph 48 = standard,
// 16 = small) into the context; `fine` stores each glyph row twice. -8052 for
// any other size.
int LoadFaxFont(TFaxConverterContext& ctx, int bytesPerGlyph, bool fine);
// ORs glyph row `row` (1..rows) of each character into the raster, cells side
// by side from pixel 0. Rows outside 1..rows do nothing; characters that would
// reach past the raster are left out.
void RenderTextRow(const TFaxConverterContext& ctx, std::string_view text, int row,
                   std::span<uint8_t> raster);
// Codes one raster line / the end of page with the context's encoder (set up
// from width, left margin and double width); the coded bytes are in
// ctx.encoder's buffer.
int EncodeLine(TFaxConverterContext& ctx, const uint8_t* raster);
int EncodePageEnd(TFaxConverterContext& ctx);
void FreeConverter(std::unique_ptr<TFaxConverterContext>& ctx);

// The output file name: `outFileName` with ".APF" appended when it has no
// extension; when it is empty, `documentFile` with its extension replaced.
std::string ApfOutputFileName(const std::string& outFileName, const std::string& documentFile);

// The component.
class TQcFaxConverter {
 public:
  using TStatusEvent = std::function<void(TQcFaxConverter& f, bool starting, bool ending,
                                          int pagesConverted, int linesConverted,
                                          long long bytesConverted, long long bytesToConvert,
                                          bool& abort)>;
  using TOutputLineEvent = std::function<void(TQcFaxConverter& f, const uint8_t* data, int len,
                                              bool endOfPage, bool morePages)>;
  using TOpenUserFileEvent = std::function<void(TQcFaxConverter& f, const std::string& fileName)>;
  using TReadUserLineEvent = std::function<void(TQcFaxConverter& f, uint8_t* data, int& len,
                                                bool& endOfPage, bool& morePages)>;
  using TCloseUserFileEvent = std::function<void(TQcFaxConverter& f)>;

  TQcFaxConverter() = default;

  TFaxInputDocumentType InputDocumentType() const { return inputDocumentType_; }
  void SetInputDocumentType(TFaxInputDocumentType t) { inputDocumentType_ = t; }
  TFaxCvtOptionSet Options() const { return options_; }
  void SetOptions(TFaxCvtOptionSet o);
  TFaxResolution Resolution() const { return resolution_; }
  void SetResolution(TFaxResolution r) { resolution_ = r; }
  TFaxWidth Width() const { return width_; }
  void SetWidth(TFaxWidth w) { width_ = w; }
  unsigned TopMargin() const { return topMargin_; }
  void SetTopMargin(unsigned m) { topMargin_ = m; }
  unsigned LeftMargin() const { return leftMargin_; }
  void SetLeftMargin(unsigned m) { leftMargin_ = m; }
  unsigned LinesPerPage() const { return linesPerPage_; }
  void SetLinesPerPage(unsigned n) { linesPerPage_ = n; }
  unsigned TabStop() const { return tabStop_; }
  void SetTabStop(unsigned n) { tabStop_ = n; }
  TFaxFont FontType() const { return fontType_; }
  void SetFontType(TFaxFont f) { fontType_ = f; }
  const std::string& FontFile() const { return fontFile_; }
  void SetFontFile(const std::string& f) { fontFile_ = f; }
  const std::string& DocumentFile() const { return documentFile_; }
  // Also sets OutFileName to the same name with extension ".APF".
  void SetDocumentFile(const std::string& f);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& f) { outFileName_ = f; }
  const std::string& DefUserExtension() const { return defUserExtension_; }
  void SetDefUserExtension(const std::string& e) { defUserExtension_ = e; }
  const std::string& HeaderStationId() const { return headerStationId_; }
  void SetHeaderStationId(const std::string& id) { headerStationId_ = id; }
  // Run once per page (and every 16 lines with coYieldOften) when coYield is set.
  void SetYieldCallback(TYieldCallback hook) { yield_ = std::move(hook); }

  TStatusEvent OnStatus;
  TOutputLineEvent OnOutputLine;
  TOpenUserFileEvent OnOpenUserFile;
  TReadUserLineEvent OnReadUserLine;
  TCloseUserFileEvent OnCloseUserFile;

  // A one-page APF file from a 1-bit bitmap (its bottom row is not coded).
  // The Status forms return the code; the others raise it (RaiseForCode).
  int ConvertBitmapToApfStatus(const TMonoBitmap& bitmap);
  void ConvertBitmapToApf(const TMonoBitmap& bitmap);
  // DocumentFile, read by InputDocumentType's reader, into the APF file.
  int ConvertToFileStatus();
  void ConvertToFile();
  // DocumentFile into OnOutputLine calls (coded lines, then the end-of-page
  // code with endOfPage set); no file is written.
  int ConvertStatus();
  void Convert();

 private:
  void prepare(TFaxConverterContext& ctx, std::unique_ptr<TFaxInputReader> reader);
  int runToFile(TFaxConverterContext& ctx);
  std::unique_ptr<TFaxInputReader> readerFor(TFaxInputDocumentType t);

  TFaxInputDocumentType inputDocumentType_ = idNone;
  TFaxCvtOptionSet options_ = coDoubleWidth | coCenterImage | coYield;
  TFaxResolution resolution_ = frNormal;
  TFaxWidth width_ = fwNormal;
  unsigned topMargin_ = 0;
  unsigned leftMargin_ = 50;
  unsigned linesPerPage_ = 60;
  unsigned tabStop_ = 4;
  TFaxFont fontType_ = ffStandard;
  std::string fontFile_ = "QCFAX.FNT";
  std::string documentFile_;
  std::string outFileName_;
  std::string defUserExtension_;
  std::string headerStationId_;
  TYieldCallback yield_;
};

}  // namespace qc
