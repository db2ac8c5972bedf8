#include "codepage_1252.h"

#include <array>
#include <cstdint>

namespace qc {
namespace {

// Bytes 0x80..0x9F of Windows-1252 (the Unicode consortium's mapping table
// CP1252.TXT). The five bytes it leaves undefined map to the C1 control of the
// same value, as Windows itself does, so that every byte survives a round trip.
constexpr std::array<char32_t, 32> kHigh = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char32_t ToUnicode(unsigned char c) {
  if (c >= 0x80 && c <= 0x9F) return kHigh[c - 0x80];
  return c;
}

bool FromUnicode(char32_t u, unsigned char& out) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
    out = static_cast<unsigned char>(u);
    return true;
  }
  for (std::size_t i = 0; i < kHigh.size(); ++i) {
    if (kHigh[i] == u) {
      out = static_cast<unsigned char>(0x80 + i);
      return true;
    }
  }
  return false;
}

void AppendUtf8(std::string& out, char32_t u) {
  if (u < 0x80) {
    out += static_cast<char>(u);
  } else if (u < 0x800) {
    out += static_cast<char>(0xC0 | (u >> 6));
    out += static_cast<char>(0x80 | (u & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (u >> 12));
    out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (u & 0x3F));
  }
}

}  // namespace

bool Utf8ToCp1252(std::string_view utf8, std::string& out, std::string* badChar) {
  out.clear();
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    char32_t u = 0;
    std::size_t n = 0;
    if (b0 < 0x80) {
      u = b0;
      n = 1;
    } else if ((b0 & 0xE0) == 0xC0) {
      u = b0 & 0x1F;
      n = 2;
    } else if ((b0 & 0xF0) == 0xE0) {
      u = b0 & 0x0F;
      n = 3;
    } else if ((b0 & 0xF8) == 0xF0) {
      u = b0 & 0x07;
      n = 4;
    } else {
      if (badChar) *badChar = "invalid UTF-8";
      return false;
    }
    if (i + n > utf8.size()) {
      if (badChar) *badChar = "invalid UTF-8";
      return false;
    }
    for (std::size_t k = 1; k < n; ++k) {
      const auto b = static_cast<unsigned char>(utf8[i + k]);
      if ((b & 0xC0) != 0x80) {
        if (badChar) *badChar = "invalid UTF-8";
        return false;
      }
      u = (u << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (u < kMin[n] || (u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF) {
      if (badChar) *badChar = "invalid UTF-8";
      return false;
    }
    unsigned char c = 0;
    if (!FromUnicode(u, c)) {
      if (badChar) *badChar = std::string(utf8.substr(i, n));
      return false;
    }
    out += static_cast<char>(c);
    i += n;
  }
  return true;
}

std::string Cp1252ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char ch : text) AppendUtf8(out, ToUnicode(static_cast<unsigned char>(ch)));
  return out;
}

unsigned char UpperCp1252(unsigned char c) {
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);
  switch (c) {
    case 0x9A: return 0x8A;  // s caron
    case 0x9C: return 0x8C;  // oe
    case 0x9E: return 0x8E;  // z caron
    case 0xFF: return 0x9F;  // y diaeresis
    default: return c;
  }
}

unsigned char LowerCp1252(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<unsigned char>(c + 0x20);
  switch (c) {
    case 0x8A: return 0x9A;
    case 0x8C: return 0x9C;
    case 0x8E: return 0x9E;
    case 0x9F: return 0xFF;
    default: return c;
  }
}

}  // namespace qc
