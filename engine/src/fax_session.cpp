#include "fax_session.h"

#include <chrono>
#include <thread>

#include "control/error_codes.h"
#include "header_renderer.h"

namespace qc {

SessionHandle::SessionHandle() = default;
SessionHandle::~SessionHandle() = default;

FaxSession::FaxSession() : gate_(std::make_shared<Gate>()) { gate_->session = this; }

FaxSession::~FaxSession() { Shutdown(); }

void FaxSession::Shutdown() {
  {
    std::lock_guard lock(gate_->mutex);
    if (!gate_->session) return;
    gate_->session = nullptr;
  }
  SessionData& d = Data();
  if (port_ && d.eventProcAttached) {
    port_->DetachEventProc();
    d.eventProcAttached = false;
    for (int* t : {&d.statusTrigger, &d.timeoutTrigger, &d.outFreeTrigger, &d.outUsedTrigger,
                   &d.modemStatusTrigger}) {
      if (*t > 0) port_->FreeTrigger(*t);
      *t = -1;
    }
  }
  running_ = false;
}

void FaxSession::SetOwner(std::shared_ptr<SessionOwner> owner, OwnerLoop* loop) {
  Data().owner = std::move(owner);
  loop_ = loop;
}

void FaxSession::CallOwner(const std::function<void()>& fn) {
  inNotification_ = true;
  if (loop_)
    RunOnOwner(*loop_, fn);
  else
    fn();
  inNotification_ = false;
}

void FaxSession::Log(std::string_view text) {
  if (logSink_) logSink_(text);
}

void FaxSession::SetState(uint8_t state) {
  if (state == h_.state) return;
  if (logSink_) {
    std::string line = "state ";
    line += StateName(h_.state);
    line += " -> ";
    line += StateName(state);
    logSink_(line);
  }
  h_.state = state;
}

void FaxSession::SetError(int code) {
  Data().error = code;
  if (logSink_) logSink_("error " + std::to_string(code));
  if (auto owner = Data().owner)
    CallOwner([&] { owner->ErrorNotice(code); });
}

void FaxSession::SetStatus(uint16_t status, bool force) {
  Data().status = status;
  if (force) Cls().forceStatus = true;
}

bool FaxSession::NotifyNextFax() {
  bool more = false;
  if (auto owner = Data().owner) CallOwner([&] { more = owner->NextFaxQuery(h_); });
  return more;
}

void FaxSession::NotifyStatus(int which) {
  if (auto owner = Data().owner) CallOwner([&] { owner->StatusNotice(which); });
}

void FaxSession::NotifyLog(int code) {
  if (auto owner = Data().owner) CallOwner([&] { owner->LogNotice(code); });
}

bool FaxSession::NotifyAccept() {
  int answer = 1;
  if (auto owner = Data().owner) CallOwner([&] { answer = owner->AcceptQuery(h_); });
  return answer == 1;
}

void FaxSession::NotifyName() {
  if (auto owner = Data().owner) CallOwner([&] { owner->NameQuery(h_); });
}

void FaxSession::ArmStatusTimer() {
  SessionData& d = Data();
  if (d.statusTrigger >= 0)
    port_->ArmTimerTrigger(d.statusTrigger, std::min<uint32_t>(SecondsToTicks(d.statusInterval), kMaxTimerTicks));
}

void FaxSession::Finish() {
  SessionData& d = Data();
  for (int* t : {&d.availTrigger, &d.statusTrigger, &d.timeoutTrigger, &d.outFreeTrigger,
                 &d.outUsedTrigger, &d.modemStatusTrigger}) {
    // The data-available trigger is the port's own; it is not freed.
    if (*t > 0) port_->FreeTrigger(*t);
    *t = -1;
  }
  if (d.eventProcAttached) {
    port_->DetachEventProc();
    d.eventProcAttached = false;
  }
  d.prepared = false;
  running_ = false;
  const int code = d.error;
  if (logSink_) logSink_("finish " + std::to_string(code));
  if (auto owner = d.owner) {
    if (loop_)
      loop_->Post([owner, code] { owner->FinishNotice(code); });
    else
      owner->FinishNotice(code);
  }
}

bool FaxSession::TriggerIsAccepted(int trigger) const {
  const SessionData& d = *h_.data;
  return trigger == d.availTrigger || trigger == d.timeoutTrigger || trigger == d.statusTrigger ||
         trigger == d.outFreeTrigger || trigger == d.outUsedTrigger;
}

int FaxSession::Start() {
  SessionData& d = Data();
  if (!port_) return ecPortNotAssigned;
  // The whole start runs under the gate: a dispatcher still leaving the last
  // session's final event must not see the records change under it.
  MachineLock lock(*gate_, machineThread_);
  running_ = true;
  abortRequested_ = false;
  d.availTrigger = port_->SetDataTrigger(1);
  d.timeoutTrigger = port_->NewTimerTrigger();
  d.statusTrigger = port_->NewTimerTrigger();
  d.outFreeTrigger = port_->NewStatusTrigger(StatusTriggerKind::OutbuffFree);
  d.outUsedTrigger = port_->NewStatusTrigger(StatusTriggerKind::OutbuffUsed);
  d.modemStatusTrigger = port_->NewStatusTrigger(StatusTriggerKind::ModemStatus);
  if (d.availTrigger < 0 || d.timeoutTrigger < 0 || d.statusTrigger < 0 || d.outFreeTrigger < 0 ||
      d.outUsedTrigger < 0 || d.modemStatusTrigger < 0) {
    SetError(ecNoMoreTriggers);
    Finish();
    return d.error;
  }
  if (PrepareStep() != 0 || d.error != 0) {
    NotifyStatus(2);
    Finish();
    return d.error;
  }
  EventEntry(peAvail, d.availTrigger);
  if (h_.state == EndState()) return d.error;

  std::weak_ptr<Gate> weakGate = gate_;
  const int attached = port_->AttachEventProc([weakGate](uint16_t code, int trigger) {
    auto gate = weakGate.lock();
    if (!gate) return;
    std::lock_guard guard(gate->mutex);
    FaxSession* session = gate->session;
    if (!session) return;
    session->machineThread_ = std::this_thread::get_id();
    session->EventEntry(code, trigger);
    session->machineThread_ = std::thread::id();
  });
  if (attached != 0) {
    SetError(attached);
    Finish();
    return d.error;
  }
  d.eventProcAttached = true;
  ArmStatusTimer();
  // Bytes that came in before the procedure was attached raised no event.
  if (port_->InputWaiting() > 0) EventEntry(peAvail, d.availTrigger);
  return 0;
}

FaxSession::MachineLock::MachineLock(Gate& gate, std::atomic<std::thread::id>& holder)
    : gate_(gate), holder_(holder), lock_(gate.mutex) {
  holder_ = std::this_thread::get_id();
}

FaxSession::MachineLock::~MachineLock() { holder_ = std::thread::id(); }

void FaxSession::Abort() {
  if (!running_) return;
  abortRequested_ = true;
  // Asked from inside the running machine (a notification on its thread):
  // the machine takes the request when its current run ends.
  if (machineThread_.load() == std::this_thread::get_id()) return;
  // Asked from inside a notification the machine is waiting on: it takes the
  // request as soon as the owner has answered.
  if (inNotification_ && loop_ && loop_->OnOwnerThread()) return;
  // The machine may be busy on the dispatcher thread, possibly waiting for the
  // owner; keep serving the owner while trying, and leave the request for the
  // machine's next run if it cannot be taken here.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (std::chrono::steady_clock::now() < deadline) {
    std::unique_lock lock(gate_->mutex, std::try_to_lock);
    if (lock.owns_lock()) {
      machineThread_ = std::this_thread::get_id();
      if (abortRequested_.exchange(false)) RunEvent(fnAbortRequest, 0);
      machineThread_ = std::thread::id();
      return;
    }
    if (!abortRequested_) return;
    if (loop_ && loop_->OnOwnerThread()) loop_->ProcessPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void FaxSession::EventEntry(uint16_t eventCode, int trigger) {
  RunEvent(eventCode, trigger);
  while (abortRequested_.exchange(false)) RunEvent(fnAbortRequest, 0);
}

void FaxSession::RunEvent(uint16_t eventCode, int trigger) {
  const SessionData& d = *h_.data;
  if (h_.state == EndState() || h_.state == ErrorState()) return;
  bool abort = eventCode == fnAbortRequest || abortRequested_.exchange(false);
  if (eventCode == peAvail) trigger = d.availTrigger;
  if (!abort && !TriggerIsAccepted(trigger)) return;

  abortEvent_ = false;
  bool runAction = false;
  if (abort) {
    SetStatus(fsUserAbort);
    Data().error = ecCancelRequested;  // no error notice for the user's own abort
    if (logSink_) logSink_("abort requested");
    SetState(ErrorState());
    abortEvent_ = true;
    runAction = true;
  }
  for (;;) {
    if (!runAction) {
      if (trigger == d.statusTrigger || Cls().forceStatus) {
        Cls().forceStatus = false;
        if (StatusWanted()) NotifyStatus(0);
        ArmStatusTimer();
        if (trigger == d.statusTrigger) return;
      }
      if (IsResponseState(h_.state)) {
        if (trigger == d.availTrigger) {
          if (!CollectResponse()) return;
        } else if (trigger == d.timeoutTrigger) {
          ResponseTimeout();
        } else {
          return;
        }
      }
    }
    runAction = false;
    RunAction(trigger);
    if (h_.state == EndState()) return;
    switch (NextRule(h_.state)) {
      case RunNext::Now:
        trigger = d.availTrigger;
        continue;
      case RunNext::IfInput:
        if (port_->InputWaiting() > 0) {
          trigger = d.availTrigger;
          continue;
        }
        return;
      case RunNext::Wait:
        return;
    }
  }
}

}  // namespace qc
