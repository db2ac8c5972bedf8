// Whole send jobs through the Class 2 and Class 2.0 modem emulators: the
// pages the modem decodes, the commands it got, the codes and the history.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/fax_components.h"
#include "support/send_rig.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct JobFiles {
  TempDir dir;
  std::vector<Raster> pages;
  std::string apf, cover, history;
  JobFiles() {
    pages = {PatternPage(1, 120), PatternPage(2, 90), PatternPage(3, 60)};
    apf = dir.Path("BODY.APF");
    WriteApf(apf, pages, true);
    cover = dir.Path("cover.txt");
    std::ofstream(cover) << "QUILLCAST COVER\nTo: $R\n";
    history = dir.Path("QCFAX.HIS");
  }
};

class FullJob : public ::testing::TestWithParam<TFaxClass> {};

TEST_P(FullJob, CoverAndThreeFinePagesArriveAsRendered) {
  JobFiles files;
  Class2Script script;
  script.dialect = GetParam();
  script.classAnswer = GetParam() == fcClass2 ? "0,1,2" : "0,1,2,2.0";
  SendRig rig(script);
  TQcFaxLog log;
  log.SetFaxHistoryName(files.history);
  rig.fax.SetFaxLog(&log);
  rig.fax.SetStationID("QC TEST 1");
  rig.fax.SetHeaderLine("$I Page $P of $N");
  rig.fax.SetHeaderRecipient("Bob");
  rig.fax.SetPhoneNumber("5550100");
  rig.fax.SetFaxFile(files.apf);
  rig.fax.SetCoverFile(files.cover);

  ASSERT_TRUE(rig.Run());
  EXPECT_EQ(rig.finishCode, 0);
  if (rig.finishCode != 0)
    for (const auto& t : rig.trace) std::fprintf(stderr, "  %s\n", t.c_str());
  EXPECT_TRUE(rig.errors.empty());

  const auto& got = rig.modem.Pages();
  ASSERT_EQ(got.size(), 4u);
  const Raster coverExpected =
      Concat({BlankRows(8), TextRows("QC TEST 1 Page 1 of 4", true, true),
              TextRows("QUILLCAST COVER", false, true), TextRows("To: Bob", false, true)});
  EXPECT_EQ(got[0].rows, coverExpected);
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    const std::string header = "QC TEST 1 Page " + std::to_string(p + 2) + " of 4";
    EXPECT_EQ(got[static_cast<size_t>(p) + 1].rows,
              Concat({BlankRows(8), TextRows(header, true, true), files.pages[static_cast<size_t>(p)]}));
  }
  for (const auto& page : got) EXPECT_EQ(page.badCodes, 0u);

  if (GetParam() == fcClass2) {
    for (const auto& page : got) EXPECT_EQ(page.terminator, 'E');
    EXPECT_TRUE(rig.SentCommand("AT+FCLASS=2"));
    EXPECT_TRUE(rig.SentCommand("AT+FLID=\"QC TEST 1\""));
    EXPECT_TRUE(rig.SentCommand("AT+FDIS=1,3,0,2,0,0,0,0"));
    EXPECT_EQ(rig.CountCommands("AT+FET=0"), 3);
    EXPECT_EQ(rig.CountCommands("AT+FET=2"), 1);
  } else {
    std::string ends;
    for (const auto& page : got) ends += page.terminator;
    EXPECT_EQ(ends, ",,,.");
    EXPECT_TRUE(rig.SentCommand("AT+FCLASS=2.0"));
    EXPECT_TRUE(rig.SentCommand("AT+FLI=\"QC TEST 1\""));
    EXPECT_TRUE(rig.SentCommand("AT+FLO=2"));
    EXPECT_TRUE(rig.SentCommand("AT+FNR=1,1,1,0"));
    EXPECT_TRUE(rig.SentCommand("AT+FIS=1,3,0,2,0,0,0,0"));
    EXPECT_EQ(rig.CountCommands("AT+FET"), 0);
  }
  EXPECT_TRUE(rig.SentCommand("AT+FCLASS=?"));
  EXPECT_TRUE(rig.SentCommand("ATE0Q0V1X4S0=0S2=43"));
  EXPECT_TRUE(rig.SentCommand("ATDT5550100"));
  EXPECT_EQ(rig.CountCommands("AT+FDT"), 4);
  EXPECT_EQ(rig.fax.RemoteStationID(), "REMOTE FAX 1");
  EXPECT_EQ(rig.fax.HangupResult(), 0);
  EXPECT_EQ(rig.firsts, 1);
  EXPECT_EQ(rig.lasts, 1);
  EXPECT_TRUE(rig.SawStatus(fsDialing));
  EXPECT_TRUE(rig.SawStatus(fsSendingPage));
  EXPECT_TRUE(rig.SawStatus(fsFinished));
  EXPECT_EQ(rig.logs, (std::vector<int>{lcTransmitStarted, lcTransmitFinished}));
  EXPECT_EQ(rig.line->FreeTriggers(), 20);  // all released at the finish

  const std::string his = ReadFile(files.history);
  EXPECT_NE(his.find("Transmit " + files.apf + " to 5550100 started at "), std::string::npos) << his;
  EXPECT_NE(his.find("Transmit to REMOTE FAX 1 finished OK at "), std::string::npos) << his;
  EXPECT_NE(his.find(" 0\r\n\r\n"), std::string::npos) << his;
}

INSTANTIATE_TEST_SUITE_P(Classes, FullJob, ::testing::Values(fcClass2, fcClass2_0),
                         [](const auto& info) { return info.param == fcClass2 ? "Class2" : "Class2_0"; });

}  // namespace
}  // namespace qc::test
