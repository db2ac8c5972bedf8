// Key encoding: bytes other engines write for the same values, and memcmp
// order equal to value order.
#include <algorithm>
#include <random>

#include "cdx_test_util.h"

namespace qc::test {
namespace {

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += d[c >> 4];
    h += d[c & 15];
  }
  return h;
}

TEST(CdxKeys, MatchTheBytesOtherEnginesWrite) {
  struct Case {
    std::string key;
    const char* hex;
  };
  const Case cases[] = {
      {CdxEncodeDateKey(CdxJulianDay(2024, 1, 1)), "c142c54b80000000"},
      {CdxEncodeNumericKey(-10), "3fdbffffffffffff"},
      {CdxEncodeNumericKey(0), "8000000000000000"},
      {CdxEncodeNumericKey(-0.0), "8000000000000000"},
      {CdxEncodeLogicalKey(true), "54"},
      {CdxEncodeLogicalKey(false), "46"},
      {CdxEncodeCharKey("ab", 4), "61622020"},
      {CdxEncodeCharKey("abcdef", 4), "61626364"},
  };
  for (const Case& c : cases) EXPECT_EQ(Hex(c.key), c.hex);
  EXPECT_EQ(CdxJulianDay(2000, 1, 1), 2451545);
  EXPECT_EQ(CdxJulianDay(1970, 1, 1), 2440588);
  EXPECT_EQ(CdxJulianDay(2024, 3, 1) - CdxJulianDay(2024, 2, 28), 2);  // leap year
  EXPECT_EQ(CdxJulianDay(0, 0, 0), 0);
  EXPECT_EQ(CdxFillByte(CdxKeyType::Numeric), '\0');
  EXPECT_EQ(CdxFillByte(CdxKeyType::Character), ' ');
}

TEST(CdxKeys, NumericByteOrderIsValueOrder) {
  std::mt19937 rng(3);
  std::vector<double> values = {-1e300, -2.5, -1, -1e-300, 0, 1e-300, 0.5, 1, 2, 99, 1e300};
  for (int i = 0; i < 2000; ++i) values.push_back(double(int32_t(rng())) / double(1 + rng() % 1000));
  for (double a : values) {
    EXPECT_EQ(CdxDecodeNumericKey(CdxEncodeNumericKey(a)), a);
    for (int j = 0; j < 5; ++j) {
      const double b = values[rng() % values.size()];
      const int c = CdxEncodeNumericKey(a).compare(CdxEncodeNumericKey(b));
      EXPECT_EQ(c < 0, a < b) << a << " " << b;
      EXPECT_EQ(c == 0, a == b) << a << " " << b;
    }
  }
}

}  // namespace
}  // namespace qc::test
