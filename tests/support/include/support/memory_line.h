// An in-memory serial line for unit tests: the port side is a SerialDevice
// that TQcComPort opens through Factory(); the test drives the far end.
//
//   auto line = qc::test::MemoryLine::Create();
//   port.SetDeviceFactory(line->Factory());
//   port.SetDeviceName("mem");
//   port.SetOpen(true);
//   line->Inject("\r\nOK\r\n");          // the port receives
//   line->WaitWritten(3, 2000);          // the port sent at least 3 bytes
//   std::string sent = line->TakeWritten();
//
// Modem lines (CTS, DSR, RI, DCD), a hang-up and line errors are simulated;
// SetModemLines(false) makes the line behave like a pseudo-terminal, which
// has none.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "serial/device.h"

namespace qc::test {

class MemoryLine : public std::enable_shared_from_this<MemoryLine> {
 public:
  static std::shared_ptr<MemoryLine> Create(std::string name = "mem");

  // Opens this line whatever name the port asks for, unless SetOpenResult
  // says the opening fails. One port at a time: a second open gives ecHardware.
  DeviceFactory Factory();
  void SetOpenResult(int code);

  // --- the far end --------------------------------------------------------
  void Inject(std::string_view bytes);
  // Injected bytes the port has not fetched from the line yet.
  size_t InjectedWaiting() const;
  // Everything the port has written and the far end has not taken yet.
  std::string TakeWritten();
  size_t WrittenSize() const;
  // Waits (real milliseconds) until at least `bytes` written bytes wait.
  bool WaitWritten(size_t bytes, int timeoutMs) const;
  // The port's output comes back as its input.
  void SetLoopback(bool on);
  // The port's writes stall while the far end holds this many untaken bytes
  // (0 = unlimited); at most `perWrite` bytes go per write (0 = unlimited).
  void SetFarCapacity(size_t bytes);
  void SetWriteLimit(size_t perWrite);

  void SetCts(bool on);
  void SetDsr(bool on);
  void SetRi(bool on);
  void SetDcd(bool on);
  void SetModemLines(bool present);
  // The line goes dead: DCD drops, reads report a hang-up once the injected
  // bytes are taken, writes fail. Reconnect() brings it back.
  void HangUp();
  void Reconnect();
  void AddLineErrors(uint8_t bits);

  // --- what the port did ---------------------------------------------------
  bool IsOpen() const;
  int OpenCount() const;
  bool Dtr() const;
  bool Rts() const;
  int Baud() const;
  bool HardwareFlow() const;
  int PurgeCount() const;
  std::string Name() const { return name_; }

  explicit MemoryLine(std::string name) : name_(std::move(name)) {}

 private:
  friend class MemoryDevice;

  std::string name_;
  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  int openResult_ = 0;
  bool open_ = false;
  int openCount_ = 0;
  std::string toPort_;
  std::string fromPort_;
  bool loopback_ = false;
  size_t farCapacity_ = 0;
  size_t writeLimit_ = 0;
  uint8_t status_ = 0x10 | 0x20;  // CTS and DSR up, no carrier
  bool modemLines_ = true;
  bool hungUp_ = false;
  uint8_t lineErrors_ = 0;
  bool dtr_ = false;
  bool rts_ = false;
  int baud_ = 0;
  bool hardwareFlow_ = false;
  int purgeCount_ = 0;
};

}  // namespace qc::test
