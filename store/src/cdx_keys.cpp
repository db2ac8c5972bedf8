// Key encoding by type, so that memcmp order of the bytes is the order of
// the values.
#include <bit>
#include <cstring>

#include "cdx_file.h"

namespace qc {

std::string CdxEncodeCharKey(std::string_view text, int keyLength) {
  std::string key(text.substr(0, size_t(keyLength)));
  key.resize(size_t(keyLength), ' ');
  return key;
}

std::string CdxEncodeLogicalKey(bool value) { return std::string(1, value ? 'T' : 'F'); }

std::string CdxEncodeNumericKey(double value) {
  if (value == 0.0) value = 0.0;  // -0.0 sorts with +0.0
  uint64_t bits = std::bit_cast<uint64_t>(value);
  if (value < 0)
    bits = ~bits;
  else
    bits ^= 0x8000000000000000ull;
  std::string key(8, '\0');
  for (int i = 0; i < 8; ++i) key[size_t(i)] = char(uint8_t(bits >> (56 - 8 * i)));
  return key;
}

double CdxDecodeNumericKey(std::string_view key8) {
  if (key8.size() < 8) return 0.0;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | uint8_t(key8[size_t(i)]);
  if (bits & 0x8000000000000000ull)
    bits ^= 0x8000000000000000ull;
  else
    bits = ~bits;
  return std::bit_cast<double>(bits);
}

std::string CdxEncodeDateKey(int32_t julianDay) { return CdxEncodeNumericKey(double(julianDay)); }

int32_t CdxJulianDay(int year, int month, int day) {
  if (year == 0) return 0;
  // Fliegel and Van Flandern's day number of the proleptic Gregorian calendar.
  const int a = (14 - month) / 12;
  const int y = year + 4800 - a;
  const int m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

char CdxFillByte(CdxKeyType type) {
  return (type == CdxKeyType::Numeric || type == CdxKeyType::Date) ? '\0' : ' ';
}

}  // namespace qc
