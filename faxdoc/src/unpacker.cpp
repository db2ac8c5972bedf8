#include "faxdoc/unpacker.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <strings.h>

#include "control/error_codes.h"
#include "control/errors.h"
#include "file_io.h"

namespace qc {

namespace {

// Page data comes one record (often a few bytes) at a time; reading the
// file in large blocks keeps that from costing a system call per record.
class BufferedReader {
 public:
  explicit BufferedReader(fileio::File& f) : file_(f), buffer_(64 * 1024) {}
  // Reads until `n` bytes or the end of the file: the count read or a negative code.
  long Read(uint8_t* out, size_t n) {
    size_t got = 0;
    while (got < n) {
      if (at_ == length_) {
        const long r = file_.Read(buffer_.data(), buffer_.size());
        if (r < 0) return r;
        if (r == 0) break;
        length_ = static_cast<size_t>(r);
        at_ = 0;
      }
      const size_t k = std::min(n - got, length_ - at_);
      std::memcpy(out + got, buffer_.data() + at_, k);
      at_ += k;
      got += k;
    }
    return static_cast<long>(got);
  }

 private:
  fileio::File& file_;
  std::vector<uint8_t> buffer_;
  size_t at_ = 0, length_ = 0;
};

// Each nibble: four pixels made of the eight of a byte, a pixel set when
// either of its pair is.
struct HalfTable {
  uint8_t v[256];
  HalfTable() {
    for (int b = 0; b < 256; ++b) {
      int out = 0;
      for (int k = 0; k < 4; ++k)
        if (((b >> (7 - 2 * k)) | (b >> (6 - 2 * k))) & 1) out |= 8 >> k;
      v[b] = static_cast<uint8_t>(out);
    }
  }
};

const HalfTable& halfTable() {
  static const HalfTable t;
  return t;
}

bool allZero(const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i]) return false;
  return true;
}

// Stretches with the bit values of eliminated pixels AND-ed together (white
// kept only where every source pixel is white in platform form).
TMonoBitmap stretch(const TMonoBitmap& src, int width, int height) {
  TMonoBitmap dst(width, height);
  const int sw = src.Width(), sh = src.Height();
  std::vector<int> x0(width + 1);
  for (int dx = 0; dx <= width; ++dx) x0[dx] = static_cast<int>(static_cast<int64_t>(dx) * sw / width);
  for (int dy = 0; dy < height; ++dy) {
    const int sy0 = static_cast<int>(static_cast<int64_t>(dy) * sh / height);
    const int sy1 = std::max(sy0 + 1, static_cast<int>(static_cast<int64_t>(dy + 1) * sh / height));
    uint8_t* out = dst.Row(dy);
    for (int dx = 0; dx < width; ++dx) {
      const int sx0 = x0[dx];
      const int sx1 = std::max(sx0 + 1, x0[dx + 1]);
      bool set = true;
      for (int sy = sy0; sy < sy1 && set; ++sy) {
        const uint8_t* row = src.Row(sy);
        for (int sx = sx0; sx < sx1; ++sx)
          if (!(row[sx >> 3] & (0x80 >> (sx & 7)))) {
            set = false;
            break;
          }
      }
      if (!set) out[dx >> 3] &= static_cast<uint8_t>(~(0x80 >> (dx & 7)));
    }
  }
  return dst;
}

}  // namespace

// ---- context ---------------------------------------------------------------

TFaxUnpackContext::TFaxUnpackContext() { std::memset(work_, 0, sizeof work_); }

void TFaxUnpackContext::SetOptionBits(unsigned bits, bool on) {
  if (on) {
    // The two automatic modes exclude each other: the later one wins.
    if (bits & ufDoubleHeight) options_ &= ~ufHalfWidth;
    if (bits & ufHalfWidth) options_ &= ~ufDoubleHeight;
    if ((bits & (ufDoubleHeight | ufHalfWidth)) == (ufDoubleHeight | ufHalfWidth)) bits &= ~ufHalfWidth;
    options_ |= bits;
  } else {
    options_ &= ~bits;
  }
}

int TFaxUnpackContext::SetWhitespace(unsigned from, unsigned to) {
  if (from < to || (from == 0 && to != 0)) return ecBadArgument;
  whitespaceFrom_ = from;
  whitespaceTo_ = to;
  return ecOK;
}

void TFaxUnpackContext::SetScale(unsigned horizMult, unsigned horizDiv, unsigned vertMult, unsigned vertDiv) {
  horizMult_ = horizMult ? horizMult : 1;
  horizDiv_ = horizDiv ? horizDiv : 1;
  vertMult_ = vertMult ? vertMult : 1;
  vertDiv_ = vertDiv ? vertDiv : 1;
}

int TFaxUnpackContext::storeRow(const uint8_t* line, int len) {
  const uint8_t blank = invert_ ? 0xFF : 0x00;
  uint8_t* slot = block_.data() + rows_ * slotBytes_;
  if (len == 0) {
    std::memset(slot, blank, slotBytes_);
  } else {
    // A line longer than the page's slot (a 2048 line on a 1728 page) keeps
    // what fits; the rest of a shorter one is blank, also when inverting.
    const int n = std::min(len, slotBytes_);
    std::memcpy(slot, line, n);
    std::memset(slot + n, blank, slotBytes_ - n);
    for (int i = n - 1; i >= widest_; --i)
      if (line[i] != blank) {
        widest_ = i + 1;
        break;
      }
  }
  ++rows_;
  if (rows_ % kRowBlockStep == 0) {
    if (rows_ >= kMaxPageRows) return ecOutOfMemory;
    try {
      block_.resize(block_.size() + static_cast<size_t>(kRowBlockStep) * slotBytes_, 0);
    } catch (const std::bad_alloc&) {
      return ecOutOfMemory;
    }
    ++growths_;
  }
  return ecOK;
}

int TFaxUnpackContext::outputLine(const uint8_t* line, int len) {
  auto emit = [this](const uint8_t* p, int n) { return buildBitmap_ ? storeRow(p, n) : (*consumer_)(p, n); };
  const uint8_t* p = line;
  if (invert_ && len > 0) {
    for (int i = 0; i < len; ++i) work_[i] = static_cast<uint8_t>(~line[i]);
    p = work_;
  }
  if (pageHeader_.IsFine()) return emit(p, len);
  if (options_ & ufDoubleHeight) {
    if (const int r = emit(p, len); r < 0) return r;
    return emit(p, len);
  }
  if (options_ & ufHalfWidth) {
    if (len == 0) return emit(p, 0);
    // Pairs of pixels become one; with inversion a pixel is set when either
    // inverted pixel is, as the bitmap is built.
    uint8_t half[TFaxLineDecoder::kLineBufferBytes / 2];
    const HalfTable& t = halfTable();
    const int n = len / 2;
    for (int j = 0; j < n; ++j) half[j] = static_cast<uint8_t>((t.v[p[2 * j]] << 4) | t.v[p[2 * j + 1]]);
    return emit(half, n);
  }
  return emit(p, len);
}

int TFaxUnpackContext::releaseBlank(uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) {
    ++lineCounter_;
    if (const int r = outputLine(nullptr, 0); r < 0) return r;
  }
  return ecOK;
}

int TFaxUnpackContext::decodedLine(const uint8_t* line, int len) {
  ++lineCounter_;
  if (whitespaceFrom_ && whitespaceTo_) {
    if (allZero(line, len)) {
      ++pendingBlank_;
      return ecOK;
    }
    const uint64_t n = pendingBlank_ >= whitespaceFrom_ ? whitespaceTo_ : pendingBlank_;
    pendingBlank_ = 0;
    if (const int r = releaseBlank(n); r < 0) return r;
  }
  return outputLine(line, len);
}

int TFaxUnpackContext::unpack(const std::string& fileName, unsigned page, bool invert) {
  invert_ = invert;
  pageNumber_ = page;
  lineCounter_ = 0;
  pendingBlank_ = 0;
  lineStatus_ = 0;
  rows_ = 0;
  widest_ = 1;
  growths_ = 0;
  decoder_.StartPage();
  decoder_.SetLineSink([this](const uint8_t* l, int n) {
    if (lineStatus_ == 0) {
      const int r = decodedLine(l, n);
      if (r < 0) lineStatus_ = r;
    }
  });

  uint64_t dataOffset = 0;
  fileHeader_ = TApfFileHeader{};
  pageHeader_ = TApfPageHeader{};
  if (fileName.empty()) return ecFileNotFound;
  if (const int r = LocateApfPage(fileName, page, pageHeader_, dataOffset, &fileHeader_); r != ecOK) return r;
  if (page == 0) return ecFaxBadFormat;

  slotBytes_ = pageHeader_.IsWide() ? 256 : 216;
  if (buildBitmap_) {
    try {
      block_.assign(static_cast<size_t>(kRowBlockStep) * slotBytes_, 0);
    } catch (const std::bad_alloc&) {
      return ecOutOfMemory;
    }
  }

  fileio::File f;
  if (const int r = f.OpenRead(fileName); r != ecOK) return r;
  if (const int r = f.Seek(dataOffset); r != ecOK) return r;
  BufferedReader reader(f);

  const bool records = pageHeader_.HasLineRecords();
  const uint64_t imageLength = pageHeader_.ImageLength;
  uint64_t bytesRead = 0;
  uint8_t buf[kApfMaxRecordBytes];
  bool stop = false;
  while (!stop && !decoder_.PageEnded()) {
    size_t n = 0;
    if (records) {
      uint8_t cb[2];
      const long got = reader.Read(cb, 2);
      if (got < 0) return static_cast<int>(got);
      if (got < 2) return ecFaxBadFormat;
      const unsigned count = cb[0] | (cb[1] << 8);
      // A count above 4096 is no line record: the page data is damaged.
      if (count > kApfMaxRecordBytes) return ecFaxBadFormat;
      bytesRead += 2;
      if (count == 0) continue;
      const long data = reader.Read(buf, count);
      if (data < 0) return static_cast<int>(data);
      if (data == 0) return ecFaxBadFormat;
      n = static_cast<size_t>(data);
    } else {
      if (bytesRead >= imageLength) break;
      const long got = reader.Read(buf, sizeof buf);
      if (got < 0) return static_cast<int>(got);
      if (got == 0) return ecFaxBadFormat;
      n = static_cast<size_t>(got);
    }
    bytesRead += n;
    const bool perByte = (options_ & ufAbort) || status_ || ((options_ & ufYield) && yield_);
    if (!perByte) {
      decoder_.DecodeBytes(buf, n);
      if (lineStatus_) return lineStatus_;
      continue;
    }
    const long shown = static_cast<long>(std::min(bytesRead, imageLength));
    for (size_t i = 0; i < n && !decoder_.PageEnded(); ++i) {
      decoder_.DecodeBytes(buf + i, 1);
      if (lineStatus_) return lineStatus_;
      if (options_ & ufAbort) {
        stop = true;
        break;
      }
      if ((options_ & ufYield) && lineCounter_ % 16 == 0) {
        if (const int r = ProcessPendingMessage(yield_); r != ecOK) return r;
      }
      if (status_) status_(static_cast<int>(page), shown, static_cast<long>(imageLength));
    }
  }
  // Blank lines still pending at the end of the page follow the same rule.
  if (whitespaceFrom_ && whitespaceTo_) {
    const uint64_t n = pendingBlank_ >= whitespaceFrom_ ? whitespaceTo_ : pendingBlank_;
    pendingBlank_ = 0;
    if (const int r = releaseBlank(n); r < 0) return r;
  }
  return ecOK;
}

int TFaxUnpackContext::finishBitmap(TMonoBitmap& result) {
  if (rows_ == 0) {
    result = TMonoBitmap();
    block_.clear();
    return ecOK;
  }
  const uint8_t blank = invert_ ? 0xFF : 0x00;
  const int stride = (widest_ + 1) & ~1;
  for (size_t r = 0; r < rows_; ++r) {
    std::memmove(block_.data() + r * stride, block_.data() + r * slotBytes_, stride);
    if (widest_ & 1) block_[r * stride + widest_] = blank;
  }
  try {
    block_.resize(stride * rows_);
    block_.shrink_to_fit();
    TMonoBitmap bitmap = TMonoBitmap::Adopt(stride * 8, static_cast<int>(rows_), stride, std::move(block_));
    block_ = {};
    if (horizMult_ != horizDiv_ || vertMult_ != vertDiv_) {
      const int64_t w = static_cast<int64_t>(horizMult_) * bitmap.Width() / horizDiv_;
      const int64_t h = static_cast<int64_t>(bitmap.Height()) * vertMult_ / vertDiv_;
      // Far beyond any page: refuse rather than try to allocate it.
      if (w > 65535 || h > 1000000 || w * h > (int64_t{1} << 33)) return ecCantMakeBitmap;
      bitmap = (w == 0 || h == 0) ? TMonoBitmap() : stretch(bitmap, static_cast<int>(w), static_cast<int>(h));
    }
    result = std::move(bitmap);
  } catch (const std::bad_alloc&) {
    block_ = {};
    return ecCantMakeBitmap;
  }
  return ecOK;
}

int TFaxUnpackContext::UnpackPageToBitmap(const std::string& fileName, unsigned page, bool invert,
                                          TMonoBitmap& result) {
  buildBitmap_ = true;
  consumer_ = nullptr;
  const int r = unpack(fileName, page, invert);
  if (r != ecOK) {
    block_ = {};
    return r;
  }
  return finishBitmap(result);
}

int TFaxUnpackContext::UnpackPageLines(const std::string& fileName, unsigned page, bool invert,
                                       const TUnpackLineConsumer& consumer) {
  buildBitmap_ = false;
  consumer_ = &consumer;
  const int r = unpack(fileName, page, invert);
  consumer_ = nullptr;
  return r;
}

// ---- component -------------------------------------------------------------

TQcFaxUnpacker::TQcFaxUnpacker() { rebuildContext(); }

void TQcFaxUnpacker::SetOptions(TUnpackerOptions options) {
  options_ = options;
  context_.SetOptionBits(ufYield, (options & uoYield) != 0);
  if (options & uoAbort) context_.SetOptionBits(ufAbort, true);
}

void TQcFaxUnpacker::SetInFileName(const std::string& name) {
  if (name.size() == inFileName_.size() && strcasecmp(name.c_str(), inFileName_.c_str()) == 0) return;
  inFileName_ = name;
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  outFileName_ = (dot != std::string::npos && (slash == std::string::npos || dot > slash)) ? name.substr(0, dot) : name;
}

int TQcFaxUnpacker::rebuildContext() {
  context_.SetOptionBits(ufYield | ufDoubleHeight | ufHalfWidth | ufAbort, false);
  unsigned bits = 0;
  if (options_ & uoYield) bits |= ufYield;
  if (autoScaleMode_ == asDoubleHeight) bits |= ufDoubleHeight;
  if (autoScaleMode_ == asHalfWidth) bits |= ufHalfWidth;
  context_.SetOptionBits(bits, true);
  context_.SetYieldCallback(YieldCallback);
  if (OnStatus)
    context_.SetStatusCallback([this](int page, long done, long total) { OnStatus(*this, inFileName_, page, done, total); });
  else
    context_.SetStatusCallback(nullptr);
  if (scaling_)
    context_.SetScale(horizMult_, horizDiv_, vertMult_, vertDiv_);
  else
    context_.SetScale(1, 1, 1, 1);
  if (whitespaceCompression_) return context_.SetWhitespace(whitespaceFrom_, whitespaceTo_);
  context_.SetWhitespace(0, 0);
  return ecOK;
}

int TQcFaxUnpacker::GetPageCount() {
  rebuildContext();
  TApfFileHeader h;
  if (ReadApfHeader(inFileName_, h) != ecOK) return 0;
  return h.PageCount;
}

int TQcFaxUnpacker::pageFlags(uint16_t& flags) {
  if (const int r = rebuildContext(); r != ecOK) return r;
  TApfPageHeader p;
  uint64_t offset = 0;
  if (inFileName_.empty()) return ecFileNotFound;
  if (const int r = LocateApfPage(inFileName_, 1, p, offset); r != ecOK) return r;
  flags = p.Flags;
  return ecOK;
}

bool TQcFaxUnpacker::IsPageFine() {
  uint16_t flags = 0;
  RaiseForCode(pageFlags(flags));
  return flags & pfFine;
}

bool TQcFaxUnpacker::IsPageWide() {
  uint16_t flags = 0;
  RaiseForCode(pageFlags(flags));
  return flags & pfWide;
}

int TQcFaxUnpacker::UnpackPageAsBitmap(unsigned page, TMonoBitmap& result) {
  if (const int r = rebuildContext(); r != ecOK) return r;
  return context_.UnpackPageToBitmap(inFileName_, page, true, result);
}

TMonoBitmap TQcFaxUnpacker::UnpackPageAsBitmap(unsigned page) {
  TMonoBitmap result;
  RaiseForCode(UnpackPageAsBitmap(page, result));
  return result;
}

}  // namespace qc
