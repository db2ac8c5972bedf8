#include "sim_line.h"

#include "control/error_codes.h"

namespace qc::test {

namespace {
constexpr int kHandleBase = 0x101;
constexpr int64_t kStepMs = 5;
}  // namespace

SimLine::SimLine(ModemEmulator& modem, size_t outSize) : modem_(modem), outSize_(outSize) {}

int SimLine::ReadByte(uint8_t& byte) {
  if (in_.empty()) return ecBufferIsEmpty;
  byte = in_.front();
  in_.pop_front();
  return 0;
}

int SimLine::SendBlock(const uint8_t* data, size_t count) {
  if (count > outSize_ - out_.size()) return ecOutputBufferTooSmall;
  out_.insert(out_.end(), data, data + count);
  return 0;
}

int SimLine::NewTimerTrigger() {
  for (size_t i = 0; i < triggers_.size(); ++i)
    if (!triggers_[i].used) {
      triggers_[i] = Trigger{true, true};
      return kHandleBase + static_cast<int>(i);
    }
  return ecNoMoreTriggers;
}

int SimLine::NewStatusTrigger(StatusTriggerKind kind) {
  for (size_t i = 0; i < triggers_.size(); ++i)
    if (!triggers_[i].used) {
      triggers_[i] = Trigger{true, false, kind};
      return kHandleBase + static_cast<int>(i);
    }
  return ecNoMoreTriggers;
}

void SimLine::FreeTrigger(int handle) {
  const int i = handle - kHandleBase;
  if (i >= 0 && i < static_cast<int>(triggers_.size())) triggers_[i] = Trigger{};
}

int SimLine::FreeTriggers() const {
  int n = 0;
  for (const Trigger& t : triggers_) n += t.used ? 0 : 1;
  return n;
}

int SimLine::ArmTimerTrigger(int handle, uint32_t ticks) {
  const int i = handle - kHandleBase;
  if (i < 0 || i >= static_cast<int>(triggers_.size()) || !triggers_[i].used) return ecBadTriggerHandle;
  triggers_[i].armed = true;
  triggers_[i].dueMs = now_ + static_cast<int64_t>(ticks) * 55;
  return 0;
}

int SimLine::ArmStatusTrigger(int handle, uint32_t value) {
  const int i = handle - kHandleBase;
  if (i < 0 || i >= static_cast<int>(triggers_.size()) || !triggers_[i].used) return ecBadTriggerHandle;
  triggers_[i].armed = true;
  triggers_[i].value = value;
  return 0;
}

int SimLine::AttachEventProc(EventProc proc) {
  proc_ = std::move(proc);
  return 0;
}

void SimLine::Advance(int64_t ms) {
  for (int64_t step = 0; step < ms; ++step) {
    ++now_;
    // 10 bits per byte on the line.
    credit_ += baud_ / 10000.0;
    std::string toModem;
    while (credit_ >= 1.0 && !out_.empty() && modem_.ClearToSend()) {
      toModem += static_cast<char>(out_.front());
      out_.pop_front();
      credit_ -= 1.0;
    }
    if (out_.empty() && credit_ > 1.0) credit_ = 1.0;
    if (!toModem.empty()) {
      sent_ += toModem;
      modem_.FromHost(reinterpret_cast<const uint8_t*>(toModem.data()), toModem.size(), now_);
    }
    const std::string fromModem = modem_.TakeOutput(now_);
    if (!fromModem.empty()) {
      in_.insert(in_.end(), fromModem.begin(), fromModem.end());
      newInput_ = true;
    }
  }
}

void SimLine::SleepMs(uint32_t ms) { Advance(ms); }

void SimLine::Dispatch() {
  if (held_ || !proc_) return;
  // A copy: the procedure may detach itself.
  EventProc proc = proc_;
  if (newInput_ && static_cast<int>(in_.size()) >= triggerLength_) {
    newInput_ = false;
    proc(peAvail, 0);
  }
  for (size_t i = 0; i < triggers_.size(); ++i) {
    Trigger& t = triggers_[i];
    if (!t.used || !t.armed || !proc_) continue;
    bool fire = false;
    if (t.timer) {
      fire = now_ >= t.dueMs;
    } else if (t.kind == StatusTriggerKind::OutbuffFree) {
      fire = static_cast<uint32_t>(OutputSpace()) >= t.value;
    } else if (t.kind == StatusTriggerKind::OutbuffUsed) {
      fire = static_cast<uint32_t>(OutputWaiting()) <= t.value;
    }
    if (!fire) continue;
    t.armed = false;
    proc(t.timer ? peTimer : peStatus, kHandleBase + static_cast<int>(i));
  }
}

bool SimLine::RunUntil(const std::function<bool()>& done, int64_t limitMs) {
  const int64_t end = now_ + limitMs;
  while (now_ < end) {
    if (onStep) onStep();
    if (done()) return true;
    Advance(kStepMs);
    Dispatch();
  }
  if (onStep) onStep();
  return done();
}

}  // namespace qc::test
