#include "support/fake_modem.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace qc::test {

ModemLink::ModemLink(PtyPair& pty) : pty_(pty), stopFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ModemLink::~ModemLink() {
  if (stopFd_ >= 0) close(stopFd_);
}

void ModemLink::Stop() {
  stopped_ = true;
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(stopFd_, &one, sizeof one);
}

bool ModemLink::WaitFor(short events, int timeoutMs) {
  const int fd = pty_.MasterFd();
  if (fd < 0 || stopped_) return false;
  pollfd p[2] = {{fd, events, 0}, {stopFd_, POLLIN, 0}};
  int n;
  do {
    n = poll(p, 2, timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n <= 0 || p[1].revents) return false;
  return (p[0].revents & events) != 0;
}

bool ModemLink::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const int fd = pty_.MasterFd();
    if (fd < 0 || stopped_) return false;
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
      return false;
    } else if (!WaitFor(POLLOUT, 1000) && stopped_) {
      return false;
    }
  }
  return true;
}

bool ModemLink::WriteLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (!Write("\r\n" + line + "\r\n")) return false;
  }
  return true;
}

bool ModemLink::ReadByte(uint8_t& byte, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int fd = pty_.MasterFd();
    if (fd < 0 || stopped_) return false;
    const ssize_t n = read(fd, &byte, 1);
    if (n == 1) return true;
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;  // EIO: the port side is gone
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                            std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    if (!WaitFor(POLLIN, static_cast<int>(left.count())) && stopped_) return false;
  }
}

std::optional<std::string> ModemLink::ReadCommand(int timeoutMs, bool echo) {
  std::string line;
  uint8_t b;
  while (ReadByte(b, timeoutMs)) {
    if (echo && !Write(std::string_view(reinterpret_cast<const char*>(&b), 1))) return std::nullopt;
    if (b == '\r') {
      if (!line.empty()) return line;
      continue;
    }
    if (b == '\n' || (line.empty() && b == ' ')) continue;
    line += static_cast<char>(b);
  }
  return std::nullopt;
}

std::optional<std::string> ModemLink::ReadUntilDleEtx(int timeoutMs) {
  std::string data;
  uint8_t b;
  bool dle = false;
  while (ReadByte(b, timeoutMs)) {
    if (dle) {
      dle = false;
      if (b == kEtx) return data;
      data += static_cast<char>(kDle);
      data += static_cast<char>(b);
    } else if (b == kDle) {
      dle = true;
    } else {
      data += static_cast<char>(b);
    }
  }
  return std::nullopt;
}

std::string ModemLink::ReadAvailable(size_t max, int timeoutMs) {
  std::string data;
  uint8_t b;
  if (!ReadByte(b, timeoutMs)) return data;
  data += static_cast<char>(b);
  while (data.size() < max && ReadByte(b, 0)) data += static_cast<char>(b);
  return data;
}

void ModemLink::HangUp() { pty_.HangUp(); }

std::string ModemLink::Unstuff(std::string_view stuffed) {
  std::string out;
  for (size_t i = 0; i < stuffed.size(); ++i) {
    out += stuffed[i];
    if (static_cast<uint8_t>(stuffed[i]) == kDle && i + 1 < stuffed.size() &&
        static_cast<uint8_t>(stuffed[i + 1]) == kDle) {
      ++i;
    }
  }
  return out;
}

ModemStep Exchange(std::string command, std::vector<std::string> lines, int delayMs) {
  ModemStep s;
  s.kind = ModemStep::Kind::Exchange;
  s.text = std::move(command);
  s.lines = std::move(lines);
  s.delayMs = delayMs;
  return s;
}

ModemStep Expect(std::string command) { return Exchange(std::move(command), {}); }

ModemStep ExpectPrefix(std::string prefix, std::vector<std::string> lines, int delayMs) {
  ModemStep s = Exchange(std::move(prefix), std::move(lines), delayMs);
  s.kind = ModemStep::Kind::ExpectPrefix;
  return s;
}

ModemStep Reply(std::vector<std::string> lines, int delayMs) {
  ModemStep s;
  s.kind = ModemStep::Kind::Reply;
  s.lines = std::move(lines);
  s.delayMs = delayMs;
  return s;
}

ModemStep Send(std::string bytes, int delayMs) {
  ModemStep s;
  s.kind = ModemStep::Kind::Send;
  s.text = std::move(bytes);
  s.delayMs = delayMs;
  return s;
}

ModemStep Delay(int ms) {
  ModemStep s;
  s.kind = ModemStep::Kind::Delay;
  s.delayMs = ms;
  return s;
}

ModemStep CaptureUntilDleEtx(std::string name) {
  ModemStep s;
  s.kind = ModemStep::Kind::CaptureUntilDleEtx;
  s.text = std::move(name);
  return s;
}

ModemStep HangUp() {
  ModemStep s;
  s.kind = ModemStep::Kind::HangUp;
  return s;
}

ModemStep Call(std::string description, std::function<bool(ModemLink&, std::string&)> fn) {
  ModemStep s;
  s.kind = ModemStep::Kind::Call;
  s.text = std::move(description);
  s.call = std::move(fn);
  return s;
}

ScriptedModem::ScriptedModem(PtyPair& pty, std::vector<ModemStep> steps, ScriptOptions options)
    : pty_(pty), steps_(std::move(steps)), options_(std::move(options)), link_(pty) {
  if (!options_.clock) options_.clock = SystemClock();
}

ScriptedModem::~ScriptedModem() {
  link_.Stop();
  if (thread_.joinable()) thread_.join();
}

void ScriptedModem::Start() { thread_ = std::thread([this] { Run(); }); }

bool ScriptedModem::WaitDone(int timeoutMs) {
  std::unique_lock<std::mutex> lk(mu_);
  cv_.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return done_; });
  return done_ && succeeded_;
}

bool ScriptedModem::Done() const {
  std::lock_guard<std::mutex> lk(mu_);
  return done_;
}

bool ScriptedModem::Succeeded() const {
  std::lock_guard<std::mutex> lk(mu_);
  return done_ && succeeded_;
}

std::string ScriptedModem::Failure() const {
  std::lock_guard<std::mutex> lk(mu_);
  if (!done_) return "script still running";
  return failure_;
}

std::string ScriptedModem::Captured(const std::string& name) const {
  std::lock_guard<std::mutex> lk(mu_);
  const auto it = captured_.find(name);
  return it == captured_.end() ? std::string() : it->second;
}

std::vector<std::string> ScriptedModem::Commands() const {
  std::lock_guard<std::mutex> lk(mu_);
  return commands_;
}

void ScriptedModem::Run() {
  std::string error;
  bool ok = true;
  for (size_t i = 0; i < steps_.size() && ok; ++i) {
    ok = RunStep(i, steps_[i], error);
    if (!ok) error = "step " + std::to_string(i + 1) + ": " + error;
  }
  std::lock_guard<std::mutex> lk(mu_);
  done_ = true;
  succeeded_ = ok;
  failure_ = error;
  cv_.notify_all();
}

bool ScriptedModem::RunStep(size_t, const ModemStep& step, std::string& error) {
  using Kind = ModemStep::Kind;
  switch (step.kind) {
    case Kind::Exchange:
    case Kind::ExpectPrefix: {
      const std::optional<std::string> command = link_.ReadCommand(options_.commandTimeoutMs, options_.echo);
      if (!command) {
        error = "expected \"" + step.text + "\", got nothing";
        return false;
      }
      {
        std::lock_guard<std::mutex> lk(mu_);
        commands_.push_back(*command);
      }
      const bool match = step.kind == Kind::Exchange ? *command == step.text
                                                     : command->compare(0, step.text.size(), step.text) == 0;
      if (!match) {
        error = "expected \"" + step.text + "\", got \"" + *command + "\"";
        return false;
      }
      if (step.lines.empty()) return true;
      options_.clock->SleepMs(step.delayMs);
      if (!link_.WriteLines(step.lines)) {
        error = "line gone while replying";
        return false;
      }
      return true;
    }
    case Kind::Reply:
      options_.clock->SleepMs(step.delayMs);
      if (!link_.WriteLines(step.lines)) {
        error = "line gone while replying";
        return false;
      }
      return true;
    case Kind::Send:
      options_.clock->SleepMs(step.delayMs);
      if (!link_.Write(step.text)) {
        error = "line gone while sending";
        return false;
      }
      return true;
    case Kind::Delay:
      options_.clock->SleepMs(step.delayMs);
      return !link_.Stopped();
    case Kind::CaptureUntilDleEtx: {
      const std::optional<std::string> data = link_.ReadUntilDleEtx(options_.commandTimeoutMs);
      if (!data) {
        error = "no DLE ETX for capture \"" + step.text + "\"";
        return false;
      }
      std::lock_guard<std::mutex> lk(mu_);
      captured_[step.text] = *data;
      return true;
    }
    case Kind::HangUp:
      link_.HangUp();
      return true;
    case Kind::Call:
      if (!step.call(link_, error)) {
        error = step.text + ": " + error;
        return false;
      }
      return true;
  }
  return false;
}

}  // namespace qc::test
