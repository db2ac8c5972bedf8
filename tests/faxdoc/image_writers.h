// Small image files for the reader tests and the fuzz seeds, written straight
// from the file formats' descriptions: PBM, PCX, DCX, BMP and TIFF.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qc::test {

// A 1-bit picture in raster form: (w + 7) / 8 bytes per row, set bit =
// black, pad bits 0.
struct Picture {
  int w = 0;
  int h = 0;
  std::vector<std::vector<uint8_t>> rows;

  bool Black(int x, int y) const { return rows[y][x >> 3] & (0x80 >> (x & 7)); }
};

// A deterministic pattern of black and white with some structure.
inline Picture MakePicture(int w, int h, uint32_t seed = 1) {
  Picture p{w, h, {}};
  uint32_t s = seed * 2654435761u + 1;
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> row(static_cast<size_t>((w + 7) / 8), 0);
    for (int x = 0; x < w; ++x) {
      s = s * 1103515245u + 12345u;
      const bool black = ((s >> 16) & 3) == 0 || (x + y) % 11 == 0 || (y % 7 == 3 && x > w / 3);
      if (black) row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
    }
    p.rows.push_back(row);
  }
  return p;
}

inline void Put16(std::vector<uint8_t>& b, uint32_t v, bool big = false) {
  if (big) {
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
  } else {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
  }
}
inline void Put32(std::vector<uint8_t>& b, uint32_t v, bool big = false) {
  if (big) {
    Put16(b, v >> 16, true);
    Put16(b, v & 0xFFFF, true);
  } else {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
  }
}

inline std::vector<uint8_t> PbmBytes(const Picture& p, const std::string& header = "") {
  const std::string head = header.empty() ? "P4\n" + std::to_string(p.w) + " " + std::to_string(p.h) + "\n" : header;
  std::vector<uint8_t> b(head.begin(), head.end());
  for (const auto& row : p.rows) b.insert(b.end(), row.begin(), row.end());
  return b;
}

// PCX version 5, 1 plane of 1 bit, run-length coded, 1 = white.
inline std::vector<uint8_t> PcxBytes(const Picture& p) {
  const int bytesPerLine = ((p.w + 7) / 8 + 1) & ~1;
  std::vector<uint8_t> b(128, 0);
  b[0] = 10;
  b[1] = 5;
  b[2] = 1;
  b[3] = 1;
  b[8] = static_cast<uint8_t>((p.w - 1) & 0xFF);
  b[9] = static_cast<uint8_t>((p.w - 1) >> 8);
  b[10] = static_cast<uint8_t>((p.h - 1) & 0xFF);
  b[11] = static_cast<uint8_t>((p.h - 1) >> 8);
  b[65] = 1;
  b[66] = static_cast<uint8_t>(bytesPerLine & 0xFF);
  b[67] = static_cast<uint8_t>(bytesPerLine >> 8);
  for (const auto& row : p.rows) {
    std::vector<uint8_t> line(static_cast<size_t>(bytesPerLine), 0xFF);
    for (size_t i = 0; i < row.size(); ++i) line[i] = static_cast<uint8_t>(~row[i]);
    for (size_t i = 0; i < line.size();) {
      size_t n = 1;
      while (i + n < line.size() && line[i + n] == line[i] && n < 63) ++n;
      if (n > 1 || line[i] >= 0xC0) b.push_back(static_cast<uint8_t>(0xC0 | n));
      b.push_back(line[i]);
      i += n;
    }
  }
  return b;
}

// DCX: magic, page offsets in the order given, 0, then the pages in the
// order of `layout` (indexes into `pages`).
inline std::vector<uint8_t> DcxBytes(const std::vector<std::vector<uint8_t>>& pages,
                                     const std::vector<int>& tableOrder) {
  std::vector<uint8_t> b;
  Put32(b, 987654321);
  const size_t tableBytes = 4 * (tableOrder.size() + 1);
  std::vector<uint32_t> offsets(pages.size());
  uint32_t at = static_cast<uint32_t>(4 + tableBytes);
  for (size_t i = 0; i < pages.size(); ++i) {
    offsets[i] = at;
    at += static_cast<uint32_t>(pages[i].size());
  }
  for (const int i : tableOrder) Put32(b, offsets[static_cast<size_t>(i)]);
  Put32(b, 0);
  for (const auto& page : pages) b.insert(b.end(), page.begin(), page.end());
  return b;
}

inline std::vector<uint8_t> BmpHeaders(int w, int h, int bits, uint32_t dataBytes, int paletteEntries) {
  std::vector<uint8_t> b;
  const uint32_t offset = 14 + 40 + 4 * static_cast<uint32_t>(paletteEntries);
  b.push_back('B');
  b.push_back('M');
  Put32(b, offset + dataBytes);
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(w));
  Put32(b, static_cast<uint32_t>(h));
  Put16(b, 1);
  Put16(b, static_cast<uint32_t>(bits));
  Put32(b, 0);  // BI_RGB
  Put32(b, dataBytes);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  return b;
}

// 1-bit BMP; palette 0 = black, 1 = white unless `whiteFirst`; bottom-up
// unless `topDown`.
inline std::vector<uint8_t> Bmp1Bytes(const Picture& p, bool topDown = false, bool whiteFirst = false) {
  const size_t stride = static_cast<size_t>((p.w + 31) / 32 * 4);
  std::vector<uint8_t> b = BmpHeaders(p.w, topDown ? -p.h : p.h, 1, static_cast<uint32_t>(stride * p.h), 2);
  const uint8_t black[4] = {0, 0, 0, 0}, white[4] = {255, 255, 255, 0};
  b.insert(b.end(), whiteFirst ? white : black, (whiteFirst ? white : black) + 4);
  b.insert(b.end(), whiteFirst ? black : white, (whiteFirst ? black : white) + 4);
  for (int i = 0; i < p.h; ++i) {
    const auto& row = p.rows[static_cast<size_t>(topDown ? i : p.h - 1 - i)];
    std::vector<uint8_t> line(stride, 0);  // pad bits left black on purpose
    for (size_t k = 0; k < row.size(); ++k) line[k] = whiteFirst ? row[k] : static_cast<uint8_t>(~row[k]);
    if (!whiteFirst && p.w % 8) line[row.size() - 1] &= static_cast<uint8_t>(0xFF00 >> (p.w % 8));
    b.insert(b.end(), line.begin(), line.end());
  }
  return b;
}

// 24-bit BMP, bottom-up, grey level of each pixel from `grey`.
inline std::vector<uint8_t> Bmp24Bytes(int w, int h, const std::function<uint8_t(int x, int y)>& grey) {
  const size_t stride = static_cast<size_t>((w * 3 + 3) / 4 * 4);
  std::vector<uint8_t> b = BmpHeaders(w, h, 24, static_cast<uint32_t>(stride * h), 0);
  for (int i = 0; i < h; ++i) {
    const int y = h - 1 - i;
    std::vector<uint8_t> line(stride, 0);
    for (int x = 0; x < w; ++x) line[3 * x] = line[3 * x + 1] = line[3 * x + 2] = grey(x, y);
    b.insert(b.end(), line.begin(), line.end());
  }
  return b;
}

struct TiffOptions {
  bool bigEndian = false;
  bool packBits = false;
  int rowsPerStrip = 0;   // 0: one strip
  int photometric = 0;    // 0: white is zero, 1: black is zero
  bool fillOrderLsb = false;
};

// PackBits (TIFF 6.0 section 9) of one row: literal runs and repeats.
inline void PackBitsRow(const std::vector<uint8_t>& row, std::vector<uint8_t>& out) {
  size_t i = 0;
  while (i < row.size()) {
    size_t n = 1;
    while (i + n < row.size() && row[i + n] == row[i] && n < 128) ++n;
    if (n >= 2) {
      out.push_back(static_cast<uint8_t>(257 - n));
      out.push_back(row[i]);
      i += n;
      continue;
    }
    size_t lit = 1;
    while (i + lit < row.size() && lit < 128 && !(i + lit + 1 < row.size() && row[i + lit] == row[i + lit + 1])) ++lit;
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), row.begin() + static_cast<long>(i), row.begin() + static_cast<long>(i + lit));
    i += lit;
  }
}

inline uint8_t ReversedByte(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i) r = static_cast<uint8_t>(r | ((b >> i) & 1) << (7 - i));
  return r;
}

// A baseline bilevel TIFF: header, strips, then the IFD.
inline std::vector<uint8_t> TiffBytes(const Picture& p, const TiffOptions& o = {}) {
  const bool be = o.bigEndian;
  const int rps = o.rowsPerStrip > 0 ? o.rowsPerStrip : p.h;
  std::vector<uint8_t> b;
  b.push_back(be ? 'M' : 'I');
  b.push_back(be ? 'M' : 'I');
  Put16(b, 42, be);
  Put32(b, 0, be);  // IFD offset, patched below
  std::vector<uint32_t> offsets, counts;
  for (int y0 = 0; y0 < p.h; y0 += rps) {
    offsets.push_back(static_cast<uint32_t>(b.size()));
    const size_t start = b.size();
    for (int y = y0; y < y0 + rps && y < p.h; ++y) {
      std::vector<uint8_t> row = p.rows[static_cast<size_t>(y)];
      for (auto& v : row) {
        if (o.photometric == 1) v = static_cast<uint8_t>(~v);
        if (o.fillOrderLsb) v = ReversedByte(v);
      }
      if (o.packBits) {
        PackBitsRow(row, b);
      } else {
        b.insert(b.end(), row.begin(), row.end());
      }
    }
    counts.push_back(static_cast<uint32_t>(b.size() - start));
  }
  // Arrays of more than one value live outside the IFD.
  auto array = [&](const std::vector<uint32_t>& v) {
    const uint32_t at = static_cast<uint32_t>(b.size());
    for (const uint32_t x : v) Put32(b, x, be);
    return at;
  };
  const uint32_t offsetsAt = offsets.size() > 1 ? array(offsets) : offsets[0];
  const uint32_t countsAt = counts.size() > 1 ? array(counts) : counts[0];
  if (b.size() % 2) b.push_back(0);
  const uint32_t ifd = static_cast<uint32_t>(b.size());
  struct E {
    uint16_t tag, type;
    uint32_t count, value;
  };
  std::vector<E> entries = {
      {256, 4, 1, static_cast<uint32_t>(p.w)},
      {257, 4, 1, static_cast<uint32_t>(p.h)},
      {258, 3, 1, 1},
      {259, 3, 1, o.packBits ? 32773u : 1u},
      {262, 3, 1, static_cast<uint32_t>(o.photometric)},
      {266, 3, 1, o.fillOrderLsb ? 2u : 1u},
      {273, 4, static_cast<uint32_t>(offsets.size()), offsetsAt},
      {277, 3, 1, 1},
      {278, 4, 1, static_cast<uint32_t>(rps)},
      {279, 4, static_cast<uint32_t>(counts.size()), countsAt},
  };
  Put16(b, static_cast<uint32_t>(entries.size()), be);
  for (const E& e : entries) {
    Put16(b, e.tag, be);
    Put16(b, e.type, be);
    Put32(b, e.count, be);
    if (e.type == 3 && e.count == 1) {
      Put16(b, e.value, be);  // a SHORT sits in the first two bytes of the field
      Put16(b, 0, be);
    } else {
      Put32(b, e.value, be);
    }
  }
  Put32(b, 0, be);
  std::vector<uint8_t> ifdBytes;
  Put32(ifdBytes, ifd, be);
  std::copy(ifdBytes.begin(), ifdBytes.end(), b.begin() + 4);
  return b;
}

}  // namespace qc::test
