// Byte layout of CDX pages: the 1024-byte tag header, interior nodes and
// compact leaf nodes. Constants, decoding (with every bound checked) and
// encoding live here and nowhere else.
//
// Layout as written by FoxPro's compact index and read by other xBase engines:
//   tag header: 0 root, 4 free list (file header only), 8 version, 12 key
//     length, 14 options, 15 signature, 502 descending, 504 FOR start,
//     506 FOR length, 508 key start, 510 key length, 512.. expression pool.
//   node: 0 attributes (1 root, 2 leaf), 2 count, 4 left, 8 right sibling;
//     interior entries from 12: key, recno (BE), child (BE);
//     leaf: 12 free bytes, 14 recno mask, 18 dup mask, 19 trail mask,
//     20 recno bits, 21 dup bits, 22 trail bits, 23 bytes per entry, entries
//     from 24, key bytes packed backwards from the end of the page.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cdx_file.h"

namespace qc {

constexpr uint32_t kCdxNone = 0xFFFFFFFFu;
constexpr int kCdxHeaderSize = 1024;
constexpr int kCdxDirKeyLength = 10;

// Tag header fields.
constexpr int kCdxHdrRoot = 0;
constexpr int kCdxHdrFreeList = 4;
constexpr int kCdxHdrVersion = 8;
constexpr int kCdxHdrKeyLength = 12;
constexpr int kCdxHdrOptions = 14;
constexpr int kCdxHdrSignature = 15;
constexpr int kCdxHdrDescending = 502;
constexpr int kCdxHdrForStart = 504;
constexpr int kCdxHdrForLength = 506;
constexpr int kCdxHdrKeyStart = 508;
constexpr int kCdxHdrKeyExprLength = 510;
constexpr int kCdxHdrPool = 512;
constexpr int kCdxPoolSize = 512;

// Header option bits.
constexpr uint8_t kCdxOptUnique = 0x01;
constexpr uint8_t kCdxOptFor = 0x08;
constexpr uint8_t kCdxOptCompact = 0x20;
constexpr uint8_t kCdxOptCompound = 0x40;
constexpr uint8_t kCdxOptStructure = 0x80;
constexpr uint8_t kCdxSignature = 0x01;

// Node fields.
constexpr uint16_t kCdxAttrRoot = 0x01;
constexpr uint16_t kCdxAttrLeaf = 0x02;
constexpr int kCdxNodeAttr = 0;
constexpr int kCdxNodeCount = 2;
constexpr int kCdxNodeLeft = 4;
constexpr int kCdxNodeRight = 8;
constexpr int kCdxInteriorEntries = 12;
constexpr int kCdxLeafFree = 12;
constexpr int kCdxLeafRecMask = 14;
constexpr int kCdxLeafDupMask = 18;
constexpr int kCdxLeafTrailMask = 19;
constexpr int kCdxLeafRecBits = 20;
constexpr int kCdxLeafDupBits = 21;
constexpr int kCdxLeafTrailBits = 22;
constexpr int kCdxLeafEntrySize = 23;
constexpr int kCdxLeafEntries = 24;
constexpr int kCdxLeafSpace = kCdxPageSize - kCdxLeafEntries;  // 488

inline uint16_t CdxGet16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t CdxGet32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint32_t CdxGet32BE(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline void CdxPut16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void CdxPut32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void CdxPut32BE(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
// A sibling link of 0 or -1 means "none" (engines differ in what they write).
inline bool CdxIsNone(uint32_t link) { return link == kCdxNone || link == 0; }

// Order of entries: key bytes (memcmp), then record number.
inline int CdxCompare(const uint8_t* a, uint32_t ra, const uint8_t* b, uint32_t rb, int keyLen) {
  int c = std::memcmp(a, b, size_t(keyLen));
  if (c != 0) return c;
  return ra < rb ? -1 : (ra > rb ? 1 : 0);
}
inline int CdxCompare(const CdxEntry& a, const CdxEntry& b) {
  int c = a.key.compare(b.key);
  if (c != 0) return c < 0 ? -1 : 1;
  return a.recno < b.recno ? -1 : (a.recno > b.recno ? 1 : 0);
}

// A decoded node. children is used by interior nodes only (one per entry;
// entry i carries the largest key + recno found under child i).
struct CdxNode {
  uint16_t attr = kCdxAttrLeaf | kCdxAttrRoot;
  uint32_t left = kCdxNone;
  uint32_t right = kCdxNone;
  std::vector<CdxEntry> entries;
  std::vector<uint32_t> children;
  // Leaves: the dup and trail count of each entry as decoded, kept in step
  // by single inserts and removes (UpdateLeafCounts) so that writing the
  // leaf back need not recount every key. Empty = count afresh.
  std::vector<uint8_t> dups, trails;
  bool IsLeaf() const { return (attr & kCdxAttrLeaf) != 0; }
  bool IsRoot() const { return (attr & kCdxAttrRoot) != 0; }
};

// Decodes a 512-byte page. ecOK or ecCdxDamaged (never reads outside page).
int CdxDecodeNode(const uint8_t* page, int keyLen, char fill, CdxNode& out);
// Number of entries and sanity of a page's header and entry table, without
// building the keys; ecOK or ecCdxDamaged. Used by the quick check.
int CdxScanNode(const uint8_t* page, int keyLen, uint16_t& attr, int& count);
// Encodes into a 512-byte page; false when the node does not fit. usedBytes
// (optional) receives the bytes taken, header included.
bool CdxEncodeNode(const CdxNode& node, int keyLen, char fill, uint8_t* page, int* usedBytes = nullptr);

// After entries[at] was inserted (inserted = true) or the entry at `at`
// removed: updates dups/trails if they are in use.
void CdxUpdateLeafCounts(CdxNode& n, size_t at, bool inserted, char fill);

// Interior capacity: (512 - 12) / (keyLen + 8).
inline int CdxInteriorCapacity(int keyLen) { return (kCdxPageSize - kCdxInteriorEntries) / (keyLen + 8); }

// Leaf sizing. Bit widths follow the common choice: dup and trail counts get
// the bits needed for keyLen, the record number the rest of 3 or more bytes.
struct CdxLeafBits {
  int dupBits = 0;
  int recBits = 0;
  int bytes = 0;
};
CdxLeafBits CdxLeafBitsFor(int keyLen, uint32_t maxRecno);
int CdxTrailCount(std::string_view key, char fill);
int CdxDupCount(std::string_view prev, std::string_view key, int trail);
// Key bytes plus entry table of entries[first, last) laid out in one leaf.
int CdxLeafBytes(const std::vector<CdxEntry>& entries, size_t first, size_t last, int keyLen, char fill);

// Tag header (1024 bytes).
struct CdxHeader {
  uint32_t root = 0;
  int keyLength = 0;
  uint8_t options = 0;
  bool descending = false;
  std::string keyExpr;
  std::string forExpr;
};
int CdxDecodeHeader(const uint8_t* hdr, CdxHeader& out);  // ecOK / ecCdxDamaged
// Writes a complete header into a zeroed 1024-byte buffer; ecBadArgument if
// the expressions do not fit the pool.
int CdxEncodeHeader(const CdxHeader& h, uint8_t* hdr);

}  // namespace qc
