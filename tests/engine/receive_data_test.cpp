// Page data into the received file: DLE handling, the Class 2 bit order,
// long pages, write failures; the lines that end a wait for a call; status
// between calls; the names of received files.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>

#include "control/error_codes.h"
#include "control/errors.h"
#include "support/receive_rig.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

Class2Script OneCall(TFaxClass dialect, std::vector<CallerPage> pages, std::string id = "CALLER 1") {
  Class2Script s;
  s.dialect = dialect;
  IncomingCall call;
  call.callerId = std::move(id);
  call.pages = std::move(pages);
  s.calls = {call};
  return s;
}

// Runs one call into `dir` and returns the stored file.
StoredFax ReceiveOne(ReceiveRig& rig, const TempDir& dir) {
  rig.fax.SetDestinationDir(dir.Path(""));
  rig.fax.SetOneFax(true);
  EXPECT_TRUE(rig.Run()) << rig.Trace();
  return ReadStoredFax(dir.Path("FAX0001.APF"));
}

struct DataCase {
  const char* name;
  TFaxClass dialect;
  std::vector<uint8_t> onLine;  // what the modem delivers before its DLE ETX
  std::vector<uint8_t> stored;
};

class PageBytes : public ::testing::TestWithParam<DataCase> {};

TEST_P(PageBytes, AreStoredAsTheModemMeansThem) {
  const DataCase& c = GetParam();
  CallerPage page;
  page.data = c.onLine;
  page.stuff = false;
  TempDir dir;
  ReceiveRig rig(OneCall(c.dialect, {page}));
  const StoredFax f = ReceiveOne(rig, dir);
  ASSERT_EQ(f.status, 0);
  ASSERT_EQ(f.pages.size(), 1u);
  EXPECT_EQ(f.pages[0], c.stored);
  EXPECT_EQ(rig.finishCode, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PageBytes,
    ::testing::Values(
        DataCase{"DleDleIsOneDle_2_0", fcClass2_0, {0x41, 0x10, 0x10, 0x42}, {0x41, 0x10, 0x42}},
        DataCase{"DleDleIsOneDle_2", fcClass2, {0x10, 0x10}, {0x08}},
        DataCase{"DleOtherKeepsTheOther_2_0", fcClass2_0, {0x10, 0x41, 0x10, 0x11}, {0x41, 0x11}},
        DataCase{"ByteOneReversed_2", fcClass2, {0x01}, {0x80}},
        DataCase{"ByteOneAsIs_2_0", fcClass2_0, {0x01}, {0x01}},
        DataCase{"ReversalTable_2", fcClass2, {0x0F, 0xA0, 0xFF, 0x00, 0x03}, {0xF0, 0x05, 0xFF, 0x00, 0xC0}},
        DataCase{"EtxAloneIsData_2_0", fcClass2_0, {0x03, 0x10, 0x10, 0x03}, {0x03, 0x10, 0x03}},
        DataCase{"EmptyPage_2", fcClass2, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A long page crosses the 10000-byte runs and the 4096-byte writes; whether
// it arrives slowly or all at once, the file holds it exactly.
class LongPage : public ::testing::TestWithParam<std::tuple<TFaxClass, int>> {};

TEST_P(LongPage, IsStoredExactly) {
  const auto& [dialect, chunk] = GetParam();
  std::mt19937 rng(7);
  CallerPage page;
  page.data.resize(25000);
  for (auto& b : page.data) b = static_cast<uint8_t>(rng());
  // Plenty of DLE and DLE-ETX look-alikes in the data.
  for (size_t i = 0; i < page.data.size(); i += 97) page.data[i] = 0x10;
  for (size_t i = 1; i < page.data.size(); i += 97) page.data[i] = 0x03;
  Class2Script s = OneCall(dialect, {page});
  s.pageChunkBytes = chunk;
  TempDir dir;
  ReceiveRig rig(s);
  const StoredFax f = ReceiveOne(rig, dir);
  ASSERT_EQ(f.status, 0);
  ASSERT_EQ(f.pages.size(), 1u);
  EXPECT_EQ(f.pages[0], page.data);
  EXPECT_EQ(f.pageHeaders[0].ImageLength, page.data.size());
}

INSTANTIATE_TEST_SUITE_P(Arrivals, LongPage,
                         ::testing::Combine(::testing::Values(fcClass2, fcClass2_0), ::testing::Values(120, 100000)));

// The file cannot take the whole page: the call ends with the write's error,
// the file keeps what was written with headers that agree with it, and the
// engine waits for the next call.
TEST(ReceiveWriteFailure, ShortWriteEndsTheCallAndKeepsAConsistentFile) {
  TempDir dir;
  CallerPage big;
  big.data.assign(20000, 0x55);
  Class2Script s = OneCall(fcClass2_0, {big});
  ReceiveRig rig(s);
  rig.fax.SetDestinationDir(dir.Path(""));
  rig.Begin();
  ASSERT_TRUE(rig.RunUntil([&] { return rig.CountLogs(4) == 1; }));

  // Files of this process may not grow past 5000 bytes while the page arrives.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 5000;
  setrlimit(RLIMIT_FSIZE, &small);
  rig.RunUntil([&] { return rig.CountLogs(7) == 1; });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);

  rig.fax.AbortFax();
  rig.RunUntil([] { return false; }, 20000);
  ASSERT_FALSE(rig.errors.empty());
  EXPECT_EQ(rig.errors[0], ecDeviceWrite);
  EXPECT_EQ(rig.logs, (std::vector<int>{4, 7}));
  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  ASSERT_EQ(f.status, 0) << "headers agree with the bytes in the file";
  ASSERT_EQ(f.header.PageCount, 1);
  EXPECT_EQ(f.fileSize, 5000u);
  EXPECT_EQ(f.pages[0], std::vector<uint8_t>(5000 - 80, 0x55));
}

TEST(ReceiveWriteFailure, AFileThatCannotBeCreatedEndsTheCallWithItsError) {
  TempDir dir;
  CallerPage page;
  page.data = {1, 2, 3};
  ReceiveRig rig(OneCall(fcClass2, {page}));
  rig.fax.OnFaxName = [&](TQcCustomReceiveFax&, std::string& name) { name = dir.Path("missing/FAX.APF"); };
  rig.fax.SetExitOnError(true);
  ASSERT_TRUE(rig.Run()) << rig.Trace();
  EXPECT_EQ(rig.finishCode, ENOENT);
  EXPECT_EQ(rig.logs, (std::vector<int>{7}));
}

// Lines that end the wait for a call.
struct WaitCase {
  const char* name;
  std::vector<std::string> lines;
  int error;
};

class WaitingForACall : public ::testing::TestWithParam<WaitCase> {};

TEST_P(WaitingForACall, EndsWithTheCallsError) {
  const WaitCase& c = GetParam();
  Class2Script s = OneCall(fcClass2, {});
  s.calls[0].ringLines = c.lines;
  TempDir dir;
  ReceiveRig rig(s);
  rig.fax.SetDestinationDir(dir.Path(""));
  rig.fax.SetAnswerOnRing(5);
  rig.fax.SetExitOnError(true);
  ASSERT_TRUE(rig.Run(120000)) << rig.Trace();
  EXPECT_EQ(rig.finishCode, c.error);
  EXPECT_TRUE(rig.logs.empty());
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path("")));
}

INSTANTIATE_TEST_SUITE_P(Lines, WaitingForACall,
                         ::testing::Values(WaitCase{"DataCall", {"RING", "CONNECT 2400"}, ecFaxDataCall},
                                           WaitCase{"Voice", {"RING", "VOICE"}, ecFaxVoiceCall}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WaitingForACall, StrayLinesAndRingsBelowTheCountDoNotEndTheWait) {
  Class2Script s = OneCall(fcClass2, {});
  s.calls[0].ringLines = {"RING", "+FCLASS=2", "RING"};
  ReceiveRig rig(s);
  rig.fax.SetAnswerOnRing(3);
  rig.Begin();
  rig.RunUntil([] { return false; }, 120000);
  EXPECT_FALSE(rig.finished);
  EXPECT_TRUE(rig.errors.empty()) << rig.Trace();
  EXPECT_EQ(rig.modem.Calls().at(0).ringsBeforeAnswer, -1);
  rig.fax.AbortFax();
  rig.RunUntil([] { return false; }, 20000);
  EXPECT_EQ(rig.finishCode, ecCancelRequested);
}

// Between calls the owner hears status only with ConstantStatus.
class BetweenCalls : public ::testing::TestWithParam<bool> {};

TEST_P(BetweenCalls, StatusFollowsConstantStatus) {
  const bool constant = GetParam();
  Class2Script s = OneCall(fcClass2, {});
  s.ringDelayMs = 60000;
  ReceiveRig rig(s);
  rig.fax.SetConstantStatus(constant);
  rig.Begin();
  rig.RunUntil([] { return false; }, 20000);
  if (constant) {
    EXPECT_EQ(rig.firsts, 1);
    EXPECT_GE(rig.statuses.size(), 10u);
    EXPECT_EQ(rig.statuses.back(), fsWaitingForCall);
  } else {
    EXPECT_EQ(rig.firsts, 0);
    EXPECT_TRUE(rig.statuses.empty());
  }
  rig.fax.AbortFax();
  rig.RunUntil([] { return false; }, 20000);
  EXPECT_TRUE(rig.finished);
  EXPECT_EQ(rig.lasts, 1) << "an abort always closes the display";
}

INSTANTIATE_TEST_SUITE_P(Modes, BetweenCalls, ::testing::Bool());

TEST(ReceiveProgress, PageNumberAndBytesFollowTheCall) {
  std::vector<CallerPage> pages(2);
  pages[0].data = EncodePage(PatternPage(1, 60));
  pages[1].data = EncodePage(PatternPage(2, 60));
  TempDir dir;
  ReceiveRig rig(OneCall(fcClass2_0, pages));
  int maxPage = 0, maxBytes = 0;
  rig.fax.OnFaxStatus = [&](TQcAbstractFax& f, bool, bool) {
    maxPage = std::max(maxPage, f.PageNumber());
    maxBytes = std::max(maxBytes, f.PageBytes());
    EXPECT_EQ(f.DocumentPages(), 0);
    EXPECT_EQ(f.PageSize(), 0);
  };
  ReceiveOne(rig, dir);
  EXPECT_EQ(maxPage, 2);
  EXPECT_GT(maxBytes, 0);
  EXPECT_LE(maxBytes, static_cast<int>(std::max(pages[0].data.size(), pages[1].data.size())));
}

// With SoftwareFlow the host may hold the modem off while page data arrive,
// and only then: commands and reports never see XON/XOFF.
class ReceiveFlowControl : public ::testing::TestWithParam<bool> {};

TEST_P(ReceiveFlowControl, IsOnOnlyDuringPageData) {
  std::vector<CallerPage> pages(2);
  pages[0].data = EncodePage(PatternPage(1, 30));
  pages[1].data = EncodePage(PatternPage(2, 30));
  TempDir dir;
  ReceiveRig rig(OneCall(fcClass2, pages));
  rig.fax.SetSoftwareFlow(GetParam());
  ReceiveOne(rig, dir);
  EXPECT_EQ(rig.finishCode, 0);
  const std::vector<bool> expected =
      GetParam() ? std::vector<bool>{false, true, false, true, false} : std::vector<bool>{};
  EXPECT_EQ(rig.line->ReceiveFlowChanges(), expected);
}

INSTANTIATE_TEST_SUITE_P(Options, ReceiveFlowControl, ::testing::Bool());

TEST(ReceiveComponent, DefaultsAndPortChecks) {
  QueuedOwnerLoop loop;
  TQcReceiveFax fax(loop);
  EXPECT_EQ(fax.AnswerOnRing(), 1);
  EXPECT_FALSE(fax.FaxAndData());
  EXPECT_FALSE(fax.OneFax());
  EXPECT_FALSE(fax.ConstantStatus());
  EXPECT_EQ(fax.DestinationDir(), "");
  EXPECT_EQ(fax.NamingScheme(), 1);
  EXPECT_EQ(fax.FaxClass(), fcDetect);
  EXPECT_FALSE(fax.IsSender());
  try {
    fax.BeginReceive();
    ADD_FAILURE() << "no port";
  } catch (const std::exception&) {
  }
  EXPECT_FALSE(fax.Busy());
}

// Default names: the scheme, the free number, the folder.
struct NameCase {
  const char* name;
  int scheme;
  std::vector<std::string> present;  // files (or folders, ending in '/') already there
  std::string ext;
  std::string expected;  // relative to the folder; "%MD" = month and day
};

class DefaultNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(DefaultNames, PickTheFirstFreeName) {
  const NameCase& c = GetParam();
  TempDir dir;
  for (const std::string& p : c.present) {
    if (p.back() == '/')
      std::filesystem::create_directory(dir.Path(p.substr(0, p.size() - 1)));
    else
      std::ofstream(dir.Path(p)) << "x";
  }
  QueuedOwnerLoop loop;
  TQcReceiveFax fax(loop);
  fax.SetNamingScheme(c.scheme);
  fax.SetFaxFileExt(c.ext);
  fax.SetDestinationDir(dir.Path(""));
  std::string expected = c.expected;
  if (auto at = expected.find("%MD"); at != std::string::npos) {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char md[16];
    std::snprintf(md, sizeof md, "%02d%02d", tm.tm_mon + 1, tm.tm_mday);
    expected.replace(at, 3, md);
  }
  if (expected != "noname.apf") expected = dir.Path(expected);
  EXPECT_EQ(fax.DefaultFaxName(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, DefaultNames,
    ::testing::Values(NameCase{"EmptyFolder", 1, {}, "APF", "FAX0001.APF"},
                      NameCase{"TwoTaken", 1, {"FAX0001.APF", "FAX0002.APF"}, "APF", "FAX0003.APF"},
                      NameCase{"CaseIgnored", 1, {"fax0001.apf"}, "APF", "FAX0002.APF"},
                      NameCase{"GapIsFilled", 1, {"FAX0002.APF"}, "APF", "FAX0001.APF"},
                      NameCase{"FolderTakesTheName", 1, {"FAX0001.APF/"}, "APF", "FAX0002.APF"},
                      NameCase{"OwnExtension", 1, {"FAX0001.APF"}, "TIF", "FAX0001.TIF"},
                      NameCase{"MonthDay", 2, {}, "APF", "%MD0001.APF"},
                      NameCase{"OtherScheme", 3, {}, "APF", "noname.apf"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qc::test
