// Runs a modem emulator on the master side of a pseudo-terminal, on its own
// thread and in real time, for programs that open the slave as their modem.
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

#include "modem_emulator.h"
#include "support/fake_modem.h"
#include "support/pty_pair.h"

namespace qc::test {

class PtyPump {
 public:
  PtyPump(PtyPair& pty, ModemEmulator& modem) : link_(pty), modem_(modem) {
    thread_ = std::thread([this] { Run(); });
  }
  ~PtyPump() { Stop(); }
  void Stop() {
    stop_ = true;
    link_.Stop();
    if (thread_.joinable()) thread_.join();
  }

 private:
  static int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  void Run() {
    while (!stop_) {
      const std::string in = link_.ReadAvailable(4096, 2);
      if (!in.empty()) modem_.FromHost(reinterpret_cast<const uint8_t*>(in.data()), in.size(), NowMs());
      const std::string out = modem_.TakeOutput(NowMs());
      if (!out.empty()) link_.Write(out);
    }
  }

  ModemLink link_;
  ModemEmulator& modem_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace qc::test
