// One-dimensional T.4 coding (Modified Huffman): the line encoder, the
// end-of-page code and the line decoder.
//
// Raster lines (encoder input, decoder output): width / 8 bytes, bit 7 of
// byte 0 is the leftmost pixel, a set bit is black. Coded bytes carry the
// first bit of the code stream in bit 0, as a fax modem sends them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace qc {

// A code in the standard's notation: the first bit sent is the most
// significant of `Length` bits.
struct T4Code {
  uint16_t Code;
  uint8_t Length;
};

// The code tables once bit-reversed for sending bit 0 first. Built at
// start-up from the MSB-first tables in t4.cpp.
struct TFaxCodeTables {
  T4Code WhiteTerminating[64];
  T4Code BlackTerminating[64];
  T4Code WhiteMakeUp[40];  // 64, 128, ..., 2560 (1792 up shared with black)
  T4Code BlackMakeUp[40];
  T4Code Eol;    // eleven 0 bits, then 1
  T4Code Eol16;  // fifteen 0 bits, then 1 (four fill bits and an EOL)
};
const TFaxCodeTables& FaxCodeTables();

// Reverses the low `length` bits of `code`.
uint16_t ReverseCodeBits(uint16_t code, int length);

constexpr int kFaxEncodeBufferBytes = 4096;
constexpr int kFaxPageEndBytes = 12;

class TFaxLineEncoder {
 public:
  explicit TFaxLineEncoder(int width = 1728, int leftMargin = 50);

  // Line width in pixels, 1728 or 2048 (bounded to 1..2048).
  void SetWidth(int width);
  int Width() const { return width_; }
  // White pixels before the raster (0..width).
  void SetLeftMargin(int leftMargin);
  int LeftMargin() const { return leftMargin_; }
  // Every raster run is doubled; the margin is not; the line still totals Width.
  void SetDoubleWidth(bool on) { doubleWidth_ = on; }
  bool DoubleWidth() const { return doubleWidth_; }

  // Codes one raster line of Width / 8 bytes into the buffer: 16-bit EOL,
  // the runs, and one or two bytes of zero fill. Returns the byte count.
  int EncodeLine(const uint8_t* raster);
  // The 12 bytes 00 80 00 08 80 00 08 80 00 08 80 00; returns 12.
  int EncodePageEnd();

  // Building blocks for lines coded by hand.
  // Clears the bytes the previous line used and starts at bit 0 of byte 0.
  void BeginLine();
  // ORs an LSB-first code into the buffer at the current bit.
  void PutCode(uint32_t code, int length) {
    uint8_t* p = buffer_ + byteIndex_;
    const uint32_t v = code << bitIndex_;
    p[0] |= static_cast<uint8_t>(v);
    p[1] |= static_cast<uint8_t>(v >> 8);
    p[2] |= static_cast<uint8_t>(v >> 16);
    const int bits = bitIndex_ + length;
    byteIndex_ += bits >> 3;
    bitIndex_ = bits & 7;
  }
  // A run of one colour: one make-up code when longer than 63, then the
  // terminating code.
  void PutRun(int length, bool black);
  int ByteIndex() const { return byteIndex_; }
  int BitIndex() const { return bitIndex_; }
  void SetUsedBytes(int n) { used_ = n; }

  const uint8_t* Data() const { return buffer_; }

 private:
  int width_;
  int leftMargin_;
  bool doubleWidth_ = false;
  int byteIndex_ = 0;
  int bitIndex_ = 0;
  int used_ = 0;  // bytes the last line touched, cleared before the next
  // Slack past 4096 for the last code's bytes and the trailing stores.
  alignas(8) uint8_t buffer_[kFaxEncodeBufferBytes + 24];
};

// The decoder's code trees: for each colour a prefix tree of its terminating
// and make-up codes and EOL, built depth first (0 branch before 1 branch) to
// at most 13 bits; a 13-bit path that is no code ends in a dead end. The node
// reached by eleven 0 bits leads back to itself on a further 0, so any run of
// eleven or more 0 bits followed by a 1 is an EOL.
struct TDecodeNode {
  static constexpr int16_t kInternal = -1;
  static constexpr int16_t kEol = -2;
  static constexpr int16_t kDeadEnd = -3;
  int16_t Child[2];  // node indexes; -1 at leaves
  int16_t Value;     // kInternal, kEol, kDeadEnd, or a run length 0..2560
};

class TFaxDecodeTree {
 public:
  static constexpr int kMaxNodes = 306;
  static constexpr int kRoot = 0;
  explicit TFaxDecodeTree(bool black);
  int NodeCount() const { return count_; }
  const TDecodeNode& Node(int i) const { return nodes_[i]; }
  bool Black() const { return black_; }

 private:
  int build(uint32_t path, int depth);
  bool black_;
  int count_ = 0;
  TDecodeNode nodes_[kMaxNodes];
};
const TFaxDecodeTree& WhiteDecodeTree();
const TFaxDecodeTree& BlackDecodeTree();

// What a page's decoding gave; the same for any split of the input into calls.
struct TFaxDecodeStats {
  uint64_t LinesDelivered = 0;
  uint64_t LinesDropped = 0;       // lines of the wrong length
  uint64_t BadCodes = 0;           // dead ends met
  uint64_t SkipOnesRecoveries = 0; // 0 bits that ended a skip of 1 bits
};

// Decodes an MH bit stream, one page at a time. Lines are delivered when an
// EOL ends a line of exactly 216 or 256 whole bytes; others are dropped. Data
// before the first EOL gives no pixels; three EOLs in a row end the page.
// Results are exactly those of walking the trees above one bit at a time; the
// walk itself runs through tables derived from the trees.
class TFaxLineDecoder {
 public:
  static constexpr int kLineBufferBytes = 512;
  using LineSink = std::function<void(const uint8_t* line, int bytes)>;

  TFaxLineDecoder();
  void SetLineSink(LineSink sink) { sink_ = std::move(sink); }
  // Back to the start of a page: white, no EOL seen, nothing pending.
  void StartPage();
  // Feeds coded bytes. Returns how many were used: all of them, or fewer when
  // the page ended inside them (the byte holding the page end included).
  size_t DecodeBytes(const uint8_t* data, size_t n);
  bool PageEnded() const { return pageEnded_; }
  const TFaxDecodeStats& Stats() const { return stats_; }
  uint64_t BadCodes() const { return stats_.BadCodes; }

 private:
  LineSink sink_;
  uint64_t acc_ = 0;  // pending bits, next bit in bit 0
  int bits_ = 0;
  bool black_ = false;
  bool beforeFirstEol_ = true;
  bool skipOnes_ = false;
  bool zeroLoop_ = false;  // eleven or more 0 bits seen at the root
  bool pageEnded_ = false;
  int eolCount_ = 0;
  unsigned position_ = 0;  // pixels into the line
  TFaxDecodeStats stats_;
  // A run is accepted while its start byte plus length / 8 stays below 512,
  // so the last one may reach a few bits past 4096 pixels: keep room for it.
  alignas(8) uint8_t line_[kLineBufferBytes + 16];
};

}  // namespace qc
