#include "serial/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace qc {
namespace {

TEST(Clock, TickConversionsUseIntegerDivision) {
  struct Case {
    int64_t secs, ticks;
  };
  // s * 1675 / 92 ticks
  for (const Case c : {Case{0, 0}, Case{1, 18}, Case{2, 36}, Case{30, 546}, Case{60, 1092}}) {
    EXPECT_EQ(SecsToTicks(c.secs), c.ticks) << c.secs;
  }
  // (t + 9) * 92 / 1675 seconds
  for (const Case c : {Case{0, 0}, Case{0, 9}, Case{1, 10}, Case{1, 18}, Case{2, 36}, Case{30, 546}}) {
    EXPECT_EQ(TicksToSecs(c.ticks), c.secs) << c.ticks;
  }
  // The longest duration the engine arms stays exact in 64 bits.
  EXPECT_EQ(TicksToMs(kMaxTicks), 39045157LL * 55);
  EXPECT_EQ(MsToTicks(55), 1);
  EXPECT_EQ(MsToTicks(56), 2);
}

TEST(Clock, ManualClockMovesOnlyWhenAdvanced) {
  ManualClock clock(1000);
  EXPECT_EQ(clock.NowMs(), 1000);
  clock.AdvanceTicks(2);
  EXPECT_EQ(clock.NowMs(), 1110);
  EXPECT_EQ(clock.Ticks(), 1110 / 55);

  // A sleep on a manual clock ends only when another thread has advanced it
  // far enough.
  std::atomic<bool> awake{false};
  int64_t wokeAt = 0;
  std::thread sleeper([&] {
    const int64_t start = clock.NowMs();
    clock.SleepMs(500);
    wokeAt = clock.NowMs() - start;
    awake = true;
  });
  while (!awake) {
    clock.Advance(10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sleeper.join();
  EXPECT_GE(wokeAt, 500);
}

TEST(Clock, WaitForEndsOnPredicateOrVirtualDeadline) {
  ManualClock clock;
  std::mutex mu;
  std::condition_variable cv;
  bool flag = false;
  std::thread setter([&] {
    std::lock_guard<std::mutex> lk(mu);
    flag = true;
    cv.notify_all();
  });
  {
    std::unique_lock<std::mutex> lk(mu);
    EXPECT_TRUE(clock.WaitFor(cv, lk, 1000, [&] { return flag; }));
  }
  setter.join();

  // Nothing sets the flag: the wait gives up once the clock has moved 1000 ms
  // past its start, however the advances fall.
  std::atomic<bool> done{false};
  std::thread advancer([&] {
    while (!done) {
      clock.Advance(10);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  std::unique_lock<std::mutex> lk(mu);
  const int64_t start = clock.NowMs();
  EXPECT_FALSE(clock.WaitFor(cv, lk, 1000, [] { return false; }));
  EXPECT_GE(clock.NowMs() - start, 1000);
  done = true;
  advancer.join();
}

TEST(Clock, ScaledClockRunsFasterThanRealTime) {
  ScaledClock clock(100.0);
  const auto start = std::chrono::steady_clock::now();
  clock.SleepMs(2000);  // 20 ms of real time
  const auto real = std::chrono::steady_clock::now() - start;
  EXPECT_GE(clock.NowMs(), 2000);
  EXPECT_LT(real, std::chrono::milliseconds(2000));
}

TEST(Clock, DefaultClockCanBeReplacedAndRestored) {
  auto manual = std::make_shared<ManualClock>();
  SetDefaultClock(manual);
  EXPECT_EQ(DefaultClock(), manual);
  SetDefaultClock(nullptr);
  EXPECT_EQ(DefaultClock(), SystemClock());
}

}  // namespace
}  // namespace qc
