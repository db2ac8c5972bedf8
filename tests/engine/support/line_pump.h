// Runs a modem emulator on the far end of an in-memory serial line, on a
// thread of its own, so that a real TQcComPort (with its three threads) talks
// to it. Time comes from the port's clock.
#pragma once

#include <atomic>
#include <memory>
#include <thread>

#include "modem_emulator.h"
#include "serial/clock.h"
#include "support/memory_line.h"

namespace qc::test {

class LinePump {
 public:
  LinePump(std::shared_ptr<MemoryLine> line, ModemEmulator& modem, std::shared_ptr<Clock> clock)
      : line_(std::move(line)), modem_(modem), clock_(std::move(clock)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~LinePump() { Stop(); }
  // Ends the thread; the emulator may be read afterwards.
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  void Run() {
    bool dtr = line_->Dtr();
    while (!stop_) {
      const int64_t now = clock_->NowMs();
      const std::string written = line_->TakeWritten();
      if (!written.empty())
        modem_.FromHost(reinterpret_cast<const uint8_t*>(written.data()), written.size(), now);
      if (line_->Dtr() != dtr) {
        dtr = !dtr;
        modem_.DtrChanged(dtr, now);
      }
      const std::string out = modem_.TakeOutput(now);
      if (!out.empty()) line_->Inject(out);
      line_->SetDcd(modem_.Carrier());
      // About a millisecond per round: with a small far capacity on the line
      // this sets the rate at which the modem takes data.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::shared_ptr<MemoryLine> line_;
  ModemEmulator& modem_;
  std::shared_ptr<Clock> clock_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qc::test
