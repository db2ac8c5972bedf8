// Damaged and hostile CDX files: every call returns an error code and
// returns at all; nothing reads outside the file or loops.
#include <random>

#include "cdx_page.h"
#include "cdx_test_util.h"

namespace qc::test {
namespace {

constexpr int kKeyLen = 20;
constexpr uint32_t kEntries = 2000;

uint32_t Get32(const std::vector<uint8_t>& b, size_t o) { return CdxGet32(&b[o]); }
uint32_t Get32BE(const std::vector<uint8_t>& b, size_t o) { return CdxGet32BE(&b[o]); }
void Put32(std::vector<uint8_t>& b, size_t o, uint32_t v) { CdxPut32(&b[o], v); }
void Put32BE(std::vector<uint8_t>& b, size_t o, uint32_t v) { CdxPut32BE(&b[o], v); }
void Put16(std::vector<uint8_t>& b, size_t o, uint16_t v) { CdxPut16(&b[o], v); }

std::string KeyOf(uint32_t r) { return CdxEncodeCharKey("K" + std::to_string(r * 7919 % 100003), kKeyLen); }

// A valid file with two tags; tag 1 is three levels deep.
struct Sample {
  std::vector<uint8_t> bytes;
  uint32_t header = 0;  // tag 1
  uint32_t root = 0;
  uint32_t firstChild = 0;  // interior, under the root
  uint32_t firstLeaf = 0;
  uint32_t secondLeaf = 0;
};

Sample MakeSample(const TempDir& dir) {
  Sample s;
  std::unique_ptr<CdxFile> f;
  EXPECT_EQ(CdxFile::Create(dir.File("good.cdx"), f), ecOK);
  EXPECT_EQ(f->AddTag({"BIG", "KEY", "", false, kKeyLen, CdxKeyType::Character}), ecOK);
  EXPECT_EQ(f->AddTag({"SMALL", "KEY", "", true, 4, CdxKeyType::Character}), ecOK);
  for (uint32_t r = 1; r <= kEntries; ++r) EXPECT_EQ(f->Insert(1, KeyOf(r), r), ecOK);
  for (uint32_t r = 1; r <= 30; ++r) EXPECT_EQ(f->Insert(2, CdxEncodeCharKey(std::to_string(r), 4), r), ecOK);
  s.header = f->Tag(1)->headerOffset;
  f.reset();
  s.bytes = ReadBytes(dir.File("good.cdx"));
  s.root = Get32(s.bytes, s.header);
  s.firstChild = Get32BE(s.bytes, s.root + 12 + kKeyLen + 4);
  EXPECT_EQ(s.bytes[s.firstChild] & kCdxAttrLeaf, 0) << "tag should be three levels deep";
  s.firstLeaf = Get32BE(s.bytes, s.firstChild + 12 + kKeyLen + 4);
  s.secondLeaf = Get32(s.bytes, s.firstLeaf + kCdxNodeRight);
  EXPECT_EQ(s.bytes[s.firstLeaf] & kCdxAttrLeaf, kCdxAttrLeaf);
  return s;
}

// Runs every reading and changing call on a file; returns the first error
// seen, or ecOK when all calls succeeded. Walks are bounded by WalkTag.
int Exercise(const std::string& path) {
  std::unique_ptr<CdxFile> f;
  int rc = CdxFile::Open(path, false, f);
  if (rc != ecOK) return rc;
  int first = ecOK;
  auto note = [&](int r) {
    if (first == ecOK && r != ecOK) first = r;
  };
  for (int tag = 1; tag <= f->TagCount(); ++tag) {
    const int keyLen = f->Tag(tag)->keyLength;
    Walk fw, bw;
    const int fwd = WalkTag(*f, tag, true, fw, kEntries * 4);
    const int bwd = WalkTag(*f, tag, false, bw, kEntries * 4);
    if (fwd == kWalkDidNotEnd || bwd == kWalkDidNotEnd) return kWalkDidNotEnd;
    note(fwd);
    note(bwd);
    uint32_t n;
    note(f->KeyCount(tag, n));
    note(f->QuickCheck(tag));
    const int check = f->Check(tag);
    note(check);
    if (check == ecOK) {
      // A tag that passes the check walks in order both ways.
      EXPECT_TRUE(std::is_sorted(fw.begin(), fw.end()) || std::is_sorted(fw.rbegin(), fw.rend()));
      EXPECT_EQ(fw.size(), bw.size());
    }
    CdxCursor c(*f, tag);
    note(c.Seek(std::string(size_t(keyLen), 'K')));
    note(f->Insert(tag, std::string(size_t(keyLen), 'A'), 5));
    note(f->Remove(tag, std::string(size_t(keyLen), 'A'), 5));
  }
  return first;
}

struct Damage {
  const char* what;
  void (*apply)(Sample& s);
  bool openFails;  // else Open succeeds and a later call reports it
  int flaggedTag = 1;  // the tag whose check must fail
};

const Damage kDamages[] = {
    {"truncated_header", [](Sample& s) { s.bytes.resize(700); }, true},
    {"empty_file", [](Sample& s) { s.bytes.clear(); }, true},
    {"directory_root_outside", [](Sample& s) { Put32(s.bytes, 0, 0x7FFFF000); }, true},
    {"directory_root_unaligned", [](Sample& s) { Put32(s.bytes, 0, 1030); }, true},
    {"directory_root_is_file_header", [](Sample& s) { Put32(s.bytes, 0, 0); }, true},
    {"directory_leaf_loops",
     [](Sample& s) { Put32(s.bytes, Get32(s.bytes, 0) + kCdxNodeRight, Get32(s.bytes, 0)); }, true},
    {"tag_header_outside",
     [](Sample& s) {
       // The directory leaf's first entry: rewrite its record number (the header offset).
       const uint32_t leaf = Get32(s.bytes, 0);
       Put32(s.bytes, leaf + kCdxLeafRecMask, 0xFFFFFFFF);
       s.bytes[leaf + kCdxLeafRecBits] = 24;
       s.bytes[leaf + kCdxLeafEntries] = 0xFF;
       s.bytes[leaf + kCdxLeafEntries + 1] = 0xFF;
       s.bytes[leaf + kCdxLeafEntries + 2] = 0x7F;
     },
     true},
    {"tag_key_length_zero", [](Sample& s) { Put16(s.bytes, s.header + kCdxHdrKeyLength, 0); }, true},
    {"tag_key_length_huge", [](Sample& s) { Put16(s.bytes, s.header + kCdxHdrKeyLength, 4000); }, true},
    {"tag_pool_without_nul",
     [](Sample& s) { std::fill(s.bytes.begin() + s.header + 512, s.bytes.begin() + s.header + 1024, 'X'); }, true},
    {"tag_root_outside", [](Sample& s) { Put32(s.bytes, s.header, uint32_t(s.bytes.size())); }, false},
    {"tag_root_is_header", [](Sample& s) { Put32(s.bytes, s.header, s.header); }, false},
    {"leaf_points_to_itself",
     [](Sample& s) { Put32(s.bytes, s.firstLeaf + kCdxNodeRight, s.firstLeaf); }, false},
    {"two_leaves_in_a_loop",
     [](Sample& s) { Put32(s.bytes, s.secondLeaf + kCdxNodeRight, s.firstLeaf); Put32(s.bytes, s.firstLeaf + kCdxNodeLeft, s.secondLeaf); }, false},
    {"interior_child_is_ancestor",
     [](Sample& s) { Put32BE(s.bytes, s.firstChild + 12 + kKeyLen + 4, s.root); }, false},
    {"interior_count_zero", [](Sample& s) { Put16(s.bytes, s.firstChild + kCdxNodeCount, 0); }, false},
    {"interior_count_huge", [](Sample& s) { Put16(s.bytes, s.firstChild + kCdxNodeCount, 0xFFFF); }, false},
    {"leaf_count_huge", [](Sample& s) { Put16(s.bytes, s.firstLeaf + kCdxNodeCount, 0xFFFF); }, false},
    {"leaf_entry_size_zero", [](Sample& s) { s.bytes[s.firstLeaf + kCdxLeafEntrySize] = 0; }, false},
    {"leaf_bit_widths_too_wide", [](Sample& s) { s.bytes[s.firstLeaf + kCdxLeafRecBits] = 60; }, false},
    {"leaf_dup_counts_too_large",
     [](Sample& s) {
       s.bytes[s.firstLeaf + kCdxLeafDupMask] = 0xFF;
       s.bytes[s.firstLeaf + kCdxLeafTrailMask] = 0xFF;
       for (int i = 0; i < 30; ++i) s.bytes[s.firstLeaf + kCdxLeafEntries + i] = 0xFF;
     },
     false},
    {"attribute_garbage", [](Sample& s) { Put16(s.bytes, s.firstLeaf, 0x7777); }, false},
    {"file_cut_in_a_tag", [](Sample& s) { s.bytes.resize(s.bytes.size() - 3 * kCdxPageSize - 100); }, false},
    {"unsorted_leaves_in_a_loop",
     [](Sample& s) {
       // Links that agree both ways and rising keys at every step between
       // the two leaves; only the order inside a leaf gives the loop away.
       CdxNode a, b;
       a.attr = b.attr = kCdxAttrLeaf;
       a.left = a.right = s.secondLeaf;
       b.left = b.right = s.firstLeaf;
       a.entries = {{CdxEncodeCharKey("Z", kKeyLen), 1}, {CdxEncodeCharKey("A", kKeyLen), 2}};
       b.entries = {{CdxEncodeCharKey("M", kKeyLen), 3}};
       ASSERT_TRUE(CdxEncodeNode(a, kKeyLen, ' ', &s.bytes[s.firstLeaf]));
       ASSERT_TRUE(CdxEncodeNode(b, kKeyLen, ' ', &s.bytes[s.secondLeaf]));
     },
     false},
    {"tags_share_a_leaf",
     [](Sample& s) {
       const uint32_t small = s.header + kCdxHeaderSize + kCdxPageSize;  // tag 2's header follows tag 1's first pages
       ASSERT_EQ(CdxGet16(&s.bytes[small + kCdxHdrKeyLength]), 4);
       Put32(s.bytes, small, s.firstLeaf);
     },
     false, 2},
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.what; }

class CdxHostile : public ::testing::TestWithParam<Damage> {};

TEST_P(CdxHostile, ReportsAnErrorCode) {
  TempDir dir;
  Sample s = MakeSample(dir);
  ASSERT_EQ(Exercise(dir.File("good.cdx")), ecOK);
  GetParam().apply(s);
  WriteBytes(dir.File("bad.cdx"), s.bytes);
  std::unique_ptr<CdxFile> f;
  const int open = CdxFile::Open(dir.File("bad.cdx"), true, f);
  if (GetParam().openFails) {
    EXPECT_NE(open, ecOK);
  } else {
    ASSERT_EQ(open, ecOK);
    const int tag = GetParam().flaggedTag;
    EXPECT_EQ(f->QuickCheck(tag) == ecOK && f->Check(tag) == ecOK, false);
  }
  const int rc = Exercise(dir.File("bad.cdx"));
  EXPECT_NE(rc, ecOK);
  EXPECT_NE(rc, kWalkDidNotEnd);
}

INSTANTIATE_TEST_SUITE_P(Damages, CdxHostile, ::testing::ValuesIn(kDamages),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(CdxHostile, RandomByteDamageNeverCrashesOrHangs) {
  TempDir dir;
  Sample s = MakeSample(dir);
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> b = s.bytes;
    const int flips = 1 + int(rng() % 8);
    for (int i = 0; i < flips; ++i) b[rng() % b.size()] = uint8_t(rng());
    WriteBytes(dir.File("r.cdx"), b);
    Exercise(dir.File("r.cdx"));
  }
}

TEST(CdxHostile, BrokenFreeListOnlyCostsSpace) {
  TempDir dir;
  Sample s = MakeSample(dir);
  Put32(s.bytes, kCdxHdrFreeList, 0x7FFFFE00);
  WriteBytes(dir.File("f.cdx"), s.bytes);
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Open(dir.File("f.cdx"), false, f), ecOK);
  for (uint32_t r = kEntries + 1; r <= kEntries + 500; ++r) ASSERT_EQ(f->Insert(1, KeyOf(r), r), ecOK);
  EXPECT_EQ(f->Check(1, kEntries + 500), ecOK);
}

}  // namespace
}  // namespace qc::test
