// qcfax send and qcfax classes against the Class 2 emulator on a
// pseudo-terminal, run as the user runs them.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "support/class2_modem.h"
#include "support/pty_pump.h"
#include "support/test_pages.h"

namespace qc::test {
namespace {

struct Result {
  int exit = -1;
  std::string out;
};

Result RunQcfax(const std::string& args) {
  Result r;
  const std::string cmd = std::string(QCFAX_PATH) + " " + args + " 2>&1";
  std::FILE* p = popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) r.out += buf;
  const int status = pclose(p);
  r.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

Class2Script FastScript() {
  Class2Script s;
  s.classAnswer = "0,1,2";
  s.replyDelayMs = 5;
  s.connectDelayMs = 200;
  return s;
}

TEST(QcfaxSend, SendsAFileAndWritesTheTrace) {
  TempDir dir;
  const std::string apf = dir.Path("DOC.APF"), trace = dir.Path("send.trc");
  WriteApf(apf, {PatternPage(1, 80), PatternPage(2, 80)}, false);
  PtyPair pty;
  Class2Modem modem(FastScript());
  PtyPump pump(pty, modem);
  const Result r = RunQcfax("send --device " + pty.DevicePath() + " --station 'QC 9' --header 'Page $P' --trace " +
                            trace + " 5550100 " + apf);
  pump.Stop();
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_NE(r.out.find("Dialing  page 1/2"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Page accepted by remote"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("remote \"REMOTE FAX 1\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 5), "Sent\n") << r.out;
  ASSERT_EQ(modem.Pages().size(), 2u);
  EXPECT_EQ(modem.Pages()[1].rows, Concat({BlankRows(8), TextRows("Page 2", true, false), PatternPage(2, 80)}));
  std::ifstream in(trace);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Transmit: "), std::string::npos);
  EXPECT_NE(text.str().find("ATDT5550100"), std::string::npos);
}

TEST(QcfaxSend, ReportsTheFinishCodesText) {
  TempDir dir;
  const std::string apf = dir.Path("DOC.APF");
  WriteApf(apf, {PatternPage(1, 20)}, false);
  PtyPair pty;
  Class2Script script = FastScript();
  script.busyDials = -1;
  Class2Modem modem(script);
  PtyPump pump(pty, modem);
  const Result r = RunQcfax("send --device " + pty.DevicePath() + " --attempts 2 --retry-wait 1 5550100 " + apf);
  pump.Stop();
  EXPECT_EQ(r.exit, 1) << r.out;
  EXPECT_NE(r.out.find("Busy, waiting until redial..."), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 27), "Called fax number was busy\n") << r.out;
  EXPECT_EQ(modem.Dials(), 2);
}

TEST(QcfaxClasses, PrintsWhatTheModemReports) {
  PtyPair pty;
  Class2Script script = FastScript();
  script.classAnswer = "0,1,2,2.0";
  Class2Modem modem(script);
  PtyPump pump(pty, modem);
  const Result r = RunQcfax("classes --device " + pty.DevicePath());
  pump.Stop();
  EXPECT_EQ(r.exit, 0) << r.out;
  EXPECT_EQ(r.out, "Class 1\nClass 2\nClass 2.0\n");
}

TEST(QcfaxSend, UsageErrors) {
  EXPECT_EQ(RunQcfax("send 5550100").exit, 2);
  EXPECT_EQ(RunQcfax("send --class 3 5550100 x.apf").exit, 1);
  EXPECT_EQ(RunQcfax("send --device /nonexistent/tty 5550100 x.apf").exit, 1);
}

}  // namespace
}  // namespace qc::test
