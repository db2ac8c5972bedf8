#include "faxdoc/t4.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace qc {

namespace {

// ITU-T T.4 Table 2: white terminating codes, run lengths 0..63.
constexpr T4Code kWhiteTerminatingMsb[64] = {
    {0b00110101, 8}, {0b000111, 6}, {0b0111, 4}, {0b1000, 4},
    {0b1011, 4}, {0b1100, 4}, {0b1110, 4}, {0b1111, 4},
    {0b10011, 5}, {0b10100, 5}, {0b00111, 5}, {0b01000, 5},
    {0b001000, 6}, {0b000011, 6}, {0b110100, 6}, {0b110101, 6},
    {0b101010, 6}, {0b101011, 6}, {0b0100111, 7}, {0b0001100, 7},
    {0b0001000, 7}, {0b0010111, 7}, {0b0000011, 7}, {0b0000100, 7},
    {0b0101000, 7}, {0b0101011, 7}, {0b0010011, 7}, {0b0100100, 7},
    {0b0011000, 7}, {0b00000010, 8}, {0b00000011, 8}, {0b00011010, 8},
    {0b00011011, 8}, {0b00010010, 8}, {0b00010011, 8}, {0b00010100, 8},
    {0b00010101, 8}, {0b00010110, 8}, {0b00010111, 8}, {0b00101000, 8},
    {0b00101001, 8}, {0b00101010, 8}, {0b00101011, 8}, {0b00101100, 8},
    {0b00101101, 8}, {0b00000100, 8}, {0b00000101, 8}, {0b00001010, 8},
    {0b00001011, 8}, {0b01010010, 8}, {0b01010011, 8}, {0b01010100, 8},
    {0b01010101, 8}, {0b00100100, 8}, {0b00100101, 8}, {0b01011000, 8},
    {0b01011001, 8}, {0b01011010, 8}, {0b01011011, 8}, {0b01001010, 8},
    {0b01001011, 8}, {0b00110010, 8}, {0b00110011, 8}, {0b00110100, 8},
};
// ITU-T T.4 Table 2: black terminating codes, run lengths 0..63.
constexpr T4Code kBlackTerminatingMsb[64] = {
    {0b0000110111, 10}, {0b010, 3}, {0b11, 2}, {0b10, 2},
    {0b011, 3}, {0b0011, 4}, {0b0010, 4}, {0b00011, 5},
    {0b000101, 6}, {0b000100, 6}, {0b0000100, 7}, {0b0000101, 7},
    {0b0000111, 7}, {0b00000100, 8}, {0b00000111, 8}, {0b000011000, 9},
    {0b0000010111, 10}, {0b0000011000, 10}, {0b0000001000, 10}, {0b00001100111, 11},
    {0b00001101000, 11}, {0b00001101100, 11}, {0b00000110111, 11}, {0b00000101000, 11},
    {0b00000010111, 11}, {0b00000011000, 11}, {0b000011001010, 12}, {0b000011001011, 12},
    {0b000011001100, 12}, {0b000011001101, 12}, {0b000001101000, 12}, {0b000001101001, 12},
    {0b000001101010, 12}, {0b000001101011, 12}, {0b000011010010, 12}, {0b000011010011, 12},
    {0b000011010100, 12}, {0b000011010101, 12}, {0b000011010110, 12}, {0b000011010111, 12},
    {0b000001101100, 12}, {0b000001101101, 12}, {0b000011011010, 12}, {0b000011011011, 12},
    {0b000001010100, 12}, {0b000001010101, 12}, {0b000001010110, 12}, {0b000001010111, 12},
    {0b000001100100, 12}, {0b000001100101, 12}, {0b000001010010, 12}, {0b000001010011, 12},
    {0b000000100100, 12}, {0b000000110111, 12}, {0b000000111000, 12}, {0b000000100111, 12},
    {0b000000101000, 12}, {0b000001011000, 12}, {0b000001011001, 12}, {0b000000101011, 12},
    {0b000000101100, 12}, {0b000001011010, 12}, {0b000001100110, 12}, {0b000001100111, 12},
};
// ITU-T T.4 Table 3a: white make-up codes, 64..1728.
constexpr T4Code kWhiteMakeUpMsb[27] = {
    {0b11011, 5}, {0b10010, 5}, {0b010111, 6}, {0b0110111, 7},
    {0b00110110, 8}, {0b00110111, 8}, {0b01100100, 8}, {0b01100101, 8},
    {0b01101000, 8}, {0b01100111, 8}, {0b011001100, 9}, {0b011001101, 9},
    {0b011010010, 9}, {0b011010011, 9}, {0b011010100, 9}, {0b011010101, 9},
    {0b011010110, 9}, {0b011010111, 9}, {0b011011000, 9}, {0b011011001, 9},
    {0b011011010, 9}, {0b011011011, 9}, {0b010011000, 9}, {0b010011001, 9},
    {0b010011010, 9}, {0b011000, 6}, {0b010011011, 9},
};
// ITU-T T.4 Table 3a: black make-up codes, 64..1728.
constexpr T4Code kBlackMakeUpMsb[27] = {
    {0b0000001111, 10}, {0b000011001000, 12}, {0b000011001001, 12}, {0b000001011011, 12},
    {0b000000110011, 12}, {0b000000110100, 12}, {0b000000110101, 12}, {0b0000001101100, 13},
    {0b0000001101101, 13}, {0b0000001001010, 13}, {0b0000001001011, 13}, {0b0000001001100, 13},
    {0b0000001001101, 13}, {0b0000001110010, 13}, {0b0000001110011, 13}, {0b0000001110100, 13},
    {0b0000001110101, 13}, {0b0000001110110, 13}, {0b0000001110111, 13}, {0b0000001010010, 13},
    {0b0000001010011, 13}, {0b0000001010100, 13}, {0b0000001010101, 13}, {0b0000001011010, 13},
    {0b0000001011011, 13}, {0b0000001100100, 13}, {0b0000001100101, 13},
};
// ITU-T T.4 Table 3b: extended make-up codes 1792..2560, the same for both colours.
constexpr T4Code kExtendedMakeUpMsb[13] = {
    {0b00000001000, 11}, {0b00000001100, 11}, {0b00000001101, 11}, {0b000000010010, 12},
    {0b000000010011, 12}, {0b000000010100, 12}, {0b000000010101, 12}, {0b000000010110, 12},
    {0b000000010111, 12}, {0b000000011100, 12}, {0b000000011101, 12}, {0b000000011110, 12},
    {0b000000011111, 12},
};
// ITU-T T.4 4.1.2: end of line, eleven 0 bits then 1.
constexpr T4Code kEolMsb = {0b000000000001, 12};
// An EOL preceded by four fill bits: fifteen 0 bits then 1.
constexpr T4Code kEol16Msb = {0b0000000000000001, 16};

TFaxCodeTables buildCodeTables() {
  TFaxCodeTables t{};
  auto rev = [](T4Code c) { return T4Code{ReverseCodeBits(c.Code, c.Length), c.Length}; };
  for (int i = 0; i < 64; ++i) {
    t.WhiteTerminating[i] = rev(kWhiteTerminatingMsb[i]);
    t.BlackTerminating[i] = rev(kBlackTerminatingMsb[i]);
  }
  for (int i = 0; i < 27; ++i) {
    t.WhiteMakeUp[i] = rev(kWhiteMakeUpMsb[i]);
    t.BlackMakeUp[i] = rev(kBlackMakeUpMsb[i]);
  }
  for (int i = 0; i < 13; ++i) t.WhiteMakeUp[27 + i] = t.BlackMakeUp[27 + i] = rev(kExtendedMakeUpMsb[i]);
  t.Eol = rev(kEolMsb);
  t.Eol16 = rev(kEol16Msb);
  return t;
}

}  // namespace

uint16_t ReverseCodeBits(uint16_t code, int length) {
  uint16_t r = 0;
  for (int i = 0; i < length; ++i)
    if (code & (1u << i)) r = static_cast<uint16_t>(r | (1u << (length - 1 - i)));
  return r;
}

const TFaxCodeTables& FaxCodeTables() {
  static const TFaxCodeTables tables = buildCodeTables();
  return tables;
}

// ---- encoder ---------------------------------------------------------------

namespace {

// Reversed once when the program starts, not on the first line coded; the
// coder asks FaxCodeTables() so that it also works during static set-up.
const TFaxCodeTables& gCodeTablesAtStartUp = FaxCodeTables();

inline uint64_t loadBigEndian64(const uint8_t* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::little) w = __builtin_bswap64(w);
  return w;
}

// The first pixel in [pos, limit) whose colour is not `black`, or limit.
// Reads only inside the raster of `rasterBits` pixels (limit <= rasterBits).
inline int nextChange(const uint8_t* r, int pos, int limit, int rasterBits, bool black) {
  const uint8_t flip8 = black ? 0xFF : 0x00;
  const uint64_t flip64 = black ? ~0ull : 0ull;
  while (pos < limit) {
    if (pos & 7) {
      const unsigned b = static_cast<uint8_t>(r[pos >> 3] ^ flip8) & (0xFFu >> (pos & 7));
      if (b) return std::min(limit, (pos & ~7) + std::countl_zero(static_cast<uint8_t>(b)));
      pos = (pos | 7) + 1;
    } else if (pos + 64 <= rasterBits) {
      const uint64_t w = loadBigEndian64(r + (pos >> 3)) ^ flip64;
      if (w) return std::min(limit, pos + std::countl_zero(w));
      pos += 64;
    } else {
      const uint8_t b = static_cast<uint8_t>(r[pos >> 3] ^ flip8);
      if (b) return std::min(limit, pos + std::countl_zero(b));
      pos += 8;
    }
  }
  return limit;
}

inline bool isBlank(const uint8_t* r, int bytes) {
  int i = 0;
  uint64_t any = 0;
  for (; i + 8 <= bytes; i += 8) {
    uint64_t w;
    std::memcpy(&w, r + i, 8);
    any |= w;
  }
  for (; i < bytes; ++i) any |= r[i];
  return any == 0;
}

}  // namespace

TFaxLineEncoder::TFaxLineEncoder(int width, int leftMargin) {
  std::memset(buffer_, 0, sizeof buffer_);
  width_ = 1728;
  leftMargin_ = 0;
  SetWidth(width);
  SetLeftMargin(leftMargin);
}

void TFaxLineEncoder::SetWidth(int width) {
  width_ = std::clamp(width, 1, 2048);
  leftMargin_ = std::min(leftMargin_, width_);
}

void TFaxLineEncoder::SetLeftMargin(int leftMargin) { leftMargin_ = std::clamp(leftMargin, 0, width_); }

void TFaxLineEncoder::BeginLine() {
  std::memset(buffer_, 0, std::min<size_t>(static_cast<size_t>(used_) + 1, sizeof buffer_));
  used_ = 0;
  byteIndex_ = 0;
  bitIndex_ = 0;
}

void TFaxLineEncoder::PutRun(int length, bool black) {
  const TFaxCodeTables& t = FaxCodeTables();
  const T4Code* makeUp = black ? t.BlackMakeUp : t.WhiteMakeUp;
  // Longer than any line; repeating the largest make-up code is what T.4 does.
  while (length > 2623) {
    PutCode(makeUp[39].Code, makeUp[39].Length);
    length -= 2560;
  }
  if (length > 63) {
    const T4Code& m = makeUp[length / 64 - 1];
    PutCode(m.Code, m.Length);
    length %= 64;
  }
  const T4Code& c = (black ? t.BlackTerminating : t.WhiteTerminating)[length];
  PutCode(c.Code, c.Length);
}

namespace {

// Every run length a line needs, both colours: the make-up code (if any) and
// the terminating code joined into one code of up to 25 bits, bits 0-25,
// with its length in bits 26-31. One load per run.
constexpr int kJoinedRuns = 2624;
struct TJoinedRunCodes {
  uint32_t Code[2][kJoinedRuns];
};

TJoinedRunCodes* buildJoinedRunCodes() {
  static TJoinedRunCodes j;
  const TFaxCodeTables& t = FaxCodeTables();
  for (int black = 0; black < 2; ++black) {
    const T4Code* term = black ? t.BlackTerminating : t.WhiteTerminating;
    const T4Code* makeUp = black ? t.BlackMakeUp : t.WhiteMakeUp;
    for (int n = 0; n < kJoinedRuns; ++n) {
      const T4Code& c = term[n & 63];
      uint32_t code = c.Code, length = c.Length;
      if (n > 63) {
        const T4Code& m = makeUp[n / 64 - 1];
        code = m.Code | (code << m.Length);
        length += m.Length;
      }
      j.Code[black][n] = code | (length << 26);
    }
  }
  return &j;
}

// Function-local, so that a line coded while another file's statics are set
// up still finds the table; the reference below builds it at start-up.
const TJoinedRunCodes& joinedRuns() {
  static const TJoinedRunCodes* const j = buildJoinedRunCodes();
  return *j;
}
const TJoinedRunCodes& gJoinedRunsAtStartUp = joinedRuns();

// Like nextChange, but reading a 64-bit window at the run's start first: one
// load and one count for the short runs of text edges and halftones.
__attribute__((always_inline)) inline int nextChangeFast(const uint8_t* r, int pos, int limit, int rasterBits,
                                                         bool black) {
  if (pos + 64 <= rasterBits) {
    const int off = pos & 7;
    const uint64_t w = (loadBigEndian64(r + (pos >> 3)) ^ (black ? ~0ull : 0ull)) << off;
    if (w) {
      const int c = std::countl_zero(w);
      if (c < 64 - off) return std::min(limit, pos + c);
    }
    pos = (pos & ~7) + 64;
    if (pos >= limit) return limit;
  }
  return nextChange(r, pos, limit, rasterBits, black);
}

}  // namespace

int TFaxLineEncoder::EncodeLine(const uint8_t* raster) {
  const TFaxCodeTables& t = FaxCodeTables();
  // The bits gathered in a 64-bit accumulator (first bit in bit 0) and stored
  // 32 bits at a time: the same bytes as OR-ing each code into a cleared
  // buffer, with far fewer memory operations.
  const TJoinedRunCodes& joined = joinedRuns();
  uint8_t* const out = buffer_;
  uint64_t acc = 0;
  int bits = 0;
  size_t bytes = 0;
  auto put = [&](uint32_t code, int length) __attribute__((always_inline)) {
    acc |= static_cast<uint64_t>(code) << bits;
    bits += length;
    if (bits >= 32) {
      const uint32_t w = static_cast<uint32_t>(acc);
      const uint8_t le[4] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
                             static_cast<uint8_t>(w >> 24)};
      std::memcpy(out + bytes, le, 4);
      bytes += 4;
      acc >>= 32;
      bits -= 32;
    }
  };
  auto run = [&](int length, bool black) __attribute__((always_inline)) {
    if (__builtin_expect(length >= kJoinedRuns, 0)) {
      // Longer than any line: repeat the largest make-up code, as T.4 does.
      const T4Code& m = (black ? t.BlackMakeUp : t.WhiteMakeUp)[39];
      while (length >= kJoinedRuns) {
        put(m.Code, m.Length);
        length -= 2560;
      }
    }
    const uint32_t e = joined.Code[black][length];
    put(e & 0x3FFFFFF, static_cast<int>(e >> 26));
  };

  put(t.Eol16.Code, t.Eol16.Length);
  const int w = width_;
  const int lm = leftMargin_;
  if (isBlank(raster, w / 8)) {
    run(w, false);
  } else if (!doubleWidth_) {
    const int limit = w - lm;
    int pos = 0;
    int extra = lm;  // the margin joins the first white run
    bool black = false;
    if (limit <= 0) run(w, false);
    while (pos < limit) {
      const int next = nextChangeFast(raster, pos, limit, w, black);
      run(next - pos + extra, black);
      extra = 0;
      pos = next;
      black = !black;
    }
  } else {
    const int limit = (w - lm + 1) / 2;
    int pos = 0;
    int total = 0;
    int extra = lm;
    bool black = false;
    if (limit <= 0) run(w, false);
    while (pos < limit && total < w) {
      const int next = nextChangeFast(raster, pos, limit, w, black);
      const int len = std::min(2 * (next - pos) + extra, w - total);
      run(len, black);
      total += len;
      extra = 0;
      pos = next;
      black = !black;
    }
  }
  // What is left, and zeros after it: the fill bytes of the line.
  uint8_t tail[16] = {};
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<uint8_t>(acc >> (8 * i));
  std::memcpy(out + bytes, tail, 16);
  const size_t bitCount = bytes * 8 + static_cast<size_t>(bits);
  byteIndex_ = static_cast<int>(bitCount / 8);
  bitIndex_ = static_cast<int>(bitCount % 8);
  // Bytes written, cleared before a line coded code by code.
  used_ = static_cast<int>(bytes) + 16;
  return byteIndex_ + 2;
}

int TFaxLineEncoder::EncodePageEnd() {
  BeginLine();
  const TFaxCodeTables& t = FaxCodeTables();
  PutCode(t.Eol16.Code, t.Eol16.Length);
  for (int i = 0; i < 7; ++i) PutCode(t.Eol.Code, t.Eol.Length);
  // 100 bits coded; the last four are cut off.
  buffer_[kFaxPageEndBytes] = 0;
  used_ = kFaxPageEndBytes + 1;
  return kFaxPageEndBytes;
}

// ---- decoder trees ---------------------------------------------------------

namespace {

// The run length (or kEol) of the code `path` of `depth` bits, -1 if none.
int codeValue(bool black, uint32_t path, int depth) {
  const T4Code* term = black ? kBlackTerminatingMsb : kWhiteTerminatingMsb;
  const T4Code* makeUp = black ? kBlackMakeUpMsb : kWhiteMakeUpMsb;
  for (int i = 0; i < 64; ++i)
    if (term[i].Length == depth && term[i].Code == path) return i;
  for (int i = 0; i < 27; ++i)
    if (makeUp[i].Length == depth && makeUp[i].Code == path) return 64 * (i + 1);
  for (int i = 0; i < 13; ++i)
    if (kExtendedMakeUpMsb[i].Length == depth && kExtendedMakeUpMsb[i].Code == path) return 64 * (28 + i);
  if (kEolMsb.Length == depth && kEolMsb.Code == path) return TDecodeNode::kEol;
  return -1;
}

}  // namespace

TFaxDecodeTree::TFaxDecodeTree(bool black) : black_(black) {
  build(0, 0);
  // Eleven 0 bits lead back to themselves on a further 0: fill of any length.
  int n = kRoot;
  for (int i = 0; i < 11; ++i) n = nodes_[n].Child[0];
  nodes_[n].Child[0] = static_cast<int16_t>(n);
}

int TFaxDecodeTree::build(uint32_t path, int depth) {
  const int index = count_++;
  TDecodeNode& node = nodes_[index];
  node.Child[0] = node.Child[1] = -1;
  const int v = depth > 0 ? codeValue(black_, path, depth) : -1;
  if (v != -1) {
    node.Value = static_cast<int16_t>(v);
  } else if (depth == 13) {
    node.Value = TDecodeNode::kDeadEnd;
  } else {
    node.Value = TDecodeNode::kInternal;
    const int c0 = build(path << 1, depth + 1);
    const int c1 = build((path << 1) | 1, depth + 1);
    nodes_[index].Child[0] = static_cast<int16_t>(c0);
    nodes_[index].Child[1] = static_cast<int16_t>(c1);
  }
  return index;
}

const TFaxDecodeTree& WhiteDecodeTree() {
  static const TFaxDecodeTree tree(false);
  return tree;
}
const TFaxDecodeTree& BlackDecodeTree() {
  static const TFaxDecodeTree tree(true);
  return tree;
}

// ---- decoder ---------------------------------------------------------------

namespace {

// Lookup of the next 13 bits (bit 0 first) at a tree's root, made by walking
// the trees. Bits 0-3: bits used by the first code (0: thirteen 0 bits, the
// fill loop). Bits 8-19: its value, a run length, kEolEntry or kDeadEntry.
// When the first code is a terminating code and the bits after it hold a
// whole terminating code of the other colour, bits 4-7 give the bits both
// use and bits 20-25 the second run: two runs for one lookup, the common case
// in halftones.
constexpr unsigned kEolEntry = 4094;
constexpr unsigned kDeadEntry = 4095;

struct TDecodeTables {
  uint32_t Both[2 * 8192];  // white, then black
};

// Walks `tree` from the root over bits first.. of idx; the leaf's value and
// the bit after it, or kInternal when 13 bits end inside the tree.
int walk(const TFaxDecodeTree& tree, unsigned idx, int first, int& next) {
  int node = TFaxDecodeTree::kRoot;
  for (int i = first; i < 13; ++i) {
    node = tree.Node(node).Child[(idx >> i) & 1];
    const int v = tree.Node(node).Value;
    if (v != TDecodeNode::kInternal) {
      next = i + 1;
      return v;
    }
  }
  return TDecodeNode::kInternal;
}

void fillTable(const TFaxDecodeTree& tree, const TFaxDecodeTree& other, uint32_t* table) {
  for (unsigned idx = 0; idx < 8192; ++idx) {
    int len = 0;
    const int v = walk(tree, idx, 0, len);
    if (v == TDecodeNode::kInternal) {
      table[idx] = 0;  // still inside the tree after 13 bits: the fill loop
      continue;
    }
    const unsigned value = v == TDecodeNode::kEol ? kEolEntry : v == TDecodeNode::kDeadEnd ? kDeadEntry : v;
    uint32_t entry = (value << 8) | static_cast<uint32_t>(len);
    if (v >= 0 && v < 64) {
      int total = 0;
      const int v2 = walk(other, idx, len, total);
      if (v2 >= 0 && v2 < 64) entry |= (static_cast<uint32_t>(total) << 4) | (static_cast<uint32_t>(v2) << 20);
    }
    table[idx] = entry;
  }
}

TDecodeTables* buildDecodeTables() {
  static TDecodeTables t;
  fillTable(WhiteDecodeTree(), BlackDecodeTree(), t.Both);
  fillTable(BlackDecodeTree(), WhiteDecodeTree(), t.Both + 8192);
  return &t;
}

const TDecodeTables& decodeTables() {
  static const TDecodeTables* const t = buildDecodeTables();
  return *t;
}
const TDecodeTables& gDecodeTablesAtStartUp = decodeTables();

inline void setBits(uint8_t* line, unsigned pos, unsigned len) {
  const unsigned off = pos & 7;
  if (off + len <= 57) {
    // Short runs (most of them): one 64-bit window, bit 63 = first pixel.
    uint8_t* at = line + (pos >> 3);
    uint64_t w;
    std::memcpy(&w, at, 8);
    const uint64_t mask = (~0ull >> off) & ~(~0ull >> (off + len));
    if constexpr (std::endian::native == std::endian::little)
      w |= __builtin_bswap64(mask);
    else
      w |= mask;
    std::memcpy(at, &w, 8);
    return;
  }
  const unsigned end = pos + len;  // exclusive
  const unsigned b0 = pos >> 3, b1 = (end - 1) >> 3;
  const uint8_t m0 = static_cast<uint8_t>(0xFFu >> (pos & 7));
  const uint8_t m1 = static_cast<uint8_t>(0xFF00u >> (((end - 1) & 7) + 1));
  if (b0 == b1) {
    line[b0] |= static_cast<uint8_t>(m0 & m1);
  } else {
    line[b0] |= m0;
    if (b1 > b0 + 1) std::memset(line + b0 + 1, 0xFF, b1 - b0 - 1);
    line[b1] |= m1;
  }
}

}  // namespace

TFaxLineDecoder::TFaxLineDecoder() {
  std::memset(line_, 0, sizeof line_);
  StartPage();
}

void TFaxLineDecoder::StartPage() {
  std::memset(line_, 0, sizeof line_);
  acc_ = 0;
  bits_ = 0;
  black_ = false;
  beforeFirstEol_ = true;
  skipOnes_ = false;
  zeroLoop_ = false;
  pageEnded_ = false;
  eolCount_ = 0;
  position_ = 0;
  stats_ = TFaxDecodeStats{};
}

size_t TFaxLineDecoder::DecodeBytes(const uint8_t* data, size_t n) {
  if (pageEnded_) return 0;
  const uint8_t* p = data;
  const uint8_t* const end = data + n;
  // The walk's state lives in locals (registers): stores into the line
  // buffer may alias any member, which would force members back to memory
  // on every run.
  uint64_t acc = acc_;
  int bits = bits_;
  unsigned black = black_ ? 1 : 0;
  unsigned pos = position_;
  bool skipOnes = skipOnes_, zeroLoop = zeroLoop_, before = beforeFirstEol_;
  // Runs are applied while their byte plus length / 8 stays below this; 0
  // before the first EOL, where runs give no pixels.
  unsigned runLimit = before ? 0 : kLineBufferBytes;
  // Two runs of at most 63 pixels from below this position stay clear of it.
  constexpr unsigned kPairLimit = (kLineBufferBytes - 16) * 8;
  unsigned pairLimit = before ? 0 : kPairLimit;
  int eolCount = eolCount_;
  uint8_t* const line = line_;
  const uint32_t* const tables = decodeTables().Both;

  for (;;) {
    if (bits < 13) {
      if (end - p >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        const int take = (64 - bits) >> 3;
        const int newBits = bits + 8 * take;
        acc |= w << bits;
        if (newBits < 64) acc &= (1ull << newBits) - 1;
        bits = newBits;
        p += take;
      } else {
        while (bits <= 56 && p < end) {
          acc |= static_cast<uint64_t>(*p++) << bits;
          bits += 8;
        }
        if (bits == 0) break;
      }
    }
    bool eol = false;
    if (__builtin_expect(skipOnes || zeroLoop, 0)) {
      if (skipOnes) {
        const uint64_t zeros = ~acc;
        const int t = zeros ? std::countr_zero(zeros) : 64;
        if (t >= bits) {
          acc = 0;
          bits = 0;
          if (p == end) break;
          continue;
        }
        acc >>= t;
        bits -= t;
        skipOnes = false;
        ++stats_.SkipOnesRecoveries;
        continue;
      }
      if (acc == 0) {
        bits = 0;
        if (p == end) break;
        continue;
      }
      const int t = std::countr_zero(acc);
      acc = (acc >> t) >> 1;
      bits -= t + 1;
      zeroLoop = false;
      eol = true;
    } else {
      const uint32_t e = tables[(black << 13) | static_cast<unsigned>(acc & 0x1FFF)];
      const int len = e & 15;
      const unsigned v = (e >> 8) & 0xFFF;
      if (__builtin_expect(len == 0 || len > bits, 0)) {
        if (len == 0 && bits >= 11) {
          acc >>= 11;
          bits -= 11;
          zeroLoop = true;
          continue;
        }
        if (p == end) break;
        continue;
      }
      acc >>= len;
      bits -= len;
      if (__builtin_expect(v < kEolEntry, 1)) {
        eolCount = 0;
        const int total = (e >> 4) & 15;
        if (total != 0 && pos < pairLimit && total - len <= bits) {
          // A terminating code of the other colour follows within the bits
          // at hand: apply both now, exactly as two steps would. Below
          // pairLimit neither run can reach byte 512.
          const unsigned v2 = e >> 20;
          if (black)
            setBits(line, pos, v);
          else
            setBits(line, pos + v, v2);
          pos += v + v2;
          acc >>= total - len;
          bits -= total - len;
          continue;  // two flips: the colour is the same again
        }
        // A run that would pass byte 512 is ignored, its colour change too.
        if (__builtin_expect((v >> 3) + (pos >> 3) < runLimit, 1)) {
          if (black && v) setBits(line, pos, v);
          pos += v;
          black ^= v < 64 ? 1u : 0u;
        }
        continue;
      }
      if (v != kEolEntry) {
        ++stats_.BadCodes;
        skipOnes = true;
        continue;
      }
      eol = true;
    }
    if (eol) {
      if (pos > 0) {
        const unsigned bytes = pos >> 3;
        if (bytes == 216 || bytes == 256) {
          ++stats_.LinesDelivered;
          if (sink_) sink_(line, static_cast<int>(bytes));
        } else {
          ++stats_.LinesDropped;
        }
        std::memset(line, 0, std::min<size_t>((pos + 7) / 8 + 1, kLineBufferBytes + 8));
        pos = 0;
      }
      black = 0;
      before = false;
      runLimit = kLineBufferBytes;
      pairLimit = kPairLimit;
      if (++eolCount >= 3) {
        pageEnded_ = true;
        break;
      }
    }
  }
  acc_ = acc;
  bits_ = bits;
  black_ = black != 0;
  position_ = pos;
  skipOnes_ = skipOnes;
  zeroLoop_ = zeroLoop;
  beforeFirstEol_ = before;
  eolCount_ = eolCount;
  const size_t fed = static_cast<size_t>(p - data);
  const size_t unused = static_cast<size_t>(bits) / 8;
  return fed > unused ? fed - unused : 0;
}

}  // namespace qc
