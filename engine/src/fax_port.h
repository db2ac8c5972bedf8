// What a fax session needs of its serial port: byte I/O, line signals, baud,
// triggers with an event procedure, event holding and the tick clock. The
// production link wraps TQcComPort; tests may put a simulated line here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace qc {

// Event codes handed to the event procedure. Data available carries the
// data-available trigger's handle.
enum PortEventCode : uint16_t {
  peAvail = 0x7E01,
  peTimer = 0x7E02,
  peStatus = 0x7E03,
};

enum class StatusTriggerKind { ModemStatus, OutbuffFree, OutbuffUsed };

class FaxPort {
 public:
  using EventProc = std::function<void(uint16_t eventCode, int triggerHandle)>;
  virtual ~FaxPort() = default;

  virtual int InputWaiting() = 0;
  // 0 and the byte, or a negative code when nothing waits.
  virtual int ReadByte(uint8_t& byte) = 0;
  virtual int SendByte(uint8_t byte) = 0;
  // Queues all bytes or none (-3006 when the output space is short).
  virtual int SendBlock(const uint8_t* data, size_t count) = 0;
  virtual int OutputSpace() = 0;
  virtual int OutputWaiting() = 0;
  // The size of the output buffer.
  virtual size_t OutputBufferSize() = 0;
  // True for a port whose device is a network connection.
  virtual bool IsNetworkLayer() { return false; }
  virtual void DiscardInput() = 0;
  virtual void DiscardOutput() = 0;

  virtual void SetLineSignals(bool dtr, bool rts) = 0;
  virtual bool CarrierPresent() = 0;
  virtual uint32_t CurrentBaud() = 0;
  virtual int SwitchBaud(uint32_t baud) = 0;
  // Obey XOFF from the modem while sending (on) or not (off).
  virtual void SetSoftwareFlow(bool on) = 0;
  // While receiving page data: send XOFF to the modem when 6144 input bytes
  // wait and XON again when they have fallen to 2048 (on), or not (off).
  // Received bytes are passed on as they are.
  virtual void SetReceiveFlow(bool /*on*/) {}

  // The data-available trigger: an avail event when `length` unread bytes
  // wait. Returns its handle (0) or a negative code.
  virtual int SetDataTrigger(int length) = 0;
  virtual int NewTimerTrigger() = 0;
  virtual int NewStatusTrigger(StatusTriggerKind kind) = 0;
  virtual void FreeTrigger(int handle) = 0;
  virtual int ArmTimerTrigger(int handle, uint32_t ticks) = 0;
  // OutbuffFree: fires once when the free space is >= value; OutbuffUsed:
  // once when the queued bytes are <= value.
  virtual int ArmStatusTrigger(int handle, uint32_t value) = 0;
  virtual int AttachEventProc(EventProc proc) = 0;
  virtual void DetachEventProc() = 0;
  // Returns the previous state; no events are delivered while held.
  virtual bool HoldEvents(bool hold) = 0;

  // Ticks of 55 ms and millisecond waits, on the port's clock.
  virtual uint32_t Ticks() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

}  // namespace qc
