// Class 1 receiving: whole calls and their edge cases, each against a
// scripted answering modem with the calling station behind it, on the
// virtual-clock line (a call takes milliseconds and runs the same way every
// time).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "class1_receive_modem.h"
#include "control/error_codes.h"
#include "faxdoc/apf.h"
#include "receive_session.h"
#include "support/sim_line.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

constexpr uint8_t kTsi = 0x43, kMps = 0x4F, kEop = 0x2F, kEom = 0x8F, kDcn = 0xFB;
constexpr uint8_t kCsi = 0x40, kDis = 0x80, kCfr = 0x84, kFtt = 0x44, kMcf = 0x8C;
const std::string kCaller = "+49 30 1234567";

// Page data as a modem hands it over (the generator is this function): a
// pseudo-random run with DLE, DLE ETX and DLE DLE among the data bytes, so
// that the stuffing on the way is undone exactly.
std::vector<uint8_t> PageBytes(int seed, size_t n) {
  std::vector<uint8_t> bytes(n);
  uint32_t x = 2463534242u + static_cast<uint32_t>(seed) * 7919u;
  for (uint8_t& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  const uint8_t tricky[] = {0x10, 0x03, 0x10, 0x10, 0x00, 0x10};
  std::copy(std::begin(tricky), std::end(tricky), bytes.begin() + static_cast<long>(n / 2));
  return bytes;
}

class Owner final : public SessionOwner {
 public:
  explicit Owner(SessionData& d) : d_(d) {}
  bool NextFaxQuery(SessionHandle&) override { return false; }
  void StatusNotice(int) override { statuses.push_back(d_.status); }
  void LogNotice(int code) override { logs.push_back(code); }
  void NameQuery(SessionHandle& h) override {
    ++nameQueries;
    h.data->faxFile = fileName;
  }
  int AcceptQuery(SessionHandle&) override {
    ++acceptQueries;
    return accept;
  }
  void ErrorNotice(int code) override { errors.push_back(code); }
  void FinishNotice(int code) override {
    finished = true;
    finishCode = code;
  }

  std::string fileName;
  int accept = 1;
  int nameQueries = 0, acceptQueries = 0;
  std::vector<int> statuses, logs, errors;
  bool finished = false;
  int finishCode = 1;

 private:
  SessionData& d_;
};

// One call: the session with its owner, the modem and the line.
struct Call {
  explicit Call(Class1Script script, bool exitOnError = false)
      : modem(std::move(script)), line(modem), owner(std::make_shared<Owner>(session.Data())) {
    owner->fileName = dir.Path("FAX0001.APF");
    session.SetPort(&line);
    session.SetOwner(owner, nullptr);
    session.SetLogSink([this](std::string_view t) { trace.emplace_back(t); });
    SessionData& d = session.Data();
    d.faxClass = fcClass1;
    d.stationId = "QUILLCAST 1";
    d.destinationDir = dir.Path("");
    if (exitOnError) d.options |= foExitOnError;
    session.Handle().oneFax = true;
    session.Cls().answerOnRing = 1;
  }
  ~Call() {
    if (::testing::Test::HasFailure() || std::getenv("QC_TRACE"))
      for (const auto& t : trace) std::fprintf(stderr, "  %s\n", t.c_str());
  }

  // Runs until the session has finished (at most `limitMs` of line time).
  bool Run(int64_t limitMs = 20 * 60 * 1000) {
    session.Start();
    return line.RunUntil([this] { return owner->finished; }, limitMs);
  }

  // The modem's commands from "ATA" on.
  std::vector<std::string> CallCommands() const {
    const auto& all = modem.Commands();
    auto it = std::find(all.begin(), all.end(), "ATA");
    return {it, all.end()};
  }
  // How often the engine sent `text` (whether or not the modem took it).
  int CountSent(const std::string& text) const {
    return static_cast<int>(std::count(trace.begin(), trace.end(), "command " + text));
  }
  // The modulations of the "AT+FRM=" commands in order.
  std::vector<std::string> Listened() const {
    std::vector<std::string> codes;
    for (const std::string& c : modem.Commands())
      if (c.rfind("AT+FRM=", 0) == 0 && c != "AT+FRM=?") codes.push_back(c.substr(7));
    return codes;
  }
  int CountCommand(const std::string& cmd) const {
    const auto& all = modem.Commands();
    return static_cast<int>(std::count(all.begin(), all.end(), cmd));
  }
  bool Traced(const std::string& text) const {
    return std::any_of(trace.begin(), trace.end(),
                       [&](const std::string& t) { return t.find(text) != std::string::npos; });
  }
  bool SawStatus(int code) const {
    return std::count(owner->statuses.begin(), owner->statuses.end(), code) > 0;
  }

  TempDir dir;
  Class1Modem modem;
  SimLine line;
  ReceiveSession session;  // goes before the line it is attached to
  std::shared_ptr<Owner> owner;
  std::vector<std::string> trace;
};

// The received file, read back with the APF reader.
struct Received {
  explicit Received(const std::string& file) {
    ok = ReadApfHeader(file, header) == 0;
    for (unsigned p = 1; ok && p <= header.PageCount; ++p) {
      TApfPageHeader page;
      uint64_t offset = 0;
      if (LocateApfPage(file, p, page, offset) != 0) {
        ok = false;
        break;
      }
      std::ifstream in(file, std::ios::binary);
      in.seekg(static_cast<std::streamoff>(offset));
      std::vector<uint8_t> data(page.ImageLength);
      in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
      flags.push_back(page.Flags);
      pages.push_back(std::move(data));
    }
  }
  bool ok = false;
  TApfFileHeader header;
  std::vector<uint16_t> flags;
  std::vector<std::vector<uint8_t>> pages;
};

// The caller's side of a whole call up to its pages: TSI, DCS and a clean
// training at the speed index.
std::vector<CallerItem> Opening(int speed, bool fine = true) {
  // 1.5 s of the modulation: bit rate / 100 * 18 bytes.
  constexpr int kTrainingBytes[7] = {0, 432, 864, 1296, 1728, 2160, 2592};
  return {IdFrame(kTsi, kCaller), Dcs(speed, fine), Training(ModulationOf(speed), kTrainingBytes[speed], 0)};
}

// An identity field read as T.30 sends it, last character first.
std::string ReadingOrder(const std::vector<uint8_t>& field) { return {field.rbegin(), field.rend()}; }

TEST(Class1Receive, WholeCallStoresThePagesAndEndsWithDcn) {
  const std::vector<uint8_t> page1 = PageBytes(1, 20000), page2 = PageBytes(2, 3000);
  Class1Script s;
  s.caller = Opening(4);
  s.caller.push_back(Page("96", page1));
  s.caller.push_back(Frame(kMps));
  s.caller.push_back(Page("96", page2));
  s.caller.push_back(Frame(kEop));
  s.caller.push_back(Frame(kDcn));
  Call call(std::move(s));
  ASSERT_TRUE(call.Run());

  EXPECT_EQ(call.owner->finishCode, 0);
  EXPECT_EQ(call.owner->logs, (std::vector<int>{lcReceiveStarted, lcReceiveFinished}));
  EXPECT_TRUE(call.modem.Mismatches().empty()) << call.modem.Mismatches().front();
  EXPECT_EQ(call.modem.Aborts(), 0);
  EXPECT_EQ(call.modem.CallerLeft(), 0u);
  EXPECT_EQ(call.CallCommands(),
            (std::vector<std::string>{"ATA", "AT+FRH=3", "AT+FRH=3", "AT+FRM=96", "AT+FTH=3",
                                      "AT+FRM=96", "AT+FRH=3", "AT+FTH=3", "AT+FRM=96", "AT+FRH=3",
                                      "AT+FTH=3", "AT+FRH=3", "ATH"}));

  // CSI (more frames follow) and DIS, CFR, then MCF after each page.
  ASSERT_EQ(call.modem.FrameFcfs(), (std::vector<uint8_t>{kCsi, kDis, kCfr, kMcf, kMcf}));
  const auto& frames = call.modem.Frames();
  EXPECT_EQ(frames[0].control, 0x03);
  // Our ID right-aligned in 20 positions, sent last character first.
  EXPECT_EQ(ReadingOrder(frames[0].info), std::string(9, ' ') + "QUILLCAST 1");
  EXPECT_EQ(frames[1].control, 0x13);
  // Up to 9600 (the desired rate) although the modem goes to 14400.
  EXPECT_EQ(frames[1].info, (std::vector<uint8_t>{0x00, 0x4E, 0xF9, 0x00}));

  EXPECT_EQ(call.session.Data().remoteId, std::string(20 - kCaller.size(), ' ') + kCaller);
  EXPECT_TRUE(call.SawStatus(fsGotRemoteId));
  EXPECT_TRUE(call.SawStatus(fsGotHangup));

  const Received r(call.owner->fileName);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.header.PageCount, 2);
  EXPECT_EQ(r.header.StationIdText(), std::string(20 - kCaller.size(), ' ') + kCaller);
  ASSERT_EQ(r.pages.size(), 2u);
  EXPECT_EQ(r.flags, (std::vector<uint16_t>{pfFine, pfFine}));
  EXPECT_TRUE(r.pages[0] == page1);
  EXPECT_TRUE(r.pages[1] == page2);
  EXPECT_TRUE(call.modem.HungUp());
  EXPECT_EQ(call.line.FreeTriggers(), 20);
}

TEST(Class1Receive, TrainingCheckJudgesTheShareOfNonZeroBytes) {
  // 1728 bytes at 9600 plus the DLE that ends them: good below 10 %.
  struct Case {
    int nonZero;
    bool good;
  };
  const Case cases[] = {{0, true}, {100, true}, {171, true}, {172, false}, {200, false}};
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.nonZero);
    Class1Script s;
    s.caller = {IdFrame(kTsi, kCaller), Dcs(4, false), Training("96", 1728, tc.nonZero)};
    // After FTT the caller gives up.
    s.caller.push_back(tc.good ? Page("96", PageBytes(3, 500)) : Frame(kDcn));
    if (tc.good) {
      s.caller.push_back(Frame(kEop));
      s.caller.push_back(Frame(kDcn));
    }
    Call call(std::move(s), true);
    ASSERT_TRUE(call.Run());
    const auto fcfs = call.modem.FrameFcfs();
    ASSERT_GE(fcfs.size(), 3u);
    EXPECT_EQ(fcfs[2], tc.good ? kCfr : kFtt);
    EXPECT_EQ(call.owner->finishCode, tc.good ? 0 : ecCancelRequested);
    EXPECT_TRUE(call.Traced("training " + std::to_string(tc.nonZero + 1) + " of 1729 bytes"));
  }
}

TEST(Class1Receive, CallerFallingBackAfterFttGoesOnAtTheLowerSpeed) {
  // DCS rate bits 11 to 14 with the modulations the modem must listen
  // with: the training check, and the pages (V.17 pages are short-trained).
  struct Case {
    uint8_t firstBits;
    const char* first;
    int firstBytes;
    uint8_t thenBits;
    const char* then;
    int thenBytes;
    const char* thenPage;
  };
  const Case cases[] = {
      {0x04, "96", 1728, 0x0C, "72", 1296, "72"},     // V.29 9600 -> 7200
      {0x20, "145", 2592, 0x28, "121", 2160, "122"},  // V.17 14400 -> 12000
      {0x24, "97", 1728, 0x2C, "73", 1296, "74"},     // V.17 9600 -> 7200
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.first);
    const std::vector<uint8_t> page = PageBytes(4, 4000);
    Class1Script s;
    s.caller = {IdFrame(kTsi, kCaller), DcsWithRate(tc.firstBits, true), Training(tc.first, tc.firstBytes, 400),
                IdFrame(kTsi, kCaller), DcsWithRate(tc.thenBits, true), Training(tc.then, tc.thenBytes, 0),
                Page(tc.thenPage, page), Frame(kEop), Frame(kDcn)};
    Call call(std::move(s));
    call.session.Cls().desiredBps = 14400;
    ASSERT_TRUE(call.Run());
    EXPECT_EQ(call.owner->finishCode, 0);
    EXPECT_TRUE(call.modem.Mismatches().empty()) << call.modem.Mismatches().front();
    EXPECT_EQ(call.modem.FrameFcfs(), (std::vector<uint8_t>{kCsi, kDis, kFtt, kCfr, kMcf}));
    EXPECT_EQ(call.Listened(), (std::vector<std::string>{tc.first, tc.then, tc.thenPage}));
    const Received r(call.owner->fileName);
    ASSERT_EQ(r.pages.size(), 1u);
    EXPECT_TRUE(r.pages[0] == page);
  }
}

TEST(Class1Receive, SoftwareFlowCoversTrainingAndPageData) {
  // XON/XOFF towards the modem while high-speed data comes in, not while
  // frames are exchanged.
  Class1Script s;
  s.caller = Opening(4);
  s.caller.push_back(Page("96", PageBytes(11, 9000)));
  s.caller.push_back(Frame(kEop));
  s.caller.push_back(Frame(kDcn));
  Call call(std::move(s));
  call.session.Data().options |= foSoftwareFlow;
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, 0);
  // New call: off; DCS: on for the training; training good: off; CFR: on
  // for the page; page ended: off.
  EXPECT_EQ(call.line.ReceiveFlowChanges(), (std::vector<bool>{false, true, false, true, false}));
}

TEST(Class1Receive, FailedTrainingAt2400EndsTheCall) {
  Class1Script s;
  s.caller = {IdFrame(kTsi, kCaller), Dcs(1, false), Training("24", 432, 100)};
  Call call(std::move(s), true);
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, ecFaxTrainError);
  EXPECT_EQ(call.modem.FrameFcfs().back(), kFtt);
  EXPECT_TRUE(call.owner->logs.empty());
  EXPECT_FALSE(std::filesystem::exists(call.owner->fileName));
}

TEST(Class1Receive, EomEndsTheDocumentLikeEop) {
  const std::vector<uint8_t> page = PageBytes(5, 2500);
  Class1Script s;
  s.caller = Opening(4);
  s.caller.push_back(Page("96", page));
  s.caller.push_back(Frame(kEom));
  // The caller would go on with a new document; its next final frame (here
  // a DCS) is where this side hangs up.
  s.caller.push_back(IdFrame(kTsi, kCaller));
  s.caller.push_back(Dcs(4, true));
  Call call(std::move(s));
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, 0);
  EXPECT_EQ(call.owner->logs, (std::vector<int>{lcReceiveStarted, lcReceiveFinished}));
  EXPECT_EQ(call.modem.FrameFcfs(), (std::vector<uint8_t>{kCsi, kDis, kCfr, kMcf}));
  EXPECT_EQ(call.CallCommands().back(), "ATH");
  EXPECT_EQ(call.CountCommand("AT+FRM=96"), 2);  // no second page was asked for
  const Received r(call.owner->fileName);
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_TRUE(r.pages[0] == page);
  EXPECT_TRUE(call.session.Data().faxFile.empty());
}

TEST(Class1Receive, CallerIdAndParametersReachTheFile) {
  // The ID arrives last character first; the DCS sets the page flags.
  struct Case {
    std::string sent;  // the caller's station ID
    bool fine, wide;
    uint16_t flags;
  };
  const Case cases[] = {
      {"5551234", false, false, 0},
      {"+1 212 555 0199", true, false, pfFine},
      {"12345678901234567890", false, true, pfWide},
      {"", true, true, pfFine | pfWide},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.sent);
    Class1Script s;
    s.caller = {IdFrame(kTsi, tc.sent), Dcs(4, tc.fine, tc.wide), Training("96", 1728, 0),
                Page("96", PageBytes(6, 300)), Frame(kEop), Frame(kDcn)};
    Call call(std::move(s));
    ASSERT_TRUE(call.Run());
    const std::string expected = std::string(20 - tc.sent.size(), ' ') + tc.sent;
    EXPECT_EQ(call.session.Data().remoteId, expected);
    const Received r(call.owner->fileName);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.header.StationIdText(), expected);
    EXPECT_EQ(r.flags, (std::vector<uint16_t>{tc.flags}));
  }
}

TEST(Class1Receive, DcnEndsTheCallWherever) {
  struct Case {
    const char* where;
    std::vector<CallerItem> caller;
    std::vector<int> logs;
    int pages;  // -1: no file
  };
  const std::vector<uint8_t> page = PageBytes(7, 1500);
  std::vector<Case> cases = {
      {"instead of TSI", {Frame(kDcn)}, {}, -1},
      {"after TSI", {IdFrame(kTsi, kCaller), Frame(kDcn)}, {}, -1},
      {"after FTT", {IdFrame(kTsi, kCaller), Dcs(4, false), Training("96", 1728, 1000), Frame(kDcn)}, {}, -1},
      {"instead of the post-page message",
       {IdFrame(kTsi, kCaller), Dcs(4, false), Training("96", 1728, 0), Page("96", page), Frame(kDcn)},
       {lcReceiveStarted, lcReceiveFailed},
       1},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.where);
    Class1Script s;
    s.caller = tc.caller;
    Call call(std::move(s), true);
    ASSERT_TRUE(call.Run());
    EXPECT_EQ(call.owner->finishCode, ecCancelRequested);
    EXPECT_EQ(call.owner->logs, tc.logs);
    EXPECT_TRUE(call.modem.HungUp());
    EXPECT_EQ(call.line.FreeTriggers(), 20);
    EXPECT_EQ(call.modem.CallerLeft(), 0u);
    if (tc.pages < 0) {
      EXPECT_FALSE(std::filesystem::exists(call.owner->fileName));
    } else {
      const Received r(call.owner->fileName);
      ASSERT_TRUE(r.ok);
      ASSERT_EQ(static_cast<int>(r.pages.size()), tc.pages);
      EXPECT_TRUE(r.pages[0] == page);
    }
  }
}

TEST(Class1Receive, RefusedCallLeavesNoFile) {
  Class1Script s;
  s.caller = Opening(4);
  s.caller.push_back(Page("96", PageBytes(8, 500)));
  Call call(std::move(s), true);
  call.owner->accept = 0;
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->acceptQueries, 1);
  EXPECT_EQ(call.owner->nameQueries, 0);
  EXPECT_EQ(call.owner->finishCode, ecFileRejected);
  EXPECT_EQ(call.owner->logs, (std::vector<int>{lcReceiveSkipped}));
  EXPECT_TRUE(std::filesystem::is_empty(call.dir.Path("")));
  EXPECT_TRUE(call.modem.HungUp());
}

TEST(Class1Receive, NoConnectAfterAnsweringTimesOut) {
  Class1Script s;
  s.answerConnects = false;
  Call call(std::move(s), true);
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, ecTimeout);
  // No repeat was tried: a first answer that never connects fails at once.
  EXPECT_EQ(call.CountSent("AT\r"), 0);
  EXPECT_TRUE(call.modem.Frames().empty());
  EXPECT_TRUE(call.Traced("rfClass1Answering -> rfError"));
}

TEST(Class1Receive, SilentCallerGetsCsiAndDisThreeTimesMore) {
  // State 12 times out to the repeat; the repeat's "AT" ends the modem's
  // listening, and after the third repeat the call fails.
  Class1Script s;
  s.caller = {Silence(), Silence(), Silence(), Silence()};
  Call call(std::move(s), true);
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, ecTimeout);
  EXPECT_EQ(call.modem.FrameFcfs(),
            (std::vector<uint8_t>{kCsi, kDis, kCsi, kDis, kCsi, kDis, kCsi, kDis}));
  EXPECT_EQ(call.CountSent("AT\r"), 3);
  EXPECT_EQ(call.modem.Aborts(), 3);
  EXPECT_TRUE(call.Traced("rfClass1CallerFrames -> rfClass1Repeat"));
}

TEST(Class1Receive, RepeatWithoutConnectTimesOutToTheNextRepeat) {
  // After a repeat a missing CONNECT in state 10 is one more try, not the end.
  Class1Script s;
  s.caller = {Silence()};
  s.silentPrefix = "AT+FTH=3";
  Call call(std::move(s), true);
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, ecTimeout);
  EXPECT_EQ(call.modem.FrameFcfs(), (std::vector<uint8_t>{kCsi, kDis}));
  EXPECT_EQ(call.CountSent("AT\r"), 3);
  EXPECT_EQ(call.CountCommand("AT+FTH=3"), 3);
  EXPECT_TRUE(call.Traced("rfClass1Answering -> rfClass1Repeat"));
}

TEST(Class1Receive, TrainingThatNeverEndsTimesOut) {
  // The modem connects for the training check and then delivers nothing.
  Class1Script s;
  s.caller = {IdFrame(kTsi, kCaller), Dcs(4, false), Text("CONNECT")};
  Call call(std::move(s), true);
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, ecTimeout);
  EXPECT_TRUE(call.Traced("rfClass1Training -> rfError"));
  EXPECT_EQ(call.modem.FrameFcfs(), (std::vector<uint8_t>{kCsi, kDis}));
}

TEST(Class1Receive, CallerWithoutDcnIsHungUpAfterTheDocument) {
  const std::vector<uint8_t> page = PageBytes(9, 800);
  Class1Script s;
  s.caller = Opening(4);
  s.caller.push_back(Page("96", page));
  s.caller.push_back(Frame(kEop));
  s.caller.push_back(Silence());
  Call call(std::move(s), true);
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, 0);
  EXPECT_EQ(call.owner->logs, (std::vector<int>{lcReceiveStarted, lcReceiveFinished}));
  EXPECT_TRUE(call.Traced("rfClass1WaitDcn -> rfCallDone"));
  EXPECT_TRUE(call.modem.HungUp());
  const Received r(call.owner->fileName);
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_TRUE(r.pages[0] == page);
}

TEST(Class1Receive, ModemQuirksDoNotDerailTheCall) {
  // Frames in three-byte pieces, a damaged frame (the modem says ERROR)
  // that would read as DCN, a +FCERROR before the training and before the
  // page, and a NO CARRIER where the post-page message was expected.
  const std::vector<uint8_t> page = PageBytes(10, 6000);
  Class1Script s;
  s.splitBytes = 3;
  CallerItem damaged = Frame(kDcn);
  damaged.badFcs = true;
  s.caller = {IdFrame(kTsi, kCaller), damaged, Dcs(6, false), Text("+FCERROR"), Training("145", 2592, 20),
              Text("+FCERROR"), Page("146", page), Text("NO CARRIER", 2000), Frame(kEop),
              Text("+FCERROR"), Frame(kDcn)};
  Call call(std::move(s));
  call.session.Cls().desiredBps = 14400;
  ASSERT_TRUE(call.Run());
  EXPECT_EQ(call.owner->finishCode, 0);
  EXPECT_TRUE(call.modem.Mismatches().empty()) << call.modem.Mismatches().front();
  EXPECT_EQ(call.modem.Aborts(), 0);
  // Each +FCERROR is answered by listening again; the page is short-trained.
  EXPECT_EQ(call.Listened(), (std::vector<std::string>{"145", "145", "146", "146"}));
  EXPECT_EQ(call.modem.FrameFcfs(), (std::vector<uint8_t>{kCsi, kDis, kCfr, kMcf}));
  EXPECT_EQ(call.session.Data().remoteId, std::string(20 - kCaller.size(), ' ') + kCaller);
  const Received r(call.owner->fileName);
  ASSERT_EQ(r.pages.size(), 1u);
  EXPECT_TRUE(r.pages[0] == page);
  EXPECT_EQ(r.flags, (std::vector<uint16_t>{0}));
}

}  // namespace
}  // namespace qc::test
