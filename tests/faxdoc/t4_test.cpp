#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "faxdoc/t4.h"
#include "reference_decoder.h"

namespace qc {
namespace {

std::vector<uint8_t> Bytes(const uint8_t* p, int n) { return std::vector<uint8_t>(p, p + n); }

std::vector<uint8_t> EncodeOne(int width, int lm, const std::vector<uint8_t>& raster) {
  TFaxLineEncoder enc(width, lm);
  const int n = enc.EncodeLine(raster.data());
  return Bytes(enc.Data(), n);
}

struct DecodeResult {
  std::vector<std::vector<uint8_t>> lines;
  TFaxDecodeStats stats;
  bool ended = false;
};

DecodeResult Decode(const std::vector<uint8_t>& data, size_t chunk = 0) {
  DecodeResult r;
  TFaxLineDecoder dec;
  dec.SetLineSink([&](const uint8_t* l, int n) { r.lines.emplace_back(l, l + n); });
  if (chunk == 0) chunk = data.size() ? data.size() : 1;
  for (size_t i = 0; i < data.size() && !dec.PageEnded(); i += chunk)
    dec.DecodeBytes(data.data() + i, std::min(chunk, data.size() - i));
  r.stats = dec.Stats();
  r.ended = dec.PageEnded();
  return r;
}

// Appends bits given as a string of '0'/'1' (first bit first) to a stream.
struct BitWriter {
  std::vector<uint8_t> bytes;
  int bit = 0;
  void Put(const std::string& s) {
    for (char c : s) {
      if (bit == 0) bytes.push_back(0);
      if (c == '1') bytes.back() |= static_cast<uint8_t>(1 << bit);
      bit = (bit + 1) & 7;
    }
  }
};

TEST(T4Encoder, ByteExactLines) {
  struct Case {
    const char* name;
    int width, lm;
    int blackPixels;  // leading black pixels
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {"blank 1728", 1728, 50, 0, {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}},
      {"blank 1728 lm 0", 1728, 0, 0, {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00}},
      {"blank 2048", 2048, 50, 0, {0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00}},
      {"blank 2048 lm 0", 2048, 0, 0, {0x00, 0x80, 0x80, 0xCC, 0x0A, 0x00}},
      {"eight black lm 0", 1728, 0, 8, {0x00, 0x80, 0xAC, 0xA8, 0xA1, 0x09, 0x00}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> raster(c.width / 8, 0);
    for (int i = 0; i < c.blackPixels; ++i) raster[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
    EXPECT_EQ(EncodeOne(c.width, c.lm, raster), c.expected) << c.name;
  }
}

TEST(T4Encoder, PageEnd) {
  TFaxLineEncoder enc;
  std::vector<uint8_t> raster(216, 0xFF);
  enc.EncodeLine(raster.data());  // a long line first: the buffer must be cleared
  ASSERT_EQ(enc.EncodePageEnd(), 12);
  const std::vector<uint8_t> expected = {0x00, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00, 0x08, 0x80, 0x00};
  EXPECT_EQ(Bytes(enc.Data(), 12), expected);
}

TEST(T4Encoder, TablesReversedAtStartUp) {
  const TFaxCodeTables& t = FaxCodeTables();
  EXPECT_EQ(t.WhiteTerminating[0].Code, 0b10101100);  // 00110101 sent bit 0 first
  EXPECT_EQ(t.WhiteTerminating[0].Length, 8);
  EXPECT_EQ(t.Eol.Code, 0x800);
  EXPECT_EQ(t.Eol16.Code, 0x8000);
  EXPECT_EQ(t.WhiteMakeUp[31].Code, t.BlackMakeUp[31].Code);  // 2048, shared
}

TEST(T4Decoder, TreesHaveTheirSize) {
  for (const TFaxDecodeTree* tree : {&WhiteDecodeTree(), &BlackDecodeTree()}) {
    // 268 nodes below the root.
    EXPECT_EQ(tree->NodeCount(), 269);
    int n = TFaxDecodeTree::kRoot;
    for (int i = 0; i < 11; ++i) n = tree->Node(n).Child[0];
    EXPECT_EQ(tree->Node(n).Child[0], n);
    EXPECT_EQ(tree->Node(tree->Node(n).Child[1]).Value, TDecodeNode::kEol);
  }
}

TEST(T4Decoder, MarginShiftAndLossRoundTrip) {
  std::vector<uint8_t> raster(216, 0);
  raster[0] = 0xFF;                       // pixels 0..7
  raster[215] = 0x01;                     // pixel 1727: lost at LM 50
  raster[100] = 0x3C;                     // pixels 802..805
  TFaxLineEncoder enc(1728, 50);
  std::vector<uint8_t> data = Bytes(enc.Data(), enc.EncodeLine(raster.data()));
  const int n = enc.EncodePageEnd();
  data.insert(data.end(), enc.Data(), enc.Data() + n);
  const DecodeResult r = Decode(data);
  ASSERT_EQ(r.lines.size(), 1u);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.stats.BadCodes, 0u);
  std::vector<uint8_t> expected(216, 0);
  for (int px : {50, 51, 52, 53, 54, 55, 56, 57, 852, 853, 854, 855}) expected[px / 8] |= static_cast<uint8_t>(0x80 >> (px % 8));
  EXPECT_EQ(r.lines[0], expected);
}

TEST(T4Decoder, FillAndBadCodes) {
  const std::string blank = "010011011" "00110101";  // white 1728, white 0
  struct Case {
    const char* name;
    std::string bits;
    uint64_t lines, bad, dropped;
  };
  const std::string eol = "000000000001";
  const Case cases[] = {
      // Thirty 0 bits and a 1 are one EOL: the line between is delivered.
      {"30 zeros", eol + blank + std::string(30, '0') + "1" + eol + eol, 1, 0, 0},
      {"8 zeros", eol + "000000001" + "1111" + eol + blank + eol, 1, 1, 0},
      {"9 zeros", eol + "0000000001" + "111" + eol + blank + eol, 1, 1, 0},
      {"10 zeros", eol + "00000000001" + "11" + eol + blank + eol, 1, 1, 0},
      {"data before first eol", blank + blank + eol + eol + eol, 0, 0, 0},
      {"short line dropped", eol + "0111" "11" "0111" + eol + eol, 0, 0, 1},
  };
  for (const Case& c : cases) {
    BitWriter w;
    w.Put(c.bits);
    const DecodeResult r = Decode(w.bytes);
    EXPECT_EQ(r.stats.LinesDelivered, c.lines) << c.name;
    EXPECT_EQ(r.stats.BadCodes, c.bad) << c.name;
    EXPECT_EQ(r.stats.LinesDropped, c.dropped) << c.name;
  }
}

TEST(T4Decoder, ThreeEolsEndThePage) {
  BitWriter w;
  const std::string eol = "000000000001";
  w.Put(eol + "010011011" "00110101" + eol + eol + eol + "010011011" "00110101" + eol);
  const DecodeResult r = Decode(w.bytes);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.stats.LinesDelivered, 1u);
}

// Random and damaged streams: the table-driven decoder and the bit walk agree
// on lines, counts and the byte at which each line appears, for any chunking.
TEST(T4Decoder, AgreesWithBitWalkOnDamagedData) {
  std::mt19937 rng(12345);
  TFaxLineEncoder enc(1728, 0);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> data;
    const int kind = round % 5;
    if (kind == 4) {
      // Lines running past 4096 pixels: runs near and over the line buffer's
      // end, where runs must be ignored with their colour change.
      TFaxLineEncoder raw(2048, 0);
      for (int line = 0; line < 4; ++line) {
        raw.BeginLine();
        raw.PutCode(FaxCodeTables().Eol.Code, FaxCodeTables().Eol.Length);
        bool black = false;
        const int runs = 100 + static_cast<int>(rng() % 400);
        for (int r = 0; r < runs; ++r) {
          if (rng() % 8 == 0) {
            // A bare make-up code: the colour stays.
            const T4Code& m = (black ? FaxCodeTables().BlackMakeUp : FaxCodeTables().WhiteMakeUp)[rng() % 40];
            raw.PutCode(m.Code, m.Length);
          } else {
            raw.PutRun(static_cast<int>(rng() % 64), black);
            black = !black;
          }
        }
        data.insert(data.end(), raw.Data(), raw.Data() + raw.ByteIndex() + 1);
      }
    } else if (kind == 0) {
      // Pure noise, sometimes biased to zeros (long fill-like stretches).
      const int n = 200 + static_cast<int>(rng() % 3000);
      for (int i = 0; i < n; ++i) {
        uint8_t b = static_cast<uint8_t>(rng());
        if (round % 8 == 0) b &= static_cast<uint8_t>(rng());
        data.push_back(b);
      }
    } else {
      // Real lines (random runs, both widths), then damage: flipped bits,
      // dropped and inserted bytes, bursts of zeros and ones.
      const int width = (round & 1) ? 2048 : 1728;
      enc.SetWidth(width);
      std::vector<uint8_t> raster(width / 8);
      const int lines = 5 + static_cast<int>(rng() % 40);
      for (int l = 0; l < lines; ++l) {
        const int density = static_cast<int>(rng() % 4);
        for (auto& b : raster) b = density == 0 ? 0 : static_cast<uint8_t>(rng() & (density == 1 ? rng() & rng() : rng()));
        const int n = enc.EncodeLine(raster.data());
        data.insert(data.end(), enc.Data(), enc.Data() + n);
      }
      if (kind >= 2) {
        const int damage = 1 + static_cast<int>(rng() % 20);
        for (int d = 0; d < damage && !data.empty(); ++d) {
          const size_t at = rng() % data.size();
          switch (rng() % 4) {
            case 0: data[at] ^= static_cast<uint8_t>(1 << (rng() % 8)); break;
            case 1: data.erase(data.begin() + static_cast<long>(at)); break;
            case 2: data.insert(data.begin() + static_cast<long>(at), static_cast<uint8_t>(rng())); break;
            default: data.insert(data.begin() + static_cast<long>(at), 2 + rng() % 6, static_cast<uint8_t>((rng() & 1) ? 0xFF : 0x00));
          }
        }
      }
      if (kind == 3) {
        const int n = enc.EncodePageEnd();
        data.insert(data.end(), enc.Data(), enc.Data() + n);
      }
    }
    test::ReferenceDecoder ref;
    ref.Feed(data.data(), data.size());
    for (size_t chunk : {size_t{0}, size_t{1}, size_t{7}, size_t{4096}}) {
      const DecodeResult r = Decode(data, chunk);
      ASSERT_EQ(r.lines, ref.lines) << "round " << round << " chunk " << chunk;
      EXPECT_EQ(r.stats.LinesDelivered, ref.stats.LinesDelivered);
      EXPECT_EQ(r.stats.LinesDropped, ref.stats.LinesDropped) << "round " << round;
      EXPECT_EQ(r.stats.BadCodes, ref.stats.BadCodes) << "round " << round;
      EXPECT_EQ(r.stats.SkipOnesRecoveries, ref.stats.SkipOnesRecoveries) << "round " << round;
      EXPECT_EQ(r.ended, ref.pageEnded);
    }
    // Byte by byte, each line appears after the same byte as in the bit walk.
    TFaxLineDecoder dec;
    uint64_t delivered = 0;
    dec.SetLineSink([&](const uint8_t*, int) { ++delivered; });
    for (size_t i = 0; i < ref.linesAfterByte.size(); ++i) {
      dec.DecodeBytes(&data[i], 1);
      ASSERT_EQ(delivered, ref.linesAfterByte[i]) << "round " << round << " byte " << i;
    }
  }
}

}  // namespace
}  // namespace qc
