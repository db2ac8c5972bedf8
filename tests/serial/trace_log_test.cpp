// The trace and dispatch-log files, byte for byte, and their switches.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "control/error_codes.h"
#include "port_test_util.h"
#include "serial/com_port.h"
#include "support/fake_modem.h"
#include "support/pty_pair.h"

namespace qc::test {
namespace {

namespace fs = std::filesystem;

class TraceFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() /
             ("qc-trace-" + std::to_string(getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder);
    port.SetTraceName((folder / "QCTEST.TRC").string());
    port.SetLogName((folder / "QCTEST.LOG").string());
  }
  void TearDown() override {
    port.ClosePort();
    fs::remove_all(folder);
  }

  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string TraceFile() const { return Read(folder / "QCTEST.TRC"); }
  std::string LogFile() const { return Read(folder / "QCTEST.LOG"); }

  void UseMemoryLine() {
    port.SetDeviceFactory(line->Factory());
    port.SetDeviceName("mem");
  }

  fs::path folder;
  std::shared_ptr<MemoryLine> line = MemoryLine::Create("mem");
  TQcComPort port;
};

TEST_F(TraceFiles, TraceOfAShortExchangeByteForByte) {
  const std::string longCommand = "AT+FLID=" + std::string(58, 'Q');  // ends at column 76
  std::string ident;
  for (int i = 0; i < 7; ++i) ident += "ABCDEFGHIJ";  // 70 characters
  PtyPair pty;
  ScriptedModem modem(pty, {
                               Exchange("ATZ", {"OK"}),
                               Exchange(longCommand, {"OK"}),
                               Exchange("ATI3", {ident, "OK"}),
                           });
  modem.Start();
  port.SetDeviceName(pty.DevicePath());
  ASSERT_EQ(port.SetTracing(tlOn), 0);  // closed: starts with the opening
  port.SetOpen(true);
  for (const std::string& command : {std::string("ATZ"), longCommand, std::string("ATI3")}) {
    ASSERT_EQ(port.SendText(command + "\r"), 0);
    ASSERT_TRUE(port.WaitForText("OK\r\n", kPatienceTicks, false)) << command;
  }
  ASSERT_TRUE(modem.WaitDone(kPatienceMs)) << modem.Failure();
  port.SetOpen(false);

  const std::string expected =
      "Transmit: ATZ[0D]\n"
      "Receive: [0D][0A]OK[0D][0A]\n"
      "Transmit: AT+FLID=QQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQQ\n"
      "[0D]\n"
      "Receive: [0D][0A]OK[0D][0A]\n"
      "Transmit: ATI3[0D]\n"
      "Receive: [0D][0A]ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJA\n"
      "BCDEFGHIJ[0D][0A][0D][0A]OK[0D][0A]\n";
  EXPECT_EQ(TraceFile(), expected);
  // Written as a dump when the port closed; still on for the next opening.
  EXPECT_EQ(port.Tracing(), tlOn);
}

TEST_F(TraceFiles, ClosedPortRule) {
  struct Case {
    TTraceLogState set, result;
  };
  for (const Case c : {Case{tlOn, tlOn}, Case{tlDump, tlOff}, Case{tlOn, tlOn}, Case{tlAppend, tlOff},
                       Case{tlOn, tlOn}, Case{tlClear, tlOff}, Case{tlOn, tlOn}, Case{tlPause, tlOff},
                       Case{tlOn, tlOn}, Case{tlOff, tlOff}}) {
    EXPECT_EQ(port.SetTracing(c.set), 0);
    EXPECT_EQ(port.Tracing(), c.result) << c.set;
    EXPECT_EQ(port.SetLogging(c.set), 0);
    EXPECT_EQ(port.Logging(), c.result) << c.set;
  }
  // Switched off while closed: nothing is written at the close.
  UseMemoryLine();
  port.SetOpen(true);
  port.SendText("x");
  port.SetOpen(false);
  EXPECT_FALSE(fs::exists(folder / "QCTEST.TRC"));
  EXPECT_FALSE(fs::exists(folder / "QCTEST.LOG"));
}

TEST_F(TraceFiles, SwitchesOnAnOpenPort) {
  UseMemoryLine();
  port.SetOpen(true);
  EXPECT_EQ(port.SetTracing(tlDump), ecTracingNotEnabled);
  EXPECT_EQ(port.SetLogging(tlPause), ecLoggingNotEnabled);

  ASSERT_EQ(port.SetTracing(tlOn), 0);
  port.SendText("A");
  ASSERT_EQ(port.SetTracing(tlPause), 0);
  EXPECT_EQ(port.Tracing(), tlPause);
  port.SendText("B");  // not recorded
  ASSERT_EQ(port.SetTracing(tlOn), 0);  // resumes, keeps "A"
  port.SendText("C");
  ASSERT_EQ(port.SetTracing(tlDump), 0);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_EQ(TraceFile(), "Transmit: AC\n");

  ASSERT_EQ(port.SetTracing(tlOn), 0);
  port.SendText("D");
  ASSERT_EQ(port.SetTracing(tlAppend), 0);
  EXPECT_EQ(TraceFile(), "Transmit: AC\nTransmit: D\n");

  ASSERT_EQ(port.SetTracing(tlOn), 0);
  port.SendText("E");
  ASSERT_EQ(port.SetTracing(tlClear), 0);
  EXPECT_EQ(port.Tracing(), tlOn);
  port.SendText("F");
  port.SetOpen(false);  // the close replaces the file
  EXPECT_EQ(TraceFile(), "Transmit: F\n");
  EXPECT_EQ(port.Tracing(), tlOn);

  // Paused at the close: written, then off.
  port.SetOpen(true);
  port.SendText("G");
  ASSERT_EQ(port.SetTracing(tlPause), 0);
  port.SetOpen(false);
  EXPECT_EQ(TraceFile(), "Transmit: G\n");
  EXPECT_EQ(port.Tracing(), tlOff);
}

TEST_F(TraceFiles, TraceKeepsTheLastTraceSizeBytes) {
  UseMemoryLine();
  port.SetTraceSize(4);
  port.SetTracing(tlOn);
  port.SetOpen(true);
  port.SendText("ABCDEF");
  port.SetOpen(false);
  EXPECT_EQ(TraceFile(), "Transmit: CDEF\n");
}

TEST_F(TraceFiles, DispatchLogByteForByte) {
  UseMemoryLine();
  auto clock = std::make_shared<ManualClock>(123456);
  port.SetClock(clock);
  port.SetLogging(tlOn);
  port.SetOpen(true);
  EventRecorder recorder;
  port.AttachEventProc(recorder.Proc());
  const int timer = port.NewTimerTrigger();
  ASSERT_EQ(timer, 257);
  ASSERT_EQ(port.ArmTimerTrigger(timer, 5), 0);
  clock->AdvanceTicks(5);
  ASSERT_TRUE(recorder.WaitFor(timer));
  line->Inject("OK");
  ASSERT_TRUE(recorder.WaitFor(kAvailTrigger));
  clock->Advance(1);
  ASSERT_EQ(port.SendText("AT"), 0);
  ASSERT_TRUE(line->WaitWritten(2, kPatienceMs));
  // WriteCom is logged when the written bytes leave the queue.
  for (int i = 0; i < kPatienceMs && port.OutputWaiting() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_EQ(port.OutputWaiting(), 0);
  clock->Advance(12000);
  port.SetOpen(false);

  EXPECT_EQ(LogFile(),
            "Time      Type      SubType       Data  OtherData\n"
            "0.000     Device    Open          19200 mem\n"
            "0.275     Trigger   Timer         257\n"
            "0.275     Dispatch  ReadCom       2\n"
            "0.275     Trigger   Avail         0     2\n"
            "0.276     Dispatch  WriteCom      2\n"
            "12.276    Device    Close         0\n");
}

}  // namespace
}  // namespace qc::test
