// qcfax receive against the Class 2 / 2.0 emulators on a pseudo-terminal,
// run as the user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "support/class2_modem.h"
#include "support/pty_pump.h"
#include "support/test_pages.h"

extern char** environ;

namespace qc::test {
namespace {

// qcfax as a child process with its output read as it comes.
class Qcfax {
 public:
  explicit Qcfax(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> all = {QCFAX_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, QCFAX_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    fd_ = fds[0];
  }
  ~Qcfax() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  // Reads output until `done` holds for it or `seconds` pass; true when it held.
  bool ReadUntil(const std::function<bool(const std::string&)>& done, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done(out_)) {
      if (std::chrono::steady_clock::now() > end) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[512];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n <= 0) return done(out_);
      out_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  void Signal(int sig) { kill(pid_, sig); }
  // Waits for the exit and returns its status (-1 when killed or timed out).
  int Wait(int seconds) {
    ReadUntil([](const std::string&) { return false; }, seconds);  // until the output closes
    int status = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > end) return -1;
      usleep(10000);
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Out() const { return out_; }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string out_;
};

Class2Script FastScript(TFaxClass dialect, std::vector<CallerPage> pages) {
  Class2Script s;
  s.dialect = dialect;
  s.classAnswer = dialect == fcClass2 ? "0,1,2" : "0,1,2,2.0";
  s.replyDelayMs = 5;
  s.connectDelayMs = 200;
  s.ringDelayMs = 300;
  s.ringGapMs = 300;
  s.pageChunkBytes = 400;
  s.pageChunkMs = 20;
  IncomingCall call;
  call.callerId = "PTY CALLER";
  call.ringLines = {"RING", "RING"};
  call.pages = std::move(pages);
  s.calls = {call};
  return s;
}

std::vector<CallerPage> Pages(std::initializer_list<int> seeds) {
  std::vector<CallerPage> pages;
  for (int seed : seeds) {
    CallerPage p;
    p.data = EncodePage(PatternPage(seed, 60));
    pages.push_back(p);
  }
  return pages;
}

class QcfaxReceive : public ::testing::TestWithParam<TFaxClass> {};

TEST_P(QcfaxReceive, OneCallIntoTheFolder) {
  TempDir dir;
  const std::vector<CallerPage> pages = Pages({1, 2});
  PtyPair pty;
  Class2Modem modem(FastScript(GetParam(), pages));
  PtyPump pump(pty, modem);
  Qcfax qcfax({"receive", "--device", pty.DevicePath(), "--class", GetParam() == fcClass2 ? "2" : "2.0",
               "--rings", "2", "--station", "QC PTY", "--dir", dir.Path(""), "--one", "--trace",
               dir.Path("recv.trc")});
  const int exit = qcfax.Wait(60);
  pump.Stop();
  const std::string& out = qcfax.Out();
  EXPECT_EQ(exit, 0) << out;
  EXPECT_NE(out.find("Waiting for incoming call"), std::string::npos) << out;
  EXPECT_NE(out.find("Getting page data  page 2"), std::string::npos) << out;
  EXPECT_NE(out.find("Received " + dir.Path("FAX0001.APF") + "  pages 2  remote \"PTY CALLER\"\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.substr(out.size() - 5), "Done\n") << out;
  ASSERT_FALSE(modem.Calls().empty());
  EXPECT_EQ(modem.Calls()[0].ringsBeforeAnswer, 2);
  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  ASSERT_EQ(f.status, 0);
  ASSERT_EQ(f.pages.size(), 2u);
  EXPECT_EQ(f.pages[0], pages[0].data);
  EXPECT_EQ(f.pages[1], pages[1].data);
  EXPECT_EQ(access(dir.Path("recv.trc").c_str(), F_OK), 0) << "the trace is written";
}

INSTANTIATE_TEST_SUITE_P(Dialects, QcfaxReceive, ::testing::Values(fcClass2, fcClass2_0),
                         [](const auto& info) { return info.param == fcClass2 ? "Class2" : "Class2_0"; });

// SIGTERM in the middle of page 2: the call is ended, page 1 stays whole and
// what arrived of page 2 is kept.
TEST(QcfaxReceiveStop, SigtermKeepsTheCompletedPages) {
  TempDir dir;
  std::vector<CallerPage> pages = Pages({3, 4});
  pages[1].data = EncodePage(PatternPage(4, 2000));
  Class2Script script = FastScript(fcClass2_0, pages);
  script.pageChunkBytes = 100;
  script.pageChunkMs = 50;
  PtyPair pty;
  Class2Modem modem(script);
  PtyPump pump(pty, modem);
  Qcfax qcfax({"receive", "--device", pty.DevicePath(), "--class", "2.0", "--dir", dir.Path("")});
  ASSERT_TRUE(qcfax.ReadUntil([](const std::string& out) { return out.find("Getting page data  page 2") != std::string::npos; }, 60))
      << qcfax.Out();
  qcfax.ReadUntil([](const std::string&) { return false; }, 1);
  qcfax.Signal(SIGTERM);
  const int exit = qcfax.Wait(30);
  pump.Stop();
  const std::string& out = qcfax.Out();
  EXPECT_EQ(exit, 1) << out;
  EXPECT_NE(out.find("Received (incomplete) " + dir.Path("FAX0001.APF") + "  pages 2"), std::string::npos) << out;
  EXPECT_EQ(out.substr(out.size() - 8), "Stopped\n") << out;
  const StoredFax f = ReadStoredFax(dir.Path("FAX0001.APF"));
  ASSERT_EQ(f.status, 0);
  ASSERT_EQ(f.pages.size(), 2u);
  EXPECT_EQ(f.pages[0], pages[0].data);
  ASSERT_GT(f.pages[1].size(), 0u);
  ASSERT_LT(f.pages[1].size(), pages[1].data.size());
  EXPECT_TRUE(std::equal(f.pages[1].begin(), f.pages[1].end(), pages[1].data.begin()));
}

TEST(QcfaxReceiveStop, UsageErrors) {
  Qcfax extra({"receive", "stray-operand"});
  EXPECT_EQ(extra.Wait(10), 2);
  Qcfax badClass({"receive", "--class", "3"});
  EXPECT_EQ(badClass.Wait(10), 1);
  Qcfax badRings({"receive", "--rings", "0"});
  EXPECT_EQ(badRings.Wait(10), 1);
  Qcfax noDevice({"receive", "--device", "/nonexistent/tty"});
  EXPECT_EQ(noDevice.Wait(10), 1);
}

}  // namespace
}  // namespace qc::test
