// The device layer under TQcComPort: a byte channel with line control.
//
// The port's threads use one device concurrently: the event thread waits for
// input, the dispatcher reads, the output thread waits for room and writes,
// and the caller's thread changes line settings and signals. Implementations
// must allow exactly that mix. Waits take real milliseconds: they are wake-up
// slices, the port does its own timing with its Clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace qc {

enum TDeviceLayer { dlTermios, dlMemory, dlNetwork };

// Modem status bits, as the modem status register of a UART holds them.
constexpr uint8_t msCTS = 0x10;
constexpr uint8_t msDSR = 0x20;
constexpr uint8_t msRI = 0x40;
constexpr uint8_t msDCD = 0x80;

// Line error bits, as the line status register of a UART holds them.
constexpr uint8_t leOverrun = 0x02;
constexpr uint8_t leParity = 0x04;
constexpr uint8_t leFraming = 0x08;
constexpr uint8_t leBreak = 0x10;

// Always 8 data bits, no parity, 1 stop bit.
struct LineConfig {
  int baud = 19200;
  bool hardwareFlow = true;  // RTS/CTS
};

enum class DeviceWait { Ready, Timeout, Hangup, Interrupted };

// Read() and Write() result for a line that has gone (far end closed, EIO).
constexpr long kDeviceHangup = -1;

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  virtual TDeviceLayer Layer() const = 0;
  // The name the device was opened with (for logs and the lock registry).
  virtual std::string Name() const = 0;

  // ecOK, or ecBaudRate for a rate the device cannot take.
  virtual int Configure(const LineConfig& config) = 0;

  // Non-blocking. > 0: bytes moved; 0: nothing now; kDeviceHangup; or a
  // negative error code of the system (< -1).
  virtual long Read(uint8_t* buf, size_t len) = 0;
  virtual long Write(const uint8_t* buf, size_t len) = 0;

  // Block until input waits (or the line hung up), room for output, the
  // time-out, or Interrupt().
  virtual DeviceWait WaitReadable(int timeoutMs) = 0;
  virtual DeviceWait WaitWritable(int timeoutMs) = 0;
  // Wakes every present and future wait with Interrupted; used when the port
  // closes.
  virtual void Interrupt() = 0;

  // ecOK, or ecNotSupported when the device has no modem-control lines (a
  // pseudo-terminal); callers treat that as "nothing to do".
  virtual int SetModemControl(bool dtr, bool rts) = 0;
  virtual int ModemStatus(uint8_t& bits) = 0;
  // Line errors seen since the previous call (le* bits); ecNotSupported as above.
  virtual int TakeLineErrors(uint8_t& bits) = 0;

  // Drops bytes the device still holds in either direction.
  virtual int Purge(bool input, bool output) = 0;
  // Sends a break of about `ms` milliseconds.
  virtual int SendBreak(int ms) = 0;
};

// Opens a device by name: returns ecOK and the device, or the open error
// (ecBadId missing, ecHardware held elsewhere, ecAccessDenied, ...).
using DeviceFactory = std::function<int(const std::string& name, std::unique_ptr<SerialDevice>& out)>;

// The termios device: opens `path` non-blocking, takes the exclusive locks
// (TIOCEXCL, flock, and respects a live /var/lock/LCK..name), and sets raw 8N1.
int OpenTermiosDevice(const std::string& path, std::unique_ptr<SerialDevice>& out);

// Where LCK..name files are looked for (default "/var/lock"); tests point it
// elsewhere. An empty folder switches the check off.
void SetLockFileFolder(std::string folder);
std::string LockFileFolder();

}  // namespace qc
