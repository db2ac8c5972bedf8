// The line with bare programs at its soft modems: what the modem answers,
// ringing and answering, frames across the line, hang-up, reset on close,
// flow control, and a terminal-to-terminal call as a check of the audio path
// and of the TIFF helpers the whole-call tests rely on.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "dte_client.h"
#include "line_sim.h"
#include "tiff_pages.h"

namespace qc::linesim {
namespace {

using namespace std::chrono_literals;

class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "linesim-XXXXXX").string();
    if (mkdtemp(t.data()) != nullptr) dir_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

bool LogHas(const LineSim& line, const std::string& text) {
  for (const std::string& l : line.Log())
    if (l.find(text) != std::string::npos) return true;
  return false;
}

bool WaitLog(const LineSim& line, const std::string& text, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (LogHas(line, text)) return true;
    std::this_thread::sleep_for(50ms);
  }
  return false;
}

const FrameRecord* FindFrame(const CallReport& r, const std::string& end, bool sent, const std::string& name) {
  for (const FrameRecord& f : r.frames)
    if (f.end == end && f.sent == sent && f.name == name) return &f;
  return nullptr;
}

TEST(Modem, AnswersAsClassOneOnlyAndResetsWhenThePortCloses) {
  TempDir dir;
  LineConfig config;
  config.terminal.tiffPath = dir.Path("rx.tif");
  LineSim line(config);
  {
    DteClient dte(line.OurDevice());
    ASSERT_TRUE(dte.IsOpen());
    ASSERT_TRUE(line.WaitOurPortOpen(2s));
    ASSERT_TRUE(dte.Command("ATE0", "OK"));
    ASSERT_TRUE(dte.Command("AT+FCLASS=?", "OK"));
    EXPECT_NE(dte.Received().find("\r\n0,1,1.0\r\n"), std::string::npos) << dte.Received();
    EXPECT_TRUE(dte.Command("AT+FCLASS=2", "ERROR"));
    EXPECT_TRUE(dte.Command("AT+FCLASS=2.0", "ERROR"));
    EXPECT_TRUE(dte.Command("AT", "OK"));
    EXPECT_EQ(dte.Received().find("AT\r"), std::string::npos) << "echo was switched off";
  }
  ASSERT_TRUE(WaitLog(line, "port closed: modem reset", 2s));
  DteClient again(line.OurDevice());
  ASSERT_TRUE(line.WaitOurPortOpen(2s));
  ASSERT_TRUE(again.Command("AT", "OK"));
  EXPECT_NE(again.Received().find("AT\r"), std::string::npos) << "a fresh modem echoes";
}

TEST(Line, TerminalAnswersOurDialAndOurHangUpEndsTheCall) {
  TempDir dir;
  LineConfig config;
  config.terminal.tiffPath = dir.Path("rx.tif");
  config.terminal.stationId = "12345";
  LineSim line(config);
  DteClient dte(line.OurDevice());
  ASSERT_TRUE(dte.Command("ATE0", "OK"));
  ASSERT_TRUE(dte.Command("AT+FCLASS=1", "OK"));
  ASSERT_TRUE(dte.Command("ATDT5551234", "CONNECT", 15s)) << line.LogText();
  // The answerer's frames arrive one per reception: CSI, then DIS.
  bool sawDis = false;
  for (int i = 0; i < 4 && !sawDis; ++i) {
    if (i > 0) {
      ASSERT_TRUE(dte.Command("AT+FRH=3", "CONNECT", 10s)) << line.LogText();
    }
    ASSERT_TRUE(dte.ReadUntil("OK", 10s)) << line.LogText();
    sawDis = FindFrame(line.Report(), "our", false, "DIS") != nullptr;
  }
  ASSERT_TRUE(sawDis) << line.LogText();
  ASSERT_TRUE(dte.Command("ATH", "OK"));
  ASSERT_TRUE(line.WaitCallEnd(5s));

  const CallReport r = line.Report();
  EXPECT_TRUE(r.connected);
  EXPECT_EQ(r.endReason, "our end hung up");
  EXPECT_NE(r.completionCode, 0);
  EXPECT_TRUE(LogHas(line, "RING 1 at far"));
  // The terminal sent its identity, last digit first and padded to 20.
  const FrameRecord* csi = FindFrame(r, "far", true, "CSI");
  ASSERT_NE(csi, nullptr);
  ASSERT_EQ(csi->bytes.size(), 23u);
  EXPECT_EQ(std::string(csi->bytes.begin() + 3, csi->bytes.begin() + 8), "54321");
  EXPECT_NE(FindFrame(r, "our", false, "CSI"), nullptr) << "our program got the same frame";
}

TEST(Line, RingReachesOnlyAnOpenPortThenTwoModemsExchangeAFrame) {
  LineConfig config;
  config.far = FarKind::SoftModem;
  config.ringIntervalMs = 1500;
  LineSim line(config);
  DteClient caller(line.OurDevice());
  ASSERT_TRUE(caller.Command("ATE0", "OK"));
  ASSERT_TRUE(caller.Command("AT+FCLASS=1", "OK"));
  ASSERT_TRUE(caller.Write("ATD1\r"));
  ASSERT_TRUE(WaitLog(line, "far rings (port closed", 5s)) << line.LogText();

  DteClient answerer(line.FarDevice());
  ASSERT_TRUE(answerer.Command("ATE0", "OK"));
  ASSERT_TRUE(answerer.Command("AT+FCLASS=1", "OK"));
  ASSERT_TRUE(answerer.ReadUntil("RING", 5s)) << line.LogText();
  ASSERT_TRUE(answerer.Command("ATA", "CONNECT", 10s)) << line.LogText();
  const std::string dis("\xff\x13\x80\x00\xee\xf8", 6);
  ASSERT_TRUE(answerer.Write(dis + "\x10\x03"));
  EXPECT_TRUE(answerer.ReadUntil("OK", 10s)) << line.LogText();

  ASSERT_TRUE(caller.ReadUntil("CONNECT", 15s)) << line.LogText();
  ASSERT_TRUE(caller.ReadUntil("OK", 10s)) << line.LogText();
  EXPECT_NE(caller.Received().find(dis), std::string::npos);
  ASSERT_TRUE(caller.Command("ATH", "OK"));
  ASSERT_TRUE(line.WaitCallEnd(5s));

  const CallReport r = line.Report();
  EXPECT_EQ(r.endReason, "our end hung up");
  EXPECT_NE(FindFrame(r, "far", true, "DIS"), nullptr);
  EXPECT_NE(FindFrame(r, "our", false, "DIS"), nullptr);
}

// Page data written far faster than the line carries it: the modem takes it
// only as fast as it sends, so its OK can come no sooner than the data's
// time on the line (7200 bytes at 14400 bit/s: 4 s).
class FlowControl : public ::testing::TestWithParam<bool> {};

TEST_P(FlowControl, ProgramIsHeldBackToTheLineRate) {
  LineConfig config;
  config.far = FarKind::SoftModem;
  config.xonXoff = GetParam();
  LineSim line(config);
  DteClient dte(line.OurDevice());
  ASSERT_TRUE(dte.Command("ATE0", "OK"));
  ASSERT_TRUE(dte.Command("AT+FCLASS=1", "OK"));
  ASSERT_TRUE(dte.Command("ATH1", "OK"));  // off hook: the modem sends only then
  ASSERT_TRUE(dte.Command("AT+FTM=146", "CONNECT", 5s)) << line.LogText();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(dte.Write(std::string(7200, '\x55') + "\x10\x03"));
  ASSERT_TRUE(dte.ReadUntil("OK", 20s)) << line.LogText();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 3800ms);
  EXPECT_TRUE(LogHas(line, "> [page data 7200 bytes]"));
  const std::string got = dte.Received();
  const size_t xoff = got.find('\x13'), xon = got.find('\x11');
  if (GetParam()) {
    ASSERT_NE(xoff, std::string::npos);
    ASSERT_NE(xon, std::string::npos);
    EXPECT_LT(xoff, xon);
  } else {
    EXPECT_EQ(xoff, std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Line, FlowControl, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "XonXoff" : "HoldOnly"; });

// A page whose rows differ, so that a lost or shifted row shows.
TiffPage PatternTiffPage(int seed, int rows, bool fine) {
  TiffPage page;
  page.width = 1728;
  page.fine = fine;
  for (int y = 0; y < rows; ++y) {
    std::vector<uint8_t> row(216, 0);
    const int a = (y * 7 + seed * 131) % 1600, b = (y * 13 + seed * 17) % 1700;
    for (int x = a; x < a + 40; ++x) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    for (int x = b; x < b + 3; ++x) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    page.rows.push_back(std::move(row));
  }
  return page;
}

TEST(Line, TerminalSendsATiffToTheFarTerminal) {
  TempDir dir;
  const std::vector<TiffPage> pages = {PatternTiffPage(1, 300, true), PatternTiffPage(2, 200, true)};
  ASSERT_TRUE(WriteTiffPages(dir.Path("tx.tif"), pages));
  LineConfig config;
  config.ourTerminal = true;
  config.ourTerminalConfig.role = TerminalRole::Send;
  config.ourTerminalConfig.tiffPath = dir.Path("tx.tif");
  config.ourTerminalConfig.stationId = "+1 555 0100";
  config.terminal.tiffPath = dir.Path("rx.tif");
  LineSim line(config);
  line.PlaceCall();
  ASSERT_TRUE(line.WaitCallEnd(120s)) << line.LogText();

  const CallReport r = line.Report();
  EXPECT_EQ(r.completionCode, 0) << r.completionText << "\n" << line.LogText();
  EXPECT_EQ(r.endReason, "far end finished");
  EXPECT_EQ(r.remoteId, "+1 555 0100");
  EXPECT_EQ(r.bitRate, 14400);
  EXPECT_EQ(r.yResolution, 7700);
  EXPECT_EQ(r.pagesReceived, 2);
  ASSERT_FALSE(r.dcs.empty());
  std::string error;
  const std::vector<TiffPage> got = ReadTiffPages(r.tiffPath, &error);
  ASSERT_EQ(got.size(), pages.size()) << error;
  for (size_t i = 0; i < pages.size(); ++i) {
    EXPECT_EQ(got[i].width, 1728);
    EXPECT_TRUE(got[i].fine);
    EXPECT_TRUE(got[i].rows == pages[i].rows) << "page " << i + 1;
  }
}

}  // namespace
}  // namespace qc::linesim
