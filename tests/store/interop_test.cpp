// Tables written here read correctly in Debian's python3-dbfread, and a table
// written by python3-dbf opens here with the same values.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "store/fax_tables.h"
#include "store_test_util.h"

namespace qc {
namespace {

using storetest::ScratchDir;
using storetest::Walk;

// Output of a command, with its exit status.
std::string RunCommand(const std::string& command, int& status) {
  std::string out;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) {
    status = -1;
    return out;
  }
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  status = ::pclose(p);
  return out;
}

std::string Python() {
  const std::string py = QC_DBF_PYTHON;
  return py;
}

TEST(Interop, DbfreadReadsOurTables) {
  ASSERT_FALSE(Python().empty()) << "no python3 with the dbfread and dbf modules was found at configure time";
  ScratchDir dir;
  {
    TTable out;
    ASSERT_TRUE(OpenOutFaxDBF(out, dir.Path())) << out.LastError();
    ASSERT_EQ(out.Append(), 0);
    ASSERT_EQ(out.SetText("SUBJECT", "Grüße – 100 €"), 0) << out.LastError();
    ASSERT_EQ(out.SetDate("DATESENT", Date{2024, 3, 12}), 0);
    ASSERT_EQ(out.SetText("TIMESENT", "17:40"), 0);
    ASSERT_EQ(out.SetText("RECIPIENT", "Zoë Müller"), 0);
    ASSERT_EQ(out.SetText("PHONE", "+49 30 123456"), 0);
    ASSERT_EQ(out.SetText("FAXCOVER", "COV00012.APF"), 0);
    ASSERT_EQ(out.SetLogical("ARCHIVED", true), 0);
    ASSERT_EQ(out.Post(), 0) << out.LastError();
    ASSERT_EQ(out.AppendBlank(), 0);
    ASSERT_EQ(out.Append(), 0);
    ASSERT_EQ(out.SetText("SUBJECT", "to be deleted"), 0);
    ASSERT_EQ(out.Post(), 0);
    ASSERT_EQ(out.Delete(), 0);

    TTable rec;
    ASSERT_TRUE(OpenRecFaxDBF(rec, dir.Path())) << rec.LastError();
    ASSERT_EQ(rec.Append(), 0);
    ASSERT_EQ(rec.SetText("DATEREC", "19991231"), 0);
    ASSERT_EQ(rec.SetText("FROM", "REMOTE ID"), 0);
    ASSERT_EQ(rec.SetSmallInt("PAGES", 12), 0);
    ASSERT_EQ(rec.Post(), 0);
  }
  int status = 0;
  const std::string dump =
      RunCommand(Python() + " " + QC_STORE_TESTS + "/dbfread_dump.py " + dir.File("QCOUT.DBF") + " 2>&1", status);
  ASSERT_EQ(status, 0) << dump;
  EXPECT_EQ(dump,
            "F|SUBJECT|C|50|0\nF|DATESENT|D|8|0\nF|TIMESENT|C|5|0\nF|RECIPIENT|C|35|0\nF|PHONE|C|25|0\n"
            "F|LASTRESULT|C|100|0\nF|FAXDOC|C|12|0\nF|FAXCOVER|C|12|0\nF|NOTES|C|50|0\nF|CODES|C|25|0\n"
            "F|ARCHIVED|L|1|0\n"
            "R|live|Grüße – 100 €|2024-03-12|17:40|Zoë Müller|+49 30 123456|||COV00012.APF|||True\n"
            "R|live||None|||||||||False\n"
            "R|deleted|to be deleted|None|||||||||False\n");
  const std::string recDump =
      RunCommand(Python() + " " + QC_STORE_TESTS + "/dbfread_dump.py " + dir.File("QCREC.DBF") + " 2>&1", status);
  ASSERT_EQ(status, 0) << recDump;
  EXPECT_EQ(recDump,
            "F|DATEREC|D|8|0\nF|TIMEREC|C|5|0\nF|FROM|C|20|0\nF|PAGES|N|2|0\nF|FAXFILE|C|12|0\n"
            "F|NOTES|C|60|0\nF|ARCHIVED|L|1|0\n"
            "R|live|1999-12-31||REMOTE ID|12|||False\n");
}

TEST(Interop, TableWrittenByPythonDbfOpensHere) {
  ASSERT_FALSE(Python().empty()) << "no python3 with the dbfread and dbf modules was found at configure time";
  ScratchDir dir;
  int status = 0;
  const std::string out =
      RunCommand(Python() + " " + QC_STORE_TESTS + "/dbf_write_table.py " + dir.File("QCREC.DBF") + " 2>&1", status);
  ASSERT_EQ(status, 0) << out;
  TTable t;
  t.SetFolder(dir.Path());
  t.SetTableName("QCREC.DBF");
  ASSERT_EQ(t.Open(), 0) << t.LastError();
  EXPECT_EQ(t.RecordCount(), 3u);
  ASSERT_EQ(t.FieldCount(), 7);
  t.SetShowDeleted(true);
  ASSERT_EQ(t.First(), 0);
  EXPECT_EQ(t.AsDate("DATEREC"), (Date{2024, 3, 12}));
  EXPECT_EQ(t.AsText("TIMEREC"), "17:40");
  EXPECT_EQ(t.AsText("FROM"), "Grüße € Büro");
  EXPECT_EQ(t.AsSmallInt("PAGES"), 7);
  EXPECT_EQ(t.AsText("FAXFILE"), "FAX00003.APF");
  EXPECT_EQ(t.AsText("NOTES"), "first");
  EXPECT_TRUE(t.AsLogical("ARCHIVED"));
  EXPECT_FALSE(t.IsDeleted());
  ASSERT_EQ(t.Next(), 0);
  EXPECT_EQ(t.AsText("DATEREC"), "19991231");
  EXPECT_EQ(t.AsText("FROM"), "+49 30 1234");
  EXPECT_EQ(t.AsSmallInt("PAGES"), 12);
  EXPECT_FALSE(t.AsLogical("ARCHIVED"));
  ASSERT_EQ(t.Next(), 0);
  EXPECT_TRUE(t.IsDeleted());
  EXPECT_TRUE(t.AsDate("DATEREC").IsBlank());
  EXPECT_EQ(t.AsText("FROM"), "gone");
  t.SetShowDeleted(false);
  ASSERT_EQ(t.Query(""), 0);
  EXPECT_EQ(t.QueryRecordCount(), 2);

  // Our tags on their table, then their reader on our changes.
  ASSERT_EQ(t.IndexTag("FROM", "UPPER(FROM)", 0, true, ".not. deleted()"), 0) << t.LastError();
  ASSERT_EQ(Walk(t), (std::vector<std::uint32_t>{1, 2}));  // G before + in descending order
  ASSERT_EQ(t.GoTo(2), 0);
  ASSERT_EQ(t.Edit(), 0);
  ASSERT_EQ(t.SetText("NOTES", "seen"), 0);
  ASSERT_EQ(t.Post(), 0);
  t.Close();
  const std::string dump =
      RunCommand(Python() + " " + QC_STORE_TESTS + "/dbfread_dump.py " + dir.File("QCREC.DBF") + " 2>&1", status);
  ASSERT_EQ(status, 0) << dump;
  EXPECT_NE(dump.find("R|live|2024-03-12|17:40|Grüße € Büro|7|FAX00003.APF|first|True\n"), std::string::npos)
      << dump;
  EXPECT_NE(dump.find("R|live|1999-12-31|08:05|+49 30 1234|12|FAX00004.APF|seen|False\n"), std::string::npos)
      << dump;
}

}  // namespace
}  // namespace qc
