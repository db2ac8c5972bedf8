#include "support/memory_line.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "control/error_codes.h"

namespace qc::test {

class MemoryDevice final : public SerialDevice {
 public:
  explicit MemoryDevice(std::shared_ptr<MemoryLine> line) : line_(std::move(line)) {}

  ~MemoryDevice() override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    line_->open_ = false;
    line_->cv_.notify_all();
  }

  TDeviceLayer Layer() const override { return dlMemory; }
  std::string Name() const override { return line_->name_; }

  int Configure(const LineConfig& config) override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    line_->baud_ = config.baud;
    line_->hardwareFlow_ = config.hardwareFlow;
    line_->cv_.notify_all();
    return ecOK;
  }

  long Read(uint8_t* buf, size_t len) override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    if (!line_->toPort_.empty()) {
      const size_t n = std::min(len, line_->toPort_.size());
      std::memcpy(buf, line_->toPort_.data(), n);
      line_->toPort_.erase(0, n);
      line_->cv_.notify_all();
      return static_cast<long>(n);
    }
    return line_->hungUp_ ? kDeviceHangup : 0;
  }

  long Write(const uint8_t* buf, size_t len) override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    if (line_->hungUp_) return kDeviceHangup;
    const size_t room = Room();
    const size_t n = std::min(len, room);
    if (n == 0) return 0;
    const char* p = reinterpret_cast<const char*>(buf);
    if (line_->loopback_) {
      line_->toPort_.append(p, n);
    } else {
      line_->fromPort_.append(p, n);
    }
    line_->cv_.notify_all();
    return static_cast<long>(n);
  }

  DeviceWait WaitReadable(int timeoutMs) override {
    std::unique_lock<std::mutex> lk(line_->mu_);
    const bool done = line_->cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
      return interrupted_ || !line_->toPort_.empty() || line_->hungUp_;
    });
    if (interrupted_) return DeviceWait::Interrupted;
    if (!done) return DeviceWait::Timeout;
    return line_->toPort_.empty() ? DeviceWait::Hangup : DeviceWait::Ready;
  }

  DeviceWait WaitWritable(int timeoutMs) override {
    std::unique_lock<std::mutex> lk(line_->mu_);
    const bool done = line_->cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
      return interrupted_ || Room() > 0 || line_->hungUp_;
    });
    if (interrupted_) return DeviceWait::Interrupted;
    if (!done) return DeviceWait::Timeout;
    return line_->hungUp_ ? DeviceWait::Hangup : DeviceWait::Ready;
  }

  void Interrupt() override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    interrupted_ = true;
    line_->cv_.notify_all();
  }

  int SetModemControl(bool dtr, bool rts) override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    if (!line_->modemLines_) return ecNotSupported;
    line_->dtr_ = dtr;
    line_->rts_ = rts;
    line_->cv_.notify_all();
    return ecOK;
  }

  int ModemStatus(uint8_t& bits) override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    bits = 0;
    if (!line_->modemLines_) return ecNotSupported;
    bits = line_->status_;
    return ecOK;
  }

  int TakeLineErrors(uint8_t& bits) override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    bits = 0;
    if (!line_->modemLines_) return ecNotSupported;
    bits = line_->lineErrors_;
    line_->lineErrors_ = 0;
    return ecOK;
  }

  int Purge(bool input, bool output) override {
    std::lock_guard<std::mutex> lk(line_->mu_);
    if (input || output) ++line_->purgeCount_;
    return ecOK;
  }

  int SendBreak(int) override { return ecOK; }

 private:
  // Under the line's lock.
  size_t Room() const {
    if (line_->hardwareFlow_ && !(line_->status_ & msCTS)) return 0;
    size_t room = SIZE_MAX;
    if (line_->farCapacity_ > 0 && !line_->loopback_) {
      room = line_->fromPort_.size() >= line_->farCapacity_ ? 0 : line_->farCapacity_ - line_->fromPort_.size();
    }
    if (line_->writeLimit_ > 0) room = std::min(room, line_->writeLimit_);
    return room;
  }

  std::shared_ptr<MemoryLine> line_;
  bool interrupted_ = false;  // under the line's lock
};

std::shared_ptr<MemoryLine> MemoryLine::Create(std::string name) {
  return std::make_shared<MemoryLine>(std::move(name));
}

DeviceFactory MemoryLine::Factory() {
  std::weak_ptr<MemoryLine> weak = shared_from_this();
  return [weak](const std::string&, std::unique_ptr<SerialDevice>& out) -> int {
    const std::shared_ptr<MemoryLine> line = weak.lock();
    if (!line) return ecBadId;
    std::lock_guard<std::mutex> lk(line->mu_);
    if (line->openResult_ != 0) return line->openResult_;
    if (line->open_) return ecHardware;
    line->open_ = true;
    ++line->openCount_;
    out = std::make_unique<MemoryDevice>(line);
    return ecOK;
  };
}

void MemoryLine::SetOpenResult(int code) {
  std::lock_guard<std::mutex> lk(mu_);
  openResult_ = code;
}

void MemoryLine::Inject(std::string_view bytes) {
  std::lock_guard<std::mutex> lk(mu_);
  toPort_.append(bytes);
  cv_.notify_all();
}

size_t MemoryLine::InjectedWaiting() const {
  std::lock_guard<std::mutex> lk(mu_);
  return toPort_.size();
}

std::string MemoryLine::TakeWritten() {
  std::lock_guard<std::mutex> lk(mu_);
  std::string out;
  out.swap(fromPort_);
  cv_.notify_all();
  return out;
}

size_t MemoryLine::WrittenSize() const {
  std::lock_guard<std::mutex> lk(mu_);
  return fromPort_.size();
}

bool MemoryLine::WaitWritten(size_t bytes, int timeoutMs) const {
  std::unique_lock<std::mutex> lk(mu_);
  return cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return fromPort_.size() >= bytes; });
}

#define QC_LINE_SETTER(Name, Body)   \
  void MemoryLine::Name {            \
    std::lock_guard<std::mutex> lk(mu_); \
    Body;                            \
    cv_.notify_all();                \
  }

QC_LINE_SETTER(SetLoopback(bool on), loopback_ = on)
QC_LINE_SETTER(SetFarCapacity(size_t bytes), farCapacity_ = bytes)
QC_LINE_SETTER(SetWriteLimit(size_t perWrite), writeLimit_ = perWrite)
QC_LINE_SETTER(SetCts(bool on), status_ = on ? (status_ | msCTS) : (status_ & ~msCTS))
QC_LINE_SETTER(SetDsr(bool on), status_ = on ? (status_ | msDSR) : (status_ & ~msDSR))
QC_LINE_SETTER(SetRi(bool on), status_ = on ? (status_ | msRI) : (status_ & ~msRI))
QC_LINE_SETTER(SetDcd(bool on), status_ = on ? (status_ | msDCD) : (status_ & ~msDCD))
QC_LINE_SETTER(SetModemLines(bool present), modemLines_ = present)
QC_LINE_SETTER(HangUp(), hungUp_ = true; status_ &= ~msDCD)
QC_LINE_SETTER(Reconnect(), hungUp_ = false)
QC_LINE_SETTER(AddLineErrors(uint8_t bits), lineErrors_ |= bits)

#undef QC_LINE_SETTER

#define QC_LINE_GETTER(Type, Name, Expr)  \
  Type MemoryLine::Name() const {         \
    std::lock_guard<std::mutex> lk(mu_);  \
    return Expr;                          \
  }

QC_LINE_GETTER(bool, IsOpen, open_)
QC_LINE_GETTER(int, OpenCount, openCount_)
QC_LINE_GETTER(bool, Dtr, dtr_)
QC_LINE_GETTER(bool, Rts, rts_)
QC_LINE_GETTER(int, Baud, baud_)
QC_LINE_GETTER(bool, HardwareFlow, hardwareFlow_)
QC_LINE_GETTER(int, PurgeCount, purgeCount_)

#undef QC_LINE_GETTER

}  // namespace qc::test
