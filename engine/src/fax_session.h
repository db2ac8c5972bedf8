// The frame every fax session shares: the records, start and finish, the
// notifications to the owner, the event entry with its run-again rule, and the
// modem dialogue (modem_dialogue.cpp). The send and receive machines derive
// from it and supply their states.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "engine/owner_loop.h"
#include "fax_port.h"
#include "session_records.h"
#include "send_states.h"

namespace qc {

// Longest duration a timer takes; longer ones are clipped.
inline constexpr uint32_t kMaxTimerTicks = 39045157;

class FaxSession {
 public:
  FaxSession(const FaxSession&) = delete;
  FaxSession& operator=(const FaxSession&) = delete;
  virtual ~FaxSession();
  // The classes the last detection found (ok false before any).
  struct DetectedClasses {
    bool ok = false, class1 = false, class2 = false, class2_0 = false;
  };
  DetectedClasses LastDetected() const { return lastDetected_; }

  SessionHandle& Handle() { return h_; }
  const SessionHandle& Handle() const { return h_; }
  SessionData& Data() { return *h_.data; }
  ClassData& Cls() { return *h_.cls; }
  const SessionData& Data() const { return *h_.data; }
  const ClassData& Cls() const { return *h_.cls; }
  FaxPort* Port() const { return port_; }
  void SetPort(FaxPort* port) { port_ = port; }
  void SetOwner(std::shared_ptr<SessionOwner> owner, OwnerLoop* loop);
  // Receives one line per state transition and other engine events.
  void SetLogSink(std::function<void(std::string_view)> sink) { logSink_ = std::move(sink); }
  void Log(std::string_view text);

  // Start: triggers, prepare step and first run on the caller's thread, then
  // events from the port. Returns the session's error after the prepare step
  // (the same code arrives through the notifications).
  int Start();
  // Runs the machine with the abort request on the caller's thread.
  void Abort();
  bool Running() const { return running_.load(); }

  // --- modem dialogue (modem_dialogue.cpp) ---
  int SendCommand(std::string_view text);
  int SendDataCommand(std::string_view text);
  void ArmResponse();
  void StartResponseTimer(uint32_t ticks);
  bool ResponseTimerExpired();
  void ArmTimeout(uint32_t ticks);
  // True when a line (or frame) was completed from the waiting bytes.
  bool CollectResponse();
  bool SyncCommand(std::string_view text);
  void ToggleDTR();
  DetectedClasses DetectClasses(bool reset);
  // Detects the class when it is unknown; selects the Class 2 vocabulary.
  // Returns 0 or -8071.
  int ChooseClass();
  // "ModemInit" then the initialisation string; true on success.
  bool InitModem();
  void QueryClass1Speeds(bool sending);
  int Dial();
  // A line while waiting for rings (receive side): counts RING and answers
  // with "ATA" at AnswerOnRing. Returns 0, or -8076 (a data call) / -8075
  // (a voice call); a line with "NO C" sets status 21.
  int RingLine(std::string_view line);
  void HangUp();
  void HangUpAnswered();
  void SetBaudPair(uint32_t initBaud, uint32_t normalBaud, bool applyNow);
  void SwitchToFaxBaud();
  void SwitchToInitBaud();

 protected:
  FaxSession();
  // Cuts the session off from its port: no event runs after this returns.
  // Derived destructors call it before they release what events use.
  void Shutdown();

  // --- what a direction supplies ---
  virtual int PrepareStep() = 0;
  virtual bool IsResponseState(uint8_t state) const = 0;
  virtual RunNext NextRule(uint8_t state) const = 0;
  virtual uint8_t ErrorState() const = 0;
  virtual uint8_t EndState() const = 0;
  virtual std::string_view StateName(uint8_t state) const = 0;
  // The state's timeout rule in a response state.
  virtual void ResponseTimeout() = 0;
  // ERROR and hang-up lines by state; true when the line was taken.
  virtual void CheckFatalLine() = 0;
  // Class 1 frames (DLE ETX inside a response).
  virtual void FrameReceived() {}
  // Whether the periodic and forced status notices reach the owner now.
  virtual bool StatusWanted() const { return true; }
  virtual void RunAction(int trigger) = 0;

  // --- shared operations ---
  void SetState(uint8_t state);
  uint8_t State() const { return h_.state; }
  void SetError(int code);
  void SetStatus(uint16_t status, bool force = true);
  void Finish();
  void ArmStatusTimer();
  bool TriggerIsAccepted(int trigger) const;
  // Runs one event, then an abort that was requested meanwhile.
  void EventEntry(uint16_t eventCode, int trigger);
  void RunEvent(uint16_t eventCode, int trigger);
  bool abortEvent_ = false;  // the current run is the abort request

  // Notifications (all but Finish wait for the owner at most one second).
  bool NotifyNextFax();
  void NotifyStatus(int which);
  void NotifyLog(int code);
  // Receive side: the owner's accept decision (true to take the call) and
  // the name of the file it stores in the records.
  bool NotifyAccept();
  void NotifyName();

 private:
  // Keeps event deliveries and the session's destruction apart: the port's
  // event procedure holds the gate, never the session itself.
  struct Gate {
    std::mutex mutex;
    FaxSession* session = nullptr;
  };
  // Holds the gate and notes the thread, so that an abort asked for from
  // inside a notification on that thread is left to the running machine.
  class MachineLock {
   public:
    MachineLock(Gate& gate, std::atomic<std::thread::id>& holder);
    ~MachineLock();
    bool Session() const { return gate_.session != nullptr; }

   private:
    Gate& gate_;
    std::atomic<std::thread::id>& holder_;
    std::lock_guard<std::mutex> lock_;
  };
  void LockMachine(std::unique_lock<std::mutex>& lock);
  bool ReadSyncLine(std::string& line);
  void CallOwner(const std::function<void()>& fn);

  SessionHandle h_;
  FaxPort* port_ = nullptr;
  OwnerLoop* loop_ = nullptr;
  std::shared_ptr<Gate> gate_;
  std::atomic<bool> running_{false};
  DetectedClasses lastDetected_;
  bool lineDone_ = false;  // the last CollectResponse completed a line
  std::atomic<bool> abortRequested_{false};
  // The machine waits for the owner to answer a notification.
  std::atomic<bool> inNotification_{false};
  // The thread that holds the gate while the machine runs.
  std::atomic<std::thread::id> machineThread_{};
  std::function<void(std::string_view)> logSink_;
};

}  // namespace qc
