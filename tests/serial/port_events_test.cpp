// Triggers, event procedures, HoldEvents and WaitForText on an in-memory line.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "control/error_codes.h"
#include "port_test_util.h"

namespace qc::test {
namespace {

using PortEvents = MemoryPortTest;

TEST_F(PortEvents, AvailFiresWhenTriggerLengthBytesWait) {
  ASSERT_EQ(port->SetTriggerLength(4), 0);
  line->Inject("abc");
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 3; }));
  Sync();
  EXPECT_EQ(recorder.Count(kAvailTrigger), 0u) << "3 of 4 bytes must not raise avail";

  line->Inject("d");
  ASSERT_TRUE(recorder.WaitFor(kAvailTrigger));
  const RecordedEvent e = recorder.Last(kAvailTrigger);
  EXPECT_EQ(e.event, teAvail);
  EXPECT_EQ(e.data, 4);

  // No new input, no new avail, however long the bytes wait.
  clock->AdvanceTicks(100);
  Sync();
  EXPECT_EQ(recorder.Count(kAvailTrigger), 1u);

  // Bytes read back in arrival order.
  char buf[8] = {};
  EXPECT_EQ(port->ReadBlock(buf, sizeof buf), 4);
  EXPECT_STREQ(buf, "abcd");
  uint8_t b;
  EXPECT_EQ(port->ReadByte(b), ecBufferIsEmpty);
}

TEST_F(PortEvents, TimerFiresOnceAfterItsTicks) {
  const int timer = port->NewTimerTrigger();
  ASSERT_GT(timer, 0);
  ASSERT_EQ(port->ArmTimerTrigger(timer, 10), 0);

  clock->AdvanceTicks(9);
  Sync();
  EXPECT_EQ(recorder.Count(timer), 0u);

  clock->AdvanceTicks(1);
  ASSERT_TRUE(recorder.WaitFor(timer));
  EXPECT_EQ(recorder.Last(timer).event, teTimer);

  clock->AdvanceTicks(1000);
  Sync();
  EXPECT_EQ(recorder.Count(timer), 1u) << "a timer is one-shot";

  // Re-armed it fires again; disarmed it does not.
  ASSERT_EQ(port->ArmTimerTrigger(timer, 2), 0);
  ASSERT_EQ(port->ArmTimerTrigger(timer, 2, false), 0);
  clock->AdvanceTicks(5);
  Sync();
  EXPECT_EQ(recorder.Count(timer), 1u);
  ASSERT_EQ(port->ArmTimerTrigger(timer, 2), 0);
  clock->AdvanceTicks(2);
  ASSERT_TRUE(recorder.WaitFor(timer, 2));
}

TEST_F(PortEvents, OutbuffFreeAndUsedFireAtTheirThresholds) {
  // CTS down holds the queue where it is.
  line->SetCts(false);
  const std::string block(4096, 'x');
  ASSERT_EQ(port->SendBlock(block.data(), block.size()), 0);
  ASSERT_EQ(port->OutputWaiting(), 4096);
  ASSERT_EQ(port->OutputSpace(), 8192 - 4096);

  const int freeAt = port->NewStatusTrigger(stOutbuffFree);
  const int freeAbove = port->NewStatusTrigger(stOutbuffFree);
  const int usedAt = port->NewStatusTrigger(stOutbuffUsed);
  const int usedBelow = port->NewStatusTrigger(stOutbuffUsed);
  for (int h : {freeAt, freeAbove, usedAt, usedBelow}) ASSERT_GT(h, 0);
  ASSERT_EQ(port->ArmStatusTrigger(freeAt, 4096), 0);
  ASSERT_EQ(port->ArmStatusTrigger(freeAbove, 4097), 0);
  ASSERT_EQ(port->ArmStatusTrigger(usedAt, 4096), 0);
  ASSERT_EQ(port->ArmStatusTrigger(usedBelow, 4095), 0);

  ASSERT_TRUE(recorder.WaitFor(freeAt));
  ASSERT_TRUE(recorder.WaitFor(usedAt));
  Sync();
  EXPECT_EQ(recorder.Count(freeAbove), 0u);
  EXPECT_EQ(recorder.Count(usedBelow), 0u);
  EXPECT_EQ(recorder.Last(freeAt).event, teStatus);
  EXPECT_EQ(recorder.Last(freeAt).data, 4096);
  EXPECT_EQ(recorder.Last(usedAt).data, 4096);

  line->SetCts(true);
  ASSERT_TRUE(recorder.WaitFor(freeAbove));
  ASSERT_TRUE(recorder.WaitFor(usedBelow));
  ASSERT_TRUE(line->WaitWritten(4096, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), block);
  // Each fired once.
  Sync();
  for (int h : {freeAt, freeAbove, usedAt, usedBelow}) EXPECT_EQ(recorder.Count(h), 1u);
}

TEST_F(PortEvents, OutSentAndModemStatusTriggers) {
  const int sent = port->NewStatusTrigger(stOutSent);
  const int carrier = port->NewStatusTrigger(stModemStatus);
  ASSERT_EQ(port->ArmStatusTrigger(sent, 0), 0);
  ASSERT_EQ(port->ArmStatusTrigger(carrier, msDCD), 0);
  Sync();
  EXPECT_EQ(recorder.Count(sent), 0u);
  EXPECT_EQ(recorder.Count(carrier), 0u);

  ASSERT_EQ(port->SendText("AT\r"), 0);
  ASSERT_TRUE(recorder.WaitFor(sent));
  line->SetDcd(true);
  ASSERT_TRUE(recorder.WaitFor(carrier));
  EXPECT_TRUE(recorder.Last(carrier).data & msDCD);
  EXPECT_TRUE(port->CarrierPresent());
}

TEST_F(PortEvents, LineErrorTriggerReportsTheErrorsOfItsMask) {
  const int errors = port->NewStatusTrigger(stLineError);
  ASSERT_EQ(port->ArmStatusTrigger(errors, leFraming | leOverrun), 0);
  line->AddLineErrors(leParity);
  Sync();
  EXPECT_EQ(recorder.Count(errors), 0u);
  line->AddLineErrors(leFraming);
  ASSERT_TRUE(recorder.WaitFor(errors));
  EXPECT_EQ(recorder.Last(errors).data, leFraming);
}

TEST_F(PortEvents, WaitForTextInsideAnEventProcedureStillSeesInput) {
  std::promise<bool> result;
  bool first = true;
  port->AttachEventProc([&](TQcComPort& p, uint16_t event, int, int32_t) {
    if (event != teAvail || !first) return;
    first = false;
    p.SendText("AT\r");
    result.set_value(p.WaitForText("OK", kPatienceTicks, true));
  });
  line->Inject("RING\r\n");
  ASSERT_TRUE(line->WaitWritten(3, kPatienceMs));
  line->Inject("\r\nOK\r\n");
  EXPECT_TRUE(result.get_future().get());
}

TEST_F(PortEvents, EleventhTriggerOfAKindIsRefused) {
  // The fixture's probe is the first timer.
  for (int i = 1; i < kMaxTriggersPerKind; ++i) ASSERT_GT(port->NewTimerTrigger(), 0);
  EXPECT_EQ(port->NewTimerTrigger(), ecNoMoreTriggers);

  int last = 0;
  for (int i = 0; i < kMaxTriggersPerKind; ++i) {
    last = port->NewStatusTrigger(i % 2 ? stOutbuffFree : stOutbuffUsed);
    ASSERT_GT(last, 0);
  }
  EXPECT_EQ(port->NewStatusTrigger(stOutSent), ecNoMoreTriggers);

  // A freed slot can be taken again; a freed handle is no longer valid.
  ASSERT_EQ(port->FreeTrigger(last), 0);
  EXPECT_EQ(port->FreeTrigger(last), ecBadTriggerHandle);
  EXPECT_EQ(port->ArmStatusTrigger(last, 1), ecBadTriggerHandle);
  EXPECT_EQ(port->NewStatusTrigger(stOutSent), last);
}

TEST_F(PortEvents, BlockLargerThanFreeSpaceIsRefusedWhole) {
  line->SetCts(false);
  const std::string big(8000, 'a');
  ASSERT_EQ(port->SendBlock(big.data(), big.size()), 0);
  const std::string more(193, 'b');
  EXPECT_EQ(port->SendBlock(more.data(), more.size()), ecOutputBufferTooSmall);
  EXPECT_EQ(port->SendText(more), ecOutputBufferTooSmall);
  EXPECT_EQ(port->OutputWaiting(), 8000);
  EXPECT_EQ(port->SendBlock(more.data(), 192), 0);
  EXPECT_EQ(port->OutputSpace(), 0);
  EXPECT_EQ(port->SendByte('c'), ecOutputBufferTooSmall);

  line->SetCts(true);
  ASSERT_TRUE(line->WaitWritten(8192, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), big + more.substr(0, 192));
}

TEST_F(PortEvents, HoldEventsStopsProceduresAndReturnsPreviousState) {
  const int timer = port->NewTimerTrigger();
  EXPECT_FALSE(port->HoldEvents(true));
  EXPECT_TRUE(port->HoldEvents(true));

  line->Inject("OK");
  ASSERT_EQ(port->ArmTimerTrigger(timer, 1), 0);
  clock->AdvanceTicks(1);
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 2; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(recorder.Events().empty()) << "no event while held";

  // Released, what became due while held is delivered.
  EXPECT_TRUE(port->HoldEvents(false));
  ASSERT_TRUE(recorder.WaitFor(kAvailTrigger));
  ASSERT_TRUE(recorder.WaitFor(timer));
  EXPECT_FALSE(port->HoldEvents(false));
}

TEST_F(PortEvents, HoldEventsWaitsForARunningProcedure) {
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> procDone{false};
  bool first = true;
  port->AttachEventProc([&](TQcComPort&, uint16_t event, int, int32_t) {
    if (event != teAvail || !first) return;
    first = false;
    entered.set_value();
    released.wait();
    procDone = true;
  });
  line->Inject("x");
  entered.get_future().wait();

  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    release.set_value();
  });
  port->HoldEvents(true);
  EXPECT_TRUE(procDone) << "HoldEvents returned while an event procedure ran";
  releaser.join();
}

TEST_F(PortEvents, ProceduresMayDetachThemselvesAndUseThePort) {
  int id = 0;
  std::atomic<int> calls{0};
  std::atomic<bool> detached{false};
  id = port->AttachEventProc([&](TQcComPort& p, uint16_t event, int, int32_t) {
    if (event != teAvail) return;
    ++calls;
    uint8_t b;
    while (p.ReadByte(b) == 0) p.SendByte(b);  // echo from inside the event
    p.DetachEventProc(id);
    detached = true;
  });
  ASSERT_GT(id, 0);
  line->Inject("ping");
  ASSERT_TRUE(WaitUntil([&] { return detached.load(); }));
  ASSERT_TRUE(line->WaitWritten(4, kPatienceMs));
  EXPECT_EQ(line->TakeWritten(), "ping");
  line->Inject("more");
  ASSERT_TRUE(recorder.WaitFor(kAvailTrigger, 2));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(port->InputWaiting(), 4);
  EXPECT_EQ(port->DetachEventProc(id), ecBadHandle);
}

TEST_F(PortEvents, WaitForTextIgnoresCaseAndGivesUpAfterItsTicks) {
  auto wait = [&](std::string text, int ticks, bool ignoreCase) {
    return std::async(std::launch::async, [=, this] { return port->WaitForText(text, ticks, ignoreCase); });
  };

  auto found = wait("OK", 36, true);
  line->Inject("AT\r\r\nok\r\n");
  EXPECT_TRUE(found.get());
  // The text and what came before it are consumed, the rest stays.
  EXPECT_EQ(port->InputWaiting(), 2);
  port->DiscardInput();

  // Case matters without ignoreCase: "ok" is not "OK". The wait ends only
  // when its 18 ticks have passed on the port's clock, counted from when it
  // began, which is no earlier than now.
  line->Inject("\r\nok\r\n");
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 6; }));
  auto strict = wait("OK", 18, false);
  int64_t endedAt = -1;
  const int64_t start = clock->NowMs();
  while (endedAt < 0) {
    if (strict.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready) {
      endedAt = clock->NowMs();
    } else {
      clock->Advance(5);
    }
  }
  EXPECT_FALSE(strict.get());
  EXPECT_GE(endedAt - start, 18 * kTickMs);
  EXPECT_EQ(port->InputWaiting(), 0);

  // Text split across arrivals is still found.
  line->Inject("\r\nCON");
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 5; }));
  auto split = wait("CONNECT", 100, true);
  ASSERT_TRUE(WaitUntil([&] { return port->InputWaiting() == 0; }));  // the wait has read "CON"
  line->Inject("NECT 9600\r\n");
  EXPECT_TRUE(split.get());
}

TEST_F(PortEvents, TagsHoldOnePointerPerSlot) {
  int a = 0, b = 0;
  EXPECT_EQ(port->SetPortTag(2, &a), 0);
  EXPECT_EQ(port->SetPortTag(10, &b), 0);
  EXPECT_EQ(port->GetPortTag(2), &a);
  EXPECT_EQ(port->GetPortTag(10), &b);
  EXPECT_EQ(port->GetPortTag(1), nullptr);
  EXPECT_EQ(port->SetPortTag(0, &a), ecBadArgument);
  EXPECT_EQ(port->SetPortTag(11, &a), ecBadArgument);
  EXPECT_EQ(port->GetPortTag(11), nullptr);
}

}  // namespace
}  // namespace qc::test
