// The termios device over real pseudo-terminals: bulk transfer both ways,
// device locking, and the scripted fake modem.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <random>
#include <thread>

#include "control/error_codes.h"
#include "control/errors.h"
#include "port_test_util.h"
#include "serial/com_port.h"
#include "support/fake_modem.h"
#include "support/pty_pair.h"

namespace qc::test {
namespace {

std::string Pattern(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(size, 0);
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Non-blocking master I/O, each direction on its own thread.
void WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, std::min<size_t>(4096, data.size() - done));
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    }
  }
}

std::string ReadExactly(int fd, size_t size) {
  std::string data;
  char buf[4096];
  while (data.size() < size) {
    const ssize_t n = read(fd, buf, std::min(sizeof buf, size - data.size()));
    if (n > 0) {
      data.append(buf, static_cast<size_t>(n));
    } else {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, 100);
    }
  }
  return data;
}

TEST(PortPty, MegabyteBothWaysAtOnceArrivesCompleteAndInOrder) {
  constexpr size_t kSize = 1 << 20;
  const std::string toModem = Pattern(kSize, 1);
  const std::string toPort = Pattern(kSize, 2);
  PtyPair pty;
  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  port.SetBaud(115200);
  port.SetOpen(true);
  EXPECT_EQ(port.DeviceLayer(), dlTermios);

  std::string atModem;
  std::thread modemReader([&] { atModem = ReadExactly(pty.MasterFd(), kSize); });
  std::thread modemWriter([&] { WriteAll(pty.MasterFd(), toPort); });
  std::thread portWriter([&] {
    size_t done = 0;
    while (done < kSize) {
      const size_t n = std::min<size_t>(static_cast<size_t>(port.OutputSpace()), kSize - done);
      if (n > 0 && port.SendBlock(toModem.data() + done, n) == 0) {
        done += n;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  });
  std::string atPort;
  std::vector<char> buf(8192);
  while (atPort.size() < kSize) {
    const int n = port.ReadBlock(buf.data(), buf.size());
    ASSERT_GE(n, 0);
    if (n > 0) {
      atPort.append(buf.data(), static_cast<size_t>(n));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  portWriter.join();
  modemWriter.join();
  modemReader.join();
  EXPECT_TRUE(atPort == toPort) << "port side received wrong bytes";
  EXPECT_TRUE(atModem == toModem) << "modem side received wrong bytes";
  port.SetOpen(false);
}

TEST(PortPty, DeviceHeldByAnotherProcessIsInUse) {
  PtyPair pty;
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Another program holding the modem: only async-signal-safe calls here.
    const int fd = open(pty.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    const char ok = (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) ? 'y' : 'n';
    [[maybe_unused]] ssize_t w = write(ready[1], &ok, 1);
    char c;
    [[maybe_unused]] ssize_t r = read(release[0], &c, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');

  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  try {
    port.SetOpen(true);
    ADD_FAILURE() << "opened a device another process holds";
  } catch (const EHardware& e) {
    EXPECT_EQ(e.ErrorCode(), ecHardware);
  }

  ASSERT_EQ(write(release[1], "x", 1), 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  port.SetOpen(true);
  EXPECT_TRUE(port.Open());
}

TEST(PortPty, LiveLockFileMakesTheDeviceInUse) {
  PtyPair pty;
  const auto folder = std::filesystem::temp_directory_path() / ("qc-lock-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  SetLockFileFolder(folder.string());
  const std::string base = std::filesystem::path(pty.DevicePath()).filename().string();
  const auto lockFile = folder / ("LCK.." + base);

  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  struct Case {
    long pid;
    bool inUse;
  };
  // Our parent is alive; pid 0 and our own pid never hold anything; a
  // negative or absurd pid is stale.
  for (const Case c : {Case{static_cast<long>(getppid()), true}, Case{0, false},
                       Case{static_cast<long>(getpid()), false}, Case{4194303 + 1000, false}}) {
    {
      std::ofstream out(lockFile);
      char text[16];
      std::snprintf(text, sizeof text, "%10ld\n", c.pid);
      out << text;
    }
    EXPECT_EQ(port.OpenPort(), c.inUse ? ecHardware : ecOK) << c.pid;
    port.ClosePort();
  }
  SetLockFileFolder("/var/lock");
  std::filesystem::remove_all(folder);
}

TEST(PortPty, PermissionDeniedIsFileAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens any device";
  PtyPair pty;
  ASSERT_EQ(chmod(pty.DevicePath().c_str(), 0), 0);
  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  EXPECT_EQ(port.OpenPort(), ecAccessDenied);
}

TEST(PortPty, ModemControlIsANoOpOnAPseudoTerminal) {
  PtyPair pty;
  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  port.SetOpen(true);
  EXPECT_EQ(port.SetLineSignals(false, false), 0);
  EXPECT_EQ(port.SetLineSignals(true, true), 0);
  EXPECT_FALSE(port.CarrierPresent());
  EXPECT_EQ(port.SwitchBaud(9600), 0);
  EXPECT_EQ(port.Baud(), 9600);
}

TEST(PortPty, ReopensAfterClose) {
  PtyPair pty;
  ModemLink link(pty);
  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  for (int round = 0; round < 3; ++round) {
    port.SetOpen(true);
    ASSERT_EQ(port.SendText("AT\r"), 0);
    EXPECT_EQ(link.ReadCommand(kPatienceMs).value_or("?"), "AT");
    port.SetOpen(false);
  }
}

TEST(PortPty, ScriptedModemDialogueWithPageData) {
  PtyPair pty;
  ScriptedModem modem(pty, {
                               Exchange("ATZ", {"OK"}),
                               Exchange("AT+FCLASS=?", {"0,1,2", "OK"}, 20),
                               Exchange("AT+FDT", {"CONNECT"}),
                               CaptureUntilDleEtx("page"),
                               Reply({"OK"}, 10),
                               // A hang-up flushes what the port has not read yet:
                               // hang up only once the port has had its OK.
                               Expect("ATH"),
                               HangUp(),
                           });
  modem.Start();
  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  port.SetOpen(true);
  ASSERT_EQ(port.SendText("ATZ\r"), 0);
  ASSERT_TRUE(port.WaitForText("OK", kPatienceTicks, true));
  ASSERT_EQ(port.SendText("AT+FCLASS=?\r"), 0);
  ASSERT_TRUE(port.WaitForText("0,1,2", kPatienceTicks, false));
  ASSERT_TRUE(port.WaitForText("OK", kPatienceTicks, false));
  ASSERT_EQ(port.SendText("AT+FDT\r"), 0);
  ASSERT_TRUE(port.WaitForText("CONNECT\r\n", kPatienceTicks, false));
  // Page data with a DLE in it, doubled on the line, then DLE ETX.
  const std::string page = std::string("\x01\x10\x10\x02", 4);
  ASSERT_EQ(port.SendBlock(page.data(), page.size()), 0);
  ASSERT_EQ(port.SendText("\x10\x03"), 0);
  ASSERT_TRUE(port.WaitForText("OK", kPatienceTicks, false));
  ASSERT_EQ(port.SendText("ATH\r"), 0);
  ASSERT_TRUE(modem.WaitDone(kPatienceMs)) << modem.Failure();
  EXPECT_EQ(modem.Captured("page"), page);
  EXPECT_EQ(ModemLink::Unstuff(modem.Captured("page")), std::string("\x01\x10\x02", 3));
  EXPECT_EQ(modem.Commands(), (std::vector<std::string>{"ATZ", "AT+FCLASS=?", "AT+FDT", "ATH"}));
  // The line has gone; the port carries on and closes cleanly.
  ASSERT_EQ(port.SendText("AT\r"), 0);
  port.SetOpen(false);
}

TEST(PortPty, ScriptedModemReportsAnUnexpectedCommand) {
  PtyPair pty;
  ScriptedModem modem(pty, {Exchange("ATZ", {"OK"}), Exchange("ATE0", {"OK"})});
  modem.Start();
  TQcComPort port;
  port.SetDeviceName(pty.DevicePath());
  port.SetOpen(true);
  ASSERT_EQ(port.SendText("ATZ\rATE1\r"), 0);
  EXPECT_FALSE(modem.WaitDone(kPatienceMs));
  EXPECT_TRUE(modem.Done());
  EXPECT_EQ(modem.Failure(), "step 2: expected \"ATE0\", got \"ATE1\"");
}

}  // namespace
}  // namespace qc::test
