// Closing a port never hangs: not while an event procedure runs, not while
// output is stopped by flow control, not from inside an event procedure.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>
#include <thread>

#include "control/error_codes.h"
#include "port_test_util.h"

namespace qc::test {
namespace {

using PortShutdown = MemoryPortTest;

TEST_F(PortShutdown, CloseWaitsForARunningProcedureThatUsesThePort) {
  std::promise<void> entered;
  std::atomic<bool> finished{false};
  bool first = true;
  port->AttachEventProc([&](TQcComPort& p, uint16_t event, int, int32_t) {
    if (event != teAvail || !first) return;
    first = false;
    entered.set_value();
    // Keeps using the port while the close is under way.
    for (int i = 0; i < 20; ++i) {
      uint8_t b;
      p.ReadByte(b);
      p.SendText("busy");
      p.HoldEvents(false);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    finished = true;
  });
  line->Inject("ring");
  entered.get_future().wait();
  port->SetOpen(false);
  EXPECT_TRUE(finished) << "closed while the procedure still ran";
  EXPECT_FALSE(port->Open());
  EXPECT_FALSE(line->IsOpen());
}

TEST_F(PortShutdown, CloseWhileOutputIsBlockedByCtsOrXoff) {
  line->SetCts(false);
  const std::string block(8192, 'z');
  ASSERT_EQ(port->SendBlock(block.data(), block.size()), 0);
  port->SetOpen(false);
  EXPECT_FALSE(line->IsOpen());

  line->SetCts(true);
  port->SetOpen(true);
  ASSERT_EQ(port->SetXonXoff(true, true), 0);
  line->Inject(std::string{char(kXoff)} + "!");
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 1; }));
  ASSERT_EQ(port->SendBlock(block.data(), block.size()), 0);
  port->SetOpen(false);
  EXPECT_FALSE(line->IsOpen());
  EXPECT_EQ(line->WrittenSize(), 0u);
}

TEST_F(PortShutdown, CloseFromInsideAnEventProcedure) {
  std::atomic<bool> closed{false};
  port->AttachEventProc([&](TQcComPort& p, uint16_t event, int, int32_t) {
    if (event != teAvail) return;
    EXPECT_EQ(p.ClosePort(), 0);
    EXPECT_FALSE(p.Open());
    closed = true;
  });
  line->Inject("NO CARRIER\r\n");
  ASSERT_TRUE(WaitUntil([&] { return closed.load(); }));
  EXPECT_FALSE(port->Open());
  // The port opens again and works.
  ASSERT_EQ(port->OpenPort(), 0);
  ASSERT_EQ(port->SendText("ATZ\r"), 0);
  ASSERT_TRUE(line->WaitWritten(4, kPatienceMs));
}

TEST_F(PortShutdown, DestroyingAnOpenPortWithWaitersReleasesThem) {
  auto waiter = std::async(std::launch::async, [&] { return port->WaitForText("OK", 1000, true); });
  ASSERT_TRUE(WaitUntil([&] { return port->Open(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(10));
  port->SetOpen(false);
  EXPECT_FALSE(waiter.get());
}

TEST_F(PortShutdown, AThrowingProcedureDoesNotStopTheDispatcher) {
  bool first = true;
  port->AttachEventProc([&](TQcComPort&, uint16_t event, int, int32_t) {
    if (event == teAvail && first) {
      first = false;
      throw std::runtime_error("handler failed");
    }
  });
  line->Inject("a");
  ASSERT_TRUE(recorder.WaitFor(kAvailTrigger));
  line->Inject("b");
  ASSERT_TRUE(recorder.WaitFor(kAvailTrigger, 2));
}

TEST_F(PortShutdown, OpenCloseCyclesUnderTraffic) {
  line->SetLoopback(true);
  for (int round = 0; round < 20; ++round) {
    if (!port->Open()) {
      ASSERT_EQ(port->OpenPort(), 0);
    }
    port->AttachEventProc([](TQcComPort& p, uint16_t event, int, int32_t data) {
      if (event != teAvail) return;
      std::string buf(static_cast<size_t>(data), 0);
      p.ReadBlock(buf.data(), buf.size());
      p.SendBlock(buf.data(), buf.size());  // loops back: traffic until closed
    });
    ASSERT_EQ(port->SendText("loop"), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    port->SetOpen(false);
  }
}

}  // namespace
}  // namespace qc::test
