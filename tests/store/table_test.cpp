// The data-set over DBF + CDX: a foreign table with its index, hostile files,
// mended record counts, locks, code page, and tags kept right through random
// changes.
#include "store/table.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <tuple>

#include "dbf_format.h"
#include "store/fax_tables.h"
#include "store/store_errors.h"
#include "store_test_util.h"

namespace qc {
namespace {

using storetest::ScratchDir;
using storetest::Slurp;
using storetest::Spill;
using storetest::Walk;
using storetest::WalkBack;

TEST(ForeignTable, FixtureOpensWithItsTagsInKeyOrder) {
  ScratchDir dir;
  for (const char* f : {"mail.dbf", "mail.cdx"})
    std::filesystem::copy_file(std::string(QC_STORE_FIXTURES) + "/" + f, dir.File(f));
  TTable t;
  t.SetFolder(dir.Path());
  t.SetTableName("mail.dbf");
  ASSERT_EQ(t.Open(), 0) << t.LastError();
  EXPECT_FALSE(t.IndexRebuilt());  // its index agrees with its table
  EXPECT_EQ(t.RecordCount(), 5u);
  struct Expected {
    const char* name;
    const char* key;
    bool descending;
    std::vector<std::uint32_t> order;
  } expected[] = {
      {"DATETIME", "DTOS(DATESENT)+TIMESENT", true, {2, 5, 1, 4}},
      {"SUBJECT", "UPPER(SUBJECT)", false, {5, 1, 2, 4}},
      {"ARCHIVED", "ARCHIVED", false, {1, 4, 2, 5}},
  };
  ASSERT_EQ(t.TagCount(), 3);
  for (int n = 1; n <= 3; ++n) {
    const Expected& e = expected[n - 1];
    SCOPED_TRACE(e.name);
    TagDescription d;
    ASSERT_EQ(t.GetTagDescription(n, d), 0);
    EXPECT_EQ(d.name, e.name);
    EXPECT_EQ(d.keyExpr, e.key);
    EXPECT_EQ(d.forExpr, ".not. deleted()");
    EXPECT_EQ(d.descending, e.descending);
    EXPECT_EQ(d.keyCount, 4u);
    ASSERT_EQ(t.SetOrder(n), 0);
    EXPECT_EQ(Walk(t), e.order);
    std::vector<std::uint32_t> back = e.order;
    std::reverse(back.begin(), back.end());
    EXPECT_EQ(WalkBack(t), back);
  }
  ASSERT_EQ(t.SetOrder(0), 0);
  EXPECT_EQ(Walk(t), (std::vector<std::uint32_t>{1, 2, 4, 5}));
  ASSERT_EQ(t.GoTo(1), 0);
  EXPECT_EQ(t.AsText("SUBJECT"), "Hello world");
  EXPECT_EQ(t.AsDate("DATESENT"), (Date{2024, 1, 5}));
  EXPECT_EQ(t.AsText("TIMESENT"), "09:15");
  EXPECT_FALSE(t.AsLogical("ARCHIVED"));
}

// A small valid table to damage.
std::vector<std::uint8_t> SmallTable(const ScratchDir& dir, int records) {
  TTable t;
  EXPECT_TRUE(OpenPhoneBookDBF(t, dir.Path(), true));
  for (int i = 0; i < records; ++i) {
    EXPECT_EQ(t.Append(), 0);
    EXPECT_EQ(t.SetText("NAME", "name " + std::to_string(i)), 0);
    EXPECT_EQ(t.Post(), 0);
  }
  t.Close();
  return Slurp(dir.File("QCPB.DBF"));
}

TEST(HostileTable, BrokenHeadersGiveAnErrorCode) {
  ScratchDir dir;
  const std::vector<std::uint8_t> good = SmallTable(dir, 2);
  auto with = [&](auto change) {
    std::vector<std::uint8_t> b = good;
    change(b);
    return b;
  };
  const struct {
    const char* what;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"empty file", {}},
      {"ten bytes", std::vector<std::uint8_t>(good.begin(), good.begin() + 10)},
      {"header length beyond the file", with([](auto& b) { b[8] = 0xFF; b[9] = 0xFF; })},
      {"header length too small", with([](auto& b) { b[8] = 40; b[9] = 0; })},
      {"field descriptor past the header", with([](auto& b) { b[8] = 32 + 32 + 16; b[9] = 0; })},
      {"no terminator", with([](auto& b) { b[32 + 64] = 'X'; })},
      {"record length 0", with([](auto& b) { b[10] = 0; b[11] = 0; })},
      {"fields longer than the record", with([](auto& b) { b[10] = 5; b[11] = 0; })},
      {"field of length 0", with([](auto& b) { b[32 + 16] = 0; })},
      {"not a table", with([](auto& b) { b[0] = 0x42; })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Spill(dir.File("BAD.DBF"), c.bytes);
    TTable t;
    t.SetFolder(dir.Path());
    t.SetTableName("BAD.DBF");
    EXPECT_EQ(t.Open(), seBadTable) << t.LastError();
    EXPECT_FALSE(t.Active());
    EXPECT_FALSE(t.LastError().empty());
  }
}

TEST(HostileTable, CountThatDisagreesWithTheSizeOpensEveryCompleteRecord) {
  ScratchDir dir;
  const std::vector<std::uint8_t> good = SmallTable(dir, 3);
  const std::size_t headerLength = good[8] | (good[9] << 8);
  const std::size_t recordLength = good[10] | (good[11] << 8);
  struct Case {
    const char* what;
    std::uint8_t count;
    std::size_t size;
    std::uint32_t records;
    bool mended;
  } cases[] = {
      {"count too high", 10, good.size(), 3, true},
      {"count too low (crash before the count was written)", 2, good.size(), 3, true},
      {"record cut short", 3, headerLength + 2 * recordLength + 7, 2, true},
      {"end byte missing", 3, headerLength + 3 * recordLength, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> b(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(c.size));
    b[4] = c.count;
    Spill(dir.File("QCPB.DBF"), b);
    std::filesystem::remove(dir.File("QCPB.CDX"));
    TTable t;
    t.SetFolder(dir.Path());
    t.SetTableName("QCPB.DBF");
    ASSERT_EQ(t.Open(), 0) << t.LastError();
    EXPECT_EQ(t.RecordCount(), c.records);
    EXPECT_EQ(Walk(t).size(), c.records);
    t.Close();
    // Mended on disk: the count agrees and the file ends with the end byte.
    const std::vector<std::uint8_t> after = Slurp(dir.File("QCPB.DBF"));
    EXPECT_EQ(after[4], c.records);
    EXPECT_EQ(after.size(), headerLength + c.records * recordLength + (c.mended ? 1 : 0));
    if (c.mended) EXPECT_EQ(after.back(), 0x1A);
  }
}

TEST(HostileTable, UnreadableIndexIsDroppedAndRecreated) {
  ScratchDir dir;
  SmallTable(dir, 3);
  for (const std::vector<std::uint8_t>& junk :
       {std::vector<std::uint8_t>(1024, 0xFF), std::vector<std::uint8_t>(7, 1), std::vector<std::uint8_t>{}}) {
    Spill(dir.File("QCPB.CDX"), junk);
    TTable t;
    ASSERT_TRUE(OpenPhoneBookDBF(t, dir.Path(), true)) << t.LastError();
    EXPECT_EQ(t.TagCount(), 1);
    EXPECT_EQ(Walk(t).size(), 3u);
  }
}

TEST(HostileTable, DamagedIndexPagesAreRebuiltAtOpen) {
  ScratchDir dir;
  SmallTable(dir, 3);
  const std::vector<std::uint8_t> good = Slurp(dir.File("QCPB.CDX"));
  ASSERT_GE(good.size(), 2048u);
  const std::size_t last = good.size() - 512;  // the tag's root leaf
  const struct {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> damage;
  } cases[] = {
      {"page of 0xFF", [&](auto& b) { std::fill(b.begin() + static_cast<std::ptrdiff_t>(last), b.end(), 0xFF); }},
      {"sibling pointing outside the file", [&](auto& b) { b[last + 8] = 0x00; b[last + 9] = 0xF0; b[last + 10] = 0x7F; b[last + 11] = 0; }},
      {"sibling pointing at itself", [&](auto& b) {
         for (int i = 0; i < 4; ++i) b[last + 8 + i] = static_cast<std::uint8_t>(last >> (8 * i));
       }},
      {"file cut short", [&](auto& b) { b.resize(last + 100); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> b = good;
    c.damage(b);
    Spill(dir.File("QCPB.CDX"), b);
    TTable t;
    ASSERT_TRUE(OpenPhoneBookDBF(t, dir.Path(), true)) << t.LastError();
    EXPECT_TRUE(t.IndexRebuilt());
    EXPECT_EQ(Walk(t).size(), 3u);
  }
}

TEST(TableHeader, BothYearEncodingsOfTheUpdateDate) {
  ScratchDir dir;
  std::vector<std::uint8_t> b = SmallTable(dir, 1);
  for (std::uint8_t year : {126, 26}) {
    b[1] = year;
    dbf::Header h;
    std::vector<dbf::Field> fields;
    std::string message;
    ASSERT_TRUE(dbf::DecodeHeader(b.data(), b.size(), b.size(), h, fields, message)) << message;
    EXPECT_EQ(h.year, 2026);
  }
  EXPECT_EQ(b[0], 0x03);     // dBase III / FoxPro 2.x without memo
  EXPECT_EQ(b[28], 0x01);    // has a production index
  EXPECT_EQ(b[29], 0x03);    // Windows-1252
  EXPECT_EQ(b.back(), 0x1A);
}

TEST(TableLocks, ExclusiveOpenFailsWhileAnotherProcessHasTheTable) {
  ScratchDir dir;
  SmallTable(dir, 1);
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TTable t;
    t.SetFolder(dir.Path());
    t.SetTableName("QCPB.DBF");
    t.SetExclusive(false);
    const char ok = t.Open() == 0 ? 'y' : 'n';
    (void)!::write(toParent[1], &ok, 1);
    char c;
    (void)!::read(toChild[0], &c, 1);
    ::_exit(0);
  }
  char opened = 0;
  ASSERT_EQ(::read(toParent[0], &opened, 1), 1);
  ASSERT_EQ(opened, 'y');
  TTable ex;
  ex.SetFolder(dir.Path());
  ex.SetTableName("QCPB.DBF");
  ex.SetExclusive(true);
  EXPECT_EQ(ex.Open(), seTableInUse);
  TTable shared;
  shared.SetFolder(dir.Path());
  shared.SetTableName("QCPB.DBF");
  shared.SetExclusive(false);
  EXPECT_EQ(shared.Open(), 0) << shared.LastError();
  shared.Close();
  (void)!::write(toChild[1], "x", 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(ex.Open(), 0) << ex.LastError();
  // And while we hold it exclusively, a shared open fails.
  EXPECT_EQ(shared.Open(), seTableInUse);
}

TEST(TableText, TextOutsideTheCodePageIsRefused) {
  ScratchDir dir;
  TTable t;
  ASSERT_TRUE(OpenPhoneBookDBF(t, dir.Path(), true));
  ASSERT_EQ(t.Append(), 0);
  ASSERT_EQ(t.SetText("NAME", "Åsa Œuvre – “quoted” €"), 0) << t.LastError();
  EXPECT_EQ(t.SetText("PHONE", "電話"), seCodePage);
  EXPECT_NE(t.LastError().find("電"), std::string::npos) << t.LastError();
  EXPECT_EQ(t.SetText("PHONE", std::string("\xC3", 1)), seCodePage);
  ASSERT_EQ(t.Post(), 0);
  EXPECT_EQ(t.AsText("NAME"), "Åsa Œuvre – “quoted” €");
  EXPECT_EQ(t.AsText("PHONE"), "");
}

TEST(TableValues, FieldsAsTextDateSmallIntAndLogical) {
  ScratchDir dir;
  TTable t;
  ASSERT_TRUE(OpenRecFaxDBF(t, dir.Path()));
  ASSERT_EQ(t.Append(), 0);
  EXPECT_EQ(t.SetText("DATEREC", "20240230"), seBadValue);
  EXPECT_EQ(t.SetText("PAGES", "abc"), seBadValue);
  EXPECT_EQ(t.SetSmallInt("PAGES", 100), seBadValue);  // two digits
  EXPECT_EQ(t.SetText("ARCHIVED", "maybe"), seBadValue);
  EXPECT_EQ(t.SetText("NOSUCH", "x"), seUnknownField);
  ASSERT_EQ(t.SetDate("DATEREC", Date{2024, 2, 29}), 0);
  ASSERT_EQ(t.SetSmallInt("PAGES", 99), 0);
  ASSERT_EQ(t.SetText("NOTES", std::string(70, 'x')), 0);  // cut to the width
  ASSERT_EQ(t.SetText("ARCHIVED", "T"), 0);
  ASSERT_EQ(t.Post(), 0);
  EXPECT_EQ(t.AsText("DATEREC"), "20240229");
  EXPECT_EQ(t.AsDate("DATEREC"), (Date{2024, 2, 29}));
  EXPECT_EQ(t.AsText("PAGES"), "99");
  EXPECT_EQ(t.AsSmallInt("PAGES"), 99);
  EXPECT_EQ(t.AsText("NOTES"), std::string(60, 'x'));
  EXPECT_EQ(t.AsText("ARCHIVED"), "T");
  EXPECT_TRUE(t.AsLogical("ARCHIVED"));
  EXPECT_EQ(t.SetText("NOTES", "x"), seWrongState);  // not editing
}

// Random appends, edits, deletes and recalls, then every tag must walk in the
// order computed from the records alone.
TEST(TableTags, EveryTagStaysRightThroughRandomChanges) {
  ScratchDir dir;
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir.Path()));
  ASSERT_EQ(t.IndexTag("ARCHONLY", "SUBJECT", 0, false, "archived .and. .not. deleted()"), 0) << t.LastError();
  ASSERT_EQ(t.IndexTag("ALLSUBJ", "UPPER(SUBJECT)+CODES", 0, true, ""), 0) << t.LastError();
  ASSERT_EQ(t.Query(""), 0);
  std::mt19937 rng(20240312);
  auto word = [&] {
    static const char* words[] = {"alpha", "Beta", "gamma", "Delta", "", "zeta", "Eta", "theta"};
    return std::string(words[rng() % 8]);
  };
  for (int step = 0; step < 400; ++step) {
    const unsigned op = rng() % 10;
    if (op < 4 || t.RecordCount() == 0) {
      ASSERT_EQ(t.Append(), 0);
    } else {
      t.SetShowDeleted(true);
      ASSERT_EQ(t.SetOrder(0), 0);
      ASSERT_EQ(t.GoTo(1 + rng() % t.RecordCount()), 0) << t.LastError();
      t.SetShowDeleted(false);
      if (op == 9) {
        if (!t.IsDeleted()) ASSERT_EQ(t.Delete(), 0) << t.LastError();
        continue;
      }
      ASSERT_EQ(t.Edit(), 0);
    }
    ASSERT_EQ(t.SetText("SUBJECT", word()), 0);
    ASSERT_EQ(t.SetText("CODES", word()), 0);
    ASSERT_EQ(t.SetText("DATESENT", rng() % 3 ? "2024031" + std::to_string(rng() % 10) : ""), 0);
    ASSERT_EQ(t.SetText("TIMESENT", "1" + std::to_string(rng() % 10) + ":00"), 0);
    ASSERT_EQ(t.SetLogical("ARCHIVED", rng() % 2), 0);
    ASSERT_EQ(t.Post(), 0) << t.LastError();
  }

  // The model: every record read in file order.
  struct Row {
    std::uint32_t recno;
    bool deleted, archived;
    std::string subject, codes, date, time;
  };
  std::vector<Row> rows;
  t.SetShowDeleted(true);
  ASSERT_EQ(t.SetOrder(0), 0);
  for (std::uint32_t r : Walk(t)) {
    ASSERT_EQ(t.GoTo(r), 0);
    auto padded = [&](const char* f, std::size_t w) {
      std::string s = t.AsText(f);
      s.resize(w, ' ');
      return s;
    };
    rows.push_back({r, t.IsDeleted(), t.AsLogical("ARCHIVED"), padded("SUBJECT", 50), padded("CODES", 25),
                    padded("DATESENT", 8), padded("TIMESENT", 5)});
  }
  t.SetShowDeleted(false);
  auto upper = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  };
  using KeyFn = std::function<std::string(const Row&)>;
  using InFn = std::function<bool(const Row&)>;
  const struct {
    const char* tag;
    KeyFn key;
    InFn in;
    bool descending;
  } tags[] = {
      {"DATESENT", [](const Row& r) { return r.date + r.time; }, [](const Row& r) { return !r.deleted; }, true},
      {"SUBJECT", [&](const Row& r) { return upper(r.subject); }, [](const Row& r) { return !r.deleted; }, false},
      {"CODES", [&](const Row& r) { return upper(r.codes); }, [](const Row& r) { return !r.deleted; }, false},
      {"ARCHIVED", [](const Row& r) { return std::string(r.archived ? "T" : "F"); },
       [](const Row& r) { return !r.deleted; }, false},
      {"ARCHONLY", [](const Row& r) { return r.subject; }, [](const Row& r) { return r.archived && !r.deleted; },
       false},
      {"ALLSUBJ", [&](const Row& r) { return upper(r.subject) + r.codes; }, [](const Row&) { return true; },
       true},
  };
  for (const auto& tag : tags) {
    SCOPED_TRACE(tag.tag);
    std::vector<std::pair<std::string, std::uint32_t>> keys;
    std::size_t inTag = 0;
    for (const Row& r : rows) {
      if (!tag.in(r)) continue;
      ++inTag;
      if (!r.deleted) keys.emplace_back(tag.key(r), r.recno);  // deleted records stay hidden
    }
    std::sort(keys.begin(), keys.end());
    if (tag.descending) std::reverse(keys.begin(), keys.end());
    std::vector<std::uint32_t> expected;
    for (const auto& k : keys) expected.push_back(k.second);
    const int n = t.TagNumber(tag.tag);
    ASSERT_GT(n, 0);
    TagDescription d;
    ASSERT_EQ(t.GetTagDescription(n, d), 0);
    EXPECT_EQ(d.keyCount, inTag);
    ASSERT_EQ(t.SetOrder(n), 0);
    EXPECT_EQ(Walk(t), expected);
  }
  // And the same after closing and opening: nothing to rebuild.
  t.Close();
  ASSERT_TRUE(OpenOutFaxDBF(t, dir.Path()));
  EXPECT_FALSE(t.IndexRebuilt());
}

}  // namespace
}  // namespace qc
