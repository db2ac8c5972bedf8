#include "serial/clock.h"

#include <algorithm>
#include <thread>

namespace qc {

void Clock::SleepMs(int64_t ms) const {
  const int64_t deadline = NowMs() + std::max<int64_t>(ms, 0);
  for (int64_t now = NowMs(); now < deadline; now = NowMs()) {
    std::this_thread::sleep_for(RealDelay(deadline - now));
  }
}

int64_t SteadyClock::NowMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

std::chrono::microseconds SteadyClock::RealDelay(int64_t virtualMs) const {
  return std::chrono::milliseconds(std::max<int64_t>(virtualMs, 0));
}

ScaledClock::ScaledClock(double factor)
    : factor_(factor > 0 ? factor : 1.0), start_(std::chrono::steady_clock::now()) {}

int64_t ScaledClock::NowMs() const {
  using namespace std::chrono;
  const auto real = duration_cast<microseconds>(steady_clock::now() - start_).count();
  return static_cast<int64_t>(static_cast<double>(real) * factor_ / 1000.0);
}

std::chrono::microseconds ScaledClock::RealDelay(int64_t virtualMs) const {
  const double us = static_cast<double>(std::max<int64_t>(virtualMs, 0)) * 1000.0 / factor_;
  return std::chrono::microseconds(std::max<int64_t>(static_cast<int64_t>(us), 1));
}

std::chrono::microseconds ManualClock::RealDelay(int64_t) const {
  // Time moves only by Advance; poll often enough that an advance is seen at once.
  return std::chrono::microseconds(1000);
}

const std::shared_ptr<Clock>& SystemClock() {
  static const std::shared_ptr<Clock> clock = std::make_shared<SteadyClock>();
  return clock;
}

namespace {
std::mutex defaultClockMutex;
std::shared_ptr<Clock>& DefaultClockSlot() {
  static std::shared_ptr<Clock> clock = SystemClock();
  return clock;
}
}  // namespace

std::shared_ptr<Clock> DefaultClock() {
  std::lock_guard<std::mutex> lock(defaultClockMutex);
  return DefaultClockSlot();
}

void SetDefaultClock(std::shared_ptr<Clock> clock) {
  std::lock_guard<std::mutex> lock(defaultClockMutex);
  DefaultClockSlot() = clock ? std::move(clock) : SystemClock();
}

}  // namespace qc
