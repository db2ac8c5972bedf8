// Tags under random inserts and removes, checked against an ordered set
// model; bulk build against incremental insert; cursors across changes.
#include <algorithm>
#include <filesystem>
#include <random>
#include <set>

#include "cdx_test_util.h"

namespace qc::test {
namespace {

using Model = std::set<std::pair<std::string, uint32_t>>;

struct KeyShape {
  const char* what;
  int keyLength;
  CdxKeyType type;
  bool descending;
};

// Keys with few distinct values (long runs of duplicates), blanks, shared
// prefixes and trailing fill, so that dup and trail compression and the
// record-number order of equal keys are all exercised.
void PrintTo(const KeyShape& s, std::ostream* os) { *os << s.what; }

std::string MakeKey(const KeyShape& s, std::mt19937& rng) {
  switch (s.type) {
    case CdxKeyType::Logical:
      return CdxEncodeLogicalKey(rng() % 2 == 0);
    case CdxKeyType::Numeric:
      return CdxEncodeNumericKey(double(int(rng() % 2001) - 1000) / 8.0);
    case CdxKeyType::Date:
      return CdxEncodeDateKey(rng() % 10 == 0 ? 0 : CdxJulianDay(2020 + int(rng() % 6), 1 + int(rng() % 12), 1 + int(rng() % 28)));
    case CdxKeyType::Character: {
      if (rng() % 8 == 0) return std::string(size_t(s.keyLength), ' ');
      std::string text = "AB";
      const int len = 1 + int(rng() % std::min(s.keyLength, 40));
      while (int(text.size()) < len) text += char('A' + rng() % 4);
      return CdxEncodeCharKey(text, s.keyLength);
    }
  }
  return {};
}

Walk Logical(const Model& m, bool descending) {
  Walk w(m.begin(), m.end());
  if (descending) std::reverse(w.begin(), w.end());
  return w;
}

void ExpectMatches(CdxFile& f, int tag, const Model& m, bool descending) {
  Walk w;
  ASSERT_EQ(WalkTag(f, tag, true, w), ecOK);
  ASSERT_EQ(w, Logical(m, descending));
  ASSERT_EQ(WalkTag(f, tag, false, w), ecOK);
  std::reverse(w.begin(), w.end());
  ASSERT_EQ(w, Logical(m, descending));
  EXPECT_EQ(f.Check(tag, int64_t(m.size())), ecOK);
  EXPECT_EQ(f.QuickCheck(tag, int64_t(m.size())), ecOK);
}

class CdxTreeModel : public ::testing::TestWithParam<KeyShape> {};

TEST_P(CdxTreeModel, RandomInsertsAndRemovesMatchTheModel) {
  const KeyShape s = GetParam();
  TempDir dir;
  const std::string path = dir.File("t.cdx");
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Create(path, f), ecOK);
  int tag = 0;
  ASSERT_EQ(f->AddTag({"T", "KEY", ".not. deleted()", s.descending, s.keyLength, s.type}, &tag), ecOK);
  std::mt19937 rng(1234);
  Model m;
  std::vector<std::pair<std::string, uint32_t>> live;
  // Grow, shrink to nothing, grow again: splits, merges, root changes and
  // reuse of freed pages. Record numbers go past 65535 so that leaves need
  // wider entries.
  const int phases[] = {2500, -2500, 1500};
  for (int phase : phases) {
    for (int i = 0; i < std::abs(phase); ++i) {
      const bool add = phase > 0 ? rng() % 4 != 0 : rng() % 4 == 0;
      if (add || m.empty()) {
        std::string key = MakeKey(s, rng);
        uint32_t recno = 1 + rng() % 100000;
        ASSERT_EQ(f->Insert(tag, key, recno), ecOK);
        if (m.emplace(key, recno).second) live.emplace_back(key, recno);
      } else {
        size_t pick = rng() % live.size();
        auto e = live[pick];
        live[pick] = live.back();
        live.pop_back();
        ASSERT_EQ(f->Remove(tag, e.first, e.second), ecOK);
        m.erase(e);
      }
    }
    ExpectMatches(*f, tag, m, s.descending);
  }
  // Everything went to the file: a fresh open sees the same tag.
  f.reset();
  ASSERT_EQ(CdxFile::Open(path, true, f), ecOK);
  ASSERT_EQ(f->SetKeyType(1, s.type), ecOK);
  ExpectMatches(*f, 1, m, s.descending);
}

TEST_P(CdxTreeModel, BulkBuildEqualsIncrementalInsert) {
  const KeyShape s = GetParam();
  TempDir dir;
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Create(dir.File("b.cdx"), f), ecOK);
  ASSERT_EQ(f->AddTag({"INC", "KEY", "", s.descending, s.keyLength, s.type}), ecOK);
  ASSERT_EQ(f->AddTag({"BULK", "KEY", "", s.descending, s.keyLength, s.type}), ecOK);
  std::mt19937 rng(99);
  Model m;
  std::vector<CdxEntry> entries;
  for (uint32_t r = 1; r <= 3000; ++r) {
    std::string key = MakeKey(s, rng);
    entries.push_back({key, r});
    entries.push_back({key, r});  // duplicates are dropped
    m.emplace(key, r);
    ASSERT_EQ(f->Insert(1, key, r), ecOK);
  }
  std::shuffle(entries.begin(), entries.end(), rng);
  ASSERT_EQ(f->BulkBuild(2, entries), ecOK);
  ExpectMatches(*f, 1, m, s.descending);
  ExpectMatches(*f, 2, m, s.descending);
  // Full bulk-built pages take further changes.
  for (int i = 0; i < 600; ++i) {
    std::string key = MakeKey(s, rng);
    uint32_t recno = 1 + rng() % 5000;
    if (m.count({key, recno}) != 0) {
      ASSERT_EQ(f->Remove(2, key, recno), ecOK);
      m.erase({key, recno});
    } else {
      ASSERT_EQ(f->Insert(2, key, recno), ecOK);
      m.emplace(key, recno);
    }
  }
  ExpectMatches(*f, 2, m, s.descending);
  // Rebuilding over an existing tag frees its old pages for reuse.
  const auto before = std::filesystem::file_size(dir.File("b.cdx"));
  ASSERT_EQ(f->BulkBuild(2, std::vector<CdxEntry>(m.size() > 0 ? 0 : 0)), ecOK);
  ExpectMatches(*f, 2, {}, s.descending);
  for (const auto& [key, recno] : m) ASSERT_EQ(f->Insert(2, key, recno), ecOK);
  ExpectMatches(*f, 2, m, s.descending);
  EXPECT_LE(std::filesystem::file_size(dir.File("b.cdx")), before + 2 * kCdxPageSize);
}

INSTANTIATE_TEST_SUITE_P(Shapes, CdxTreeModel,
                         ::testing::Values(KeyShape{"logical", 1, CdxKeyType::Logical, false},
                                           KeyShape{"numeric", 8, CdxKeyType::Numeric, false},
                                           KeyShape{"date_desc", 8, CdxKeyType::Date, true},
                                           KeyShape{"char13_desc", 13, CdxKeyType::Character, true},
                                           KeyShape{"char50", 50, CdxKeyType::Character, false},
                                           KeyShape{"char240", 240, CdxKeyType::Character, false}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(CdxCursor, FollowsChangesMadeBehindIt) {
  TempDir dir;
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Create(dir.File("c.cdx"), f), ecOK);
  ASSERT_EQ(f->AddTag({"ASC", "K", "", false, 4, CdxKeyType::Character}), ecOK);
  ASSERT_EQ(f->AddTag({"DESC", "K", "", true, 4, CdxKeyType::Character}), ecOK);
  for (int tag = 1; tag <= 2; ++tag)
    for (uint32_t r = 1; r <= 400; ++r) ASSERT_EQ(f->Insert(tag, CdxEncodeCharKey(std::to_string(r % 37), 4), r), ecOK);
  for (int tag = 1; tag <= 2; ++tag) {
    Walk w;
    ASSERT_EQ(WalkTag(*f, tag, true, w), ecOK);
    CdxCursor c(*f, tag);
    ASSERT_EQ(c.Seek(w[200].first, w[200].second), ecOK);
    ASSERT_EQ(c.RecNo(), w[200].second);
    // The current entry goes away: Next gives its successor, Prior its predecessor.
    ASSERT_EQ(f->Remove(tag, w[200].first, w[200].second), ecOK);
    CdxCursor d = c;
    ASSERT_EQ(c.Next(), ecOK);
    EXPECT_EQ(c.RecNo(), w[201].second);
    ASSERT_EQ(d.Prior(), ecOK);
    EXPECT_EQ(d.RecNo(), w[199].second);
    // Entries added around it are seen in order.
    ASSERT_EQ(f->Insert(tag, w[200].first, w[200].second), ecOK);
    ASSERT_EQ(c.Prior(), ecOK);
    EXPECT_EQ(c.RecNo(), w[200].second);
    // Off the ends and back.
    ASSERT_EQ(c.Last(), ecOK);
    ASSERT_EQ(c.Next(), ecOK);
    EXPECT_TRUE(c.Eof());
    ASSERT_EQ(c.Prior(), ecOK);
    EXPECT_EQ(c.RecNo(), w.back().second);
    ASSERT_EQ(c.First(), ecOK);
    ASSERT_EQ(c.Prior(), ecOK);
    EXPECT_TRUE(c.Bof());
    ASSERT_EQ(c.Next(), ecOK);
    EXPECT_EQ(c.RecNo(), w.front().second);
  }
}

TEST(CdxFile, TagsKeepCreationOrderAndMetadata) {
  TempDir dir;
  const std::string path = dir.File("m.cdx");
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Create(path, f), ecOK);
  // Enough tags to split the directory's own leaf.
  const int kTags = 60;
  for (int i = 0; i < kTags; ++i) {
    const std::string name = "Z" + std::to_string(kTags - i);  // directory order differs from creation order
    ASSERT_EQ(f->AddTag({name, "UPPER(F" + std::to_string(i) + ")", i % 2 ? ".not. deleted()" : "", i % 3 == 0,
                         1 + i, CdxKeyType::Character}),
              ecOK);
  }
  EXPECT_EQ(f->AddTag({"z1", "X", "", false, 5, CdxKeyType::Character}), ecCdxTagExists);
  EXPECT_EQ(f->AddTag({"TOOLONGNAME", "X", "", false, 5, CdxKeyType::Character}), ecBadArgument);
  EXPECT_EQ(f->AddTag({"K0", "X", "", false, 0, CdxKeyType::Character}), ecBadArgument);
  EXPECT_EQ(f->AddTag({"K241", "X", "", false, 241, CdxKeyType::Character}), ecBadArgument);
  EXPECT_EQ(f->Insert(1, "too long", 1), ecBadArgument);
  EXPECT_EQ(f->Insert(kTags + 1, "x", 1), ecCdxNoTag);
  f.reset();
  ASSERT_EQ(CdxFile::Open(path, false, f), ecOK);
  ASSERT_EQ(f->TagCount(), kTags);
  for (int i = 0; i < kTags; ++i) {
    const CdxTagInfo* t = f->Tag(i + 1);
    EXPECT_EQ(t->name, "Z" + std::to_string(kTags - i));
    EXPECT_EQ(t->keyExpr, "UPPER(F" + std::to_string(i) + ")");
    EXPECT_EQ(t->forExpr, i % 2 ? ".not. deleted()" : "");
    EXPECT_EQ(t->descending, i % 3 == 0);
    EXPECT_EQ(t->keyLength, 1 + i);
  }
  EXPECT_EQ(f->TagNumber("z7"), kTags - 7 + 1);
  ASSERT_EQ(f->DropAllTags(), ecOK);
  EXPECT_EQ(f->TagCount(), 0);
  EXPECT_EQ(std::filesystem::file_size(path), uintmax_t(kCdxPageSize * 3));
  ASSERT_EQ(f->AddTag({"AGAIN", "X", "", false, 3, CdxKeyType::Character}), ecOK);
  f.reset();
  ASSERT_EQ(CdxFile::Open(path, true, f), ecOK);
  ASSERT_EQ(f->TagCount(), 1);
  EXPECT_EQ(f->Tag(1)->name, "AGAIN");
}

}  // namespace
}  // namespace qc::test
