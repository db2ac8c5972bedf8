// The CDX written by another xBase engine: its tags, and every tag walked in
// the order that the table's records imply.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>

#include "cdx_test_util.h"

namespace qc::test {
namespace {

const std::string kDir = QC_STORE_FIXTURES;

struct FixtureTag {
  const char* name;
  const char* keyExpr;
  const char* forExpr;
  bool descending;
  std::function<std::string(const DbfRecord&)> keyOf;
};

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// What each tag was created with (see fixtures/README.md) and how its key
// follows from a record.
const std::vector<FixtureTag>& Tags() {
  static const std::vector<FixtureTag> tags = {
      {"DATETIME", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true,
       [](const DbfRecord& r) { return r.fields.at("DATESENT") + r.fields.at("TIMESENT"); }},
      {"SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false,
       [](const DbfRecord& r) { return Upper(r.fields.at("SUBJECT")); }},
      {"ARCHIVED", "ARCHIVED", ".not. deleted()", false, [](const DbfRecord& r) { return r.fields.at("ARCHIVED"); }},
  };
  return tags;
}

// Expected logical order: live records sorted by (key, recno), reversed for
// a descending tag.
Walk ExpectedWalk(const FixtureTag& t, const std::vector<DbfRecord>& recs, bool withDeleted = false) {
  Walk w;
  for (const DbfRecord& r : recs)
    if (withDeleted || !r.deleted) w.emplace_back(t.keyOf(r), r.recno);
  std::sort(w.begin(), w.end());
  if (t.descending) std::reverse(w.begin(), w.end());
  return w;
}

Walk Reversed(Walk w) {
  std::reverse(w.begin(), w.end());
  return w;
}

TEST(CdxFixture, OpensWithItsTagsAndWalksInRecordOrder) {
  const auto recs = ReadDbfRecords(kDir + "/mail.dbf");
  ASSERT_EQ(recs.size(), 5u);
  ASSERT_EQ(std::count_if(recs.begin(), recs.end(), [](const DbfRecord& r) { return r.deleted; }), 1);
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Open(kDir + "/mail.cdx", true, f), ecOK);
  ASSERT_EQ(f->TagCount(), int(Tags().size()));
  for (size_t i = 0; i < Tags().size(); ++i) {
    const FixtureTag& want = Tags()[i];
    SCOPED_TRACE(want.name);
    const CdxTagInfo* t = f->Tag(int(i + 1));
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->number, int(i + 1));
    EXPECT_EQ(t->name, want.name);
    EXPECT_EQ(t->keyExpr, want.keyExpr);
    EXPECT_EQ(t->forExpr, want.forExpr);
    EXPECT_EQ(t->descending, want.descending);
    EXPECT_EQ(t->keyLength, int(want.keyOf(recs[0]).size()));
    EXPECT_EQ(f->TagNumber(Upper(want.name)), int(i + 1));

    const Walk expected = ExpectedWalk(want, recs);
    Walk w;
    ASSERT_EQ(WalkTag(*f, t->number, true, w), ecOK);
    EXPECT_EQ(w, expected);
    ASSERT_EQ(WalkTag(*f, t->number, false, w), ecOK);
    EXPECT_EQ(w, Reversed(expected));
    uint32_t n = 0;
    EXPECT_EQ(f->KeyCount(t->number, n), ecOK);
    EXPECT_EQ(n, expected.size());
    EXPECT_EQ(f->Check(t->number, int64_t(expected.size())), ecOK);
    EXPECT_EQ(f->QuickCheck(t->number, int64_t(expected.size())), ecOK);
    EXPECT_EQ(f->Check(t->number, int64_t(expected.size()) + 1), ecCdxDamaged);
  }
  EXPECT_EQ(f->TagNumber("nosuch"), 0);
}

TEST(CdxFixture, SeekFindsTheLogicalSuccessor) {
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Open(kDir + "/mail.cdx", true, f), ecOK);
  const auto recs = ReadDbfRecords(kDir + "/mail.dbf");
  for (size_t i = 0; i < Tags().size(); ++i) {
    const Walk expected = ExpectedWalk(Tags()[i], recs);
    // Seeking each entry's own key lands on it; a prefix seek lands on the
    // first entry in logical order whose key prefix does not come before it.
    for (size_t j = 0; j < expected.size(); ++j) {
      CdxCursor c(*f, int(i + 1));
      ASSERT_EQ(c.Seek(expected[j].first, expected[j].second), ecOK);
      ASSERT_TRUE(c.Valid());
      EXPECT_EQ(c.RecNo(), expected[j].second);
      const std::string prefix = expected[j].first.substr(0, 1);
      ASSERT_EQ(c.Seek(prefix), ecOK);
      auto notBefore = [&](const std::pair<std::string, uint32_t>& e) {
        const std::string p = e.first.substr(0, 1);
        return Tags()[i].descending ? p <= prefix : p >= prefix;
      };
      auto it = std::find_if(expected.begin(), expected.end(), notBefore);
      ASSERT_NE(it, expected.end());
      ASSERT_TRUE(c.Valid());
      EXPECT_EQ(c.RecNo(), it->second);
    }
  }
}

TEST(CdxFixture, ChangesToTheForeignFileKeepItConsistent) {
  TempDir dir;
  std::filesystem::copy_file(kDir + "/mail.cdx", dir.File("mail.cdx"));
  std::filesystem::permissions(dir.File("mail.cdx"), std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::owner_write);
  const auto recs = ReadDbfRecords(kDir + "/mail.dbf");
  {
    std::unique_ptr<CdxFile> f;
    ASSERT_EQ(CdxFile::Open(dir.File("mail.cdx"), false, f), ecOK);
    // Recall the deleted record into every tag.
    for (size_t i = 0; i < Tags().size(); ++i)
      for (const DbfRecord& r : recs) {
        if (!r.deleted) continue;
        ASSERT_EQ(f->Insert(int(i + 1), Tags()[i].keyOf(r), r.recno), ecOK);
      }
  }
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Open(dir.File("mail.cdx"), false, f), ecOK);
  for (size_t i = 0; i < Tags().size(); ++i) {
    Walk w;
    ASSERT_EQ(WalkTag(*f, int(i + 1), true, w), ecOK);
    EXPECT_EQ(w, ExpectedWalk(Tags()[i], recs, true));
    EXPECT_EQ(f->Check(int(i + 1), int64_t(recs.size())), ecOK);
    // And take every entry out again, down to an empty tag.
    for (const auto& [key, recno] : w) ASSERT_EQ(f->Remove(int(i + 1), key, recno), ecOK);
    EXPECT_EQ(f->Remove(int(i + 1), w[0].first, w[0].second), ecCdxKeyNotFound);
    ASSERT_EQ(WalkTag(*f, int(i + 1), true, w), ecOK);
    EXPECT_TRUE(w.empty());
    EXPECT_EQ(f->Check(int(i + 1), 0), ecOK);
  }
}

}  // namespace
}  // namespace qc::test
