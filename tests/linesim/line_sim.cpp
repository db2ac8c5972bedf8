// The line itself: call progress (ringing, answer, hang-up, cut), the audio
// join with its delay, and the real-time step loop that drives both ends.
#include "line_sim.h"

#include <spandsp.h>

#include <poll.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <fstream>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "dte_stream.h"
#include "fax_terminal_end.h"
#include "line_end.h"
#include "soft_modem_end.h"

namespace qc::linesim {

namespace {
constexpr int kSampleRate = 8000;
constexpr int kStepSamples = 160;  // 20 ms
constexpr auto kStep = std::chrono::milliseconds(20);
// A machine busy with other work may leave the loop late; beyond this it
// stops catching up and lets the line's clock slip.
constexpr int kMaxCatchUpSteps = 25;
constexpr int kFirstRingMs = 1000;

enum class CallState { Idle, Ringing, Connected };
constexpr const char* kCallStateNames[] = {"idle", "ringing", "connected"};

using Clock = std::chrono::steady_clock;
}  // namespace

std::string CompletionText(int code) { return t30_completion_code_to_str(code); }

class LineSim::Impl final : public LineEvents {
 public:
  explicit Impl(LineConfig config) : config_(std::move(config)) {
    if (!config_.logPath.empty()) logFile_.open(config_.logPath, std::ios::app);
    if (config_.ourTerminal) {
      our_ = std::make_unique<FaxTerminalEnd>("our", *this, config_.ourTerminalConfig, config_.spandspLog);
    } else {
      auto our = std::make_unique<SoftModemEnd>("our", *this, config_.ourLink, config_.xonXoff, config_.spandspLog);
      ourModem_ = our.get();
      our_ = std::move(our);
    }
    if (config_.far == FarKind::SoftModem) {
      auto far = std::make_unique<SoftModemEnd>("far", *this, config_.farLink, config_.xonXoff, config_.spandspLog);
      farModem_ = far.get();
      far_ = std::move(far);
    } else {
      auto far = std::make_unique<FaxTerminalEnd>("far", *this, config_.terminal, config_.spandspLog);
      terminal_ = far.get();
      far_ = std::move(far);
    }
    ResetDelay();
    thread_ = std::thread([this] { Run(); });
  }

  ~Impl() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    thread_.join();
  }

  // --- public side (any thread) ---
  std::string OurDevice() const { return ourModem_ ? ourModem_->Device() : std::string(); }
  std::string FarDevice() const { return farModem_ ? farModem_->Device() : std::string(); }

  void PlaceCall() {
    std::lock_guard<std::mutex> lock(mutex_);
    LineEnd& caller = terminal_ && terminal_->Config().role == TerminalRole::Send ? *far_ : *our_;
    deferred_.push_back([this, &caller] { Dial(caller, "the other end"); });
  }
  void Cut() {
    std::lock_guard<std::mutex> lock(mutex_);
    deferred_.push_back([this] { EndCall("cut", nullptr); });
  }
  void SetCut(int afterPages, int delayMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_.cutAfterPages = afterPages;
    config_.cutDelayMs = delayMs;
  }
  bool OurPortOpen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ourModem_ && ourModem_->PortOpen();
  }
  bool WaitOurPortOpen(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return ourModem_ && ourModem_->PortOpen(); });
  }
  bool WaitCallsEnded(int calls, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return static_cast<int>(ended_.size()) >= calls; });
  }
  int CallsEnded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(ended_.size());
  }
  bool CallInProgress() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_ != CallState::Idle;
  }
  CallReport Report() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state_ != CallState::Idle || ended_.empty()) {
      CallReport r = current_;
      if (terminal_) terminal_->AddResults(r);
      return r;
    }
    return ended_.back();
  }
  std::vector<CallReport> Reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
  }
  std::vector<std::string> Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }

  // --- LineEvents (line thread, mutex held) ---
  void Dial(LineEnd& from, const std::string& number) override {
    deferred_.push_back([this, &from, number] { StartRinging(from, number); });
  }
  void Answer(LineEnd& from) override {
    deferred_.push_back([this, &from] { Answered(from); });
  }
  void OnHook(LineEnd& from) override {
    deferred_.push_back([this, &from] { WentOnHook(from); });
  }
  void Frame(LineEnd& from, bool sent, const uint8_t* msg, int len) override {
    FrameRecord f;
    f.ms = NowMs();
    f.end = from.Name();
    f.sent = sent;
    f.bytes.assign(msg, msg + std::max(len, 0));
    f.name = FrameName(f.bytes);
    if (&from == terminal_) {
      AddLog(from.Name() + (sent ? " sends " : " receives ") + DescribeFrame(f.bytes));
    }
    if (f.bytes.size() >= 3) {
      const uint8_t fcf = static_cast<uint8_t>(f.bytes[2] & 0xFE);
      if (sent && fcf == T30_MCF) ++confirmedPages_;
      // The terminal tells what it was sent; a soft modem end what its
      // program was told by the modem.
      if (!sent && fcf == (T30_DCS & 0xFE)) current_.dcs.push_back(f.bytes);
    }
    current_.frames.push_back(std::move(f));
  }
  void Log(const LineEnd& from, const std::string& text) override { AddLog(from.Name() + " " + text); }

 private:
  int64_t NowMs() const { return samples_ * 1000 / kSampleRate; }

  void AddLog(const std::string& text) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%9.3f ", static_cast<double>(samples_) / kSampleRate);
    log_.push_back(stamp + text);
    if (logFile_) logFile_ << log_.back() << '\n' << std::flush;
  }

  void SetState(CallState s) {
    if (s == state_) return;
    AddLog(std::string("line ") + kCallStateNames[static_cast<int>(state_)] + " -> " +
           kCallStateNames[static_cast<int>(s)]);
    state_ = s;
  }

  LineEnd& Other(LineEnd& end) { return &end == our_.get() ? *far_ : *our_; }

  void ResetDelay() {
    const size_t delay = static_cast<size_t>(config_.delayMs) * kSampleRate / 1000;
    ourToFar_.assign(delay, 0);
    farToOur_.assign(delay, 0);
  }

  void StartRinging(LineEnd& from, const std::string& number) {
    if (state_ != CallState::Idle) {
      AddLog(from.Name() + " dials " + number + " while the line is " + kCallStateNames[static_cast<int>(state_)]);
      from.Busy();
      return;
    }
    current_ = CallReport{};
    confirmedPages_ = 0;
    cutAtMs_ = -1;
    farFinishedAtMs_ = -1;
    caller_ = &from;
    callee_ = &Other(from);
    rings_ = 0;
    nextRingMs_ = NowMs() + kFirstRingMs;
    AddLog(from.Name() + " calls " + number);
    SetState(CallState::Ringing);
  }

  void Answered(LineEnd& from) {
    if (state_ != CallState::Ringing || &from != callee_) {
      AddLog(from.Name() + " answers, but no call is ringing");
      if (state_ == CallState::Idle) from.Drop();
      return;
    }
    ResetDelay();
    current_.connected = true;
    SetState(CallState::Connected);
    callee_->Connect(true);
    caller_->Connect(false);
  }

  void WentOnHook(LineEnd& from) {
    if (state_ == CallState::Idle) return;
    if (state_ == CallState::Ringing && &from == callee_) return;  // hanging up an unanswered phone
    EndCall(from.Name() + " end hung up", &from);
  }

  // `by` is the end that hung up (it needs no telling), or none for a cut.
  void EndCall(const std::string& reason, LineEnd* by) {
    if (state_ == CallState::Idle) return;
    const bool wasRinging = state_ == CallState::Ringing;
    SetState(CallState::Idle);
    AddLog("call ends: " + reason);
    for (LineEnd* end : {our_.get(), far_.get()}) {
      // A modem that hung up needs no telling; a terminal closes its file on Drop.
      if (end == by && dynamic_cast<SoftModemEnd*>(end) != nullptr) continue;
      if (wasRinging && end == caller_ && reason == "no answer") {
        end->NoAnswer();
      } else if (!(wasRinging && end == callee_)) {
        end->Drop();
      }
    }
    current_.ended = true;
    current_.endReason = reason;
    if (terminal_) terminal_->AddResults(current_);
    ended_.push_back(current_);
    caller_ = callee_ = nullptr;
  }

  void Step() {
    int16_t ourTx[kStepSamples], farTx[kStepSamples], ourRx[kStepSamples], farRx[kStepSamples];
    our_->Tx(ourTx, kStepSamples);
    far_->Tx(farTx, kStepSamples);
    const bool joined = state_ == CallState::Connected;
    for (int i = 0; i < kStepSamples; ++i) {
      ourToFar_.push_back(joined ? ourTx[i] : int16_t{0});
      farToOur_.push_back(joined ? farTx[i] : int16_t{0});
      farRx[i] = ourToFar_.front();
      ourRx[i] = farToOur_.front();
      ourToFar_.pop_front();
      farToOur_.pop_front();
    }
    far_->Rx(farRx, kStepSamples);
    our_->Rx(ourRx, kStepSamples);
    samples_ += kStepSamples;
    const int64_t now = NowMs();

    if (state_ == CallState::Ringing && now >= nextRingMs_) {
      if (rings_ >= config_.maxRings) {
        EndCall("no answer", nullptr);
      } else {
        ++rings_;
        nextRingMs_ = now + config_.ringIntervalMs;
        AddLog("RING " + std::to_string(rings_) + " at " + callee_->Name());
        callee_->Ring();
      }
    }
    if (state_ == CallState::Connected && config_.cutAfterPages >= 0 && confirmedPages_ >= config_.cutAfterPages) {
      if (cutAtMs_ < 0) cutAtMs_ = now + config_.cutDelayMs;
      if (now >= cutAtMs_) EndCall("cut", nullptr);
    }
    if (state_ == CallState::Connected && far_->Finished()) {
      if (farFinishedAtMs_ < 0) farFinishedAtMs_ = now;
      if (now >= farFinishedAtMs_ + config_.farHangupGraceMs) EndCall("far end finished", far_.get());
    }
  }

  void Service() {
    our_->Service();
    far_->Service();
    while (!deferred_.empty()) {
      auto action = std::move(deferred_.front());
      deferred_.pop_front();
      action();
    }
  }

  void Run() {
    auto next = Clock::now();
    for (;;) {
      pollfd fds[2];
      nfds_t n = 0;
      for (LineEnd* end : {our_.get(), far_.get()}) {
        std::lock_guard<std::mutex> lock(mutex_);
        const int fd = end->PollFd();
        if (fd >= 0) fds[n++] = pollfd{fd, end->PollEvents(), 0};
      }
      const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
      poll(fds, n, static_cast<int>(std::clamp<int64_t>(wait, 0, 20)));

      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) break;
      Service();
      int steps = 0;
      while (Clock::now() >= next) {
        Step();
        Service();
        next += kStep;
        if (++steps >= kMaxCatchUpSteps) {
          AddLog("line fell behind real time; its clock slips");
          next = Clock::now() + kStep;
          break;
        }
      }
      changed_.notify_all();
    }
    // The ends go with the object; a call still up is simply left.
  }

  LineConfig config_;
  std::ofstream logFile_;
  std::unique_ptr<LineEnd> our_;
  std::unique_ptr<LineEnd> far_;
  SoftModemEnd* ourModem_ = nullptr;
  SoftModemEnd* farModem_ = nullptr;
  FaxTerminalEnd* terminal_ = nullptr;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stop_ = false;
  std::deque<std::function<void()>> deferred_;

  CallState state_ = CallState::Idle;
  LineEnd* caller_ = nullptr;
  LineEnd* callee_ = nullptr;
  int rings_ = 0;
  int64_t nextRingMs_ = 0;
  int confirmedPages_ = 0;
  int64_t cutAtMs_ = -1;
  int64_t farFinishedAtMs_ = -1;
  int64_t samples_ = 0;
  std::deque<int16_t> ourToFar_, farToOur_;
  CallReport current_;
  std::vector<CallReport> ended_;
  std::vector<std::string> log_;
  std::thread thread_;
};

LineSim::LineSim(LineConfig config) : impl_(std::make_unique<Impl>(std::move(config))) {}
LineSim::~LineSim() = default;
std::string LineSim::OurDevice() const { return impl_->OurDevice(); }
std::string LineSim::FarDevice() const { return impl_->FarDevice(); }
void LineSim::PlaceCall() { impl_->PlaceCall(); }
void LineSim::Cut() { impl_->Cut(); }
void LineSim::SetCut(int afterPages, int delayMs) { impl_->SetCut(afterPages, delayMs); }
bool LineSim::OurPortOpen() const { return impl_->OurPortOpen(); }
bool LineSim::WaitOurPortOpen(std::chrono::milliseconds limit) const { return impl_->WaitOurPortOpen(limit); }
bool LineSim::WaitCallsEnded(int calls, std::chrono::milliseconds limit) const {
  return impl_->WaitCallsEnded(calls, limit);
}
int LineSim::CallsEnded() const { return impl_->CallsEnded(); }
bool LineSim::CallInProgress() const { return impl_->CallInProgress(); }
CallReport LineSim::Report() const { return impl_->Report(); }
std::vector<CallReport> LineSim::Reports() const { return impl_->Reports(); }
std::vector<std::string> LineSim::Log() const { return impl_->Log(); }
std::string LineSim::LogText() const {
  std::string text;
  for (const std::string& line : impl_->Log()) text += line + '\n';
  return text;
}

}  // namespace qc::linesim
