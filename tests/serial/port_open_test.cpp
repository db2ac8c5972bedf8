// Opening and closing: defaults, which device, and the open failures with
// the exceptions the windows catch.
#include <gtest/gtest.h>

#include "control/error_codes.h"
#include "control/errors.h"
#include "serial/com_port.h"
#include "serial/port_names.h"
#include "support/memory_line.h"

namespace qc::test {
namespace {

TEST(PortOpen, DefaultsOfTheDataModel) {
  TQcComPort port;
  EXPECT_EQ(port.Baud(), 19200);
  EXPECT_EQ(port.InSize(), 8192u);
  EXPECT_EQ(port.OutSize(), 8192u);
  EXPECT_EQ(port.HWFlowOptions(), hwfUseRTS | hwfRequireCTS);
  EXPECT_EQ(port.BufferFull(), 7372u);
  EXPECT_EQ(port.BufferResume(), 819u);
  EXPECT_EQ(port.TraceSize(), 32000u);
  EXPECT_EQ(port.TriggerLength(), 1);
  EXPECT_EQ(port.Tracing(), tlOff);
  EXPECT_EQ(port.Logging(), tlOff);
  EXPECT_FALSE(port.Open());
  const LineSettings s = port.GetLineSettings();
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.parity, 'N');
  EXPECT_EQ(s.stopBits, 1);
}

TEST(PortOpen, ComNumberGoesThroughTheResolver) {
  EXPECT_EQ(DefaultPortDevice(1), "/dev/ttyS0");
  EXPECT_EQ(DefaultPortDevice(6), "/dev/ttyS5");
  EXPECT_EQ(ResolvePort(0), "");
  EXPECT_EQ(ResolvePort(7), "");

  auto line = MemoryLine::Create();
  std::string asked;
  SetPortResolver([](int n) { return n == 3 ? std::string("modem-on-3") : std::string(); });
  TQcComPort port;
  port.SetDeviceFactory([&](const std::string& name, std::unique_ptr<SerialDevice>& out) {
    asked = name;
    return line->Factory()(name, out);
  });
  port.SetComNumber(3);
  EXPECT_EQ(port.ResolvedDeviceName(), "modem-on-3");
  port.SetOpen(true);
  EXPECT_EQ(asked, "modem-on-3");
  port.SetOpen(false);

  // A port the resolver does not know is a missing port.
  port.SetComNumber(4);
  EXPECT_THROW(port.SetOpen(true), EBadId);
  SetPortResolver(nullptr);
  EXPECT_EQ(ResolvePort(3), "/dev/ttyS2");

  // A device path wins over the number.
  port.SetDeviceName("by-path");
  port.SetOpen(true);
  EXPECT_EQ(asked, "by-path");
}

TEST(PortOpen, FailedOpenRaisesTheExceptionOfItsCode) {
  TQcComPort port;
  port.SetDeviceName("/dev/quillcast-no-such-port");
  try {
    port.SetOpen(true);
    FAIL() << "opened a missing device";
  } catch (const EBadId& e) {
    EXPECT_EQ(e.ErrorCode(), ecBadId);
  }
  EXPECT_FALSE(port.Open());

  auto line = MemoryLine::Create();
  port.SetDeviceFactory(line->Factory());
  line->SetOpenResult(ecHardware);
  EXPECT_THROW(port.SetOpen(true), EHardware);
  line->SetOpenResult(ecAccessDenied);
  try {
    port.SetOpen(true);
    FAIL();
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), 5);
    EXPECT_STREQ(e.what(), "File access denied");
  }
  line->SetOpenResult(0);
  port.SetOpen(true);
  EXPECT_TRUE(port.Open());
  EXPECT_EQ(port.DeviceLayer(), dlMemory);
  // Opening an open port changes nothing.
  port.SetOpen(true);
  EXPECT_EQ(line->OpenCount(), 1);
  port.SetOpen(false);
  EXPECT_FALSE(line->IsOpen());
}

TEST(PortOpen, NoPortSelected) {
  TQcComPort port;
  EXPECT_EQ(port.OpenPort(), ecNoPortSelected);
}

TEST(PortOpen, SecondComponentOnTheSameDeviceIsAlreadyOpen) {
  auto line = MemoryLine::Create();
  TQcComPort first, second;
  for (TQcComPort* p : {&first, &second}) {
    p->SetDeviceFactory(line->Factory());
    p->SetDeviceName("shared-device");
  }
  first.SetOpen(true);
  EXPECT_THROW(second.SetOpen(true), EAlreadyOpen);
  first.SetOpen(false);
  second.SetOpen(true);
  EXPECT_TRUE(second.Open());
}

TEST(PortOpen, OperationsOnAClosedPort) {
  TQcComPort port;
  EXPECT_EQ(port.SendText("AT\r"), ecCommNotOpen);
  uint8_t b;
  EXPECT_EQ(port.ReadByte(b), ecCommNotOpen);
  EXPECT_EQ(port.NewTimerTrigger(), ecCommNotOpen);
  EXPECT_FALSE(port.WaitForText("OK", 1, true));
  EXPECT_EQ(port.OutputSpace(), 8192);

  // With AutoOpen the first use opens the port.
  auto line = MemoryLine::Create();
  port.SetDeviceFactory(line->Factory());
  port.SetDeviceName("mem");
  port.SetAutoOpen(true);
  EXPECT_EQ(port.SendText("AT\r"), 0);
  EXPECT_TRUE(port.Open());
  ASSERT_TRUE(line->WaitWritten(3, 10000));
}

TEST(PortOpen, BufferSizesChangeOnlyWhileClosed) {
  auto line = MemoryLine::Create();
  TQcComPort port;
  port.SetDeviceFactory(line->Factory());
  port.SetDeviceName("mem");
  ASSERT_EQ(port.SetOutSize(16), 0);
  port.SetOpen(true);
  EXPECT_EQ(port.SetOutSize(8192), ecAlreadyOpen);
  EXPECT_EQ(port.OutputSpace(), 16);
  EXPECT_EQ(port.SendText(std::string(17, 'x')), ecOutputBufferTooSmall);
}

TEST(PortOpen, ClosingResetsTriggersAndProcedures) {
  auto line = MemoryLine::Create();
  TQcComPort port;
  port.SetDeviceFactory(line->Factory());
  port.SetDeviceName("mem");
  port.SetOpen(true);
  const int timer = port.NewTimerTrigger();
  const int proc = port.AttachEventProc([](TQcComPort&, uint16_t, int, int32_t) {});
  port.SetOpen(false);
  port.SetOpen(true);
  EXPECT_EQ(port.ArmTimerTrigger(timer, 1), ecBadTriggerHandle);
  EXPECT_EQ(port.DetachEventProc(proc), ecBadHandle);
}

}  // namespace
}  // namespace qc::test
