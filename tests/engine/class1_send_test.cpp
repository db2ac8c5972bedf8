// Class 1 sending through the scripted T.31 modem on a simulated line: each
// dialogue is written out as the table of host actions and modem answers it
// must follow, from the dial to the hang-up.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "class1_frames.h"
#include "control/error_codes.h"
#include "engine/fax_components.h"
#include "faxdoc/apf.h"
#include "faxdoc/t4.h"
#include "support/class1_rig.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

// The answering station: its number (CSI) and DIS octets 2 and 3.
struct Remote {
  std::string number = "+1 555 0199";
  uint8_t octet2 = 0x6E;  // receiver, V.27 ter + V.29 + V.17, fine
  uint8_t octet3 = 0x71;  // 1728 and 2048, scan time 0 ms
};

constexpr uint8_t kCFR = 0x84, kFTT = 0x44, kMCF = 0x8C, kRTN = 0x4C, kRTP = 0xCC, kDCN = 0xFA, kCRP = 0x1A;

using Steps = std::vector<Step>;

Steps operator+(Steps a, const Steps& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Dial, CONNECT, the CSI (more frames follow), then the DIS after "AT+FRH=3".
Steps Answer(const Remote& r = {}) {
  return {{"ATDT5550100", Pause(1500) + Say("CONNECT") + Frame(RemoteIdFrame(0x40, r.number))},
          {"AT+FRH=3", Say("CONNECT") + Frame(RemoteDis(r.octet2, r.octet3))}};
}

// DCS (after the TSI the first time) and the training at `mod`, answered by `answer`.
Steps Train(const std::string& mod, bool tsi = true, uint8_t answer = kCFR) {
  Steps s{{"AT+FTH=3", Say("CONNECT")}};
  if (tsi) s.push_back({"frame:TSI", Say("CONNECT")});
  s = s + Steps{{"frame:DCS", Say("OK")},
                {"AT+FTM=" + mod, Say("CONNECT")},
                {"train", Say("OK", 300)},
                {"AT+FRH=3", Say("CONNECT", 200) + Frame(RemoteShort(answer))}};
  return s;
}

// One page at `mod` and its post-page message, answered by `answer`.
Steps Page(const std::string& mod, const std::string& post, uint8_t answer = kMCF) {
  return {{"AT+FTM=" + mod, Say("CONNECT")},
          {"page", Say("OK", 300)},
          {"AT+FTH=3", Say("CONNECT")},
          {"frame:" + post, Say("OK")},
          {"AT+FRH=3", Say("CONNECT", 200) + Frame(RemoteShort(answer))}};
}

Steps Disconnect() {
  return {{"AT+FTH=3", Say("CONNECT")}, {"frame:DCN", Say("OK")}, {"ATH", Say("OK")}};
}

// The post-page message after a page sent already, e.g. after a retry.
Steps PostPage(const std::string& post, const ModemReply& answer) {
  return {{"AT+FTH=3", Say("CONNECT")}, {"frame:" + post, Say("OK")}, {"AT+FRH=3", answer}};
}

Steps Call(int pages, const Remote& r = {}) {
  Steps s = Answer(r) + Train("96");
  for (int p = 1; p <= pages; ++p) s = s + Page("96", p < pages ? "MPS" : "EOP");
  return s + Disconnect();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A one-page job of wide pages: only the page header matters to the tests
// that use it (the call ends before any page data).
void WriteWideApf(const std::string& path) {
  TApfWriter writer;
  TFaxLineEncoder encoder(2048, 0);
  std::vector<uint8_t> row(256, 0);
  ASSERT_EQ(writer.Create(path), 0);
  writer.BeginPage(false, true);
  for (int i = 0; i < 10; ++i) {
    const int n = encoder.EncodeLine(row.data());
    writer.WriteLine(encoder.Data(), n);
  }
  writer.EndPage();
  ASSERT_EQ(writer.Finish("FIXTURE", 0), 0);
}

// A page whose first ten lines are white lines of five bytes (EOL, white
// 1728, white 0: 00 80 B2 59 01), then `rows` coded as usual.
void WriteShortLinePage(const std::string& path, const Raster& rows, bool fine) {
  TApfWriter writer;
  TFaxLineEncoder encoder(1728, 0);
  const uint8_t white[] = {0x00, 0x80, 0xB2, 0x59, 0x01};
  ASSERT_EQ(writer.Create(path), 0);
  writer.BeginPage(fine, false);
  for (int i = 0; i < 10; ++i) writer.WriteLine(white, sizeof white);
  for (const auto& row : rows) {
    const int n = encoder.EncodeLine(row.data());
    writer.WriteLine(encoder.Data(), n);
  }
  writer.EndPage();
  ASSERT_EQ(writer.Finish("FIXTURE", 0), 0);
}

struct Job {
  Job(Steps steps, int pages = 1, bool fine = true, Class1Setup setup = {}, int rows = 40)
      : rig(std::move(steps), std::move(setup)) {
    for (int i = 0; i < pages; ++i) raster.push_back(PatternPage(i + 4, rows));
    file = dir.Path("JOB.APF");
    WriteApf(file, raster, fine);
    rig.fax.SetPhoneNumber("5550100");
    rig.fax.SetFaxFile(file);
    rig.fax.SetStationID("QC TEST 1");
  }
  ~Job() {
    if (::testing::Test::HasFailure()) std::fprintf(stderr, "%s", rig.Trace().c_str());
  }
  // The rows the receiver must see for page n (0-based).
  Raster Expected(size_t n) const { return Concat({BlankRows(8), raster[n]}); }
  bool Aborted() const { return rig.CountActions("abort") > 0; }

  TempDir dir;
  std::vector<Raster> raster;
  std::string file;
  Class1Rig rig;
};

// The dialogue went exactly as its table says.
void ExpectScriptFollowed(const Class1Rig& rig) {
  EXPECT_TRUE(rig.modem.Mismatches().empty());
  EXPECT_EQ(rig.modem.StepsLeft(), 0u);
}

TEST(Class1Send, WholeCallsArriveWithTheirPagesAndHistory) {
  struct Case {
    int pages;
    bool fine;
  };
  for (const Case c : {Case{1, false}, Case{3, true}}) {
    SCOPED_TRACE(c.pages);
    Job job(Call(c.pages), c.pages, c.fine);
    const std::string history = job.dir.Path("QCFAX.HIS");
    TQcFaxLog log;
    log.SetFaxHistoryName(history);
    job.rig.fax.SetFaxLog(&log);
    job.rig.fax.SetFaxClass(fcDetect);
    job.rig.fax.SetDesiredBPS(9600);
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, 0);
    EXPECT_TRUE(job.rig.errors.empty());
    ExpectScriptFollowed(job.rig);
    EXPECT_TRUE(job.rig.modem.Extras().empty());
    EXPECT_FALSE(job.Aborted());  // no byte ever cut a reception short

    const auto pages = job.rig.modem.Pages();
    ASSERT_EQ(pages.size(), static_cast<size_t>(c.pages));
    for (size_t p = 0; p < pages.size(); ++p) {
      EXPECT_EQ(pages[p].rows, job.Expected(p)) << "page " << p;
      EXPECT_EQ(pages[p].badCodes, 0u);
    }
    // Sender's FCFs carry the X bit; MPS after every page but the last.
    std::vector<uint8_t> fcfs;
    for (const auto& f : job.rig.modem.HostFrames()) fcfs.push_back(f.at(2));
    std::vector<uint8_t> expected{0x43, 0x83};
    for (int p = 1; p <= c.pages; ++p) expected.push_back(p < c.pages ? 0x4F : 0x2F);
    expected.push_back(0xFB);
    EXPECT_EQ(fcfs, expected);

    // A V.17 remote and DesiredBPS 9600: V.29 9600 (bit 11 alone of the
    // rate bits), 1728 bytes of training at "96".
    const auto& dcs = job.rig.modem.HostFrames().at(1);
    ASSERT_EQ(dcs.size(), 7u);
    EXPECT_EQ(dcs[4] & 0x3C, 0x04);
    EXPECT_EQ(dcs[4], c.fine ? 0x46 : 0x06);
    EXPECT_EQ(dcs[5], 0xF8);  // 0 ms scan time as the remote asked, A4, extend
    ASSERT_EQ(job.rig.modem.Trainings().size(), 1u);
    EXPECT_EQ(job.rig.modem.Trainings()[0].bytes.size(), 1728u);
    EXPECT_EQ(job.rig.modem.Trainings()[0].modulation, "96");
    EXPECT_EQ(job.rig.fax.LineRate(), 9600);

    // The CSI came last character first: read in order, filler in front.
    EXPECT_EQ(job.rig.fax.RemoteStationID(), "         +1 555 0199");
    EXPECT_EQ(job.rig.logs, (std::vector<int>{lcTransmitStarted, lcTransmitFinished}));
    EXPECT_TRUE(job.rig.SawStatus(fsGotRemoteId));
    EXPECT_TRUE(job.rig.SawStatus(fsSendingEop));
    const std::string his = ReadFile(history);
    EXPECT_NE(his.find("Transmit " + job.file + " to 5550100 started at "), std::string::npos) << his;
    EXPECT_NE(his.find("finished OK at "), std::string::npos) << his;
    EXPECT_EQ(job.rig.line->FreeTriggers(), 20);
  }
}

TEST(Class1Send, TextCoverThenTheFaxFile) {
  struct Case {
    const char* name;
    Steps steps;
    std::vector<int> pageOf;  // -1: the cover
  };
  const Steps first = Answer() + Train("96");
  const Case cases[] = {
      {"cover and two pages", first + Page("96", "MPS") + Page("96", "MPS") + Page("96", "EOP") + Disconnect(),
       {-1, 0, 1}},
      {"RTN on the cover: the cover again, slower",
       first + Page("96", "MPS", kRTN) + Train("72", false) + Page("72", "MPS") + Page("72", "MPS") +
           Page("72", "EOP") + Disconnect(),
       {-1, -1, 0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(c.steps, 2);
    const std::string cover = job.dir.Path("cover.txt");
    std::ofstream(cover) << "QUILLCAST COVER\nTo: Bob\n";
    job.rig.fax.SetCoverFile(cover);
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, 0);
    ExpectScriptFollowed(job.rig);
    const Raster coverRows = Concat({BlankRows(8), TextRows("QUILLCAST COVER", false, true),
                                     TextRows("To: Bob", false, true)});
    const auto pages = job.rig.modem.Pages();
    ASSERT_EQ(pages.size(), c.pageOf.size());
    for (size_t p = 0; p < pages.size(); ++p) {
      EXPECT_EQ(pages[p].rows, c.pageOf[p] < 0 ? coverRows : job.Expected(static_cast<size_t>(c.pageOf[p])))
          << "page " << p;
      EXPECT_EQ(pages[p].badCodes, 0u);
    }
  }
}

TEST(Class1Send, PrepareSelectsClass1OnAClass1OnlyModem) {
  Job job(Call(1));
  job.rig.fax.SetFaxClass(fcDetect);
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  const auto& cmds = job.rig.modem.Commands();
  const auto before = [&](const std::string& a, const std::string& b) {
    const auto ia = std::find(cmds.begin(), cmds.end(), a), ib = std::find(cmds.begin(), cmds.end(), b);
    return ia != cmds.end() && ib != cmds.end() && ia < ib;
  };
  EXPECT_TRUE(before("AT+FCLASS=?", "AT+FTM=?"));
  EXPECT_TRUE(before("AT+FTM=?", "ATDT5550100"));
  EXPECT_TRUE(before("AT+FCLASS=1", "ATDT5550100"));
  EXPECT_NE(std::find(job.rig.trace.begin(), job.rig.trace.end(), "class " + std::to_string(fcClass1)),
            job.rig.trace.end());
  for (const auto& c : cmds) EXPECT_EQ(c.rfind("AT+FCLASS=2", 0), std::string::npos) << c;
}

TEST(Class1Send, SpeedFromTheDisTheModemAndDesiredBps) {
  struct Case {
    uint16_t desired;
    uint8_t octet2;
    const char* ftm;
    const char* mod;
    size_t training;
    uint8_t rateBits;
  };
  const Case cases[] = {
      {14400, 0x6E, "24,48,72,96,121,145", "145", 2592, 0x20},
      {12000, 0x6E, "24,48,72,96,121,145", "121", 2160, 0x28},
      {14400, 0x4E, "24,48,72,96,121,145", "96", 1728, 0x04},  // remote V.29 only
      {14400, 0x6E, "24,48,72,96", "96", 1728, 0x04},          // modem tops at 9600
      {7200, 0x6E, "24,48,72,96,121,145", "72", 1296, 0x0C},
      {4800, 0x6E, "24,48,72,96,121,145", "48", 864, 0x08},
      {2400, 0x4A, "24,48", "24", 432, 0x00},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mod);
    Remote r;
    r.octet2 = c.octet2;
    Steps s = Answer(r) + Train(c.mod) + Page(c.mod, "EOP") + Disconnect();
    Class1Setup setup;
    setup.ftmAnswer = c.ftm;
    Job job(s, 1, true, setup);
    job.rig.fax.SetDesiredBPS(c.desired);
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, 0);
    ExpectScriptFollowed(job.rig);
    ASSERT_EQ(job.rig.modem.Trainings().size(), 1u);
    EXPECT_EQ(job.rig.modem.Trainings()[0].bytes.size(), c.training);
    EXPECT_EQ(job.rig.modem.HostFrames().at(1).at(4) & 0x3C, c.rateBits);
  }
}

TEST(Class1Send, FailureToTrainStepsDownUntilNoSpeedIsLeft) {
  struct Case {
    uint16_t desired;
    Steps steps;
    int finish;
    std::vector<std::string> modulations;
    std::vector<uint8_t> dcsRates;
  };
  const Case cases[] = {
      {9600, Answer() + Train("96", true, kFTT) + Train("72", false) + Page("72", "EOP") + Disconnect(), 0,
       {"96", "72"}, {0x04, 0x0C}},
      {9600,
       Answer() + Train("96", true, kFTT) + Train("72", false, kFTT) + Train("48", false) + Page("48", "EOP") +
           Disconnect(),
       0, {"96", "72", "48"}, {0x04, 0x0C, 0x08}},
      {2400, Answer() + Train("24", true, kFTT), ecFaxTrainError, {"24"}, {0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.desired);
    Job job(c.steps);
    job.rig.fax.SetDesiredBPS(c.desired);
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, c.finish);
    ExpectScriptFollowed(job.rig);
    std::vector<std::string> mods;
    for (const auto& t : job.rig.modem.Trainings()) {
      mods.push_back(t.modulation);
      EXPECT_EQ(t.bytes.size(), TrainingBytes(std::stoul(t.modulation) * 100));
    }
    EXPECT_EQ(mods, c.modulations);
    std::vector<uint8_t> rates;
    for (const auto& f : job.rig.modem.HostFrames())
      if ((f.at(2) & 0xFE) == 0x82) rates.push_back(f.at(4) & 0x3C);
    EXPECT_EQ(rates, c.dcsRates);
    if (c.finish != 0) {
      EXPECT_EQ(job.rig.modem.Extras(), std::vector<std::string>{"ATH0"});
      EXPECT_TRUE(job.rig.modem.PageData().empty());
    }
  }
}

TEST(Class1Send, ScanLinesArePaddedToTheRemotesMinimum) {
  struct Case {
    uint8_t octet3;
    bool fine;
    int minimumBits;  // every coded line at least this long
    uint8_t dcsOctet3;
  };
  const Case cases[] = {
      {0x11, false, 6 * 8, 0x98},  // 5 ms at 9600: 6 bytes
      {0x01, false, 24 * 8, 0x88}, // 20 ms: 24 bytes
      {0x31, true, 12 * 8, 0xA8},  // 20 ms normal, 10 ms fine: 12 bytes
      {0x71, false, 0, 0xF8},      // 0 ms: lines keep their length
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.octet3));
    Remote r;
    r.octet3 = c.octet3;
    Job job(Answer(r) + Train("96") + Page("96", "EOP") + Disconnect(), 1, c.fine);
    // Ten white lines coded by hand in five bytes each, shorter than any
    // minimum here, in front of the pattern rows.
    WriteShortLinePage(job.file, job.raster[0], c.fine);
    job.raster[0].insert(job.raster[0].begin(), 10, std::vector<uint8_t>(216, 0));
    job.rig.fax.SetHeaderLine("Page $P");
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, 0);
    EXPECT_EQ(job.rig.modem.HostFrames().at(1).at(5), c.dcsOctet3);
    const auto pages = job.rig.modem.Pages();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].rows, Concat({BlankRows(8), TextRows("Page 1", true, c.fine), job.raster[0]}));
    ASSERT_FALSE(pages[0].lineBits.empty());
    const int shortest = *std::min_element(pages[0].lineBits.begin(), pages[0].lineBits.end());
    if (c.minimumBits > 0)
      EXPECT_GE(shortest, c.minimumBits);
    else
      EXPECT_EQ(shortest, 5 * 8);  // the hand-coded lines go as they are
  }
}

// Dialogues that end with an error; after it the engine hangs up with "ATH0".
TEST(Class1Send, CallsThatFail) {
  Remote noFine;
  noFine.octet2 = 0x2E;
  Remote narrow;
  narrow.octet3 = 0x70;
  const ModemReply silence = Silence();
  const Steps unanswered =
      PostPage("EOP", silence) + Steps{{"abort", Say("OK")}} + PostPage("EOP", silence) +
      Steps{{"abort", Say("OK")}} + PostPage("EOP", silence) + Steps{{"abort", Say("OK")}};
  struct Case {
    const char* name;
    Steps steps;
    int finish;
    bool wide = false;
    std::vector<std::string> extras{"ATH0"};
  };
  const Case cases[] = {
      {"no carrier after dialing", {{"ATDT5550100", Pause(4000) + Say("NO CARRIER")}}, ecFaxNoCarrier},
      {"voice", {{"ATDT5550100", Pause(4000) + Say("VOICE")}}, ecFaxVoiceCall},
      {"no dial tone", {{"ATDT5550100", Pause(2000) + Say("NO DIALTONE")}}, ecFaxNoDialTone},
      {"DCN instead of the DIS",
       {{"ATDT5550100", Pause(1500) + Say("CONNECT") + Frame(RemoteIdFrame(0x40, "1"))},
        {"AT+FRH=3", Say("CONNECT") + Frame(RemoteShort(kDCN))}},
       ecCancelRequested},
      {"DCN after the training", Answer() + Train("96", true, kDCN), ecCancelRequested},
      {"DCN as the answer to EOP", Answer() + Train("96") + Page("96", "EOP", kDCN), ecCancelRequested},
      {"fine page, DIS without fine", Answer(noFine), ecFaxBadMachine},
      {"wide page, DIS without wide", Answer(narrow), ecFaxBadMachine, true},
      {"three unanswered post-page tries",
       Answer() + Train("96") + Steps{{"AT+FTM=96", Say("CONNECT")}, {"page", Say("OK", 300)}} + unanswered,
       ecTimeout},
      {"ERROR to the training command", Answer() + Steps{{"AT+FTH=3", Say("CONNECT")},
                                                        {"frame:TSI", Say("CONNECT")},
                                                        {"frame:DCS", Say("OK")},
                                                        {"AT+FTM=96", Say("ERROR")}},
       ecFaxBadModemResult},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(c.steps);
    if (c.wide) {
      WriteWideApf(job.file);
    }
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, c.finish);
    ExpectScriptFollowed(job.rig);
    EXPECT_EQ(job.rig.modem.Extras(), c.extras);
    EXPECT_EQ(job.rig.logs, (std::vector<int>{lcTransmitStarted, lcTransmitFailed}));
  }
}

// The page data alone, before its post-page message.
Steps PageOnly(const std::string& mod) {
  return {{"AT+FTM=" + mod, Say("CONNECT")}, {"page", Say("OK", 300)}};
}

// Dialogues with a detour that still end with every page confirmed.
TEST(Class1Send, DetoursThatEndWell) {
  struct Case {
    const char* name;
    Steps steps;
    int pages;                   // pages of the job
    std::vector<size_t> pageOf;  // the job page of each page the modem saw
    std::function<void(TQcSendFax&)> setup = nullptr;
  };
  const Steps first = Answer() + Train("96");
  const ModemReply mcf = Say("CONNECT", 200) + Frame(RemoteShort(kMCF));
  const Steps trainingSent = Answer() + Steps{{"AT+FTH=3", Say("CONNECT")},
                                              {"frame:TSI", Say("CONNECT")},
                                              {"frame:DCS", Say("OK")},
                                              {"AT+FTM=96", Say("CONNECT")},
                                              {"train", Say("OK", 300)}};
  // Free-form bytes that read as result lines and frame ends if taken out of the frame.
  const std::vector<uint8_t> nsf{0xFF, 0x03, 0x20, 0x00, 'O', 'K', 0x0D, 0x0A, 0x10, 0x03, 0x10, 0x10, 0x0D, 0x0A};
  const Case cases[] = {
      {"RTN: slower, the page again",
       first + Page("96", "EOP", kRTN) + Train("72", false) + Page("72", "EOP") + Disconnect(), 1, {0, 0}},
      {"RTN on the second page of two",
       first + Page("96", "MPS") + Page("96", "EOP", kRTN) + Train("72", false) + Page("72", "EOP") + Disconnect(),
       2, {0, 1, 1}},
      {"RTP: training again, the next page",
       first + Page("96", "MPS", kRTP) + Train("96", false) + Page("96", "EOP") + Disconnect(), 2, {0, 1}},
      {"RTP after the last page", first + Page("96", "EOP", kRTP) + Disconnect(), 1, {0}},
      {"ERROR, then CONNECT to AT+FTH=3 after the page",
       first + PageOnly("96") +
           Steps{{"AT+FTH=3", Say("ERROR") + Say("CONNECT", 100)}, {"frame:EOP", Say("OK")}, {"AT+FRH=3", mcf}} +
           Disconnect(),
       1, {0}},
      {"ERROR alone to AT+FTH=3 after the page: tried again",
       first + PageOnly("96") + Steps{{"AT+FTH=3", Say("ERROR")}} + PostPage("EOP", mcf) + Disconnect(), 1, {0}},
      {"ERROR as the answer: the EOP again",
       first + PageOnly("96") + PostPage("EOP", Say("CONNECT") + Say("ERROR", 300)) + PostPage("EOP", mcf) +
           Disconnect(),
       1, {0}},
      {"NO CARRIER as the answer: the EOP again",
       first + PageOnly("96") + PostPage("EOP", Say("NO CARRIER", 2000)) + PostPage("EOP", mcf) + Disconnect(), 1,
       {0}},
      {"no answer once: the reception is cut short, the MPS again",
       first + PageOnly("96") + PostPage("MPS", Silence()) + Steps{{"abort", Say("OK")}} + PostPage("MPS", mcf) +
           Page("96", "EOP") + Disconnect(),
       2, {0, 1}},
      {"CRP as the answer: the EOP again after the wait",
       first + PageOnly("96") + PostPage("EOP", Say("CONNECT") + Frame(RemoteShort(kCRP))) + PostPage("EOP", mcf) +
           Disconnect(),
       1, {0}},
      {"DIS again after the training: DCS and training again",
       trainingSent + Steps{{"AT+FRH=3", Say("CONNECT") + Frame(RemoteDis(0x6E, 0x71))}} + Train("96", false) +
           Page("96", "EOP") + Disconnect(),
       1, {0}},
      {"NO CARRIER after the training: DCS and training again",
       trainingSent + Steps{{"AT+FRH=3", Say("NO CARRIER", 3000)}} + Train("96", false) + Page("96", "EOP") +
           Disconnect(),
       1, {0}},
      {"+FCERROR after the training: listening again",
       trainingSent + Steps{{"AT+FRH=3", Say("+FCERROR", 500)},
                            {"AT+FRH=3", Say("CONNECT") + Frame(RemoteShort(kCFR))}} +
           Page("96", "EOP") + Disconnect(),
       1, {0}},
      {"+FCERROR as the answer: the EOP again",
       first + PageOnly("96") + PostPage("EOP", Say("+FCERROR", 500)) + PostPage("EOP", mcf) + Disconnect(), 1, {0}},
      {"the OK after the page comes late: page data still held downstream",
       first + Steps{{"AT+FTM=96", Say("CONNECT")}, {"page", Say("OK", 75000)}} + PostPage("EOP", mcf) +
           Disconnect(),
       1, {0}},
      {"busy, then answered on the second dial", Steps{{"ATDT5550100", Pause(2000) + Say("BUSY")}} + Call(1), 1,
       {0}, [](TQcSendFax& f) {
         f.SetDialAttempts(2);
         f.SetDialRetryWait(1);
       }},
      {"NSF with CR LF and DLE ETX inside it before the CSI",
       Steps{{"ATDT5550100", Pause(1500) + Say("CONNECT") + Frame(nsf)},
             {"AT+FRH=3", Say("CONNECT") + Frame(RemoteIdFrame(0x40, "+1 555 0199"))},
             {"AT+FRH=3", Say("CONNECT") + Frame(RemoteDis(0x6E, 0x71))}} +
           Train("96") + Page("96", "EOP") + Disconnect(),
       1, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(c.steps, c.pages);
    if (c.setup) c.setup(job.rig.fax);
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, 0);
    ExpectScriptFollowed(job.rig);
    EXPECT_TRUE(job.rig.modem.Extras().empty());
    EXPECT_EQ(job.rig.fax.RemoteStationID(), "         +1 555 0199");
    const auto pages = job.rig.modem.Pages();
    ASSERT_EQ(pages.size(), c.pageOf.size());
    for (size_t p = 0; p < pages.size(); ++p) EXPECT_EQ(pages[p].rows, job.Expected(c.pageOf[p])) << "page " << p;
  }
}

}  // namespace
}  // namespace qc::test
