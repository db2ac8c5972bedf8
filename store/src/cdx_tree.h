// Internal state of CdxFile: the file image, page writes, the free list and
// the B+tree algorithms shared by the tag directory and every tag.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <memory>
#include <vector>

#include "cdx_file.h"
#include "cdx_page.h"

namespace qc {

// One tree in the file: the directory (header at 0) or a tag.
struct CdxTree {
  uint32_t header = 0;
  int keyLen = 0;
  char fill = ' ';
};

// A leaf position: page offset and entry index.
struct CdxLeafPos {
  uint32_t leaf = 0;
  int index = 0;
};

struct CdxFile::Impl {
  int fd = -1;
  bool readOnly = false;
  // The whole file, read once at open; every change goes to the image and,
  // before the call returns, to the file.
  std::vector<uint8_t> img;
  int sticky = ecOK;  // first write failure; later changes are refused
  uint64_t writes = 0;
  int64_t writeLimit = -1;  // tests: writes past this count never reach the file
  // Decoded leaves, so that a run of inserts into one leaf does not decode
  // it each time. An entry is dropped whenever its page is written; only
  // the insert/remove paths put nodes back, right after writing them.
  struct CachedLeaf {
    bool valid = false;
    CdxTree tree;  // a hostile file may share a page between tags
    CdxNode node;
  };
  std::vector<std::unique_ptr<CachedLeaf>> leafCache;  // by page number
  size_t cachedLeaves = 0;
  static constexpr size_t kLeafCacheMax = 8192;
  void cacheLeaf(const CdxTree& t, uint32_t off, CdxNode&& n);
  int takeLeaf(const CdxTree& t, uint32_t off, CdxNode& n);

  ~Impl();
  int load();
  uint32_t pages() const { return uint32_t(img.size() / kCdxPageSize); }
  // A node page must lie inside the file and past the file header.
  bool nodeOk(uint32_t off) const {
    return off % kCdxPageSize == 0 && off >= uint32_t(kCdxHeaderSize) && uint64_t(off) + kCdxPageSize <= img.size();
  }
  bool headerOk(uint32_t off) const {
    return off % kCdxPageSize == 0 && uint64_t(off) + kCdxHeaderSize <= img.size();
  }
  uint8_t* at(uint32_t off) { return img.data() + off; }

  int write(uint32_t off, size_t len);
  int allocPage(uint32_t& off);
  int allocAtEnd(uint32_t count, uint32_t& off);
  int freePage(uint32_t off);
  uint32_t root(const CdxTree& t) const { return CdxGet32(img.data() + t.header + kCdxHdrRoot); }
  int setRoot(const CdxTree& t, uint32_t off);
  int readNode(const CdxTree& t, uint32_t off, CdxNode& n) const;
  int writeNode(const CdxTree& t, uint32_t off, const CdxNode& n);
  int setLink(uint32_t page, int field, uint32_t value);

  int insert(const CdxTree& t, std::string_view key, uint32_t recno);
  int remove(const CdxTree& t, std::string_view key, uint32_t recno);
  int bulkBuild(const CdxTree& t, std::vector<CdxEntry>& sorted);
  int collectPages(const CdxTree& t, std::vector<uint32_t>& out);
  int check(const CdxTree& t, int64_t expected, bool full, uint32_t* count);

  // Navigation in stored order. after=false: first entry >= (key, recno);
  // after=true: first entry > it. A key shorter than keyLen compares as a
  // prefix. pos.index may equal the leaf size (end of the last leaf).
  int seek(const CdxTree& t, std::string_view key, uint32_t recno, bool after, CdxLeafPos& pos);
  int firstLeaf(const CdxTree& t, uint32_t& leaf);
  int lastLeaf(const CdxTree& t, uint32_t& leaf);

 private:
  struct Step {
    uint32_t offset;
    int index;  // child index taken in an interior node
  };
  int descend(const CdxTree& t, std::string_view key, uint32_t recno, std::vector<Step>& path);
  int commitLevel(const CdxTree& t, std::vector<Step>& path, std::vector<CdxNode>& nodes,
                  std::vector<bool>& loaded, int level, int insertedAt);
  int parentNode(const CdxTree& t, std::vector<Step>& path, std::vector<CdxNode>& nodes,
                 std::vector<bool>& loaded, int level);
  bool fits(const CdxTree& t, const CdxNode& n) const;
  int used(const CdxTree& t, const CdxNode& n) const;
};

}  // namespace qc
