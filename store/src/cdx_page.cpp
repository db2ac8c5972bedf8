#include "cdx_page.h"

#include <algorithm>
#include <bit>

namespace qc {

namespace {

int BitsFor(uint32_t v) {
  int b = 0;
  while (v != 0) {
    ++b;
    v >>= 1;
  }
  return b;
}

uint64_t GetLE(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void PutLE(uint8_t* p, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) p[i] = uint8_t(v >> (8 * i));
}

struct LeafLayout {
  int entrySize, recBits, dupBits, trailBits;
  uint32_t recMask;
  uint8_t dupMask, trailMask;
};

// Reads and checks the bit layout stored in a leaf. Other engines choose
// different widths, so every leaf is read with its own values.
bool ReadLeafLayout(const uint8_t* page, int keyLen, LeafLayout& l) {
  l.recMask = CdxGet32(page + kCdxLeafRecMask);
  l.dupMask = page[kCdxLeafDupMask];
  l.trailMask = page[kCdxLeafTrailMask];
  l.recBits = page[kCdxLeafRecBits];
  l.dupBits = page[kCdxLeafDupBits];
  l.trailBits = page[kCdxLeafTrailBits];
  l.entrySize = page[kCdxLeafEntrySize];
  if (l.entrySize < 1 || l.entrySize > 8) return false;
  if (l.recBits > 32 || l.dupBits > 8 || l.trailBits > 8) return false;
  if (l.recBits + l.dupBits + l.trailBits > 8 * l.entrySize) return false;
  // The counts must be able to say "whole key" for keys of this length,
  // except that a page whose every key is short may use narrower fields; the
  // per-entry bound checks below catch anything inconsistent.
  (void)keyLen;
  return true;
}

}  // namespace

CdxLeafBits CdxLeafBitsFor(int keyLen, uint32_t maxRecno) {
  CdxLeafBits b;
  b.dupBits = BitsFor(uint32_t(keyLen));
  int need = BitsFor(maxRecno) + 2 * b.dupBits;
  b.bytes = std::max(3, (need + 7) / 8);
  b.recBits = 8 * b.bytes - 2 * b.dupBits;
  if (b.recBits > 32) b.recBits = 32;
  return b;
}

// Both counts run over every key of a leaf each time it is written, so they
// compare eight bytes at a time.
int CdxTrailCount(std::string_view key, char fill) {
  const size_t n = key.size();
  const uint64_t fill8 = 0x0101010101010101ull * uint8_t(fill);
  size_t t = 0;
  while (t + 8 <= n) {
    uint64_t w;
    std::memcpy(&w, key.data() + n - t - 8, 8);
    if (w != fill8) break;
    t += 8;
  }
  while (t < n && key[n - 1 - t] == fill) ++t;
  return int(t);
}

int CdxDupCount(std::string_view prev, std::string_view key, int trail) {
  const size_t limit = std::min(prev.size(), key.size() - std::min(key.size(), size_t(trail)));
  size_t d = 0;
  while (d + 8 <= limit) {
    uint64_t a, b;
    std::memcpy(&a, prev.data() + d, 8);
    std::memcpy(&b, key.data() + d, 8);
    if (a != b) {
      if constexpr (std::endian::native == std::endian::little)
        return int(d + size_t(std::countr_zero(a ^ b) / 8));
      break;
    }
    d += 8;
  }
  while (d < limit && prev[d] == key[d]) ++d;
  return int(d);
}

void CdxUpdateLeafCounts(CdxNode& n, size_t at, bool inserted, char fill) {
  if (n.dups.size() + (inserted ? 1 : 0) != n.entries.size() + (inserted ? 0 : 1) ||
      n.trails.size() != n.dups.size()) {
    n.dups.clear();
    n.trails.clear();
    return;
  }
  auto dupAt = [&](size_t i) {
    return uint8_t(i == 0 ? 0 : CdxDupCount(n.entries[i - 1].key, n.entries[i].key, n.trails[i]));
  };
  if (inserted) {
    n.trails.insert(n.trails.begin() + long(at), uint8_t(CdxTrailCount(n.entries[at].key, fill)));
    n.dups.insert(n.dups.begin() + long(at), 0);
    n.dups[at] = dupAt(at);
  } else {
    n.trails.erase(n.trails.begin() + long(at));
    n.dups.erase(n.dups.begin() + long(at));
  }
  // The entry after the change has a new predecessor.
  const size_t next = inserted ? at + 1 : at;
  if (next < n.entries.size()) n.dups[next] = dupAt(next);
}

int CdxLeafBytes(const std::vector<CdxEntry>& e, size_t first, size_t last, int keyLen, char fill) {
  if (first >= last) return 0;
  uint32_t maxRec = 0;
  int keyBytes = 0;
  for (size_t i = first; i < last; ++i) {
    maxRec = std::max(maxRec, e[i].recno);
    int t = CdxTrailCount(e[i].key, fill);
    int d = i == first ? 0 : CdxDupCount(e[i - 1].key, e[i].key, t);
    keyBytes += keyLen - t - d;
  }
  return int(last - first) * CdxLeafBitsFor(keyLen, maxRec).bytes + keyBytes;
}

int CdxScanNode(const uint8_t* page, int keyLen, uint16_t& attr, int& count) {
  attr = CdxGet16(page + kCdxNodeAttr);
  count = CdxGet16(page + kCdxNodeCount);
  if (attr > 3) return ecCdxDamaged;
  if (!(attr & kCdxAttrLeaf)) {
    if (count < 1 || count > CdxInteriorCapacity(keyLen)) return ecCdxDamaged;
    return ecOK;
  }
  LeafLayout l;
  if (!ReadLeafLayout(page, keyLen, l)) return ecCdxDamaged;
  if (count * l.entrySize > kCdxLeafSpace) return ecCdxDamaged;
  int keyBytes = 0;
  const int tableEnd = kCdxLeafEntries + count * l.entrySize;
  for (int i = 0; i < count; ++i) {
    uint64_t v = GetLE(page + kCdxLeafEntries + i * l.entrySize, l.entrySize);
    int dup = int((v >> l.recBits) & l.dupMask);
    int trail = int((v >> (l.recBits + l.dupBits)) & l.trailMask);
    if (i == 0 && dup != 0) return ecCdxDamaged;
    if (dup + trail > keyLen) return ecCdxDamaged;
    keyBytes += keyLen - dup - trail;
    if (kCdxPageSize - keyBytes < tableEnd) return ecCdxDamaged;
  }
  return ecOK;
}

int CdxDecodeNode(const uint8_t* page, int keyLen, char fill, CdxNode& out) {
  uint16_t attr;
  int count;
  if (int rc = CdxScanNode(page, keyLen, attr, count); rc != ecOK) return rc;
  out.attr = attr;
  out.left = CdxGet32(page + kCdxNodeLeft);
  out.right = CdxGet32(page + kCdxNodeRight);
  out.entries.resize(size_t(count));
  out.children.clear();
  out.dups.clear();
  out.trails.clear();
  if (!(attr & kCdxAttrLeaf)) {
    out.children.resize(size_t(count));
    const uint8_t* p = page + kCdxInteriorEntries;
    for (int i = 0; i < count; ++i, p += keyLen + 8) {
      out.entries[size_t(i)].key.assign(reinterpret_cast<const char*>(p), size_t(keyLen));
      out.entries[size_t(i)].recno = CdxGet32BE(p + keyLen);
      out.children[size_t(i)] = CdxGet32BE(p + keyLen + 4);
    }
    return ecOK;
  }
  LeafLayout l;
  ReadLeafLayout(page, keyLen, l);
  out.dups.resize(size_t(count));
  out.trails.resize(size_t(count));
  int pos = kCdxPageSize;
  for (int i = 0; i < count; ++i) {
    uint64_t v = GetLE(page + kCdxLeafEntries + i * l.entrySize, l.entrySize);
    CdxEntry& e = out.entries[size_t(i)];
    e.recno = uint32_t(v & l.recMask);
    int dup = int((v >> l.recBits) & l.dupMask);
    int trail = int((v >> (l.recBits + l.dupBits)) & l.trailMask);
    int fresh = keyLen - dup - trail;  // bounds checked by CdxScanNode
    out.dups[size_t(i)] = uint8_t(dup);
    out.trails[size_t(i)] = uint8_t(trail);
    pos -= fresh;
    if (dup > 0)
      e.key.assign(out.entries[size_t(i - 1)].key, 0, size_t(dup));
    else
      e.key.clear();
    e.key.append(reinterpret_cast<const char*>(page + pos), size_t(fresh));
    e.key.append(size_t(trail), fill);
  }
  return ecOK;
}

bool CdxEncodeNode(const CdxNode& node, int keyLen, char fill, uint8_t* page, int* usedBytes) {
  const int count = int(node.entries.size());
  std::memset(page, 0, kCdxPageSize);
  CdxPut16(page + kCdxNodeAttr, node.attr);
  CdxPut16(page + kCdxNodeCount, uint16_t(count));
  CdxPut32(page + kCdxNodeLeft, node.left);
  CdxPut32(page + kCdxNodeRight, node.right);
  if (!node.IsLeaf()) {
    if (count > CdxInteriorCapacity(keyLen) || node.children.size() != node.entries.size()) return false;
    uint8_t* p = page + kCdxInteriorEntries;
    for (int i = 0; i < count; ++i, p += keyLen + 8) {
      std::memcpy(p, node.entries[size_t(i)].key.data(), size_t(keyLen));
      CdxPut32BE(p + keyLen, node.entries[size_t(i)].recno);
      CdxPut32BE(p + keyLen + 4, node.children[size_t(i)]);
    }
    if (usedBytes != nullptr) *usedBytes = kCdxInteriorEntries + count * (keyLen + 8);
    return true;
  }
  uint32_t maxRec = 0;
  for (const CdxEntry& e : node.entries) maxRec = std::max(maxRec, e.recno);
  const CdxLeafBits bits = CdxLeafBitsFor(keyLen, maxRec);
  const int size = bits.bytes;
  int pos = kCdxPageSize;
  const int tableEnd = kCdxLeafEntries + count * size;
  if (tableEnd > kCdxPageSize) return false;
  const bool counted = node.dups.size() == size_t(count) && node.trails.size() == size_t(count);
  for (int i = 0; i < count; ++i) {
    const CdxEntry& e = node.entries[size_t(i)];
    int trail = counted ? node.trails[size_t(i)] : CdxTrailCount(e.key, fill);
    int dup = i == 0 ? 0 : counted ? node.dups[size_t(i)] : CdxDupCount(node.entries[size_t(i - 1)].key, e.key, trail);
    int fresh = keyLen - dup - trail;
    if (int(e.key.size()) != keyLen || fresh < 0) return false;
    pos -= fresh;
    if (pos < tableEnd) return false;
    std::memcpy(page + pos, e.key.data() + dup, size_t(fresh));
    uint64_t v = uint64_t(e.recno) | (uint64_t(dup) << bits.recBits) |
                 (uint64_t(trail) << (bits.recBits + bits.dupBits));
    PutLE(page + kCdxLeafEntries + i * size, v, size);
  }
  CdxPut16(page + kCdxLeafFree, uint16_t(pos - tableEnd));
  CdxPut32(page + kCdxLeafRecMask, bits.recBits >= 32 ? 0xFFFFFFFFu : ((1u << bits.recBits) - 1));
  page[kCdxLeafDupMask] = uint8_t((1u << bits.dupBits) - 1);
  page[kCdxLeafTrailMask] = uint8_t((1u << bits.dupBits) - 1);
  page[kCdxLeafRecBits] = uint8_t(bits.recBits);
  page[kCdxLeafDupBits] = uint8_t(bits.dupBits);
  page[kCdxLeafTrailBits] = uint8_t(bits.dupBits);
  page[kCdxLeafEntrySize] = uint8_t(size);
  if (usedBytes != nullptr) *usedBytes = kCdxPageSize - (pos - tableEnd);
  return true;
}

int CdxDecodeHeader(const uint8_t* hdr, CdxHeader& out) {
  out.root = CdxGet32(hdr + kCdxHdrRoot);
  out.keyLength = CdxGet16(hdr + kCdxHdrKeyLength);
  out.options = hdr[kCdxHdrOptions];
  out.descending = CdxGet16(hdr + kCdxHdrDescending) != 0;
  if (out.keyLength < 1 || out.keyLength > kCdxMaxKeyLength) return ecCdxDamaged;
  // Engines disagree on what bytes 504 and 508 mean; the pool itself is
  // unambiguous: key text, NUL, FOR text, NUL.
  const char* pool = reinterpret_cast<const char*>(hdr + kCdxHdrPool);
  const char* end = pool + kCdxPoolSize;
  const char* nul = static_cast<const char*>(std::memchr(pool, 0, kCdxPoolSize));
  if (nul == nullptr) return ecCdxDamaged;
  out.keyExpr.assign(pool, nul);
  out.forExpr.clear();
  const char* f = nul + 1;
  if (f < end) {
    const char* nul2 = static_cast<const char*>(std::memchr(f, 0, size_t(end - f)));
    out.forExpr.assign(f, nul2 != nullptr ? nul2 : end);
  }
  if (!(out.options & kCdxOptFor)) out.forExpr.clear();
  return ecOK;
}

int CdxEncodeHeader(const CdxHeader& h, uint8_t* hdr) {
  const size_t keyLen = h.keyExpr.size() + 1;
  const size_t forLen = h.forExpr.size() + 1;
  if (keyLen + forLen > size_t(kCdxPoolSize)) return ecBadArgument;
  if (h.keyExpr.find('\0') != std::string::npos || h.forExpr.find('\0') != std::string::npos)
    return ecBadArgument;
  std::memset(hdr, 0, kCdxHeaderSize);
  CdxPut32(hdr + kCdxHdrRoot, h.root);
  CdxPut16(hdr + kCdxHdrKeyLength, uint16_t(h.keyLength));
  hdr[kCdxHdrOptions] = h.options;
  hdr[kCdxHdrSignature] = kCdxSignature;
  CdxPut16(hdr + kCdxHdrDescending, h.descending ? 1 : 0);
  CdxPut16(hdr + kCdxHdrForStart, uint16_t(keyLen));
  CdxPut16(hdr + kCdxHdrForLength, uint16_t(forLen));
  CdxPut16(hdr + kCdxHdrKeyStart, 0);
  CdxPut16(hdr + kCdxHdrKeyExprLength, uint16_t(keyLen));
  std::memcpy(hdr + kCdxHdrPool, h.keyExpr.data(), h.keyExpr.size());
  std::memcpy(hdr + kCdxHdrPool + keyLen, h.forExpr.data(), h.forExpr.size());
  return ecOK;
}

}  // namespace qc
