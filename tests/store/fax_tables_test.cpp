// The three fax tables: creation, opening, the tags' orders and their edge
// cases, filters, deleted records, RecNo and index recovery.
#include "store/fax_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "store/store_errors.h"
#include "store_test_util.h"

namespace qc {
namespace {

using storetest::Column;
using storetest::ScratchDir;
using storetest::Walk;

struct OutFax {
  const char* subject;
  const char* datesent;  // YYYYMMDD or ""
  const char* timesent;
  bool archived = false;
};

void AddOut(TTable& t, const OutFax& f) {
  ASSERT_EQ(t.Append(), 0) << t.LastError();
  ASSERT_EQ(t.SetText("SUBJECT", f.subject), 0) << t.LastError();
  ASSERT_EQ(t.SetText("DATESENT", f.datesent), 0) << t.LastError();
  ASSERT_EQ(t.SetText("TIMESENT", f.timesent), 0) << t.LastError();
  ASSERT_EQ(t.SetLogical("ARCHIVED", f.archived), 0) << t.LastError();
  ASSERT_EQ(t.Post(), 0) << t.LastError();
}

class FaxTables : public ::testing::Test {
 protected:
  void SetUp() override { ArchiveFilter = ".not. archived"; }
  ScratchDir dir_;
};

TEST_F(FaxTables, OpenCreatesTablesWithTheirFieldsAndTags) {
  TTable out, rec, pb;
  ASSERT_TRUE(OpenOutFaxDBF(out, dir_.Path())) << out.LastError();
  ASSERT_TRUE(OpenRecFaxDBF(rec, dir_.Path())) << rec.LastError();
  ASSERT_TRUE(OpenPhoneBookDBF(pb, dir_.Path(), false)) << pb.LastError();
  for (const auto& [table, schema] : {std::pair<TTable*, const TableSchema*>{&out, &kOutFaxSchema},
                                      {&rec, &kRecFaxSchema},
                                      {&pb, &kPhoneBookSchema}}) {
    SCOPED_TRACE(schema->fileName);
    EXPECT_TRUE(std::filesystem::exists(dir_.File(schema->fileName)));
    EXPECT_TRUE(std::filesystem::exists(dir_.File(schema->indexName)));
    ASSERT_EQ(table->FieldCount(), static_cast<int>(schema->fields.size()));
    for (int i = 0; i < table->FieldCount(); ++i) {
      const FieldDef f = table->Field(i);
      EXPECT_EQ(f.name, schema->fields[i].name);
      EXPECT_EQ(f.type, schema->fields[i].type);
      EXPECT_EQ(f.width, schema->fields[i].width);
    }
    ASSERT_EQ(table->TagCount(), static_cast<int>(schema->tags.size()));
    for (int n = 1; n <= table->TagCount(); ++n) {
      TagDescription d;
      ASSERT_EQ(table->GetTagDescription(n, d), 0);
      EXPECT_EQ(d.name, schema->tags[n - 1].name);
      EXPECT_EQ(d.keyExpr, schema->tags[n - 1].key);
      EXPECT_EQ(d.forExpr, ".not. deleted()");
      EXPECT_EQ(d.descending, schema->tags[n - 1].descending);
      EXPECT_EQ(table->TagNumber(schema->tags[n - 1].name), n);
    }
  }
  EXPECT_EQ(out.Filter(), ".not. archived");
  EXPECT_EQ(rec.Filter(), ".not. deleted()");
  EXPECT_EQ(pb.CurrentOrder(), pb.TagNumber("NAME"));
}

TEST_F(FaxTables, DateOrderPutsUnsentLastAndSameDayNewestFirst) {
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path())) << t.LastError();
  AddOut(t, {"unsent", "", ""});
  AddOut(t, {"morning", "20240312", "08:05"});
  AddOut(t, {"evening", "20240312", "17:40"});
  AddOut(t, {"old", "20231231", "23:59"});
  AddOut(t, {"new year", "20240105", "09:15"});
  ASSERT_EQ(t.SetOrder(t.TagNumber("DATESENT")), 0);
  EXPECT_EQ(Column(t, "SUBJECT"),
            (std::vector<std::string>{"evening", "morning", "new year", "old", "unsent"}));
}

TEST_F(FaxTables, TextOrdersFollowTheirKeys) {
  TTable out, rec, pb;
  ASSERT_TRUE(OpenOutFaxDBF(out, dir_.Path()));
  AddOut(out, {"Beta", "", ""});
  AddOut(out, {"alpha", "", ""});
  AddOut(out, {"Gamma", "", ""});
  ASSERT_EQ(out.SetOrder(out.TagNumber("SUBJECT")), 0);
  EXPECT_EQ(Column(out, "SUBJECT"), (std::vector<std::string>{"alpha", "Beta", "Gamma"}));

  ASSERT_TRUE(OpenRecFaxDBF(rec, dir_.Path()));
  for (const char* from : {"MIKE", "ZULU", "ALPHA"}) {
    ASSERT_EQ(rec.Append(), 0);
    ASSERT_EQ(rec.SetText("FROM", from), 0);
    ASSERT_EQ(rec.SetSmallInt("PAGES", 3), 0);
    ASSERT_EQ(rec.Post(), 0) << rec.LastError();
  }
  ASSERT_EQ(rec.SetOrder(rec.TagNumber("FROM")), 0);
  EXPECT_EQ(Column(rec, "FROM"), (std::vector<std::string>{"ZULU", "MIKE", "ALPHA"}));

  ASSERT_TRUE(OpenPhoneBookDBF(pb, dir_.Path(), true));
  for (const char* name : {"adam", "Zoe", "Bob"}) {
    ASSERT_EQ(pb.Append(), 0);
    ASSERT_EQ(pb.SetText("NAME", name), 0);
    ASSERT_EQ(pb.Post(), 0);
  }
  EXPECT_EQ(Column(pb, "NAME"), (std::vector<std::string>{"Bob", "Zoe", "adam"}));
}

TEST_F(FaxTables, ArchivedHiddenUnderTheFilterAndShownWithout) {
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
  AddOut(t, {"kept", "20240101", "10:00"});
  AddOut(t, {"archived", "20240102", "10:00", true});
  for (int order : {0, 1, 2, 3, 4, 5}) {
    SCOPED_TRACE(order);
    ASSERT_EQ(t.SetOrder(order), 0);
    ASSERT_EQ(t.Query(".not. archived"), 0);
    EXPECT_EQ(Column(t, "SUBJECT"), std::vector<std::string>{"kept"});
    EXPECT_EQ(t.QueryRecordCount(), 1);
    ASSERT_EQ(t.Query(""), 0);
    EXPECT_EQ(t.QueryRecordCount(), 2);
    EXPECT_EQ(Walk(t).size(), 2u);
  }
}

TEST_F(FaxTables, DeletedRecordInvisibleEverywhereAndCountedUntilPack) {
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
  AddOut(t, {"one", "20240101", "10:00"});
  AddOut(t, {"two", "20240102", "10:00"});
  AddOut(t, {"three", "20240103", "10:00", true});
  ASSERT_EQ(t.Query(""), 0);
  ASSERT_EQ(t.GoTo(2), 0);
  ASSERT_EQ(t.Delete(), 0);
  EXPECT_EQ(t.RecordCount(), 3u);
  for (int order = 0; order <= 5; ++order) {
    for (const char* filter : {"", ".not. archived", "archived .or. .not. archived"}) {
      SCOPED_TRACE(std::to_string(order) + " " + filter);
      ASSERT_EQ(t.SetOrder(order), 0);
      ASSERT_EQ(t.Query(filter), 0);
      for (std::uint32_t r : Walk(t)) EXPECT_NE(r, 2u);
      EXPECT_NE(t.GoTo(2), 0);
    }
  }
  for (int n = 1; n <= 5; ++n) {
    TagDescription d;
    ASSERT_EQ(t.GetTagDescription(n, d), 0);
    EXPECT_EQ(d.keyCount, 2u) << d.name;
  }
  ASSERT_EQ(t.Query(""), 0);
  EXPECT_EQ(t.QueryRecordCount(), 2);
  ASSERT_EQ(t.Pack(), 0) << t.LastError();
  EXPECT_EQ(t.RecordCount(), 2u);
  ASSERT_EQ(t.SetOrder(1), 0);
  EXPECT_EQ(Column(t, "SUBJECT"), (std::vector<std::string>{"three", "one"}));
}

TEST_F(FaxTables, RecNoIsCountPlusOneWithoutCurrentRecord) {
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
  EXPECT_EQ(t.RecNo(), 1u);  // empty list
  AddOut(t, {"a", "", ""});
  AddOut(t, {"b", "", "", true});
  ASSERT_EQ(t.First(), 0);
  EXPECT_EQ(t.RecNo(), 1u);
  ASSERT_EQ(t.Next(), 0);  // the archived one is hidden: past the end
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.RecNo(), 3u);
  ASSERT_EQ(t.Query("subject = 'zzz'"), 0);
  EXPECT_EQ(t.RecNo(), 3u);
  EXPECT_EQ(t.QueryRecordCount(), 0);
}

TEST_F(FaxTables, OrderRuleFollowsTheCurrentRecord) {
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
  EXPECT_FALSE(ApplyOrderRule(t, "DATESENT"));  // empty: physical order
  EXPECT_EQ(t.CurrentOrder(), 0);
  AddOut(t, {"b", "20240101", "10:00"});
  AddOut(t, {"a", "20240102", "10:00"});
  EXPECT_TRUE(ApplyOrderRule(t, "DATESENT"));
  EXPECT_EQ(t.CurrentOrder(), 1);
  EXPECT_EQ(t.AsText("SUBJECT"), "a");
  ASSERT_EQ(t.Query("subject = 'none'"), 0);
  EXPECT_FALSE(ApplyOrderRule(t, "DATESENT"));
  EXPECT_EQ(t.CurrentOrder(), 0);
}

TEST_F(FaxTables, DeletedIndexIsRebuiltFromTheRecordsAtNextOpen) {
  {
    TTable t;
    ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
    AddOut(t, {"first", "20240101", "10:00"});
    AddOut(t, {"second", "20240102", "10:00"});
    AddOut(t, {"gone", "20240103", "10:00"});
    ASSERT_EQ(t.GoTo(3), 0);
    ASSERT_EQ(t.Delete(), 0);
  }
  std::filesystem::remove(dir_.File("QCOUT.CDX"));
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path())) << t.LastError();
  ASSERT_EQ(t.TagCount(), 5);
  for (int n = 1; n <= 5; ++n) {
    TagDescription d;
    ASSERT_EQ(t.GetTagDescription(n, d), 0);
    EXPECT_EQ(d.keyCount, 2u);
  }
  ASSERT_EQ(t.SetOrder(1), 0);
  EXPECT_EQ(Column(t, "SUBJECT"), (std::vector<std::string>{"second", "first"}));
}

TEST_F(FaxTables, StaleIndexIsRebuiltAtOpen) {
  // An index saved from an older state of the table, and one of a different
  // table with the same number of records.
  ScratchDir other;
  {
    TTable t, u;
    ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
    ASSERT_TRUE(OpenOutFaxDBF(u, other.Path()));
    AddOut(t, {"a", "20240101", "10:00"});
    AddOut(u, {"x", "20230101", "10:00"});
    AddOut(u, {"y", "20230102", "10:00"});
    std::filesystem::copy_file(dir_.File("QCOUT.CDX"), dir_.File("old.cdx"));
    AddOut(t, {"b", "20240102", "10:00"});
  }
  for (const std::string& stale : {dir_.File("old.cdx"), other.File("QCOUT.CDX")}) {
    SCOPED_TRACE(stale);
    std::filesystem::copy_file(stale, dir_.File("QCOUT.CDX"), std::filesystem::copy_options::overwrite_existing);
    TTable t;
    ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path())) << t.LastError();
    EXPECT_TRUE(t.IndexRebuilt());
    ASSERT_EQ(t.SetOrder(1), 0);
    EXPECT_EQ(Column(t, "SUBJECT"), (std::vector<std::string>{"b", "a"}));
  }
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
  EXPECT_FALSE(t.IndexRebuilt());
}

TEST_F(FaxTables, CloseAndOpenKeepsPositionAndFilter) {
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
  AddOut(t, {"a", "20240101", "10:00"});
  AddOut(t, {"b", "20240102", "10:00"});
  ASSERT_EQ(t.SetOrder(2), 0);
  ASSERT_EQ(t.GoTo(2), 0);
  ASSERT_TRUE(FaxTableCloseAndOpen(t));
  EXPECT_EQ(t.RecNo(), 2u);
  EXPECT_EQ(t.CurrentOrder(), 2);
  EXPECT_EQ(t.Filter(), ".not. archived");
}

}  // namespace
}  // namespace qc

namespace qc {
namespace {

TEST_F(FaxTables, TablesAreFoundWhateverTheCaseOfTheirNames) {
  {
    TTable t;
    ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
    AddOut(t, {"kept", "20240101", "10:00"});
  }
  std::filesystem::rename(dir_.File("QCOUT.DBF"), dir_.File("qcout.dbf"));
  std::filesystem::rename(dir_.File("QCOUT.CDX"), dir_.File("QcOut.Cdx"));
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path())) << t.LastError();
  EXPECT_FALSE(std::filesystem::exists(dir_.File("QCOUT.DBF")));
  EXPECT_FALSE(t.IndexRebuilt());
  ASSERT_EQ(t.SetOrder(1), 0);
  EXPECT_EQ(Column(t, "SUBJECT"), std::vector<std::string>{"kept"});
}

}  // namespace
}  // namespace qc

namespace qc {
namespace {

// The index rebuild of the housekeeping menu: close the indexes, delete the
// index file, pack, create the tags again, select the order that was in use.
TEST_F(FaxTables, RebuildPacksAndRecreatesTagsWithProgress) {
  TTable t;
  ASSERT_TRUE(OpenOutFaxDBF(t, dir_.Path()));
  for (int i = 0; i < 6; ++i) AddOut(t, {("s" + std::to_string(i)).c_str(), "20240101", "10:00", i == 5});
  ASSERT_EQ(t.Query(""), 0);
  for (std::uint32_t r : {2u, 4u, 6u}) {
    ASSERT_EQ(t.GoTo(r), 0);
    ASSERT_EQ(t.Delete(), 0);
  }
  ASSERT_EQ(t.SetOrder(t.TagNumber("SUBJECT")), 0);
  std::vector<int> progress;
  t.SetProgressHook([&](int percent) { progress.push_back(percent); });
  const int order = t.CurrentOrder();
  ASSERT_EQ(t.CloseIndexes(), 0);
  EXPECT_EQ(t.CurrentOrder(), 0);
  ASSERT_TRUE(std::filesystem::remove(dir_.File("QCOUT.CDX")));
  ASSERT_EQ(t.Pack(), 0) << t.LastError();
  EXPECT_EQ(t.RecordCount(), 3u);
  ASSERT_EQ(CreateTags(t, kOutFaxSchema), 0) << t.LastError();
  ASSERT_EQ(t.SetOrder(order), 0);
  t.SetProgressHook(nullptr);
  // One report from 0 to 100 for the pack and for each of the five tags.
  EXPECT_EQ(std::count(progress.begin(), progress.end(), 0), 6);
  EXPECT_EQ(std::count(progress.begin(), progress.end(), 100), 6);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.begin() + (progress.size() / 6)));
  EXPECT_EQ(t.QueryRecordCount(), 3);
  EXPECT_EQ(Column(t, "SUBJECT"), (std::vector<std::string>{"s0", "s2", "s4"}));
  ASSERT_EQ(t.Query(ArchiveFilter), 0);
  EXPECT_EQ(Column(t, "SUBJECT"), (std::vector<std::string>{"s0", "s2", "s4"}));
  TTable again;
  t.Close();
  ASSERT_TRUE(OpenOutFaxDBF(again, dir_.Path()));
  EXPECT_FALSE(again.IndexRebuilt());
  EXPECT_EQ(again.TagCount(), 5);
}

}  // namespace
}  // namespace qc
