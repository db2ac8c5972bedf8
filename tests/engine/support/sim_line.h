// A simulated serial line for engine tests: implements the engine's port
// interface on a virtual clock, carries bytes to and from a modem emulator at
// the line rate, and delivers trigger events when the test runs the line.
// Everything happens on the test's thread, so a whole fax call runs in
// milliseconds of real time and always the same way.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fax_port.h"
#include "modem_emulator.h"

namespace qc::test {

class SimLine final : public FaxPort {
 public:
  explicit SimLine(ModemEmulator& modem, size_t outSize = 8192);

  // Runs the line (time, bytes, events) until `done` or `limitMs` of virtual
  // time; true when `done` held.
  bool RunUntil(const std::function<bool()>& done, int64_t limitMs);
  int64_t NowMs() const { return now_; }
  // What went to the modem, in order (commands and page data).
  const std::string& SentBytes() const { return sent_; }
  // Also called for every step, e.g. to let an owner loop run.
  std::function<void()> onStep;

  // FaxPort.
  int InputWaiting() override { return static_cast<int>(in_.size()); }
  int ReadByte(uint8_t& byte) override;
  int SendByte(uint8_t byte) override { return SendBlock(&byte, 1); }
  int SendBlock(const uint8_t* data, size_t count) override;
  int OutputSpace() override { return static_cast<int>(outSize_ - out_.size()); }
  int OutputWaiting() override { return static_cast<int>(out_.size()); }
  size_t OutputBufferSize() override { return outSize_; }
  void DiscardInput() override { in_.clear(); }
  void DiscardOutput() override { out_.clear(); }
  void SetLineSignals(bool dtr, bool rts) override {
    if (dtr != dtr_) modem_.DtrChanged(dtr, now_);
    dtr_ = dtr;
    rts_ = rts;
  }
  bool CarrierPresent() override { return modem_.Carrier(); }
  uint32_t CurrentBaud() override { return baud_; }
  int SwitchBaud(uint32_t baud) override {
    if (baud != baud_) bauds_.push_back(baud);
    baud_ = baud;
    return 0;
  }
  const std::vector<uint32_t>& BaudChanges() const { return bauds_; }
  // Delivers an event of another trigger to the attached procedure.
  void InjectEvent(uint16_t code, int handle) {
    if (proc_) proc_(code, handle);
  }
  void SetSoftwareFlow(bool on) override { softwareFlow_ = on; }
  void SetReceiveFlow(bool on) override { receiveFlow_.push_back(on); }
  // Every SetReceiveFlow, in order.
  const std::vector<bool>& ReceiveFlowChanges() const { return receiveFlow_; }
  int SetDataTrigger(int length) override { triggerLength_ = length; return 0; }
  int NewTimerTrigger() override;
  int NewStatusTrigger(StatusTriggerKind kind) override;
  void FreeTrigger(int handle) override;
  int ArmTimerTrigger(int handle, uint32_t ticks) override;
  int ArmStatusTrigger(int handle, uint32_t value) override;
  int AttachEventProc(EventProc proc) override;
  void DetachEventProc() override { proc_ = nullptr; }
  bool HoldEvents(bool hold) override { const bool was = held_; held_ = hold; return was; }
  uint32_t Ticks() override { return static_cast<uint32_t>(now_ / 55); }
  void SleepMs(uint32_t ms) override;

  bool Dtr() const { return dtr_; }
  uint32_t Baud() const { return baud_; }
  bool SoftwareFlow() const { return softwareFlow_; }
  int FreeTriggers() const;  // triggers not in use (for leak checks)

 private:
  struct Trigger {
    bool used = false;
    bool timer = false;
    StatusTriggerKind kind = StatusTriggerKind::ModemStatus;
    bool armed = false;
    int64_t dueMs = 0;
    uint32_t value = 0;
  };
  void Advance(int64_t ms);  // moves time and bytes, no events
  void Dispatch();           // fires due triggers

  ModemEmulator& modem_;
  size_t outSize_;
  int64_t now_ = 0;
  double credit_ = 0;  // bytes the line may still carry this millisecond
  std::deque<uint8_t> in_, out_;
  std::string sent_;
  bool newInput_ = false;
  bool dtr_ = false, rts_ = false, held_ = false, softwareFlow_ = false;
  uint32_t baud_ = 19200;
  std::vector<uint32_t> bauds_;
  std::vector<bool> receiveFlow_;
  int triggerLength_ = 1;
  std::array<Trigger, 20> triggers_{};
  EventProc proc_;
};

}  // namespace qc::test
