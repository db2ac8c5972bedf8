// The tick clock of the serial layer and the fax engine.
//
// Time-outs are counted in ticks of 55 ms; waits inside one step in
// milliseconds. Every timed wait of the layer goes through a Clock so that a
// test can run a slow dialogue faster than real time (ScaledClock) or step
// time by hand (ManualClock).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

namespace qc {

constexpr int64_t kTickMs = 55;
// The longest duration the engine arms; longer ones are clipped to it.
constexpr int64_t kMaxTicks = 39045157;

// s seconds are s * 1675 / 92 ticks (integer division).
constexpr int64_t SecsToTicks(int64_t secs) { return secs * 1675 / 92; }
// t ticks are (t + 9) * 92 / 1675 seconds (integer division).
constexpr int64_t TicksToSecs(int64_t ticks) { return (ticks + 9) * 92 / 1675; }
constexpr int64_t TicksToMs(int64_t ticks) { return ticks * kTickMs; }
// Rounded up, so that waiting the result never ends early.
constexpr int64_t MsToTicks(int64_t ms) { return (ms + kTickMs - 1) / kTickMs; }

// A monotonic clock in (possibly virtual) milliseconds. Implementations must be
// safe to call from any thread.
class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since an arbitrary start; never goes backwards.
  virtual int64_t NowMs() const = 0;
  // How long to block in real time while waiting for at most `virtualMs` of
  // this clock's time; callers re-check NowMs() afterwards, so a clock may
  // return a shorter slice (ManualClock polls).
  virtual std::chrono::microseconds RealDelay(int64_t virtualMs) const = 0;

  int64_t Ticks() const { return NowMs() / kTickMs; }

  // Blocks the calling thread for `ms` of this clock's time.
  void SleepMs(int64_t ms) const;

  // Waits on `cv` until `pred()` holds or `virtualMs` of this clock's time have
  // passed; returns pred(). `lock` must hold the mutex that guards the state
  // `pred` reads.
  template <class Pred>
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               int64_t virtualMs, Pred pred) const {
    const int64_t deadline = NowMs() + (virtualMs < 0 ? 0 : virtualMs);
    while (!pred()) {
      const int64_t now = NowMs();
      if (now >= deadline) return false;
      cv.wait_for(lock, RealDelay(deadline - now));
    }
    return true;
  }
};

// Real time from std::chrono::steady_clock.
class SteadyClock final : public Clock {
 public:
  int64_t NowMs() const override;
  std::chrono::microseconds RealDelay(int64_t virtualMs) const override;
};

// Real time run `factor` times faster: one real millisecond is `factor`
// milliseconds of this clock. Safe only where the far end is simulated too.
class ScaledClock final : public Clock {
 public:
  explicit ScaledClock(double factor);
  int64_t NowMs() const override;
  std::chrono::microseconds RealDelay(int64_t virtualMs) const override;

 private:
  double factor_;
  std::chrono::steady_clock::time_point start_;
};

// Time that moves only when a test calls Advance; waits poll in short real
// slices so that waiters see each advance promptly.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(int64_t startMs = 0) : now_(startMs) {}
  int64_t NowMs() const override { return now_.load(); }
  std::chrono::microseconds RealDelay(int64_t virtualMs) const override;
  void Advance(int64_t ms) { now_.fetch_add(ms); }
  void AdvanceTicks(int64_t ticks) { Advance(ticks * kTickMs); }

 private:
  std::atomic<int64_t> now_;
};

// The process-wide real-time clock.
const std::shared_ptr<Clock>& SystemClock();
// The clock new port components start with (SystemClock unless a test set
// another one).
std::shared_ptr<Clock> DefaultClock();
void SetDefaultClock(std::shared_ptr<Clock> clock);

}  // namespace qc
