// Shared pieces of the port tests: an event recorder and a port on an
// in-memory line.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/com_port.h"
#include "support/memory_line.h"

namespace qc::test {

// Generous real-time limit for things that must happen; a correct port meets
// it by orders of magnitude, so only a broken one runs into it.
constexpr int kPatienceMs = 10000;
constexpr int32_t kPatienceTicks = static_cast<int32_t>(SecsToTicks(10));

struct RecordedEvent {
  uint16_t event;
  int handle;
  int32_t data;
};

class EventRecorder {
 public:
  EventProc Proc() {
    return [this](TQcComPort&, uint16_t event, int handle, int32_t data) {
      std::lock_guard<std::mutex> lk(mu_);
      events_.push_back({event, handle, data});
      cv_.notify_all();
    };
  }

  // Waits until `n` events with this handle have been recorded.
  bool WaitFor(int handle, size_t n = 1, int timeoutMs = kPatienceMs) {
    std::unique_lock<std::mutex> lk(mu_);
    return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return CountLocked(handle) >= n; });
  }

  size_t Count(int handle) {
    std::lock_guard<std::mutex> lk(mu_);
    return CountLocked(handle);
  }

  std::vector<RecordedEvent> Events() {
    std::lock_guard<std::mutex> lk(mu_);
    return events_;
  }

  RecordedEvent Last(int handle) {
    std::lock_guard<std::mutex> lk(mu_);
    for (auto it = events_.rbegin(); it != events_.rend(); ++it) {
      if (it->handle == handle) return *it;
    }
    return {0, -1, 0};
  }

 private:
  size_t CountLocked(int handle) const {
    size_t n = 0;
    for (const auto& e : events_) n += e.handle == handle;
    return n;
  }

  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<RecordedEvent> events_;
};

// A port on a MemoryLine, opened, with a recorder attached; time is a
// ManualClock so that timers move only when the test says so.
class MemoryPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    line = MemoryLine::Create("mem");
    port = std::make_unique<TQcComPort>();
    port->SetDeviceFactory(line->Factory());
    port->SetDeviceName("mem");
    port->SetClock(clock);
    ASSERT_EQ(port->OpenPort(), 0);
    ASSERT_GT(port->AttachEventProc(recorder.Proc()), 0);
    probe = port->NewTimerTrigger();
    ASSERT_GT(probe, 0);
  }

  void TearDown() override { port.reset(); }

  // Returns once the dispatcher has checked every trigger against the state
  // set up before the call and delivered what fired: two probe timers due at
  // once fire in two passes, and the events of the first pass are delivered
  // before the second begins.
  void Sync() {
    for (int round = 0; round < 2; ++round) {
      const size_t before = recorder.Count(probe);
      ASSERT_EQ(port->ArmTimerTrigger(probe, 0), 0);
      ASSERT_TRUE(recorder.WaitFor(probe, before + 1));
    }
  }

  bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = kPatienceMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<MemoryLine> line;
  std::unique_ptr<TQcComPort> port;
  EventRecorder recorder;
  int probe = 0;
};

}  // namespace qc::test
