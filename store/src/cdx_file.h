// Compound CDX index file in the FoxPro compact layout: 512-byte pages, a tag
// directory at offset 0, one 1024-byte header per tag, interior nodes and
// compact (bit-packed, prefix/suffix compressed) leaf nodes.
//
// This module works on key bytes only; the data-set evaluates key and FOR
// expressions and hands the encoded keys in (see the Encode* functions).
//
// Ordering: entries of a tag are kept sorted by (key bytes, memcmp) and then
// by record number, ascending, exactly as other xBase engines store them.
// Equal keys therefore come in ascending record-number order in an ascending
// tag. A descending tag is stored the same way and walked backwards, so its
// equal keys come in descending record-number order (the exact mirror).
//
// Durability: every change is written to the file (pwrite) before the call
// returns; page writes are ordered so that a crash leaves at worst an index
// that Check() reports as damaged, never one that hangs or crashes a reader.
// All reads are bounds- and loop-checked: a hostile file gives an error code.
//
// Results are the project's signed codes: 0 = ecOK, negative = failure.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "control/error_codes.h"

namespace qc {

// Codes this module returns besides the file errors mapped from errno.
constexpr int ecCdxDamaged = ecCRCError;        // structure broken: rebuild the index
constexpr int ecCdxNoTag = ecNoIndexKey;        // tag number or name unknown
constexpr int ecCdxTagExists = ecRecordExists;  // AddTag with a name already there
constexpr int ecCdxKeyNotFound = ecRecordNotFound;  // Remove of an absent (key, recno)

// Type of a tag's key. The file does not record it (other engines derive it
// from the key expression); the data-set sets it after compiling the
// expression. It selects the fill byte used for trailing-byte compression:
// ' ' for C and L keys, 0x00 for N and D keys.
enum class CdxKeyType : char { Character = 'C', Numeric = 'N', Date = 'D', Logical = 'L' };

constexpr int kCdxPageSize = 512;
constexpr int kCdxMaxKeyLength = 240;  // keeps at least two entries per interior node
constexpr int kCdxMaxTagName = 10;

// --- key encoding -----------------------------------------------------------
// C: the text cut or space-padded to keyLength (bytes as given, no case change).
std::string CdxEncodeCharKey(std::string_view text, int keyLength);
// L: one byte 'T' or 'F'.
std::string CdxEncodeLogicalKey(bool value);
// N: 8 bytes, IEEE-754 double big-endian with the sign bit flipped (>= 0) or
// every bit inverted (< 0), so memcmp order equals numeric order.
std::string CdxEncodeNumericKey(double value);
double CdxDecodeNumericKey(std::string_view key8);
// D: the Julian day number encoded like N. A blank date is day 0.
std::string CdxEncodeDateKey(int32_t julianDay);
// Julian day number of a Gregorian date (2000-01-01 -> 2451545); 0 for y == 0.
int32_t CdxJulianDay(int year, int month, int day);
// Fill byte for trailing compression of a key type.
char CdxFillByte(CdxKeyType type);

// --- tags --------------------------------------------------------------------
struct CdxTagSpec {
  std::string name;     // 1..10 characters; stored upper case
  std::string keyExpr;  // key expression source text
  std::string forExpr;  // FOR condition text, empty for none
  bool descending = false;
  int keyLength = 0;    // 1..kCdxMaxKeyLength
  CdxKeyType keyType = CdxKeyType::Character;
};

struct CdxTagInfo {
  int number = 0;  // 1-based, creation order (order of the tag headers in the file)
  std::string name;
  std::string keyExpr;
  std::string forExpr;
  bool descending = false;
  int keyLength = 0;
  CdxKeyType keyType = CdxKeyType::Character;  // a guess after Open: see SetKeyType
  uint32_t headerOffset = 0;
};

struct CdxEntry {
  std::string key;  // exactly keyLength bytes
  uint32_t recno = 0;
};

class CdxCursor;

class CdxFile {
 public:
  ~CdxFile();
  CdxFile(const CdxFile&) = delete;
  CdxFile& operator=(const CdxFile&) = delete;

  // Creates (or truncates) a CDX file with an empty tag directory.
  static int Create(const std::string& path, std::unique_ptr<CdxFile>& out);
  // Opens an existing file: reads it into memory in one read (the pages stay
  // cached) and parses only the tag directory and the tag headers; trees are
  // decoded on demand. readOnly opens O_RDONLY and refuses every change.
  // A damaged directory or tag header gives ecCdxDamaged.
  static int Open(const std::string& path, bool readOnly, std::unique_ptr<CdxFile>& out);

  const std::string& Path() const { return path_; }
  int TagCount() const { return static_cast<int>(tags_.size()); }
  // Tag by 1-based number; nullptr when out of range.
  const CdxTagInfo* Tag(int number) const;
  // 1-based number of a tag (name compared without case), 0 if none.
  int TagNumber(std::string_view name) const;
  // Sets the key type that decides the fill byte. Open cannot know it and
  // assumes Character; call this for every N and D tag after Open, before
  // using the tag. Changing it does not touch the file.
  int SetKeyType(int tag, CdxKeyType type);

  // Adds an empty tag; its number is TagCount() afterwards (returned in *number).
  int AddTag(const CdxTagSpec& def, int* number = nullptr);
  // Removes every tag and all their pages (the file shrinks to the directory).
  int DropAllTags();

  // Single-entry changes. key must be exactly the tag's keyLength bytes.
  // Insert of an entry already present is a no-op returning ecOK.
  int Insert(int tag, std::string_view key, uint32_t recno);
  int Remove(int tag, std::string_view key, uint32_t recno);
  // Replaces the whole content of a tag with these entries (sorted here;
  // duplicates of (key, recno) are dropped). Linear after sorting.
  int BulkBuild(int tag, std::vector<CdxEntry> entries);

  // Number of keys, counted over the leaf chain (validated on the way).
  int KeyCount(int tag, uint32_t& count);
  // Structure check of one tag: page bounds and attributes, leaf encoding,
  // sibling links, loops, key order, interior keys against their children.
  // expectedKeys < 0 skips the count comparison. ecOK or ecCdxDamaged.
  int Check(int tag, int64_t expectedKeys = -1);
  // Cheap check for open time: page headers and entry tables of the leaves,
  // the leaf chain against the leaves the interior nodes point to, and the
  // key count; no key is decoded. A change cut short by a crash fails this
  // check or leaves a tag that is correct. ecOK or ecCdxDamaged.
  // (About 1 ms for five tags over 100,000 records.)
  int QuickCheck(int tag, int64_t expectedKeys = -1);
  //
  // After a damaged tag, the safest repair is DropAllTags and a BulkBuild of
  // every tag (the file is truncated, so no damaged page survives). Walks
  // and changes on a damaged tag return ecCdxDamaged rather than loop.

  // Tests: count page writes, and drop every write after the first `limit`
  // (as a crash at that point would); -1 = no limit.
  void SetWriteLimitForTesting(int64_t limit);
  uint64_t WritesForTesting() const;

  // Changes since open; cursors use it to notice that they must re-seek.
  uint64_t Generation() const { return generation_; }

  struct Impl;  // file image, page writes and tree algorithms (cdx_tree.h)

 private:
  CdxFile();
  friend class CdxCursor;
  std::string path_;
  std::vector<CdxTagInfo> tags_;
  uint64_t generation_ = 0;
  std::unique_ptr<Impl> impl_;
};

// A position in one tag, walking in the tag's logical order (backwards over
// the stored order for a descending tag). After the file changed, the cursor
// re-finds its entry by (key, recno) before moving, so it stays usable across
// inserts and removes.
class CdxCursor {
 public:
  CdxCursor(CdxFile& file, int tag);

  // Each returns ecOK with the cursor on an entry, ecOK with Eof()/Bof() set
  // when there is none in that direction, or an error code.
  int First();
  int Last();
  int Next();
  int Prior();
  // Positions on the first entry in logical order that does not come before
  // (key, recno) in that order; key may be shorter than keyLength: it is then
  // compared as a prefix (with recno ignored), e.g. for a search by a typed
  // beginning. Eof() when every entry comes before it.
  int Seek(std::string_view key, uint32_t recno = 0);

  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool Valid() const { return !eof_ && !bof_ && valid_; }
  const std::string& Key() const { return key_; }
  uint32_t RecNo() const { return recno_; }

 private:
  enum class Edge { On, PastEnd, BeforeStart };
  const CdxTagInfo* info() const;
  int loadLeaf(uint32_t offset);
  int resync();
  int stepForward(Edge& edge);   // stored order
  int stepBackward(Edge& edge);  // stored order
  int physFirst(Edge& edge);
  int physLast(Edge& edge);
  int physSeek(std::string_view key, uint32_t recno, bool after, Edge& edge);
  int finish(int rc, Edge edge, bool forwardLogical);

  CdxFile& file_;
  int tag_;
  uint64_t generation_ = 0;
  uint32_t leafOffset_ = 0;
  std::vector<CdxEntry> leaf_;
  uint32_t leftSibling_ = 0;
  uint32_t rightSibling_ = 0;
  int index_ = -1;
  std::string key_;
  uint32_t recno_ = 0;
  bool valid_ = false;    // key_/recno_ hold the current entry
  bool between_ = false;  // the current entry was removed; index_ is its successor
  bool eof_ = true;
  bool bof_ = true;
};

}  // namespace qc
