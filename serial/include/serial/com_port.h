// TQcComPort: one serial port with buffered, event-driven input and output.
//
// While open, three threads serve the port: an event thread waits on the
// device, a dispatcher (woken by it, by the output thread, by arming a trigger,
// or every 50 ms) moves input into the input buffer, checks the triggers and
// calls the attached event procedures, and an output thread writes the output
// queue whenever flow control lets it. One mutex guards each port.
//
// Every operation below returns a signed code (0 or a count on success, a
// negative ecXxx from control/error_codes.h on failure) and never throws;
// only SetOpen(true) raises, through RaiseForCode, because the windows rely
// on catching the open failure. Event procedures run on the dispatcher
// thread, never under the port's lock, so they may call any operation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "serial/clock.h"
#include "serial/device.h"

namespace qc {

class TQcComPort;

// Hardware flow control. On Linux both map to CRTSCTS: the driver raises RTS
// while it can take input and sends only while CTS is up.
enum THWFlowOption : unsigned {
  hwfUseRTS = 0x01,
  hwfRequireCTS = 0x02,
};
using THWFlowOptions = unsigned;

// Trace and dispatch-log switches. On a closed port every value but tlOn
// means tlOff; tlOn on a closed port starts recording at the next opening.
enum TTraceLogState {
  tlOff,     // stop and forget what was recorded
  tlOn,      // record (resumes after tlPause)
  tlDump,    // write the file (replacing it), then off
  tlAppend,  // append to the file, then off
  tlClear,   // forget what was recorded, go on recording
  tlPause,   // stop recording, keep what was recorded
};

// The event codes passed to event procedures.
enum TTriggerEvent : uint16_t {
  teAvail = 0x7E01,   // data: count of unread bytes; handle: kAvailTrigger
  teData = 0x7E02,    // reserved (match triggers)
  teTimer = 0x7E03,   // data: 0
  teStatus = 0x7E04,  // data: the value that satisfied the trigger
};

// The kinds of status trigger.
enum TStatusTrigger {
  stModemStatus,  // armed with a mask of ms* bits: fires when one of them changes
  stLineError,    // armed with a mask of le* bits: fires when one of them is seen
  stOutbuffFree,  // fires when the free output space >= value
  stOutbuffUsed,  // fires when the queued output bytes <= value
  stOutSent,      // fires when output was written to the device since arming
};

// The handle of the data-available trigger (set with SetTriggerLength).
constexpr int kAvailTrigger = 0;
// Timer and status triggers: this many of each kind per port.
constexpr int kMaxTriggersPerKind = 10;
constexpr int kTimerTriggerBase = 0x100;   // handles 0x101..0x10A
constexpr int kStatusTriggerBase = 0x200;  // handles 0x201..0x20A
constexpr int kPortTagSlots = 10;

constexpr uint8_t kXon = 17;
constexpr uint8_t kXoff = 19;

// Called on the dispatcher thread per event: the port, the event code
// (TTriggerEvent), the trigger handle and the event's data.
using EventProc = std::function<void(TQcComPort& port, uint16_t event, int handle, int32_t data)>;

struct LineSettings {
  int baud = 19200;
  int dataBits = 8;
  char parity = 'N';
  int stopBits = 1;
};

class TQcComPort {
 public:
  TQcComPort();
  ~TQcComPort();  // closes the port (writing trace and log as on SetOpen(false))
  TQcComPort(const TQcComPort&) = delete;
  TQcComPort& operator=(const TQcComPort&) = delete;

  // --- Which device -------------------------------------------------------
  // Port 1..6, mapped to a device by ResolvePort (serial/port_names.h).
  int ComNumber() const;
  void SetComNumber(int comNumber);
  // A device path used instead of ComNumber when not empty.
  std::string DeviceName() const;
  void SetDeviceName(std::string path);
  // The device the next opening uses.
  std::string ResolvedDeviceName() const;
  // Replaces the termios device (tests plug in an in-memory device); an
  // empty function restores OpenTermiosDevice. Takes effect at the next open.
  void SetDeviceFactory(DeviceFactory factory);
  TDeviceLayer DeviceLayer() const;

  // --- Settings (Data model defaults) --------------------------------------
  int Baud() const;  // 19200
  // While closed: the rate for the next opening. While open: as SwitchBaud.
  int SetBaud(int baud);
  size_t InSize() const;   // 8192
  size_t OutSize() const;  // 8192
  // Buffer sizes change only while the port is closed (ecAlreadyOpen otherwise).
  int SetInSize(size_t size);
  int SetOutSize(size_t size);
  THWFlowOptions HWFlowOptions() const;  // hwfUseRTS | hwfRequireCTS
  int SetHWFlowOptions(THWFlowOptions options);
  size_t BufferFull() const;    // 7372
  size_t BufferResume() const;  // 819
  void SetBufferFull(size_t bytes);
  void SetBufferResume(size_t bytes);
  size_t TraceSize() const;  // 32000 entries (bytes)
  void SetTraceSize(size_t entries);
  size_t LogSize() const;  // 10000 events
  void SetLogSize(size_t entries);
  // With AutoOpen, an operation on a closed port opens it first.
  bool AutoOpen() const;  // false
  void SetAutoOpen(bool autoOpen);
  // The clock for timers, WaitForText and the log's time column.
  std::shared_ptr<Clock> GetClock() const;
  void SetClock(std::shared_ptr<Clock> clock);

  // --- Opening ------------------------------------------------------------
  bool Open() const;
  // Opens or closes; a failed open raises its code's exception:
  // ecBadId missing device, ecHardware held by another process, ecAlreadyOpen
  // held by another port component of this program, ecAccessDenied (-5).
  // Closing writes the trace and the log when they are on.
  void SetOpen(bool open);
  // The same without raising.
  int OpenPort();
  int ClosePort();

  // --- Input --------------------------------------------------------------
  int InputWaiting() const;
  // ecOK and the oldest unread byte, or ecBufferIsEmpty.
  int ReadByte(uint8_t& byte);
  // Up to `len` bytes in arrival order; returns the count (0 when none wait).
  int ReadBlock(void* buf, size_t len);
  int DiscardInput();

  // --- Output -------------------------------------------------------------
  // Queued whole, or ecOutputBufferTooSmall (-3006) and nothing queued when
  // OutputSpace is short.
  int SendByte(uint8_t byte);
  int SendText(std::string_view text);
  int SendBlock(const void* data, size_t len);
  int OutputSpace() const;
  int OutputWaiting() const;
  int DiscardOutput();

  // --- Line ---------------------------------------------------------------
  // On a device without modem-control lines (a pseudo-terminal) this does
  // nothing and succeeds.
  int SetLineSignals(bool dtr, bool rts);
  bool Dtr() const;
  bool Rts() const;
  // DCD; false on a device without modem-status lines.
  bool CarrierPresent();
  // The ms* bits now; 0 on a device without modem-status lines.
  uint8_t ModemStatus();
  LineSettings GetLineSettings() const;
  // Changes only the baud rate (ecBaudRate for a rate outside 2400..115200).
  int SwitchBaud(int baud);
  // Software flow control: obey XOFF/XON from the far end while sending, and
  // send XOFF when BufferFull input bytes wait and XON when they have fallen
  // to BufferResume. XON and XOFF bytes received are not passed on while
  // obeying.
  int SetXonXoff(bool obeyXoff = true, bool sendXoff = true);
  int ClearXonXoff();

  // --- Triggers and events -------------------------------------------------
  // An avail event whenever new input has arrived and at least n unread bytes
  // wait (n >= 1).
  int TriggerLength() const;
  int SetTriggerLength(int bytes);
  // A handle, or ecNoMoreTriggers (-5001) when all 10 of the kind are taken.
  int NewTimerTrigger();
  int NewStatusTrigger(TStatusTrigger kind);
  int FreeTrigger(int handle);
  // One timer event `ticks` ticks from now (clipped to kMaxTicks); off disarms.
  int ArmTimerTrigger(int handle, int32_t ticks, bool on = true);
  // One status event when the condition of the trigger's kind holds; off disarms.
  int ArmStatusTrigger(int handle, int32_t value, bool on = true);
  // Returns an id > 0 for DetachEventProc. Procedures are called in the order
  // attached; detaching inside a procedure is allowed.
  int AttachEventProc(EventProc proc);
  int DetachEventProc(int id);
  // Holding stops event procedures (input is still buffered and triggers
  // stay pending); returns the previous state. HoldEvents(true) from another
  // thread returns only after an event procedure that was running has ended.
  bool HoldEvents(bool held);
  bool EventsHeld() const;

  // Slots 1..10 hold one pointer each for the owner (the fax engine uses 2).
  int SetPortTag(int slot, void* tag);
  void* GetPortTag(int slot) const;

  // Reads input until `text` has come (true) or `ticks` have passed (false).
  // The bytes read, the text included, are consumed.
  bool WaitForText(std::string_view text, int32_t ticks, bool ignoreCase);

  // --- Trace and dispatch log ----------------------------------------------
  TTraceLogState Tracing() const;
  int SetTracing(TTraceLogState state);
  TTraceLogState Logging() const;
  int SetLogging(TTraceLogState state);
  std::string TraceName() const;  // "QCPREF.TRC"
  void SetTraceName(std::string name);
  std::string LogName() const;  // "QCPREF.LOG"
  void SetLogName(std::string name);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace qc
