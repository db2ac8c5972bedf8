// The edge cases of the send flow, the modem dialogue and the Class 2 / 2.0
// phases, each through the modem emulator on a simulated line.
#include <gtest/gtest.h>

#include <fstream>

#include "control/errors.h"
#include "engine/fax_components.h"
#include "send_session.h"
#include "support/send_rig.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

void DumpTraceOnFailure(const SendRig& rig) {
  if (::testing::Test::HasFailure())
    for (const auto& t : rig.trace) std::fprintf(stderr, "  %s\n", t.c_str());
}

// A rig with a one-page (or n-page) APF job ready to go.
struct Job {
  explicit Job(Class2Script script, int pages = 1, bool fine = true, int rows = 40)
      : rig(std::move(script)) {
    std::vector<Raster> raster;
    for (int i = 0; i < pages; ++i) raster.push_back(PatternPage(i + 4, rows));
    file = dir.Path("JOB.APF");
    WriteApf(file, raster, fine);
    rig.fax.SetPhoneNumber("5550100");
    rig.fax.SetFaxFile(file);
  }
  ~Job() { DumpTraceOnFailure(rig); }
  TempDir dir;
  std::string file;
  SendRig rig;
};

Class2Script Class2() {
  Class2Script s;
  s.classAnswer = "0,1,2";
  return s;
}

Class2Script Class2_0() {
  Class2Script s;
  s.dialect = fcClass2_0;
  return s;
}

TEST(SendDialogue, ClassDetectionWithEchoOn) {
  struct Case {
    const char* answer;
    bool c1, c2, c20;
  };
  const Case cases[] = {
      {"0,1,2,2.0", true, true, true},
      {"0,1,2.0", true, false, true},
      {"0,1", true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Class2Script script;
    script.classAnswer = c.answer;
    script.echoAtStart = true;
    Class2Modem modem(script);
    SimLine line(modem);
    SendSession session;
    session.SetPort(&line);
    const auto found = session.DetectClasses(false);  // echo stays on: no init string
    EXPECT_TRUE(found.ok);
    EXPECT_EQ(found.class1, c.c1);
    EXPECT_EQ(found.class2, c.c2);
    EXPECT_EQ(found.class2_0, c.c20);
  }
}

TEST(SendDialogue, ModemClassesOfTheComponent) {
  SendRig rig(Class2());
  const TFaxClasses set = rig.fax.ModemClasses();
  EXPECT_TRUE(set.Contains(fcClass1));
  EXPECT_TRUE(set.Contains(fcClass2));
  EXPECT_FALSE(set.Contains(fcClass2_0));

  Class2Script silent;
  silent.silentCommands = {"AT+FCLASS"};
  SendRig quiet(silent);
  EXPECT_TRUE(quiet.fax.ModemClasses().Empty());
}

TEST(SendDialogue, PortChecksOfBeginTransmit) {
  QueuedOwnerLoop loop;
  TQcSendFax fax(loop);
  EXPECT_THROW(fax.BeginTransmit(), EPortNotAssigned);
  EXPECT_THROW(fax.ModemClasses(), EPortNotAssigned);
  Class2Modem modem(Class2());
  fax.SetPortLink(std::make_shared<SimLine>(modem, 4096));
  EXPECT_THROW(fax.BeginTransmit(), EOutputBufferTooSmall);
}

TEST(SendDialogue, ModemInitAndInitialisationStrings) {
  struct Case {
    const char* modemInit;
    bool blindDial, detectBusy;
    const char* sentInit;
    const char* sentInitString;
  };
  const Case cases[] = {
      {"&F", false, true, "AT&F", "ATE0Q0V1X4S0=0S2=43"},
      {"ATZ", true, true, "ATZ", "ATE0Q0V1X3S0=0S2=43"},
      {"", true, false, nullptr, "ATE0Q0V1X1S0=0S2=43"},
      {"", false, false, nullptr, "ATE0Q0V1X2S0=0S2=43"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sentInitString);
    Job job(Class2());
    job.rig.fax.SetModemInit(c.modemInit);
    job.rig.fax.SetBlindDial(c.blindDial);
    job.rig.fax.SetDetectBusy(c.detectBusy);
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, 0);
    if (c.sentInit) {
      EXPECT_TRUE(job.rig.SentCommand(c.sentInit));
    }
    EXPECT_TRUE(job.rig.SentCommand(c.sentInitString));
  }
}

TEST(SendDialogue, DialStrings) {
  Job tone(Class2());
  tone.rig.fax.SetDialPrefix("9,");
  ASSERT_TRUE(tone.rig.Run());
  EXPECT_TRUE(tone.rig.SentCommand("ATDT9,5550100"));

  Job pulse(Class2());
  pulse.rig.fax.SetToneDial(false);
  ASSERT_TRUE(pulse.rig.Run());
  EXPECT_TRUE(pulse.rig.SentCommand("ATDP5550100"));
}

TEST(SendClass2, NegativeVerdictThenPositiveSendsThePageTwice) {
  Class2Script script = Class2();
  script.verdicts = {2, 1};
  Job job(script);
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  ASSERT_EQ(job.rig.modem.Pages().size(), 2u);
  EXPECT_EQ(job.rig.modem.Pages()[0].rows, job.rig.modem.Pages()[1].rows);
  const auto& st = job.rig.statuses;
  const auto error = std::find(st.begin(), st.end(), fsPageError);
  ASSERT_NE(error, st.end());
  EXPECT_NE(std::find(error, st.end(), fsPageAccepted), st.end());
}

TEST(SendClass2_0, NegativeVerdictIsQueriedAndThePageSentAgain) {
  Class2Script script = Class2_0();
  script.verdicts = {2, 1};
  Job job(script);
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  EXPECT_TRUE(job.rig.SentCommand("AT+FPS?"));
  ASSERT_EQ(job.rig.modem.Pages().size(), 2u);
  EXPECT_EQ(job.rig.modem.Pages()[0].rows, job.rig.modem.Pages()[1].rows);
}

TEST(SendClass2, ThirdNegativeVerdictEndsTheSession) {
  Class2Script script = Class2();
  script.verdicts = {2, 2, 2};
  Job job(script);
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, ecFaxSessionError);
  EXPECT_TRUE(job.rig.SentCommand("AT+FKS"));
  EXPECT_EQ(job.rig.modem.Pages().size(), 3u);
  EXPECT_EQ(job.rig.logs, (std::vector<int>{lcTransmitStarted, lcTransmitFailed}));
}

TEST(SendClass2, VerdictsAndFaultsByCode) {
  struct Case {
    const char* name;
    Class2Script script;
    int finish;
  };
  Class2Script interrupt = Class2();
  interrupt.verdicts = {4};
  Class2Script oddVerdict = Class2();
  oddVerdict.verdicts = {7};
  Class2Script voice = Class2();
  voice.dial = DialOutcome::Voice;
  Class2Script noTone = Class2();
  noTone.dial = DialOutcome::NoDialTone;
  Class2Script dialError = Class2();
  dialError.dial = DialOutcome::Error;
  Class2Script setupError = Class2();
  setupError.errorCommands = {"AT+FDIS"};
  Class2Script setupSilent = Class2();
  setupSilent.silentCommands = {"AT+FLID"};
  Class2Script noClass;
  noClass.classAnswer = "0";
  Class2Script hangupMidPage = Class2();
  hangupMidPage.hangupAfterPageBytes = 300;
  Class2Script silentDial = Class2();
  silentDial.dial = DialOutcome::Silence;
  const Case cases[] = {
      {"procedure interrupt", interrupt, ecCancelRequested},
      {"unknown page status", oddVerdict, ecFaxPageError},
      {"voice", voice, ecFaxVoiceCall},
      {"no dial tone", noTone, ecFaxNoDialTone},
      {"ERROR to the dial", dialError, ecFaxBadModemResult},
      {"ERROR to a setup command", setupError, ecFaxBadModemResult},
      {"no answer to a setup command", setupSilent, ecTimeout},
      {"no fax class", noClass, ecFaxBadModemResult},
      {"hang-up in the middle of a page", hangupMidPage, ecTimeout},
      {"silence after dialing", silentDial, ecTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job job(c.script);
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, c.finish);
    EXPECT_EQ(job.rig.lasts, 1);
    EXPECT_EQ(job.rig.line->FreeTriggers(), 20);
  }
}

TEST(SendClass2, NoCarrierWhileDialingWaitsForTheDialTimeout) {
  Class2Script script = Class2();
  script.dial = DialOutcome::NoCarrier;
  Job job(script);
  job.rig.fax.SetDialWait(45);
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, ecTimeout);
  EXPECT_GE(job.rig.line->NowMs(), 45000);  // NO CARRIER came after 3 s
  EXPECT_EQ(job.rig.modem.Dials(), 1);
}

TEST(SendClass2, ResolutionTheRemoteCannotTake) {
  Class2Script script = Class2();
  script.remoteCaps = "0,5,0,2,0,0,0,0";
  Job fine(script, 1, true);
  ASSERT_TRUE(fine.rig.Run());
  EXPECT_EQ(fine.rig.finishCode, ecFaxBadMachine);
  EXPECT_TRUE(fine.rig.modem.Pages().empty());
  EXPECT_EQ(fine.rig.CountCommands("AT+FDT"), 0);

  Job normal(script, 1, false);
  ASSERT_TRUE(normal.rig.Run());
  EXPECT_EQ(normal.rig.finishCode, 0);
  EXPECT_EQ(normal.rig.modem.Pages().size(), 1u);
  EXPECT_TRUE(normal.rig.SentCommand("AT+FDIS=0,3,0,2,0,0,0,0"));
}

TEST(SendFlow, BusyRedialsThenTheNextJob) {
  Class2Script script = Class2();
  script.busyDials = 3;
  Job job(script);
  job.rig.fax.SetDialRetryWait(20);
  int jobs = 0;
  job.rig.fax.OnFaxNext = [&](TQcSendFax&, std::string& phone, std::string& fax, std::string&) {
    if (++jobs > 2) return;
    phone = jobs == 1 ? "5550100" : "5550199";
    fax = job.file;
  };
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.modem.Dials(), 4);
  EXPECT_EQ(job.rig.CountCommands("ATDT5550100"), 3);
  EXPECT_EQ(job.rig.CountCommands("ATDT5550199"), 1);
  EXPECT_GE(job.rig.line->NowMs(), 2 * 20000);
  EXPECT_EQ(std::count(job.rig.errors.begin(), job.rig.errors.end(), ecFaxBusy), 1);
  EXPECT_TRUE(job.rig.SawStatus(fsBusyWait));
  EXPECT_EQ(job.rig.logs, (std::vector<int>{lcTransmitStarted, lcTransmitFailed, lcTransmitStarted,
                                            lcTransmitFinished}));
  EXPECT_EQ(job.rig.modem.Pages().size(), 1u);
  EXPECT_EQ(job.rig.finishCode, ecFaxBusy);  // the last error set in the session
}

TEST(SendFlow, BusyWithAbortNoConnectEndsTheSession) {
  Class2Script script = Class2();
  script.busyDials = -1;
  Job job(script);
  job.rig.fax.SetDialAttempts(2);
  job.rig.fax.SetDialRetryWait(5);
  job.rig.fax.SetAbortNoConnect(true);
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, ecFaxBusy);
  EXPECT_EQ(job.rig.modem.Dials(), 2);
}

TEST(SendFlow, DialAttemptsZeroRedialsUntilAborted) {
  Class2Script script = Class2();
  script.busyDials = -1;
  Job job(script);
  job.rig.fax.SetDialAttempts(0);
  job.rig.fax.SetDialRetryWait(2);
  job.rig.fax.BeginTransmit();
  ASSERT_TRUE(job.rig.line->RunUntil([&] { return job.rig.modem.Dials() >= 8; }, 10 * 60 * 1000));
  EXPECT_FALSE(job.rig.finished);
  job.rig.fax.AbortFax();
  ASSERT_TRUE(job.rig.line->RunUntil([&] { return job.rig.finished; }, 60 * 1000));
  EXPECT_EQ(job.rig.finishCode, ecCancelRequested);
  EXPECT_EQ(job.rig.fax.ProgressCode(), fsUserAbort);
}

TEST(SendFlow, NoJobAtTheFirstQueryFinishesAtOnce) {
  SendRig rig(Class2());
  ASSERT_TRUE(rig.Run(1000 * 60));
  EXPECT_EQ(rig.finishCode, 0);
  EXPECT_EQ(rig.firsts, 1);
  EXPECT_EQ(rig.lasts, 1);
  EXPECT_EQ(rig.CountCommands("ATD"), 0);
  EXPECT_TRUE(rig.logs.empty());
}

TEST(SendFlow, SingleJobIsSentAgainOnTheNextStart) {
  Job job(Class2());
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  job.rig.finished = false;
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  EXPECT_EQ(job.rig.modem.Dials(), 2);
  EXPECT_EQ(job.rig.modem.Pages().size(), 2u);
}

TEST(SendFlow, AbortDuringPageData) {
  Job job(Class2(), 2, true, 1500);
  bool aborted = false;
  job.rig.onStatus = [&](TQcAbstractFax& fax) {
    if (!aborted && fax.ProgressCode() == fsSendingPage && fax.PageBytes() > 500) {
      aborted = true;
      fax.AbortFax();
    }
  };
  ASSERT_TRUE(job.rig.Run());
  EXPECT_TRUE(aborted);
  EXPECT_EQ(job.rig.finishCode, ecCancelRequested);
  EXPECT_EQ(job.rig.statuses.back(), fsUserAbort);
  EXPECT_TRUE(job.rig.modem.HungUp());
  EXPECT_TRUE(job.rig.modem.Pages().empty());
  EXPECT_EQ(job.rig.logs.back(), lcTransmitFailed);
}

TEST(SendFlow, JobFileErrors) {
  struct Case {
    const char* name;
    std::string fax, cover;
    int finish;
  };
  TempDir dir;
  const std::string notApf = dir.Path("NOTAPF.APF");
  std::ofstream(notApf) << std::string(200, 'x');  // long enough for a header
  const Case cases[] = {
      {"no files", "", "", ecNoFilename},
      {"not an APF file", notApf, "", ecFaxBadFormat},
      {"missing file", dir.Path("MISSING.APF"), "", ENOENT},
      {"missing cover", "", dir.Path("nocover.txt"), ENOENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SendRig rig(Class2());
    rig.fax.SetPhoneNumber("5550100");
    rig.fax.SetFaxFile(c.fax);
    rig.fax.SetCoverFile(c.cover);
    ASSERT_TRUE(rig.Run());
    EXPECT_EQ(rig.finishCode, c.finish);
    EXPECT_EQ(rig.logs.back(), lcTransmitFailed);
    DumpTraceOnFailure(rig);
  }
}

TEST(SendFlow, TextCoverOnlyIsOnePage) {
  TempDir dir;
  const std::string cover = dir.Path("note.cvr");  // not the fax extension: a text file
  std::ofstream(cover) << "HELLO\n";
  SendRig rig(Class2());
  rig.fax.SetPhoneNumber("5550100");
  rig.fax.SetCoverFile(cover);
  ASSERT_TRUE(rig.Run());
  EXPECT_EQ(rig.finishCode, 0);
  ASSERT_EQ(rig.modem.Pages().size(), 1u);
  EXPECT_EQ(rig.modem.Pages()[0].rows, Concat({BlankRows(8), TextRows("HELLO", false, false)}));
  EXPECT_TRUE(rig.SentCommand("AT+FDIS=0,3,0,2,0,0,0,0"));
  EXPECT_EQ(rig.CountCommands("AT+FET=2"), 1);
}

TEST(SendFlow, FaxFileCoverSendsItsFirstPage) {
  TempDir dir;
  const Raster coverPage = PatternPage(9, 30);
  const std::string cover = dir.Path("COV00001.APF");
  WriteApf(cover, {coverPage, PatternPage(10, 30)}, true);
  Job job(Class2_0(), 1);
  job.rig.fax.SetCoverFile(cover);
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  ASSERT_EQ(job.rig.modem.Pages().size(), 2u);
  EXPECT_EQ(job.rig.modem.Pages()[0].rows, Concat({BlankRows(8), coverPage}));
}

TEST(SendFlow, StatusEveryIntervalWhileWaiting) {
  Class2Script script = Class2();
  script.connectDelayMs = 20000;
  Job job(script);
  int during = 0;
  job.rig.onStatus = [&](TQcAbstractFax& fax) {
    if (fax.ProgressCode() == fsDialing) ++during;
  };
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  // About one notice per second of the 20 s the remote took to answer.
  EXPECT_GE(during, 18);
  EXPECT_LE(during, 23);
}

TEST(SendComponent, Defaults) {
  QueuedOwnerLoop loop;
  TQcSendFax fax(loop);
  EXPECT_EQ(fax.FaxClass(), fcUnknown);
  EXPECT_EQ(fax.InitBaud(), 0);
  EXPECT_EQ(fax.NormalBaud(), 0);
  EXPECT_EQ(fax.StatusInterval(), 1);
  EXPECT_EQ(fax.DesiredBPS(), 9600);
  EXPECT_FALSE(fax.DesiredECM());
  EXPECT_EQ(fax.FaxFileExt(), "APF");
  EXPECT_FALSE(fax.AbortNoConnect());
  EXPECT_FALSE(fax.ExitOnError());
  EXPECT_FALSE(fax.SoftwareFlow());
  EXPECT_FALSE(fax.BlindDial());
  EXPECT_TRUE(fax.DetectBusy());
  EXPECT_TRUE(fax.ToneDial());
  EXPECT_EQ(fax.DialWait(), 60);
  EXPECT_EQ(fax.DialAttempts(), 3);
  EXPECT_EQ(fax.DialRetryWait(), 60);
  EXPECT_EQ(fax.MaxSendCount(), 50);
  EXPECT_EQ(fax.BufferMinimum(), 1000);
  EXPECT_EQ(fax.DialAttempt(), 1);
  fax.SetDialWait(25);
  EXPECT_EQ(fax.DialWait(), 25);
  fax.SetModemInit("&f");
  EXPECT_EQ(fax.ModemInit(), "AT&F");
  fax.SetStationID("123456789012345678901234");
  EXPECT_EQ(fax.StationID(), "12345678901234567890");
  TQcFaxLog log;
  EXPECT_EQ(log.FaxHistoryName(), "QCFAX.HIS");
}

TEST(SendComponent, HistoryFileThatCannotBeOpenedRaises) {
  TempDir dir;
  QueuedOwnerLoop loop;
  TQcSendFax fax(loop);
  TQcFaxLog log;
  log.SetFaxHistoryName(dir.Path("no/such/folder/QCFAX.HIS"));
  fax.SetFaxLog(&log);
  EXPECT_THROW(log.WriteLogEntry(lcTransmitStarted), EInOutError);
  log.SetFaxHistoryName("");
  EXPECT_NO_THROW(log.WriteLogEntry(lcTransmitStarted));
}

}  // namespace
}  // namespace qc::test

namespace qc::test {
namespace {

TEST(SendDialogue, Class1SpeedQuery) {
  struct Case {
    const char* answer;
    int index;
  };
  const Case cases[] = {{"24,48,72,96", 4}, {"3,24,48,72,73,74,96,97,98,121,122,145,146", 6}, {"24,48", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    Class2Script script;
    script.ftmAnswer = c.answer;
    Class2Modem modem(script);
    SimLine line(modem);
    SendSession session;
    session.SetPort(&line);
    session.QueryClass1Speeds(true);
    EXPECT_EQ(session.Cls().speedIndex, c.index);
    EXPECT_TRUE(session.Cls().local.speeds[1] && session.Cls().local.speeds[2]);
    EXPECT_EQ(modem.Commands().back(), "AT+FTM=?");
  }
}

TEST(SendDialogue, BaudPairSwitchesAroundTheJob) {
  Job job(Class2());
  job.rig.fax.SetInitBaud(19200);
  job.rig.fax.SetNormalBaud(38400);
  job.rig.line->SwitchBaud(57600);  // whatever the port ran at before
  ASSERT_TRUE(job.rig.Run());
  EXPECT_EQ(job.rig.finishCode, 0);
  // Initialisation at 19200, the fax session at 38400, back to 19200 at the end.
  EXPECT_EQ(job.rig.line->BaudChanges(), (std::vector<uint32_t>{57600, 19200, 38400, 19200}));
}

TEST(SendDialogue, RingsAndCallKinds) {
  Class2Modem modem(Class2());
  SimLine line(modem);
  SendSession session;
  session.SetPort(&line);
  session.Cls().answerOnRing = 2;
  EXPECT_EQ(session.RingLine("RING"), 0);
  EXPECT_TRUE(modem.Commands().empty());
  EXPECT_EQ(session.RingLine("RING"), 0);
  line.SleepMs(10);
  ASSERT_FALSE(modem.Commands().empty());
  EXPECT_EQ(modem.Commands().back(), "ATA");
  EXPECT_EQ(session.RingLine("CONNECT 2400"), ecFaxDataCall);
  EXPECT_EQ(session.RingLine("VOICE"), ecFaxVoiceCall);
  EXPECT_EQ(session.RingLine("NO CARRIER"), 0);
  EXPECT_EQ(session.Data().status, fsNoConnect);
}

TEST(SendFlow, EventsOfOtherTriggersChangeNothing) {
  Class2Script script = Class2();
  script.connectDelayMs = 10000;
  Job job(script);
  job.rig.fax.BeginTransmit();
  ASSERT_TRUE(job.rig.line->RunUntil([&] { return job.rig.fax.ProgressCode() == fsDialing; }, 60000));
  const size_t statuses = job.rig.statuses.size(), commands = job.rig.modem.Commands().size();
  const size_t traced = job.rig.trace.size();
  job.rig.line->InjectEvent(peTimer, 0x1FF);
  job.rig.line->InjectEvent(peStatus, 0x2FF);
  EXPECT_EQ(job.rig.statuses.size(), statuses);
  EXPECT_EQ(job.rig.modem.Commands().size(), commands);
  EXPECT_EQ(job.rig.trace.size(), traced);
  ASSERT_TRUE(job.rig.line->RunUntil([&] { return job.rig.finished; }, 10 * 60 * 1000));
  EXPECT_EQ(job.rig.finishCode, 0);
}

}  // namespace
}  // namespace qc::test

namespace qc::test {
namespace {

TEST(SendFlow, ExitOnErrorEndsAfterTheFailedJob) {
  for (bool exitOnError : {false, true}) {
    SCOPED_TRACE(exitOnError);
    Class2Script script = Class2();
    script.dial = DialOutcome::Voice;
    Job job(script);
    job.rig.fax.SetExitOnError(exitOnError);
    int queries = 0;
    job.rig.fax.OnFaxNext = [&](TQcSendFax&, std::string& phone, std::string& fax, std::string&) {
      if (++queries > 2) return;
      phone = "5550100";
      fax = job.file;
    };
    ASSERT_TRUE(job.rig.Run());
    EXPECT_EQ(job.rig.finishCode, ecFaxVoiceCall);
    EXPECT_EQ(queries, exitOnError ? 1 : 3);
    EXPECT_EQ(job.rig.modem.Dials(), exitOnError ? 1 : 2);
  }
}

}  // namespace
}  // namespace qc::test
