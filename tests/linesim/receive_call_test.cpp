// Whole calls to our TQcReceiveFax (Class 1) through the virtual line: the
// spandsp terminal calls and sends a TIFF file, or our own TQcSendFax calls
// from the second soft modem. The stored APF file is read back and every page
// decoded and compared with what was sent. LINESIM_FULL builds the long table.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "receive_call.h"
#include "tiff_pages.h"

namespace qc::linesim {
namespace {

using namespace std::chrono_literals;
using test::BlankRows;
using test::Concat;
using test::DecodePage;
using test::PatternPage;
using test::Raster;
using test::ReadStoredFax;
using test::StoredFax;
using test::TextRows;

TiffPage AsTiff(const Raster& rows, bool fine) {
  TiffPage p;
  p.width = 1728;
  p.fine = fine;
  p.rows = rows;
  return p;
}

bool HasFile(const std::string& path) { return std::filesystem::exists(path); }

struct ReceiveCase {
  const char* name;
  int bps;  // the terminal offers modems up to this rate
  bool fine;
};

void PrintTo(const ReceiveCase& c, std::ostream* os) { *os << c.name; }

LineConfig TerminalCalling(int bps) {
  LineConfig config;
  config.terminal.role = TerminalRole::Send;
  config.terminal.stationId = "LINESIM CALLER";
  config.terminal.v29 = bps >= 7200;
  config.terminal.v17 = bps > 9600;
  return config;
}

class TerminalCallsUs : public ::testing::TestWithParam<ReceiveCase> {};

TEST_P(TerminalCallsUs, ThreePagesArriveAsOneApfFile) {
  const ReceiveCase& c = GetParam();
  ReceiveCall call(TerminalCalling(c.bps));
  const std::vector<Raster> rasters = {PatternPage(1, 150), PatternPage(2, 110), PatternPage(3, 80)};
  ASSERT_TRUE(WriteTiffPages(call.TiffPath(), {AsTiff(rasters[0], c.fine), AsTiff(rasters[1], c.fine),
                                               AsTiff(rasters[2], c.fine)}));
  call.fax.SetStationID("QC RX 1");
  call.fax.SetDesiredBPS(14400);
  call.fax.SetOneFax(true);
  ASSERT_TRUE(call.Begin()) << call.Diagnostics();
  call.line.PlaceCall();
  // One fax ends the session; a call that failed leaves it waiting.
  ASSERT_TRUE(call.RunUntil([&] { return call.finished || call.line.CallsEnded() > 0; })) << call.Diagnostics();
  ASSERT_TRUE(call.RunUntil([&] { return call.finished; }, 20s)) << call.Diagnostics();
  call.line.WaitCallEnd(10s);

  EXPECT_EQ(call.finishCode, 0) << call.Diagnostics();
  EXPECT_EQ(call.logs, (std::vector<int>{lcReceiveStarted, lcReceiveFinished}));
  const CallReport r = call.line.Report();
  EXPECT_EQ(r.completionCode, 0) << r.completionText;
  EXPECT_EQ(r.pagesSent, 3);
  EXPECT_EQ(r.bitRate, c.bps);
  EXPECT_EQ(r.remoteId, "QC RX 1");

  const StoredFax f = ReadStoredFax(call.RxPath("FAX0001.APF"));
  ASSERT_EQ(f.status, 0) << call.Diagnostics();
  EXPECT_EQ(f.header.PageCount, 3);
  // The terminal sends its name right-aligned, last character first: read in
  // order it is 20 characters with the fillers in front.
  EXPECT_EQ(f.header.StationIdText(), "      LINESIM CALLER");
  ASSERT_EQ(f.pages.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    EXPECT_EQ(f.pageHeaders[i].Flags, c.fine ? pfFine : 0) << "raw pages with the negotiated flags";
    uint64_t bad = 0;
    EXPECT_TRUE(DecodePage(f.pages[i], &bad) == rasters[i]);
    EXPECT_EQ(bad, 0u);
  }
  EXPECT_FALSE(HasFile(call.RxPath("FAX0002.APF")));
  if (HasFailure()) std::cerr << call.Diagnostics();
}

#ifndef LINESIM_FULL
const ReceiveCase kReceiveCases[] = {{"Fine9600", 9600, true}};
#else
const ReceiveCase kReceiveCases[] = {{"Standard4800", 4800, false}, {"Fine14400", 14400, true}};
#endif

INSTANTIATE_TEST_SUITE_P(Receive, TerminalCallsUs, ::testing::ValuesIn(kReceiveCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Run by the short set, at V.17 14400 so that both ends' short-trained
// pages are checked against each other.
#ifndef LINESIM_FULL
TEST(Receive, OurSenderToOurReceiverAcrossTwoSoftModems) {
  LineConfig config;
  config.far = FarKind::SoftModem;
  ReceiveCall call(config);
  const std::vector<Raster> rasters = {PatternPage(4, 140), PatternPage(5, 100), PatternPage(6, 60)};
  const std::string apf = call.dir.Path("BODY.APF");
  test::WriteApf(apf, rasters, true);
  call.fax.SetStationID("QC RX 2");
  call.fax.SetOneFax(true);
  call.fax.SetDesiredBPS(14400);
  call.sender.SetDesiredBPS(14400);
  call.sender.SetStationID("QC TX 2");
  call.sender.SetHeaderLine("$I Page $P of $N");
  call.sender.SetPhoneNumber("5550100");
  call.sender.SetFaxFile(apf);
  ASSERT_TRUE(call.Begin()) << call.Diagnostics();
  ASSERT_EQ(call.senderPort.OpenPort(), 0);
  call.sender.BeginTransmit();
  ASSERT_TRUE(call.RunUntil([&] { return call.finished && call.senderFinished; })) << call.Diagnostics();

  EXPECT_EQ(call.finishCode, 0) << call.Diagnostics();
  EXPECT_EQ(call.senderFinishCode, 0) << call.Diagnostics();
  EXPECT_EQ(call.sender.LineRate(), 14400);
  EXPECT_EQ(call.fax.LineRate(), 14400);
  // Each end's identity read in order: 20 characters, fillers in front.
  EXPECT_EQ(call.sender.RemoteStationID(), "             QC RX 2");
  const StoredFax f = ReadStoredFax(call.RxPath("FAX0001.APF"));
  ASSERT_EQ(f.status, 0) << call.Diagnostics();
  EXPECT_EQ(f.header.StationIdText(), "             QC TX 2");
  ASSERT_EQ(f.pages.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    EXPECT_EQ(f.pageHeaders[i].Flags, pfFine);
    const std::string header = "QC TX 2 Page " + std::to_string(i + 1) + " of 3";
    EXPECT_TRUE(DecodePage(f.pages[i]) == Concat({BlankRows(8), TextRows(header, true, true), rasters[i]}));
  }
}
#endif

#ifdef LINESIM_FULL

// The line drops during page 3 of 3: pages 1 and 2 are kept whole and what
// arrived of page 3 after them; the engine then answers the next call.
TEST(Receive, CallCutDuringPageThreeKeepsTheCompletedPagesAndTheNextCallIsAnswered) {
  LineConfig config = TerminalCalling(9600);
  // Page 3 takes several seconds at 9600; its data begins about two seconds
  // after the MCF of page 2.
  config.cutAfterPages = 2;
  config.cutDelayMs = 4000;
  ReceiveCall call(config);
  const std::vector<Raster> rasters = {PatternPage(7, 150), PatternPage(8, 110), PatternPage(9, 1500)};
  ASSERT_TRUE(WriteTiffPages(call.TiffPath(), {AsTiff(rasters[0], false), AsTiff(rasters[1], false),
                                               AsTiff(rasters[2], false)}));
  ASSERT_TRUE(call.Begin()) << call.Diagnostics();
  call.line.PlaceCall();
  ASSERT_TRUE(call.RunUntil([&] {
    return std::find(call.logs.begin(), call.logs.end(), lcReceiveFailed) != call.logs.end() || call.finished;
  })) << call.Diagnostics();
  ASSERT_FALSE(call.finished) << "the engine keeps waiting for calls\n" << call.Diagnostics();
  EXPECT_EQ(call.logs, (std::vector<int>{lcReceiveStarted, lcReceiveFailed}));
  ASSERT_TRUE(call.line.WaitCallEnd(10s));
  EXPECT_EQ(call.line.Report().endReason, "cut");

  const StoredFax cut = ReadStoredFax(call.RxPath("FAX0001.APF"));
  ASSERT_EQ(cut.status, 0) << call.Diagnostics();
  ASSERT_EQ(cut.pages.size(), 3u) << call.Diagnostics();
  EXPECT_TRUE(DecodePage(cut.pages[0]) == rasters[0]);
  EXPECT_TRUE(DecodePage(cut.pages[1]) == rasters[1]);
  const Raster partial = DecodePage(cut.pages[2]);
  EXPECT_GT(partial.size(), 0u);
  EXPECT_LT(partial.size(), rasters[2].size()) << "the cut came after page 3 had arrived";
  for (size_t y = 0; y < partial.size() && y < rasters[2].size(); ++y) {
    ASSERT_TRUE(partial[y] == rasters[2][y]) << "row " << y;
  }

  call.line.SetCut(-1, 0);
  ASSERT_TRUE(call.WaitForCallState(60s)) << call.Diagnostics();
  call.line.PlaceCall();
  ASSERT_TRUE(call.RunUntil([&] { return call.logs.size() >= 4 || call.finished; })) << call.Diagnostics();
  EXPECT_EQ(call.logs, (std::vector<int>{lcReceiveStarted, lcReceiveFailed, lcReceiveStarted, lcReceiveFinished}));
  call.fax.AbortFax();
  ASSERT_TRUE(call.RunUntil([&] { return call.finished; }, 60s));
  const StoredFax next = ReadStoredFax(call.RxPath("FAX0002.APF"));
  ASSERT_EQ(next.status, 0) << call.Diagnostics();
  ASSERT_EQ(next.pages.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(DecodePage(next.pages[i]) == rasters[i]) << "page " << i + 1;
}
#endif

}  // namespace
}  // namespace qc::linesim
