#include "serial/com_port.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "byte_ring.h"
#include "control/error_codes.h"
#include "control/errors.h"
#include "port_registry.h"
#include "serial/port_names.h"
#include "trace_log.h"

namespace qc {

namespace {

constexpr int64_t kDispatchIntervalMs = 50;
constexpr size_t kChunk = 4096;
constexpr int kDeviceWaitMs = 50;

// The rates the layer accepts; the device may refuse some of them.
constexpr int kBaudRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};

bool ValidBaud(int baud) {
  return std::find(std::begin(kBaudRates), std::end(kBaudRates), baud) != std::end(kBaudRates);
}

constexpr const char* kStatusTriggerNames[] = {"ModemStatus", "LineError", "OutbuffFree", "OutbuffUsed",
                                               "OutSent"};

void NameThread(const char* name) { pthread_setname_np(pthread_self(), name); }

struct TimerTrigger {
  bool used = false;
  bool armed = false;
  int64_t deadlineMs = 0;
};

struct StatusTriggerSlot {
  bool used = false;
  bool armed = false;
  TStatusTrigger kind = stOutbuffFree;
  int32_t value = 0;
  uint8_t baseline = 0;    // modem status when armed
  uint64_t sentMark = 0;   // bytes written when armed
};

struct PendingEvent {
  uint16_t event;
  int handle;
  int32_t data;
};

// What one opening owns: the device and the three threads. The threads keep
// it alive through their shared_ptr, so a dispatcher that closed its own port
// from inside an event procedure can finish safely.
struct Session {
  std::unique_ptr<SerialDevice> device;
  std::string claimedName;
  std::thread eventThread;
  std::thread dispatcherThread;
  std::thread outputThread;
  std::thread::id dispatcherId;
  bool stopping = false;
  bool inputReady = false;  // the event thread saw input the dispatcher has not drained
  bool detached = false;
  bool dispatching = false;  // event procedures are being called
  int64_t openedAtMs = 0;
  std::vector<uint8_t> readChunk = std::vector<uint8_t>(4096);  // the dispatcher's
};

// Trace or log switch with the closed-port rule; `state` is tlOff, tlOn or tlPause.
template <class Record>
int Switch(TTraceLogState& state, TTraceLogState request, bool open, Record& record,
           const std::string& fileName, int notEnabledCode) {
  if (!open) {
    state = request == tlOn ? tlOn : tlOff;
    record.Clear();
    return ecOK;
  }
  switch (request) {
    case tlOff:
      state = tlOff;
      record.Clear();
      return ecOK;
    case tlOn:
      if (state == tlOff) record.Clear();
      state = tlOn;
      return ecOK;
    case tlDump:
    case tlAppend: {
      if (state == tlOff) return notEnabledCode;
      const int rc = WriteTextFile(fileName, record.Format(), request == tlAppend);
      record.Clear();
      state = tlOff;
      return rc;
    }
    case tlClear:
      if (state == tlOff) return notEnabledCode;
      record.Clear();
      state = tlOn;
      return ecOK;
    case tlPause:
      if (state == tlOff) return notEnabledCode;
      state = tlPause;
      return ecOK;
  }
  return ecBadArgument;
}

}  // namespace

struct TQcComPort::Impl {
  explicit Impl(TQcComPort& owner) : self(owner), clock(DefaultClock()) {
    tags.fill(nullptr);
  }

  TQcComPort& self;
  mutable std::mutex mu;
  std::condition_variable dispatchCv;  // wakes the dispatcher
  std::condition_variable outputCv;    // wakes the output thread
  std::condition_variable inputCv;     // new input (WaitForText)
  std::condition_variable stateCv;     // input drained, dispatch ended, close ended

  // Settings.
  int comNumber = 0;
  std::string deviceName;
  DeviceFactory factory;
  int baud = 19200;
  size_t inSize = 8192;
  size_t outSize = 8192;
  THWFlowOptions hwFlow = hwfUseRTS | hwfRequireCTS;
  size_t bufferFull = 7372;
  size_t bufferResume = 819;
  size_t traceSize = 32000;
  size_t logSize = 10000;
  bool autoOpen = false;
  std::shared_ptr<Clock> clock;
  std::string traceName = "QCPREF.TRC";
  std::string logName = "QCPREF.LOG";
  std::array<void*, kPortTagSlots> tags;

  // The current opening.
  std::shared_ptr<Session> session;
  bool closing = false;
  int detachedDispatchers = 0;
  TDeviceLayer layer = dlTermios;

  // Buffers and flow control.
  ByteRing in;
  ByteRing out;
  uint64_t outGeneration = 0;  // bumped by every discard of the output queue
  uint64_t bytesWritten = 0;
  std::deque<uint8_t> urgent;  // XON/XOFF to send ahead of the queue
  bool obeyXoff = false;
  bool sendXoff = false;
  bool xoffReceived = false;
  bool xoffSent = false;
  bool hungUp = false;
  bool dtr = true;
  bool rts = true;
  uint8_t modemStatus = 0;
  uint8_t lineErrors = 0;

  // Triggers and events.
  int triggerLength = 1;
  bool newInput = false;
  std::array<TimerTrigger, kMaxTriggersPerKind> timers;
  std::array<StatusTriggerSlot, kMaxTriggersPerKind> statuses;
  std::vector<std::pair<int, EventProc>> procs;
  int nextProcId = 1;
  bool held = false;
  bool wake = false;

  // Trace and log.
  TTraceLogState tracing = tlOff;
  TTraceLogState logging = tlOff;
  TraceRecord trace;
  DispatchLog log;

  bool IsOpen() const { return session && !session->stopping; }

  void Log(std::string_view type, std::string_view subType, long data, std::string_view other = {}) {
    if (logging != tlOn || !session) return;
    log.Add(clock->NowMs() - session->openedAtMs, type, subType, data, other);
  }

  void Trace(bool transmit, const uint8_t* data, size_t len) {
    if (tracing == tlOn) trace.Add(transmit, data, len);
  }

  void WakeDispatcher() {
    wake = true;
    dispatchCv.notify_all();
  }

  void QueueUrgent(uint8_t b) {
    urgent.push_back(b);
    Trace(true, &b, 1);
    outputCv.notify_all();
  }

  // Receive-side software flow: XOFF once BufferFull bytes wait, XON when
  // they have fallen to BufferResume.
  void CheckInputFlow() {
    if (!sendXoff || !IsOpen()) return;
    if (!xoffSent && in.Size() >= bufferFull) {
      xoffSent = true;
      QueueUrgent(kXoff);
      Log("Line", "SendXoff", static_cast<long>(in.Size()));
    } else if (xoffSent && in.Size() <= bufferResume) {
      xoffSent = false;
      QueueUrgent(kXon);
      Log("Line", "SendXon", static_cast<long>(in.Size()));
    }
  }

  // An event procedure that waits for input (WaitForText, or polling
  // InputWaiting) blocks the dispatcher that would fetch it: on that thread the
  // reader fetches the input itself.
  void PullIfDispatcher(std::unique_lock<std::mutex>& lk) {
    const std::shared_ptr<Session> s = session;
    if (!s || s->stopping || std::this_thread::get_id() != s->dispatcherId) return;
    PullInput(*s, lk, s->readChunk);
  }

  void InputConsumed() {
    CheckInputFlow();
    if (session && session->inputReady) WakeDispatcher();
  }

  int AutoOpenIfClosed(std::unique_lock<std::mutex>& lk) {
    if (IsOpen()) return ecOK;
    if (!autoOpen) return ecCommNotOpen;
    lk.unlock();
    const int rc = OpenPort();
    lk.lock();
    if (rc < 0) return rc;
    return IsOpen() ? ecOK : ecCommNotOpen;
  }

  // ---------------------------------------------------------------- opening
  int OpenPort() {
    std::unique_lock<std::mutex> lk(mu);
    stateCv.wait(lk, [&] { return !closing; });
    if (session) return ecOK;

    std::string name = deviceName;
    if (name.empty()) {
      if (comNumber == 0) return ecNoPortSelected;
      name = ResolvePort(comNumber);
      if (name.empty()) return ecBadId;
    }
    const std::string canonical = CanonicalDeviceName(name);
    if (!ClaimDevice(canonical)) return ecAlreadyOpen;

    std::unique_ptr<SerialDevice> device;
    const DeviceFactory open = factory ? factory : DeviceFactory(OpenTermiosDevice);
    int rc = open(name, device);
    if (rc == ecOK && !device) rc = ecBadId;
    if (rc == ecOK) rc = device->Configure({baud, hwFlow != 0});
    if (rc != ecOK) {
      device.reset();
      ReleaseDevice(canonical);
      return rc;
    }
    device->SetModemControl(dtr, rts);  // ecNotSupported on a pty is fine

    auto s = std::make_shared<Session>();
    s->device = std::move(device);
    s->claimedName = canonical;
    s->openedAtMs = clock->NowMs();
    layer = s->device->Layer();

    in.Reset(inSize);
    out.Reset(outSize);
    outGeneration = 0;
    bytesWritten = 0;
    urgent.clear();
    xoffReceived = xoffSent = false;
    hungUp = false;
    newInput = false;
    held = false;
    wake = false;
    lineErrors = 0;
    modemStatus = 0;
    s->device->ModemStatus(modemStatus);
    trace.SetCapacity(traceSize);
    log.SetCapacity(logSize);
    if (tracing != tlOn) tracing = tlOff;
    if (logging != tlOn) logging = tlOff;
    trace.Clear();
    log.Clear();
    session = s;
    Log("Device", "Open", baud, name);

    s->dispatcherThread = std::thread([this, s] { DispatcherLoop(s); });
    s->dispatcherId = s->dispatcherThread.get_id();
    s->eventThread = std::thread([this, s] { EventLoop(s); });
    s->outputThread = std::thread([this, s] { OutputLoop(s); });
    return ecOK;
  }

  int ClosePort() {
    std::unique_lock<std::mutex> lk(mu);
    if (!session || closing) return ecOK;
    std::shared_ptr<Session> s = session;
    closing = true;
    s->stopping = true;
    Log("Device", "Close", 0);
    dispatchCv.notify_all();
    outputCv.notify_all();
    inputCv.notify_all();
    stateCv.notify_all();
    s->device->Interrupt();
    const bool onDispatcher = std::this_thread::get_id() == s->dispatcherId;
    lk.unlock();

    s->eventThread.join();
    s->outputThread.join();
    if (onDispatcher) {
      // Closed from an event procedure: the dispatcher ends when it returns.
      s->dispatcherThread.detach();
    } else {
      s->dispatcherThread.join();
    }

    lk.lock();
    if (onDispatcher) {
      s->detached = true;
      ++detachedDispatchers;
    }
    WriteOnClose();
    s->device.reset();
    ReleaseDevice(s->claimedName);
    session.reset();
    in.Clear();
    out.Clear();
    urgent.clear();
    procs.clear();
    for (auto& t : timers) t = TimerTrigger{};
    for (auto& t : statuses) t = StatusTriggerSlot{};
    held = false;
    closing = false;
    stateCv.notify_all();
    return ecOK;
  }

  void WriteOnClose() {
    // Written as a dump; tlOn goes on at the next opening, a paused trace stops.
    if (tracing == tlOn || tracing == tlPause) {
      WriteTextFile(traceName, trace.Format(), false);
      trace.Clear();
      if (tracing == tlPause) tracing = tlOff;
    }
    if (logging == tlOn || logging == tlPause) {
      WriteTextFile(logName, log.Format(), false);
      log.Clear();
      if (logging == tlPause) logging = tlOff;
    }
  }

  // ------------------------------------------------------------ event thread
  void EventLoop(std::shared_ptr<Session> s) {
    NameThread("qc-port-event");
    std::unique_lock<std::mutex> lk(mu);
    while (!s->stopping) {
      lk.unlock();
      const DeviceWait w = s->device->WaitReadable(1000);
      lk.lock();
      if (s->stopping || w == DeviceWait::Interrupted) break;
      if (w == DeviceWait::Timeout) continue;
      s->inputReady = true;
      WakeDispatcher();
      // Poll again only when the dispatcher has drained the device; after a
      // hang-up pause so that a dead line does not spin.
      stateCv.wait(lk, [&] { return s->stopping || !s->inputReady; });
      if (w == DeviceWait::Hangup) {
        stateCv.wait_for(lk, std::chrono::milliseconds(kDispatchIntervalMs), [&] { return s->stopping; });
      }
    }
  }

  // ----------------------------------------------------------- output thread
  void OutputLoop(std::shared_ptr<Session> s) {
    NameThread("qc-port-output");
    std::vector<uint8_t> chunk(kChunk);
    std::unique_lock<std::mutex> lk(mu);
    while (!s->stopping) {
      outputCv.wait(lk, [&] {
        return s->stopping || !urgent.empty() || (!out.Empty() && !(obeyXoff && xoffReceived));
      });
      if (s->stopping) break;
      const bool isUrgent = !urgent.empty();
      size_t len;
      if (isUrgent) {
        chunk[0] = urgent.front();
        len = 1;
      } else {
        len = out.Peek(chunk.data(), chunk.size());
      }
      const uint64_t generation = outGeneration;
      lk.unlock();
      const long n = s->device->Write(chunk.data(), len);
      if (n == 0) s->device->WaitWritable(kDeviceWaitMs);
      lk.lock();
      if (s->stopping) break;
      if (n > 0) {
        if (isUrgent) {
          urgent.pop_front();
        } else if (generation == outGeneration) {
          out.Drop(static_cast<size_t>(n));
        }
        bytesWritten += static_cast<uint64_t>(n);
        Log("Dispatch", "WriteCom", n);
        WakeDispatcher();
      } else if (n < 0) {
        // Nothing can be written to a line that has gone: drop the queue so
        // that whoever waits for it to drain finds out at once.
        Log("Line", "WriteFail", static_cast<long>(out.Size()));
        out.Clear();
        urgent.clear();
        ++outGeneration;
        WakeDispatcher();
        outputCv.wait_for(lk, std::chrono::milliseconds(kDispatchIntervalMs), [&] { return s->stopping; });
      }
    }
  }

  // -------------------------------------------------------------- dispatcher
  void DispatcherLoop(std::shared_ptr<Session> s) {
    NameThread("qc-port-dispatch");
    std::vector<uint8_t>& chunk = s->readChunk;
    std::vector<PendingEvent> events;
    std::unique_lock<std::mutex> lk(mu);
    while (!s->stopping) {
      wake = false;
      PullInput(*s, lk, chunk);
      if (s->stopping) break;
      PollLines(*s, lk);
      if (s->stopping) break;
      events.clear();
      if (!held) CollectEvents(events);
      if (!events.empty()) {
        s->dispatching = true;
        Deliver(*s, lk, events);
        s->dispatching = false;
        stateCv.notify_all();
        continue;  // procedures may have armed triggers that are due already
      }
      dispatchCv.wait_for(lk, NextWait(), [&] { return wake || s->stopping; });
    }
    if (s->detached) {
      --detachedDispatchers;
      stateCv.notify_all();
    }
  }

  void PullInput(Session& s, std::unique_lock<std::mutex>& lk, std::vector<uint8_t>& chunk) {
    for (;;) {
      const size_t space = in.Free();
      if (space == 0) return;  // inputReady stays set until a reader makes room
      lk.unlock();
      const long n = s.device->Read(chunk.data(), std::min(space, chunk.size()));
      lk.lock();
      if (s.stopping) return;
      if (n > 0) {
        hungUp = false;
        TakeInput(chunk.data(), static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && !hungUp) {
        hungUp = true;
        Log("Line", "Hangup", 0);
      }
      s.inputReady = false;
      stateCv.notify_all();
      return;
    }
  }

  void TakeInput(uint8_t* data, size_t n) {
    Trace(false, data, n);
    Log("Dispatch", "ReadCom", static_cast<long>(n));
    size_t kept = n;
    if (obeyXoff) {
      kept = 0;
      for (size_t i = 0; i < n; ++i) {
        if (data[i] == kXoff) {
          xoffReceived = true;
          Log("Line", "GotXoff", 0);
        } else if (data[i] == kXon) {
          xoffReceived = false;
          Log("Line", "GotXon", 0);
          outputCv.notify_all();
        } else {
          data[kept++] = data[i];
        }
      }
    }
    if (kept > 0) {
      in.Push(data, kept);
      newInput = true;
      inputCv.notify_all();
    }
    CheckInputFlow();
  }

  void PollLines(Session& s, std::unique_lock<std::mutex>& lk) {
    bool wantStatus = false, wantErrors = false;
    for (const auto& t : statuses) {
      if (!t.armed) continue;
      wantStatus |= t.kind == stModemStatus;
      wantErrors |= t.kind == stLineError;
    }
    if (!wantStatus && !wantErrors) return;
    uint8_t status = 0, errors = 0;
    lk.unlock();
    const int statusRc = wantStatus ? s.device->ModemStatus(status) : ecNotSupported;
    if (wantErrors) s.device->TakeLineErrors(errors);
    lk.lock();
    if (statusRc == ecOK) {
      if (status != modemStatus) Log("Line", "Status", status);
      modemStatus = status;
    }
    lineErrors |= errors;
  }

  void CollectEvents(std::vector<PendingEvent>& events) {
    const int64_t now = clock->NowMs();
    if (triggerLength > 0 && newInput && in.Size() >= static_cast<size_t>(triggerLength)) {
      newInput = false;
      events.push_back({teAvail, kAvailTrigger, static_cast<int32_t>(in.Size())});
      Log("Trigger", "Avail", kAvailTrigger, std::to_string(in.Size()));
    }
    for (int i = 0; i < kMaxTriggersPerKind; ++i) {
      TimerTrigger& t = timers[i];
      if (t.used && t.armed && now >= t.deadlineMs) {
        t.armed = false;
        events.push_back({teTimer, kTimerTriggerBase + i + 1, 0});
        Log("Trigger", "Timer", kTimerTriggerBase + i + 1);
      }
    }
    for (int i = 0; i < kMaxTriggersPerKind; ++i) {
      StatusTriggerSlot& t = statuses[i];
      if (!t.used || !t.armed) continue;
      int32_t data = 0;
      bool fire = false;
      switch (t.kind) {
        case stOutbuffFree:
          data = static_cast<int32_t>(out.Free());
          fire = data >= t.value;
          break;
        case stOutbuffUsed:
          data = static_cast<int32_t>(out.Size());
          fire = data <= t.value;
          break;
        case stOutSent:
          data = static_cast<int32_t>(bytesWritten - t.sentMark);
          fire = data > 0;
          break;
        case stModemStatus:
          data = modemStatus;
          fire = ((modemStatus ^ t.baseline) & t.value) != 0;
          break;
        case stLineError:
          data = lineErrors & t.value;
          fire = data != 0;
          if (fire) lineErrors &= static_cast<uint8_t>(~t.value);
          break;
      }
      if (fire) {
        t.armed = false;
        events.push_back({teStatus, kStatusTriggerBase + i + 1, data});
        Log("Trigger", kStatusTriggerNames[t.kind], kStatusTriggerBase + i + 1, std::to_string(data));
      }
    }
  }

  // Puts an event that could not be delivered (events were held meanwhile)
  // back, so that it comes when events are released.
  void Repend(const PendingEvent& e) {
    if (e.event == teAvail) {
      newInput = true;
    } else if (e.event == teTimer) {
      TimerTrigger& t = timers[e.handle - kTimerTriggerBase - 1];
      if (t.used && !t.armed) t.armed = true;  // its deadline has passed
    } else if (e.event == teStatus) {
      StatusTriggerSlot& t = statuses[e.handle - kStatusTriggerBase - 1];
      if (t.used && !t.armed) t.armed = true;
    }
  }

  bool Attached(int id) const {
    return std::any_of(procs.begin(), procs.end(), [id](const auto& p) { return p.first == id; });
  }

  void Deliver(Session& s, std::unique_lock<std::mutex>& lk, const std::vector<PendingEvent>& events) {
    for (size_t i = 0; i < events.size(); ++i) {
      if (s.stopping) return;
      if (held) {
        for (size_t j = i; j < events.size(); ++j) Repend(events[j]);
        return;
      }
      const auto snapshot = procs;
      for (const auto& [id, proc] : snapshot) {
        if (s.stopping || !Attached(id)) continue;
        lk.unlock();
        bool failed = false;
        try {
          proc(self, events[i].event, events[i].handle, events[i].data);
        } catch (...) {
          // An escaping exception would end the dispatcher and the program
          // with it; the port goes on and the log says what happened.
          failed = true;
        }
        lk.lock();
        if (failed) Log("Dispatch", "ProcFailed", events[i].handle);
      }
    }
  }

  // How long the dispatcher may sleep: until the next timer is due on the
  // port's clock, and never longer than 50 ms of real time, so that the line
  // status is looked at even when the clock is a test's manual one.
  std::chrono::microseconds NextWait() const {
    std::chrono::microseconds wait = std::chrono::milliseconds(kDispatchIntervalMs);
    if (held) return wait;  // due timers wait for the release, which wakes us
    const int64_t now = clock->NowMs();
    for (const auto& t : timers) {
      if (t.used && t.armed) wait = std::min(wait, clock->RealDelay(std::max<int64_t>(t.deadlineMs - now, 0)));
    }
    return wait;
  }

  // ----------------------------------------------------------------- output
  int Queue(const uint8_t* data, size_t len) {
    std::unique_lock<std::mutex> lk(mu);
    if (const int rc = AutoOpenIfClosed(lk); rc < 0) return rc;
    if (len > out.Free()) return ecOutputBufferTooSmall;
    out.Push(data, len);
    Trace(true, data, len);
    outputCv.notify_all();
    return ecOK;
  }

  // --------------------------------------------------------------- triggers
  TimerTrigger* Timer(int handle) {
    const int i = handle - kTimerTriggerBase - 1;
    if (i < 0 || i >= kMaxTriggersPerKind || !timers[i].used) return nullptr;
    return &timers[i];
  }

  StatusTriggerSlot* Status(int handle) {
    const int i = handle - kStatusTriggerBase - 1;
    if (i < 0 || i >= kMaxTriggersPerKind || !statuses[i].used) return nullptr;
    return &statuses[i];
  }
};

// ============================================================== the component

TQcComPort::TQcComPort() : impl_(std::make_unique<Impl>(*this)) {}

TQcComPort::~TQcComPort() {
  impl_->ClosePort();
  std::unique_lock<std::mutex> lk(impl_->mu);
  impl_->stateCv.wait(lk, [&] { return impl_->detachedDispatchers == 0; });
}

int TQcComPort::ComNumber() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->comNumber;
}

void TQcComPort::SetComNumber(int comNumber) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->comNumber = comNumber;
}

std::string TQcComPort::DeviceName() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->deviceName;
}

void TQcComPort::SetDeviceName(std::string path) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->deviceName = std::move(path);
}

std::string TQcComPort::ResolvedDeviceName() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->deviceName.empty() ? ResolvePort(impl_->comNumber) : impl_->deviceName;
}

void TQcComPort::SetDeviceFactory(DeviceFactory factory) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->factory = std::move(factory);
}

TDeviceLayer TQcComPort::DeviceLayer() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->layer;
}

int TQcComPort::Baud() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->baud;
}

int TQcComPort::SetBaud(int baud) { return SwitchBaud(baud); }

size_t TQcComPort::InSize() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->inSize;
}

size_t TQcComPort::OutSize() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->outSize;
}

int TQcComPort::SetInSize(size_t size) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (impl_->session) return ecAlreadyOpen;
  if (size == 0) return ecBadArgument;
  impl_->inSize = size;
  return ecOK;
}

int TQcComPort::SetOutSize(size_t size) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (impl_->session) return ecAlreadyOpen;
  if (size == 0) return ecBadArgument;
  impl_->outSize = size;
  return ecOK;
}

THWFlowOptions TQcComPort::HWFlowOptions() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->hwFlow;
}

int TQcComPort::SetHWFlowOptions(THWFlowOptions options) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->hwFlow = options & (hwfUseRTS | hwfRequireCTS);
  if (!impl_->IsOpen()) return ecOK;
  return impl_->session->device->Configure({impl_->baud, impl_->hwFlow != 0});
}

size_t TQcComPort::BufferFull() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->bufferFull;
}

size_t TQcComPort::BufferResume() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->bufferResume;
}

void TQcComPort::SetBufferFull(size_t bytes) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->bufferFull = bytes;
}

void TQcComPort::SetBufferResume(size_t bytes) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->bufferResume = bytes;
}

size_t TQcComPort::TraceSize() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->traceSize;
}

void TQcComPort::SetTraceSize(size_t entries) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->traceSize = entries;
  impl_->trace.SetCapacity(entries);
}

size_t TQcComPort::LogSize() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->logSize;
}

void TQcComPort::SetLogSize(size_t entries) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->logSize = entries;
  impl_->log.SetCapacity(entries);
}

bool TQcComPort::AutoOpen() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->autoOpen;
}

void TQcComPort::SetAutoOpen(bool autoOpen) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->autoOpen = autoOpen;
}

std::shared_ptr<Clock> TQcComPort::GetClock() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->clock;
}

void TQcComPort::SetClock(std::shared_ptr<Clock> clock) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->clock = clock ? std::move(clock) : DefaultClock();
}

bool TQcComPort::Open() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->IsOpen();
}

void TQcComPort::SetOpen(bool open) { RaiseForCode(open ? OpenPort() : ClosePort()); }

int TQcComPort::OpenPort() { return impl_->OpenPort(); }

int TQcComPort::ClosePort() { return impl_->ClosePort(); }

int TQcComPort::InputWaiting() const {
  std::unique_lock<std::mutex> lk(impl_->mu);
  impl_->PullIfDispatcher(lk);
  return static_cast<int>(impl_->in.Size());
}

int TQcComPort::ReadByte(uint8_t& byte) {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (const int rc = impl_->AutoOpenIfClosed(lk); rc < 0) return rc;
  if (impl_->in.Empty()) impl_->PullIfDispatcher(lk);
  if (impl_->in.Empty()) return ecBufferIsEmpty;
  impl_->in.Pop(&byte, 1);
  impl_->InputConsumed();
  return ecOK;
}

int TQcComPort::ReadBlock(void* buf, size_t len) {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (const int rc = impl_->AutoOpenIfClosed(lk); rc < 0) return rc;
  if (impl_->in.Empty()) impl_->PullIfDispatcher(lk);
  const size_t n = impl_->in.Pop(static_cast<uint8_t*>(buf), len);
  if (n > 0) impl_->InputConsumed();
  return static_cast<int>(n);
}

int TQcComPort::DiscardInput() {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (!impl_->IsOpen()) return ecCommNotOpen;
  impl_->session->device->Purge(true, false);
  impl_->in.Clear();
  impl_->newInput = false;
  impl_->InputConsumed();
  return ecOK;
}

int TQcComPort::SendByte(uint8_t byte) { return impl_->Queue(&byte, 1); }

int TQcComPort::SendText(std::string_view text) {
  return impl_->Queue(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

int TQcComPort::SendBlock(const void* data, size_t len) {
  return impl_->Queue(static_cast<const uint8_t*>(data), len);
}

int TQcComPort::OutputSpace() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return static_cast<int>(impl_->IsOpen() ? impl_->out.Free() : impl_->outSize);
}

int TQcComPort::OutputWaiting() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return static_cast<int>(impl_->out.Size());
}

int TQcComPort::DiscardOutput() {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (!impl_->IsOpen()) return ecCommNotOpen;
  impl_->out.Clear();
  ++impl_->outGeneration;
  impl_->session->device->Purge(false, true);
  impl_->WakeDispatcher();
  return ecOK;
}

int TQcComPort::SetLineSignals(bool dtr, bool rts) {
  std::unique_lock<std::mutex> lk(impl_->mu);
  impl_->dtr = dtr;
  impl_->rts = rts;
  if (!impl_->IsOpen()) return ecOK;
  impl_->Log("Line", "Signals", (dtr ? 1 : 0) | (rts ? 2 : 0), std::string("DTR ") + (dtr ? "on" : "off") +
                                                                    ", RTS " + (rts ? "on" : "off"));
  const int rc = impl_->session->device->SetModemControl(dtr, rts);
  return rc == ecNotSupported ? ecOK : rc;
}

bool TQcComPort::Dtr() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->dtr;
}

bool TQcComPort::Rts() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->rts;
}

uint8_t TQcComPort::ModemStatus() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (!impl_->IsOpen()) return 0;
  uint8_t bits = 0;
  if (impl_->session->device->ModemStatus(bits) != ecOK) return 0;
  return bits;
}

bool TQcComPort::CarrierPresent() { return (ModemStatus() & msDCD) != 0; }

LineSettings TQcComPort::GetLineSettings() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  LineSettings s;
  s.baud = impl_->baud;
  return s;
}

int TQcComPort::SwitchBaud(int baud) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (!ValidBaud(baud)) return ecBaudRate;
  if (impl_->IsOpen()) {
    const int rc = impl_->session->device->Configure({baud, impl_->hwFlow != 0});
    if (rc != ecOK) return rc;
    impl_->Log("Line", "Baud", baud);
  }
  impl_->baud = baud;
  return ecOK;
}

int TQcComPort::SetXonXoff(bool obeyXoff, bool sendXoff) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->obeyXoff = obeyXoff;
  impl_->sendXoff = sendXoff;
  if (!obeyXoff) impl_->xoffReceived = false;
  impl_->CheckInputFlow();
  impl_->outputCv.notify_all();
  return ecOK;
}

int TQcComPort::ClearXonXoff() {
  std::lock_guard<std::mutex> lk(impl_->mu);
  const bool resume = impl_->xoffSent && impl_->IsOpen();
  impl_->obeyXoff = impl_->sendXoff = false;
  impl_->xoffReceived = false;
  impl_->xoffSent = false;
  // A far end we stopped would wait for ever otherwise.
  if (resume) impl_->QueueUrgent(kXon);
  impl_->outputCv.notify_all();
  return ecOK;
}

int TQcComPort::TriggerLength() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->triggerLength;
}

int TQcComPort::SetTriggerLength(int bytes) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (bytes < 0) return ecBadArgument;
  if (static_cast<size_t>(bytes) > impl_->inSize) return ecTriggerTooLong;
  impl_->triggerLength = bytes;
  impl_->WakeDispatcher();
  return ecOK;
}

int TQcComPort::NewTimerTrigger() {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (const int rc = impl_->AutoOpenIfClosed(lk); rc < 0) return rc;
  for (int i = 0; i < kMaxTriggersPerKind; ++i) {
    if (!impl_->timers[i].used) {
      impl_->timers[i] = TimerTrigger{};
      impl_->timers[i].used = true;
      return kTimerTriggerBase + i + 1;
    }
  }
  return ecNoMoreTriggers;
}

int TQcComPort::NewStatusTrigger(TStatusTrigger kind) {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (const int rc = impl_->AutoOpenIfClosed(lk); rc < 0) return rc;
  if (kind < stModemStatus || kind > stOutSent) return ecBadArgument;
  for (int i = 0; i < kMaxTriggersPerKind; ++i) {
    if (!impl_->statuses[i].used) {
      impl_->statuses[i] = StatusTriggerSlot{};
      impl_->statuses[i].used = true;
      impl_->statuses[i].kind = kind;
      return kStatusTriggerBase + i + 1;
    }
  }
  return ecNoMoreTriggers;
}

int TQcComPort::FreeTrigger(int handle) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (TimerTrigger* t = impl_->Timer(handle)) {
    *t = TimerTrigger{};
    return ecOK;
  }
  if (StatusTriggerSlot* t = impl_->Status(handle)) {
    *t = StatusTriggerSlot{};
    return ecOK;
  }
  return ecBadTriggerHandle;
}

int TQcComPort::ArmTimerTrigger(int handle, int32_t ticks, bool on) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  TimerTrigger* t = impl_->Timer(handle);
  if (!t) return ecBadTriggerHandle;
  t->armed = on;
  if (on) {
    const int64_t clipped = std::clamp<int64_t>(ticks, 0, kMaxTicks);
    t->deadlineMs = impl_->clock->NowMs() + TicksToMs(clipped);
  }
  impl_->WakeDispatcher();
  return ecOK;
}

int TQcComPort::ArmStatusTrigger(int handle, int32_t value, bool on) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  StatusTriggerSlot* t = impl_->Status(handle);
  if (!t) return ecBadTriggerHandle;
  t->armed = on;
  t->value = value;
  if (on && impl_->IsOpen()) {
    t->sentMark = impl_->bytesWritten;
    if (t->kind == stModemStatus) {
      uint8_t bits = 0;
      if (impl_->session->device->ModemStatus(bits) == ecOK) impl_->modemStatus = bits;
      t->baseline = impl_->modemStatus;
    }
  }
  impl_->WakeDispatcher();
  return ecOK;
}

int TQcComPort::AttachEventProc(EventProc proc) {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (const int rc = impl_->AutoOpenIfClosed(lk); rc < 0) return rc;
  if (!proc) return ecBadArgument;
  const int id = impl_->nextProcId++;
  impl_->procs.emplace_back(id, std::move(proc));
  return id;
}

int TQcComPort::DetachEventProc(int id) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  auto& procs = impl_->procs;
  const auto it = std::find_if(procs.begin(), procs.end(), [id](const auto& p) { return p.first == id; });
  if (it == procs.end()) return ecBadHandle;
  procs.erase(it);
  return ecOK;
}

bool TQcComPort::HoldEvents(bool held) {
  std::unique_lock<std::mutex> lk(impl_->mu);
  const bool previous = impl_->held;
  impl_->held = held;
  if (held) {
    const std::shared_ptr<Session> s = impl_->session;
    if (s && std::this_thread::get_id() != s->dispatcherId) {
      impl_->stateCv.wait(lk, [&] { return !s->dispatching || s->stopping; });
    }
  } else if (previous) {
    impl_->WakeDispatcher();
  }
  return previous;
}

bool TQcComPort::EventsHeld() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->held;
}

int TQcComPort::SetPortTag(int slot, void* tag) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (slot < 1 || slot > kPortTagSlots) return ecBadArgument;
  impl_->tags[slot - 1] = tag;
  return ecOK;
}

void* TQcComPort::GetPortTag(int slot) const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  if (slot < 1 || slot > kPortTagSlots) return nullptr;
  return impl_->tags[slot - 1];
}

bool TQcComPort::WaitForText(std::string_view text, int32_t ticks, bool ignoreCase) {
  std::unique_lock<std::mutex> lk(impl_->mu);
  if (impl_->AutoOpenIfClosed(lk) < 0) return false;
  if (text.empty()) return true;
  auto fold = [ignoreCase](char c) {
    return ignoreCase ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
  };
  std::string wanted;
  for (char c : text) wanted += fold(c);
  std::string window;
  const std::shared_ptr<Clock> clock = impl_->clock;
  const bool onDispatcher = impl_->session && std::this_thread::get_id() == impl_->session->dispatcherId;
  constexpr std::chrono::microseconds kPollSlice{5000};
  const int64_t deadline = clock->NowMs() + TicksToMs(std::clamp<int64_t>(ticks, 0, kMaxTicks));
  for (;;) {
    uint8_t b;
    while (impl_->in.Pop(&b, 1) == 1) {
      impl_->InputConsumed();
      window += fold(static_cast<char>(b));
      if (window.size() > wanted.size()) window.erase(0, 1);
      if (window == wanted) return true;
    }
    if (!impl_->IsOpen()) return false;
    const int64_t now = clock->NowMs();
    if (now >= deadline) return false;
    std::chrono::microseconds slice = clock->RealDelay(deadline - now);
    if (onDispatcher) slice = std::min(slice, kPollSlice);
    impl_->inputCv.wait_for(lk, slice);
    if (onDispatcher) impl_->PullIfDispatcher(lk);
  }
}

TTraceLogState TQcComPort::Tracing() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->tracing;
}

int TQcComPort::SetTracing(TTraceLogState state) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return Switch(impl_->tracing, state, impl_->IsOpen(), impl_->trace, impl_->traceName, ecTracingNotEnabled);
}

TTraceLogState TQcComPort::Logging() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->logging;
}

int TQcComPort::SetLogging(TTraceLogState state) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return Switch(impl_->logging, state, impl_->IsOpen(), impl_->log, impl_->logName, ecLoggingNotEnabled);
}

std::string TQcComPort::TraceName() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->traceName;
}

void TQcComPort::SetTraceName(std::string name) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->traceName = std::move(name);
}

std::string TQcComPort::LogName() const {
  std::lock_guard<std::mutex> lk(impl_->mu);
  return impl_->logName;
}

void TQcComPort::SetLogName(std::string name) {
  std::lock_guard<std::mutex> lk(impl_->mu);
  impl_->logName = std::move(name);
}

}  // namespace qc
