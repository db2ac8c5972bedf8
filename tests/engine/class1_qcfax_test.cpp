// qcfax send --class 1 against the scripted Class 1 modem on a
// pseudo-terminal, run as the user runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>

#include "support/class1_modem.h"
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

TEST(QcfaxSendClass1, SendsTwoPagesThroughAClass1Modem) {
  TempDir dir;
  const std::string apf = dir.Path("DOC.APF");
  WriteApf(apf, {PatternPage(1, 60), PatternPage(2, 60)}, true);
  const ModemReply mcf = Say("CONNECT", 100) + Frame({0xFF, 0x13, 0x8C});
  const std::vector<Step> steps{
      {"ATDT5550100", Pause(200) + Say("CONNECT") + Frame(RemoteIdFrame(0x40, "5550100"))},
      {"AT+FRH=3", Say("CONNECT") + Frame(RemoteDis(0x6E, 0x71))},
      {"AT+FTH=3", Say("CONNECT")},
      {"frame:TSI", Say("CONNECT")},
      {"frame:DCS", Say("OK")},
      {"AT+FTM=145", Say("CONNECT")},
      {"train", Say("OK", 100)},
      {"AT+FRH=3", Say("CONNECT", 100) + Frame({0xFF, 0x13, 0x84})},
      {"AT+FTM=146", Say("CONNECT")},
      {"page", Say("OK", 100)},
      {"AT+FTH=3", Say("CONNECT")},
      {"frame:MPS", Say("OK")},
      {"AT+FRH=3", mcf},
      {"AT+FTM=146", Say("CONNECT")},
      {"page", Say("OK", 100)},
      {"AT+FTH=3", Say("CONNECT")},
      {"frame:EOP", Say("OK")},
      {"AT+FRH=3", mcf},
      {"AT+FTH=3", Say("CONNECT")},
      {"frame:DCN", Say("OK")},
      {"ATH", Say("OK")},
  };
  PtyPair pty;
  Class1Modem modem(steps);
  PtyPump pump(pty, modem);
  const Result r = RunQcfax("send --device " + pty.DevicePath() + " --class 1 --bps 14400 --station 'QC 9' " +
                            "5550100 " + apf);
  pump.Stop();
  EXPECT_EQ(r.exit, 0) << r.out << modem.Transcript();
  EXPECT_TRUE(modem.Mismatches().empty()) << modem.Transcript();
  EXPECT_EQ(modem.StepsLeft(), 0u) << modem.Transcript();
  EXPECT_NE(r.out.find("remote \"             5550100\""), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.size() - 5), "Sent\n") << r.out;
  const auto pages = modem.Pages();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(pages[1].rows, Concat({BlankRows(8), PatternPage(2, 60)}));
  // The class was not asked for: no class query, straight to Class 1.
  for (const auto& c : modem.Commands()) EXPECT_NE(c, "AT+FCLASS=?");
}

}  // namespace
}  // namespace qc::test
