// Whole receive calls through the Class 2 and Class 2.0 modem emulators: the
// files stored, their headers and pages, the log codes, and how calls are
// answered, refused and ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "control/error_codes.h"
#include "control/errors.h"
#include "support/receive_rig.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

namespace fs = std::filesystem;

CallerPage PageOf(const Raster& raster) {
  CallerPage p;
  p.data = EncodePage(raster);
  return p;
}

IncomingCall CallWith(std::vector<CallerPage> pages, std::string id = "CALLER 1") {
  IncomingCall call;
  call.callerId = std::move(id);
  call.pages = std::move(pages);
  return call;
}

Class2Script ScriptFor(TFaxClass dialect, std::vector<IncomingCall> calls) {
  Class2Script s;
  s.dialect = dialect;
  s.classAnswer = dialect == fcClass2 ? "0,1,2" : "0,1,2,2.0";
  s.calls = std::move(calls);
  return s;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

int CountCommands(const Class2Modem& modem, const std::string& cmd) {
  return static_cast<int>(std::count(modem.Commands().begin(), modem.Commands().end(), cmd));
}

class ReceiveCall : public ::testing::TestWithParam<TFaxClass> {
 protected:
  TempDir dir;
  std::string Dir() const { return dir.Path(""); }
  void Prepare(ReceiveRig& rig) {
    rig.fax.SetDestinationDir(dir.Path(""));
    rig.fax.SetStationID("QC RECEIVER");
  }
};

TEST_P(ReceiveCall, ThreePagesArriveRawInOneFileWithTheCallersId) {
  const std::vector<Raster> rasters = {PatternPage(1, 150), PatternPage(2, 110), PatternPage(3, 80)};
  ReceiveRig rig(ScriptFor(GetParam(), {CallWith({PageOf(rasters[0]), PageOf(rasters[1]), PageOf(rasters[2])})}));
  Prepare(rig);
  rig.fax.SetOneFax(true);
  TQcFaxLog log;
  log.SetFaxHistoryName(dir.Path("QCFAX.HIS"));
  rig.fax.SetFaxLog(&log);

  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(rig.finishCode, 0) << rig.Trace();
  EXPECT_TRUE(rig.errors.empty());
  EXPECT_EQ(rig.logs, (std::vector<int>{4, 5}));
  ASSERT_EQ(rig.files.size(), 1u);
  EXPECT_EQ(rig.files[0], dir.Path("FAX0001.APF"));
  EXPECT_EQ(rig.fax.RemoteStationID(), "CALLER 1");
  EXPECT_TRUE(rig.fax.FineMode());
  EXPECT_EQ(rig.fax.LineRate(), 9600);
  EXPECT_EQ(rig.firsts, 1);
  EXPECT_EQ(rig.lasts, 1);
  EXPECT_EQ(rig.modem.Calls().at(0).ringsBeforeAnswer, 1);

  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  ASSERT_EQ(f.status, 0);
  EXPECT_TRUE(f.header.HasSignature());
  EXPECT_EQ(f.header.PageCount, 3);
  EXPECT_EQ(f.header.StationIdText(), "CALLER 1");
  EXPECT_NE(f.header.TimeStamp, 0u);
  ASSERT_EQ(f.pages.size(), 3u);
  uint64_t expectedSize = kApfFileHeaderSize;
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(f.pageHeaders[i].Flags, pfFine) << "raw, fine, normal width";
    EXPECT_EQ(f.pages[i], EncodePage(rasters[i]));
    uint64_t bad = 0;
    EXPECT_EQ(DecodePage(f.pages[i], &bad), rasters[i]);
    EXPECT_EQ(bad, 0u);
    expectedSize += kApfPageHeaderSize + f.pages[i].size();
  }
  EXPECT_EQ(f.fileSize, expectedSize);

  // The history has the receive entries, naming the file and the caller.
  std::ifstream his(dir.Path("QCFAX.HIS"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(his)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Receive " + dir.Path("FAX0001.APF") + " from CALLER 1 started at "), std::string::npos);
  EXPECT_NE(text.find("Receive finished OK at "), std::string::npos);
  EXPECT_TRUE(rig.fax.FaxFile().empty()) << "log 5 clears FaxFile";
}

TEST_P(ReceiveCall, ReceiveSetupCommands) {
  ReceiveRig rig(ScriptFor(GetParam(), {}));
  Prepare(rig);
  rig.fax.SetDesiredBPS(14400);
  rig.fax.SetFaxAndData(true);
  rig.Begin();
  rig.RunUntil([] { return false; }, 5000);
  rig.fax.AbortFax();
  rig.RunUntil([] { return false; }, 10000);
  const bool v20 = GetParam() == fcClass2_0;
  const auto& cmds = rig.modem.Commands();
  auto has = [&](const std::string& c) { return std::find(cmds.begin(), cmds.end(), c) != cmds.end(); };
  EXPECT_TRUE(has("AT+FCR=1"));
  EXPECT_TRUE(has(v20 ? "AT+FLI=\"QC RECEIVER\"" : "AT+FLID=\"QC RECEIVER\""));
  EXPECT_TRUE(has("AT+FAA=1"));
  EXPECT_TRUE(has(v20 ? "AT+FCC=1,5,0,2,0,0,0,0" : "AT+FDCC=1,5,0,2,0,0,0,0"));
  EXPECT_EQ(has("AT+FLO=2"), v20);
  EXPECT_EQ(has("AT+FNR=1,1,1,0"), v20);
  EXPECT_TRUE(rig.finished);
  EXPECT_EQ(rig.finishCode, ecCancelRequested);
}

TEST_P(ReceiveCall, WithoutOneFaxEveryCallIsAnsweredIntoTheNextFreeName) {
  ReceiveRig rig(ScriptFor(GetParam(), {CallWith({PageOf(PatternPage(1, 40))}, "FIRST"),
                                        CallWith({PageOf(PatternPage(2, 40))}, "SECOND")}));
  Prepare(rig);
  rig.Begin();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.CountLogs(5) == 2; })) << rig.Trace();
  rig.fax.AbortFax();
  ASSERT_TRUE(rig.RunUntil([] { return false; }, 20000) || rig.finished);
  EXPECT_EQ(rig.files, (std::vector<std::string>{dir.Path("FAX0001.APF"), dir.Path("FAX0002.APF")}));
  EXPECT_EQ(ReadStoredFax(dir.Path("FAX0001.APF")).header.StationIdText(), "FIRST");
  EXPECT_EQ(ReadStoredFax(dir.Path("FAX0002.APF")).header.StationIdText(), "SECOND");
  // Each call gets its first and last status; the status display closes in between.
  EXPECT_EQ(rig.firsts, 2);
  EXPECT_GE(rig.lasts, 2);
}

TEST_P(ReceiveCall, OneFaxFinishesAfterTheFirstCall) {
  ReceiveRig rig(ScriptFor(GetParam(), {CallWith({PageOf(PatternPage(1, 40))}), CallWith({PageOf(PatternPage(2, 40))})}));
  Prepare(rig);
  rig.fax.SetOneFax(true);
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(rig.finishCode, 0);
  EXPECT_EQ(rig.modem.Calls().size(), 1u) << "the second call never rang";
  EXPECT_EQ(FilesIn(Dir()), (std::vector<std::string>{"FAX0001.APF"}));
  EXPECT_FALSE(rig.fax.Busy());
}

TEST_P(ReceiveCall, AnswerOnRingTwoIgnoresNoCarrierBetweenRings) {
  IncomingCall call = CallWith({PageOf(PatternPage(1, 30))});
  call.ringLines = {"RING", "NO CARRIER", "RING", "RING"};
  ReceiveRig rig(ScriptFor(GetParam(), {call}));
  Prepare(rig);
  rig.fax.SetAnswerOnRing(2);
  rig.fax.SetOneFax(true);
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(rig.finishCode, 0);
  EXPECT_EQ(rig.modem.Calls().at(0).ringsBeforeAnswer, 2);
  EXPECT_EQ(CountCommands(rig.modem, "ATA"), 1);
}

TEST_P(ReceiveCall, ARefusedCallLeavesNoFileAndTheNextCallIsTaken) {
  ReceiveRig rig(ScriptFor(GetParam(), {CallWith({PageOf(PatternPage(1, 30))}, "UNWANTED"),
                                        CallWith({PageOf(PatternPage(2, 30))}, "WANTED")}));
  Prepare(rig);
  rig.fax.SetOneFax(true);
  std::vector<std::string> asked;
  rig.fax.OnFaxAccept = [&](TQcCustomReceiveFax& f, bool& accept) {
    asked.push_back(f.RemoteStationID());
    accept = f.RemoteStationID() != "UNWANTED";
  };
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(asked, (std::vector<std::string>{"UNWANTED", "WANTED"}));
  EXPECT_EQ(rig.logs, (std::vector<int>{6, 4, 5}));
  EXPECT_EQ(rig.errors, (std::vector<int>{ecFileRejected}));
  EXPECT_TRUE(rig.modem.Calls().at(0).refused);
  EXPECT_EQ(rig.modem.Calls().at(0).pagesDelivered, 0);
  EXPECT_EQ(FilesIn(Dir()), (std::vector<std::string>{"FAX0001.APF"}));
  EXPECT_EQ(ReadStoredFax(dir.Path("FAX0001.APF")).header.StationIdText(), "WANTED");
}

TEST_P(ReceiveCall, ACallerWithoutIdGetsItsFileAtTheFirstPage) {
  ReceiveRig rig(ScriptFor(GetParam(), {CallWith({PageOf(PatternPage(1, 30)), PageOf(PatternPage(2, 30))}, "")}));
  Prepare(rig);
  rig.fax.SetOneFax(true);
  int asked = 0;
  rig.fax.OnFaxAccept = [&](TQcCustomReceiveFax&, bool&) { ++asked; };
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(rig.finishCode, 0);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(rig.logs, (std::vector<int>{4, 5}));
  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  EXPECT_EQ(f.header.PageCount, 2);
  EXPECT_EQ(f.header.StationIdText(), "");
  EXPECT_EQ(rig.fax.RemoteStationID(), "");
}

TEST_P(ReceiveCall, AnotherDocumentAnnouncedAfterPageTwoStartsASecondFile) {
  std::vector<CallerPage> pages = {PageOf(PatternPage(1, 30)), PageOf(PatternPage(2, 30)), PageOf(PatternPage(3, 30))};
  pages[1].fet = '1';
  ReceiveRig rig(ScriptFor(GetParam(), {CallWith(pages)}));
  Prepare(rig);
  rig.fax.SetOneFax(true);
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(rig.finishCode, 0);
  EXPECT_EQ(rig.logs, (std::vector<int>{4, 5, 4, 5})) << "the first document is logged as finished";
  EXPECT_EQ(rig.files, (std::vector<std::string>{dir.Path("FAX0001.APF"), dir.Path("FAX0002.APF")}));
  const StoredFax first = ReadStoredFax(dir.Path("FAX0001.APF"));
  const StoredFax second = ReadStoredFax(dir.Path("FAX0002.APF"));
  ASSERT_EQ(first.header.PageCount, 2);
  ASSERT_EQ(second.header.PageCount, 1);
  EXPECT_EQ(first.pages[1], pages[1].data);
  EXPECT_EQ(second.pages[0], pages[2].data);
  EXPECT_EQ(second.header.StationIdText(), "CALLER 1");
}

// A page the modem does not confirm is removed; the caller sends it again.
struct RetryCase {
  const char* name;
  std::vector<std::string> verdicts;
};

class UnconfirmedPage : public ::testing::TestWithParam<std::tuple<TFaxClass, RetryCase>> {};

TEST_P(UnconfirmedPage, LeavesOneCopy) {
  const auto& [dialect, c] = GetParam();
  TempDir dir;
  std::vector<CallerPage> pages = {PageOf(PatternPage(4, 50)), PageOf(PatternPage(5, 50))};
  pages[0].verdicts = c.verdicts;
  ReceiveRig rig(ScriptFor(dialect, {CallWith(pages)}));
  rig.fax.SetDestinationDir(dir.Path(""));
  rig.fax.SetOneFax(true);
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(rig.finishCode, 0) << rig.Trace();
  EXPECT_EQ(rig.modem.Calls().at(0).pagesDelivered, static_cast<int>(c.verdicts.size()) + 1);
  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  ASSERT_EQ(f.status, 0);
  ASSERT_EQ(f.header.PageCount, 2);
  EXPECT_EQ(f.pages[0], pages[0].data);
  EXPECT_EQ(f.pages[1], pages[1].data);
  EXPECT_EQ(f.fileSize, kApfFileHeaderSize + 2u * kApfPageHeaderSize + pages[0].data.size() + pages[1].data.size());
  // Every delivery was asked for with its own "AT+FDR", plus the final one.
  EXPECT_EQ(CountCommands(rig.modem, "AT+FDR"), static_cast<int>(c.verdicts.size()) + 2);
}

INSTANTIATE_TEST_SUITE_P(
    Verdicts, UnconfirmedPage,
    ::testing::Combine(::testing::Values(fcClass2, fcClass2_0),
                       ::testing::Values(RetryCase{"StatusTwoThenOne", {"2", "1"}},
                                         RetryCase{"ErrorThenOne", {"ERROR", "1"}},
                                         RetryCase{"TwiceNegative", {"2", "4", "1"}})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param) == fcClass2 ? "Class2_" : "Class2_0_") + std::get<1>(info.param).name;
    });

TEST(ReceivePageCount, StatusTwoThenOneOnASinglePageGivesPageCountOne) {
  TempDir dir;
  CallerPage page = PageOf(PatternPage(6, 40));
  page.verdicts = {"2", "1"};
  ReceiveRig rig(ScriptFor(fcClass2, {CallWith({page})}));
  rig.fax.SetDestinationDir(dir.Path(""));
  rig.fax.SetOneFax(true);
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  EXPECT_EQ(f.header.PageCount, 1);
  EXPECT_EQ(f.fileSize, kApfFileHeaderSize + kApfPageHeaderSize + page.data.size());
}

// The line drops in the middle of page 3: pages 1 and 2 stay intact, the part
// of page 3 that arrived is kept, and the next call is answered.
struct CutCase {
  const char* name;
  bool reports;  // the modem ends the data and reports the hangup
  int error;
};

class CallCut : public ::testing::TestWithParam<std::tuple<TFaxClass, CutCase>> {};

TEST_P(CallCut, KeepsCompletedPagesAndThePartialOneThenAnswersAgain) {
  const auto& [dialect, c] = GetParam();
  TempDir dir;
  const std::vector<Raster> rasters = {PatternPage(7, 120), PatternPage(8, 120), PatternPage(9, 400)};
  std::vector<CallerPage> pages = {PageOf(rasters[0]), PageOf(rasters[1]), PageOf(rasters[2])};
  pages[2].cutAfter = static_cast<long>(pages[2].data.size() / 2);
  pages[2].cutReports = c.reports;
  ReceiveRig rig(ScriptFor(dialect, {CallWith(pages), CallWith({PageOf(PatternPage(10, 30))}, "NEXT")}));
  rig.fax.SetDestinationDir(dir.Path(""));
  int64_t errorAt = -1;
  rig.fax.OnFaxError = [&](TQcAbstractFax&, int code) {
    rig.errors.push_back(code);
    if (errorAt < 0) errorAt = rig.line->NowMs();
  };
  TQcFaxLog log;
  log.SetFaxHistoryName(dir.Path("QCFAX.HIS"));
  rig.fax.SetFaxLog(&log);
  rig.Begin();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.CountLogs(5) == 1; })) << rig.Trace();
  rig.fax.AbortFax();
  rig.RunUntil([] { return false; }, 20000);

  EXPECT_EQ(rig.logs, (std::vector<int>{4, 7, 4, 5}));
  std::ifstream his(dir.Path("QCFAX.HIS"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(his)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("Receive failed at "), std::string::npos) << text;
  EXPECT_NE(text.find("  (" + ErrorText(c.error) + ")\r\n\r\n"), std::string::npos) << text;
  ASSERT_FALSE(rig.errors.empty());
  EXPECT_EQ(rig.errors[0], c.error);
  if (!c.reports) {
    // The page ends ResponseTicks (10 s) after the last byte, not later.
    const int64_t waited = errorAt - rig.modem.Calls().at(0).lastDataMs;
    EXPECT_GE(waited, 182 * 55);
    EXPECT_LT(waited, 182 * 55 + 500);
  }
  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  ASSERT_EQ(f.status, 0);
  ASSERT_EQ(f.header.PageCount, 3);
  EXPECT_EQ(f.pages[0], pages[0].data);
  EXPECT_EQ(f.pages[1], pages[1].data);
  EXPECT_EQ(DecodePage(f.pages[0]), rasters[0]);
  EXPECT_EQ(DecodePage(f.pages[1]), rasters[1]);
  const std::vector<uint8_t> arrived(pages[2].data.begin(), pages[2].data.begin() + pages[2].cutAfter);
  EXPECT_EQ(f.pages[2], arrived);
  EXPECT_EQ(ReadStoredFax(dir.Path("FAX0002.APF")).header.StationIdText(), "NEXT");
}

INSTANTIATE_TEST_SUITE_P(
    Cuts, CallCut,
    ::testing::Combine(::testing::Values(fcClass2, fcClass2_0),
                       ::testing::Values(CutCase{"HangupReported", true, ecFaxSessionError},
                                         CutCase{"DataJustStop", false, ecTimeout})),
    [](const auto& info) {
      return std::string(std::get<0>(info.param) == fcClass2 ? "Class2_" : "Class2_0_") + std::get<1>(info.param).name;
    });

INSTANTIATE_TEST_SUITE_P(Dialects, ReceiveCall, ::testing::Values(fcClass2, fcClass2_0),
                         [](const auto& info) { return info.param == fcClass2 ? "Class2" : "Class2_0"; });

}  // namespace
}  // namespace qc::test
