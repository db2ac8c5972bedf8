// The main window's rules that need no widget.
#include <gtest/gtest.h>

#include "app/button_rules.h"
#include "app/grid_orders.h"
#include "app/ini_file.h"
#include "app/list_actions.h"
#include "app/printer_jobs.h"
#include "app/text_fields.h"
#include "temp_folder.h"

namespace qc {
namespace {

TEST(ButtonRules, EnableTableOfBothPages) {
  struct Case {
    TFaxPage page;
    bool out, rec, receive, coverEmpty;
    ButtonStates expect;
  };
  auto S = [](bool clone, bool cloneVis, bool fwd, bool fwdVis, bool send, bool nw, bool add, bool edit,
              bool grid, bool recGrid, bool file) {
    ButtonStates s;
    s.clone = clone;
    s.cloneVisible = cloneVis;
    s.forward = fwd;
    s.forwardVisible = fwdVis;
    s.send = send;
    s.newFax = nw;
    s.addCover = add;
    s.edit = s.del = s.view = s.archive = edit;
    s.faxGrid = grid;
    s.recFaxGrid = recGrid;
    s.rebuildIndexes = s.preferences = s.fileMenu = file;
    return s;
  };
  const TFaxPage O = TFaxPage::fpOutgoing, R = TFaxPage::fpReceived;
  const Case cases[] = {
      {O, false, false, false, false, S(false, true, false, false, false, true, false, false, false, false, true)},
      {O, true, false, false, true, S(true, true, false, false, true, true, true, true, true, false, true)},
      {O, true, false, false, false, S(true, true, false, false, true, true, false, true, true, false, true)},
      {O, true, true, true, true, S(true, true, false, false, false, true, false, true, true, true, false)},
      {R, true, false, false, true, S(false, false, false, true, false, false, false, false, true, false, true)},
      {R, false, true, false, true, S(false, false, true, true, false, false, false, true, false, true, true)},
      {R, true, true, true, true, S(false, false, true, true, false, false, false, true, true, true, false)},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    ButtonInputs in{c.page, c.out, c.rec, c.receive, c.coverEmpty};
    EXPECT_EQ(ComputeButtonStates(in), c.expect) << "case " << i;
  }
  EXPECT_TRUE(AddCoverOnDataChange(true, true));
  EXPECT_FALSE(AddCoverOnDataChange(false, true));
  EXPECT_FALSE(AddCoverOnDataChange(true, false));
}

TEST(ButtonRules, ArchiveCaptions) {
  EXPECT_EQ(ArchiveCaptions(true).caption, "Un&Archive");
  EXPECT_EQ(ArchiveCaptions(true).hint, "Unarchive this fax [CTRL+A]");
  EXPECT_EQ(ArchiveCaptions(false).caption, "&Archive");
  EXPECT_EQ(ArchiveCaptions(false).hint.rfind("Archive this fax [CTRL+A]\r(This makes", 0), 0u);
}

TEST(TextFields, WidthsCountCharactersNotBytes) {
  EXPECT_EQ(CutToWidth("abcdef", 3), "abc");
  EXPECT_EQ(CutToWidth("\xC3\xA9t\xC3\xA9", 2), "\xC3\xA9t");
  EXPECT_EQ(CharacterCount("\xC3\xA9t\xC3\xA9"), 3);
  EXPECT_EQ(CutToWidth("ab", 10), "ab");
  // Windows-1252 from a printer driver becomes UTF-8; UTF-8 stays.
  EXPECT_EQ(AsUtf8("Caf\xE9 \x80"), "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_EQ(AsUtf8("Caf\xC3\xA9"), "Caf\xC3\xA9");
  EXPECT_EQ(SplitLines("a\r\nb\n\nc"), (std::vector<std::string>{"a", "b", "", "c"}));
  EXPECT_EQ(SplitLines("a\nb\n"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(MessageLines("one\r\ntwo\rthree"), "one\ntwo\nthree");
}

TEST(PrinterJobs, FaxFileNamesOutsideSendOrTooLongAreRefused) {
  const std::string send = "/data/SEND/";
  struct Case {
    const char* path;
    TJobNameFault fault;
  } cases[] = {
      {"/data/SEND/REPORT.APF", TJobNameFault::jnOk},
      {"/data/SEND/ABCDEFGH.APF", TJobNameFault::jnOk},
      {"/data/SEND/ABCDEFGHI.APF", TJobNameFault::jnNameTooLong},
      {"/data/SEND/../x.APF", TJobNameFault::jnOutsideSendFolder},
      {"/data/SEND/sub/x.APF", TJobNameFault::jnOutsideSendFolder},
      {"/data/x.APF", TJobNameFault::jnOutsideSendFolder},
      {"/data/SEND/..", TJobNameFault::jnOutsideSendFolder},
      {"/data/SENDX/a.APF", TJobNameFault::jnOutsideSendFolder},
  };
  for (const Case& c : cases) EXPECT_EQ(CheckJobFaxFile(send, c.path), c.fault) << c.path;
  EXPECT_EQ(ChangeExtension("REPORT.qcj", ".APF"), "REPORT.APF");
  EXPECT_EQ(ChangeExtension("a.b/REPORT", ".APF"), "a.b/REPORT.APF");
}

TEST(PrinterJobs, JobFileNeedsThreeLines) {
  test::TempFolder dir;
  PrinterJob job;
  std::string error;
  test::WriteFile(dir / "A.QCJ", "555-1234\r\nAcme\r\nQuarterly figures\r\n");
  ASSERT_TRUE(ReadJobFile(dir / "A.QCJ", job, error));
  EXPECT_EQ(job.phone, "555-1234");
  EXPECT_EQ(job.recipient, "Acme");
  EXPECT_EQ(job.subject, "Quarterly figures");
  test::WriteFile(dir / "B.QCJ", "555-1234\nAcme\n");
  EXPECT_FALSE(ReadJobFile(dir / "B.QCJ", job, error));
  EXPECT_NE(error.find("B.QCJ"), std::string::npos);
  EXPECT_FALSE(ReadJobFile(dir / "missing.qcj", job, error));
  test::WriteFile(dir / "c.Qcj", "");
  test::WriteFile(dir / "d.txt", "");
  EXPECT_EQ(FindJobFiles(dir.path()), (std::vector<std::string>{"A.QCJ", "B.QCJ", "c.Qcj"}));
}

TEST(PrinterJobs, QcpdIniLivesInTheConfigFolder) {
  test::TempFolder dir;
  {
    test::ScopedEnv xdg("XDG_CONFIG_HOME", dir.path().c_str());
    EXPECT_EQ(QcpdIniFileName(), dir.path() + "quillcast/QCPD.INI");
    WriteQCPDINI("/data/SEND/", "/usr/bin/quillcast");
    IniFile ini(dir.path() + "quillcast/QCPD.INI");
    EXPECT_EQ(ini.ReadString("Location", "QCOutPath", ""), "/data/SEND/");
    EXPECT_EQ(ini.ReadString("Location", "QCExecutable", ""), "/usr/bin/quillcast");
  }
  test::ScopedEnv xdg("XDG_CONFIG_HOME", "relative/ignored");
  test::ScopedEnv home("HOME", "/home/someone");
  EXPECT_EQ(QcpdIniFileName(), "/home/someone/.config/quillcast/QCPD.INI");
}

TEST(GridOrders, NamesMoveToTheirLineAndUnknownNamesAreSkipped) {
  std::vector<std::string> fields{"SUBJECT", "DATESENT", "TIMESENT", "RECIPIENT", "PHONE"};
  ApplyFieldOrder(fields, {"phone", "GONE", "SUBJECT", "", "DATESENT", "TIMESENT", "RECIPIENT"});
  EXPECT_EQ(fields, (std::vector<std::string>{"PHONE", "SUBJECT", "TIMESENT", "RECIPIENT", "DATESENT"}));
  EXPECT_EQ(ParseColumnWidths({"12", " 64 ", "x", "-3", ""}), (std::vector<int>{12, 64, -1, -1, -1}));
  test::TempFolder dir;
  ASSERT_TRUE(WriteTextLines(dir / "Out.gco", {"A", "B"}));
  EXPECT_EQ(test::ReadFile(dir / "Out.gco"), "A\r\nB\r\n");
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadTextLines(dir / "Out.gco", lines));
  EXPECT_EQ(lines, (std::vector<std::string>{"A", "B"}));
  EXPECT_FALSE(ReadTextLines(dir / "none.gco", lines));
}

TEST(ListActions, QuestionsAndCloneSubject) {
  EXPECT_EQ(CloneSubject(std::string(45, 's')), "[clone]" + std::string(43, 's'));
  EXPECT_EQ(CloneSubject("x"), "[clone]x");
  EXPECT_EQ(CloneQuestion("Q1"), "Clone the current fax?\r\n(subject: \"Q1\")");
  EXPECT_EQ(DeleteSendQuestion("Q1"), "Delete the current fax?\r\n(subject: \"Q1\")");
  EXPECT_EQ(DeleteRecQuestion("ACME"), "Delete the current fax?\r\n(from: \"ACME\")");
  EXPECT_EQ(ArchiveQuestion(false, TFaxPage::fpOutgoing, ""), "Archive the current fax?\r\n(no subject)");
  EXPECT_EQ(ArchiveQuestion(true, TFaxPage::fpOutgoing, "S"), "UnArchive the current fax?\r\n(subject: S)");
  EXPECT_EQ(ArchiveQuestion(false, TFaxPage::fpReceived, ""), "Archive the current fax?\r\n");
  EXPECT_EQ(ArchiveQuestion(false, TFaxPage::fpReceived, "ACME"), "Archive the current fax?\r\n(from: ACME)");
  EXPECT_EQ(ForwardQuestion("ACME"), "Forward the current fax to be sent?\r\n(from: ACME)");
}

TEST(ListActions, CloneCopiesBodyAndCoverWithItsDataFile) {
  test::TempFolder dir;
  test::WriteFile(dir / "BODY.APF", "body");
  test::WriteFile(dir / "COV00000.APF", "cover");
  test::WriteFile(dir / "COV00000.FCD", "values");
  const ClonedFiles files = CloneFaxFiles(dir.path(), "BODY.APF", "COV00000.APF");
  EXPECT_EQ(files.body, "FAX00000.APF");
  EXPECT_EQ(files.cover, "COV00001.APF");
  EXPECT_EQ(test::ReadFile(dir / "FAX00000.APF"), "body");
  EXPECT_EQ(test::ReadFile(dir / "COV00001.APF"), "cover");
  EXPECT_EQ(test::ReadFile(dir / "COV00001.fcd"), "values");
  // Without its data file a cover sheet is not cloned.
  std::remove((dir / "COV00000.FCD").c_str());
  const ClonedFiles bare = CloneFaxFiles(dir.path(), "", "COV00000.APF");
  EXPECT_EQ(bare.body, "");
  EXPECT_EQ(bare.cover, "");
  DeleteCoverFiles(dir.path(), "COV00001.APF");
  EXPECT_EQ(test::ReadFile(dir / "COV00001.APF"), "");
  EXPECT_EQ(test::ReadFile(dir / "COV00001.fcd"), "");
}

}  // namespace
}  // namespace qc
