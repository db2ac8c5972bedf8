// The fax unpacker: one page of an APF file back into a monochrome bitmap.
//
// TFaxUnpackContext is the unpack engine the view engine drives directly;
// TQcFaxUnpacker is the component that rebuilds a context from its properties
// at the start of every operation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "faxdoc/apf.h"
#include "faxdoc/bitmap.h"
#include "faxdoc/t4.h"
#include "faxdoc/yield.h"

namespace qc {

// Context option bits. Double height and half width exclude each other.
constexpr unsigned ufYield = 1;
constexpr unsigned ufDoubleHeight = 2;
constexpr unsigned ufHalfWidth = 4;
constexpr unsigned ufAbort = 8;

// Progress while a page is decoded: page number, bytes read (never more than
// the page's ImageLength) and ImageLength.
using TUnpackStatusCallback = std::function<void(int pageNum, long bytesUnpacked, long bytesToUnpack)>;

// Receives every line after the whitespace and output stages; `len` 0 is a
// blank line. A negative result stops the unpack with that code.
using TUnpackLineConsumer = std::function<int(const uint8_t* line, int len)>;

class TFaxUnpackContext {
 public:
  static constexpr int kRowBlockStep = 1024;
  // Rows a page bitmap may hold: over four metres of a fine page. A damaged or
  // hostile page of tiny lines would otherwise grow the block without bound
  // (each 2-byte line becomes a row slot of 216 bytes); past this it is -8.
  static constexpr size_t kMaxPageRows = 32 * 1024;

  // As the view engine makes it: yield and double height, 1:1, no whitespace
  // compression, no callbacks.
  TFaxUnpackContext();

  void SetOptionBits(unsigned bits, bool on);
  unsigned OptionBits() const { return options_; }
  // Compress runs of at least `from` blank lines to `to` lines; 0, 0 turns it
  // off. ecBadArgument (-1002) when from < to, or from is 0 and to is not.
  int SetWhitespace(unsigned from, unsigned to);
  // Applied to the finished bitmap; a 0 factor counts as 1.
  void SetScale(unsigned horizMult, unsigned horizDiv, unsigned vertMult, unsigned vertDiv);
  void SetYieldCallback(TYieldCallback hook) { yield_ = std::move(hook); }
  void SetStatusCallback(TUnpackStatusCallback status) { status_ = std::move(status); }

  // Decodes page `page` (from 1) into `result`: rows cropped on the right to
  // the last inked byte (rounded up to an even byte count), then scaled. With
  // `invert` the bitmap is in platform form (set bit = white); without it a
  // set bit is black. A page without lines gives an empty bitmap.
  int UnpackPageToBitmap(const std::string& fileName, unsigned page, bool invert, TMonoBitmap& result);

  // The same decoding, handing every output line to `consumer` instead of
  // building a bitmap.
  int UnpackPageLines(const std::string& fileName, unsigned page, bool invert, const TUnpackLineConsumer& consumer);

  // About the last unpack.
  const TApfFileHeader& FileHeader() const { return fileHeader_; }
  const TApfPageHeader& PageHeader() const { return pageHeader_; }
  const TFaxDecodeStats& DecodeStats() const { return decoder_.Stats(); }
  // Decoded lines plus blank lines released by whitespace compression.
  uint64_t LineCounter() const { return lineCounter_; }
  // How often the row block grew by another 1024 row slots.
  int RowBlockGrowths() const { return growths_; }

 private:
  int unpack(const std::string& fileName, unsigned page, bool invert);
  int decodedLine(const uint8_t* line, int len);
  int outputLine(const uint8_t* line, int len);
  int releaseBlank(uint64_t count);
  int storeRow(const uint8_t* line, int len);
  int finishBitmap(TMonoBitmap& result);

  unsigned options_ = ufYield | ufDoubleHeight;
  unsigned whitespaceFrom_ = 0;
  unsigned whitespaceTo_ = 0;
  unsigned horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
  TYieldCallback yield_;
  TUnpackStatusCallback status_;

  // Per unpack.
  TFaxLineDecoder decoder_;
  TApfFileHeader fileHeader_;
  TApfPageHeader pageHeader_;
  unsigned pageNumber_ = 0;
  bool invert_ = true;
  uint64_t lineCounter_ = 0;
  uint64_t pendingBlank_ = 0;
  int lineStatus_ = 0;  // first error raised while lines are delivered
  const TUnpackLineConsumer* consumer_ = nullptr;
  uint8_t work_[TFaxLineDecoder::kLineBufferBytes];

  // The bitmap being built.
  bool buildBitmap_ = false;
  int slotBytes_ = 216;
  size_t rows_ = 0;
  int widest_ = 1;
  int growths_ = 0;
  std::vector<uint8_t> block_;
};

// Unpacker options.
constexpr unsigned uoYield = 1;
constexpr unsigned uoAbort = 2;
using TUnpackerOptions = unsigned;

enum TAutoScaleMode { asNone, asDoubleHeight, asHalfWidth };

class TQcFaxUnpacker {
 public:
  using TStatusEvent = std::function<void(TQcFaxUnpacker& sender, const std::string& fName, int pageNum,
                                          long bytesUnpacked, long bytesToUnpack)>;
  // Kept for the component's shape; no operation of this program fires it.
  using TOutputLineEvent = std::function<void(TQcFaxUnpacker& sender, bool starting, bool ending,
                                              const uint8_t* data, int len, int pageNum)>;

  TQcFaxUnpacker();

  TUnpackerOptions Options() const { return options_; }
  // Passes uoYield to the context at once; uoAbort stops the page being
  // decoded at its next byte.
  void SetOptions(TUnpackerOptions options);

  bool WhitespaceCompression() const { return whitespaceCompression_; }
  void SetWhitespaceCompression(bool on) { whitespaceCompression_ = on; }
  unsigned WhitespaceFrom() const { return whitespaceFrom_; }
  void SetWhitespaceFrom(unsigned n) { whitespaceFrom_ = n; }
  unsigned WhitespaceTo() const { return whitespaceTo_; }
  void SetWhitespaceTo(unsigned n) { whitespaceTo_ = n; }

  bool Scaling() const { return scaling_; }
  void SetScaling(bool on) { scaling_ = on; }
  unsigned HorizMult() const { return horizMult_; }
  void SetHorizMult(unsigned v) { if (v) horizMult_ = v; }
  unsigned HorizDiv() const { return horizDiv_; }
  void SetHorizDiv(unsigned v) { if (v) horizDiv_ = v; }
  unsigned VertMult() const { return vertMult_; }
  void SetVertMult(unsigned v) { if (v) vertMult_ = v; }
  unsigned VertDiv() const { return vertDiv_; }
  void SetVertDiv(unsigned v) { if (v) vertDiv_ = v; }

  TAutoScaleMode AutoScaleMode() const { return autoScaleMode_; }
  void SetAutoScaleMode(TAutoScaleMode m) { autoScaleMode_ = m; }

  const std::string& InFileName() const { return inFileName_; }
  // A different name (ignoring case) also sets OutFileName to it without its
  // extension.
  void SetInFileName(const std::string& name);
  const std::string& OutFileName() const { return outFileName_; }
  void SetOutFileName(const std::string& name) { outFileName_ = name; }

  TStatusEvent OnStatus;
  TOutputLineEvent OnOutputLine;
  // The GUI connects this to its event loop (see yield.h).
  TYieldCallback YieldCallback;

  // PageCount of InFileName; 0 when it cannot be read or is no APF file.
  int GetPageCount();
  // Page 1's flags; failures are raised.
  bool IsPageFine();
  bool IsPageWide();
  // Page `page` (from 1) as a bitmap in platform form; failures are raised.
  TMonoBitmap UnpackPageAsBitmap(unsigned page);
  // The same returning the code.
  int UnpackPageAsBitmap(unsigned page, TMonoBitmap& result);

  TFaxUnpackContext& Context() { return context_; }

 private:
  int rebuildContext();
  int pageFlags(uint16_t& flags);

  TUnpackerOptions options_ = uoYield;
  bool whitespaceCompression_ = false;
  unsigned whitespaceFrom_ = 0;
  unsigned whitespaceTo_ = 0;
  bool scaling_ = false;
  unsigned horizMult_ = 1, horizDiv_ = 1, vertMult_ = 1, vertDiv_ = 1;
  TAutoScaleMode autoScaleMode_ = asDoubleHeight;
  std::string inFileName_;
  std::string outFileName_;
  TFaxUnpackContext context_;
};

}  // namespace qc
