// Software flow control, line signals, baud switching and a hang-up on an
// in-memory line.
#include <gtest/gtest.h>

#include <thread>

#include "control/error_codes.h"
#include "port_test_util.h"

namespace qc::test {
namespace {

using PortFlow = MemoryPortTest;

TEST_F(PortFlow, ObeysXoffWhileSending) {
  ASSERT_EQ(port->SetXonXoff(true, false), 0);
  // XOFF, then a data byte: once the byte is in, the XOFF has been seen.
  line->Inject(std::string{char(kXoff)} + "A");
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 1; }));
  ASSERT_EQ(port->SendText("held back"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(line->WrittenSize(), 0u) << "sent while the far end said XOFF";
  EXPECT_EQ(port->OutputWaiting(), 9);

  line->Inject(std::string{char(kXon)} + "B");
  ASSERT_TRUE(line->WaitWritten(9, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), "held back");
  // XON and XOFF are flow control, not data.
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 2; }));
  char buf[4] = {};
  EXPECT_EQ(port->ReadBlock(buf, sizeof buf), 2);
  EXPECT_STREQ(buf, "AB");
}

TEST_F(PortFlow, WithoutXonXoffTheBytesAreData) {
  line->Inject(std::string{char(kXoff), char(kXon)});
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 2; }));
  ASSERT_EQ(port->SendText("go"), 0);
  ASSERT_TRUE(line->WaitWritten(2, kPatienceMs));
}

TEST_F(PortFlow, SendsXoffAtBufferFullAndXonAtBufferResume) {
  ASSERT_EQ(port->SetXonXoff(false, true), 0);
  ASSERT_EQ(port->BufferFull(), 7372u);
  ASSERT_EQ(port->BufferResume(), 819u);

  line->Inject(std::string(7371, 'd'));
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 7371; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(line->WrittenSize(), 0u) << "XOFF below BufferFull";

  line->Inject("d");
  ASSERT_TRUE(line->WaitWritten(1, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), std::string{char(kXoff)});

  // Input keeps being buffered up to InSize, without a second XOFF.
  line->Inject(std::string(820, 'e'));
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 8192; }));

  std::string sink(8192 - 820, 0);
  ASSERT_EQ(port->ReadBlock(sink.data(), sink.size()), 8192 - 820);
  // 820 wait: above BufferResume, still stopped.
  ASSERT_EQ(port->InputWaiting(), 820);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(line->WrittenSize(), 0u) << "XON above BufferResume";
  ASSERT_EQ(port->ReadBlock(sink.data(), 1), 1);  // 819 wait now
  ASSERT_TRUE(line->WaitWritten(1, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), std::string{char(kXon)});
}

TEST_F(PortFlow, ClearXonXoffReleasesAFarEndWeStopped) {
  ASSERT_EQ(port->SetXonXoff(false, true), 0);
  line->Inject(std::string(7372, 'd'));
  ASSERT_TRUE(line->WaitWritten(1, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), std::string{char(kXoff)});
  ASSERT_EQ(port->ClearXonXoff(), 0);
  ASSERT_TRUE(line->WaitWritten(1, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), std::string{char(kXon)});
}

TEST_F(PortFlow, LineSignalsAndCarrier) {
  EXPECT_TRUE(line->Dtr());  // raised on opening
  EXPECT_TRUE(line->Rts());
  ASSERT_EQ(port->SetLineSignals(false, true), 0);
  EXPECT_FALSE(line->Dtr());
  EXPECT_TRUE(line->Rts());
  EXPECT_FALSE(port->CarrierPresent());
  line->SetDcd(true);
  EXPECT_TRUE(port->CarrierPresent());

  // A line without modem-control lines (a pseudo-terminal): nothing happens,
  // no error, no carrier.
  line->SetModemLines(false);
  EXPECT_EQ(port->SetLineSignals(true, true), 0);
  EXPECT_FALSE(port->CarrierPresent());
  EXPECT_EQ(port->ModemStatus(), 0);
}

TEST_F(PortFlow, SwitchBaudChangesOnlyTheBaud) {
  ASSERT_EQ(line->Baud(), 19200);
  ASSERT_TRUE(line->HardwareFlow());
  ASSERT_EQ(port->SwitchBaud(9600), 0);
  EXPECT_EQ(line->Baud(), 9600);
  EXPECT_TRUE(line->HardwareFlow());
  const LineSettings s = port->GetLineSettings();
  EXPECT_EQ(s.baud, 9600);
  EXPECT_EQ(s.dataBits, 8);
  EXPECT_EQ(s.parity, 'N');
  EXPECT_EQ(s.stopBits, 1);
  for (int bad : {0, 300, 14400, 230400}) EXPECT_EQ(port->SwitchBaud(bad), ecBaudRate) << bad;
  EXPECT_EQ(port->Baud(), 9600);
}

TEST_F(PortFlow, DiscardDropsQueuedBytesBothWays) {
  line->SetCts(false);
  ASSERT_EQ(port->SendText("never sent"), 0);
  ASSERT_EQ(port->DiscardOutput(), 0);
  EXPECT_EQ(port->OutputWaiting(), 0);
  line->Inject("stale");
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 5; }));
  ASSERT_EQ(port->DiscardInput(), 0);
  EXPECT_EQ(port->InputWaiting(), 0);
  line->SetCts(true);
  ASSERT_EQ(port->SendText("fresh"), 0);
  ASSERT_TRUE(line->WaitWritten(5, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), "fresh");
}

TEST_F(PortFlow, HangUpDropsCarrierAndPendingOutput) {
  line->SetDcd(true);
  const int carrier = port->NewStatusTrigger(stModemStatus);
  ASSERT_EQ(port->ArmStatusTrigger(carrier, msDCD), 0);
  line->Inject("NO CARRIER");
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 10; }));
  line->SetFarCapacity(1);  // the far end stops taking bytes
  const std::string data(2000, 'p');
  ASSERT_EQ(port->SendBlock(data.data(), data.size()), 0);

  line->HangUp();
  ASSERT_TRUE(recorder.WaitFor(carrier));
  EXPECT_FALSE(port->CarrierPresent());
  // What could no longer be written is dropped, so a wait for the queue to
  // drain ends; input that came before the hang-up is still there.
  ASSERT_TRUE(WaitUntil([&] { return port->OutputWaiting() == 0; }));
  EXPECT_EQ(port->InputWaiting(), 10);
  EXPECT_TRUE(port->Open());
}

}  // namespace
}  // namespace qc::test
