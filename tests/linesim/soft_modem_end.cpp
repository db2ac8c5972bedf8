#include "soft_modem_end.h"

#define SPANDSP_EXPOSE_INTERNAL_STRUCTURES
#include <spandsp.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "spandsp_log.h"

namespace qc::linesim {

namespace {
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;
// Read in pieces no larger than the room between the modem's high tide and
// its full buffer, so that a piece never overflows it.
constexpr size_t kReadPiece = 256;
constexpr size_t kReadPerService = 4096;

int AtTxThunk(at_state_t*, void* user, const uint8_t* buf, size_t len) {
  return static_cast<SoftModemEnd*>(user)->AtTx(buf, len);
}

int ControlThunk(t31_state_t*, void* user, int op, const char* num) {
  return static_cast<SoftModemEnd*>(user)->ModemControl(op, num);
}

const char* ControlName(int op) {
  switch (op) {
    case AT_MODEM_CONTROL_CALL: return "call";
    case AT_MODEM_CONTROL_ANSWER: return "answer";
    case AT_MODEM_CONTROL_HANGUP: return "hang up";
    case AT_MODEM_CONTROL_OFFHOOK: return "off hook";
    case AT_MODEM_CONTROL_ONHOOK: return "on hook";
    default: return nullptr;
  }
}
}  // namespace

SoftModemEnd::SoftModemEnd(std::string name, LineEvents& events, std::string link, bool xonXoff, bool spandspLog)
    : LineEnd(std::move(name), events),
      link_(std::move(link)),
      xonXoff_(xonXoff),
      spandspLog_(spandspLog),
      stream_([this](const std::string& s) { Log(s); },
              [this](bool fromProgram, const std::vector<uint8_t>& f) {
                events_.Frame(*this, fromProgram, f.data(), static_cast<int>(f.size()));
              }) {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) throw std::runtime_error("posix_openpt: " + std::string(std::strerror(errno)));
  char path[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, path, sizeof path) != 0) {
    close(master_);
    throw std::runtime_error("pseudo-terminal setup failed");
  }
  slavePath_ = path;
  // Raw from the start: the settings outlive the opening, and a slave in
  // cooked mode would echo the modem's responses back to it. Closing it again
  // leaves the master seeing the port closed until a program opens it.
  const int slave = open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) {
    close(master_);
    throw std::runtime_error("cannot open " + slavePath_);
  }
  termios tio{};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave, TCSANOW, &tio);
  close(slave);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  if (!link_.empty()) {
    struct stat st{};
    if (lstat(link_.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(link_.c_str());
    if (symlink(slavePath_.c_str(), link_.c_str()) != 0) {
      close(master_);
      throw std::runtime_error("cannot make the link " + link_ + ": " + std::strerror(errno));
    }
  }
  CreateModem();
}

SoftModemEnd::~SoftModemEnd() {
  FreeModem();
  if (!link_.empty()) {
    char target[256];
    const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
    if (n > 0 && slavePath_ == std::string(target, static_cast<size_t>(n))) unlink(link_.c_str());
  }
  if (master_ >= 0) close(master_);
}

void SoftModemEnd::CreateModem() {
  SpandspLogScope scope(&spandspSink_);
  t31_ = t31_init(nullptr, AtTxThunk, this, ControlThunk, this, nullptr, nullptr);
  if (t31_ == nullptr) throw std::runtime_error("t31_init failed");
  t31_set_transmit_on_idle(t31_, 1);
  RouteSpandspLog(t31_get_logging_state(t31_), spandspLog_);
  RouteSpandspLog(&t31_->at_state.logging, spandspLog_);
  holding_ = false;
  stream_.Reset();
}

void SoftModemEnd::FreeModem() {
  if (t31_ == nullptr) return;
  // spandsp 0.0.6 releases everything of the modem but its receive queue.
  if (t31_->rx_queue != nullptr) queue_free(t31_->rx_queue);
  t31_->rx_queue = nullptr;
  t31_free(t31_);
  t31_ = nullptr;
}

int SoftModemEnd::PollFd() const { return portOpen_ ? master_ : -1; }

short SoftModemEnd::PollEvents() const {
  short ev = holding_ ? 0 : POLLIN;
  if (!toProgram_.empty()) ev |= POLLOUT;
  return ev;
}

void SoftModemEnd::Service() {
  SpandspLogScope scope(&spandspSink_);
  pollfd p{master_, POLLIN, 0};
  poll(&p, 1, 0);
  const bool open = (p.revents & POLLHUP) == 0;
  if (open != portOpen_) {
    portOpen_ = open;
    if (!open) {
      // What the program left unread is gone with it; the modem starts
      // afresh, as one whose DTR dropped.
      tcflush(master_, TCIOFLUSH);
      toProgram_.clear();
      Log("port closed: modem reset");
      FreeModem();
      CreateModem();
      events_.OnHook(*this);
    } else {
      Log("port opened");
    }
  }
  if (!portOpen_) return;
  Flush();
  ReadProgram();
  Flush();
}

void SoftModemEnd::ReadProgram() {
  size_t total = 0;
  uint8_t buf[kReadPiece];
  while (!holding_ && total < kReadPerService) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) break;
    total += static_cast<size_t>(n);
    stream_.FromProgram(buf, static_cast<size_t>(n));
    t31_at_rx(t31_, reinterpret_cast<const char*>(buf), static_cast<int>(n));
  }
}

void SoftModemEnd::Flush() {
  while (!toProgram_.empty()) {
    const ssize_t n = write(master_, toProgram_.data(), toProgram_.size());
    if (n <= 0) return;
    toProgram_.erase(0, static_cast<size_t>(n));
  }
}

void SoftModemEnd::QueueToProgram(const uint8_t* buf, size_t len) {
  if (!portOpen_) return;  // a closed port hears nothing
  toProgram_.append(reinterpret_cast<const char*>(buf), len);
  Flush();
}

int SoftModemEnd::AtTx(const uint8_t* buf, size_t len) {
  stream_.FromModem(buf, len);
  QueueToProgram(buf, len);
  return static_cast<int>(len);
}

int SoftModemEnd::ModemControl(int op, const char* num) {
  switch (op) {
    case AT_MODEM_CONTROL_CALL:
      Log(std::string("dials ") + (num ? num : ""));
      events_.Dial(*this, num ? num : "");
      return 0;
    case AT_MODEM_CONTROL_ANSWER:
      Log("answers");
      events_.Answer(*this);
      return 0;
    case AT_MODEM_CONTROL_HANGUP:
    case AT_MODEM_CONTROL_ONHOOK:
      events_.OnHook(*this);
      return 0;
    case AT_MODEM_CONTROL_CTS: {
      const bool hold = num == nullptr;
      if (hold != holding_) {
        holding_ = hold;
        if (xonXoff_) {
          const uint8_t c = hold ? kXoff : kXon;
          QueueToProgram(&c, 1);
        }
      }
      return 0;
    }
    default:
      if (const char* what = ControlName(op)) Log(what);
      return 0;
  }
}

void SoftModemEnd::Tx(int16_t* amp, int n) {
  SpandspLogScope scope(&spandspSink_);
  const int made = t31_tx(t31_, amp, n);
  if (made < n) std::fill(amp + std::max(made, 0), amp + n, int16_t{0});
}

void SoftModemEnd::Rx(int16_t* amp, int n) {
  SpandspLogScope scope(&spandspSink_);
  t31_rx(t31_, amp, n);
}

void SoftModemEnd::Ring() {
  SpandspLogScope scope(&spandspSink_);
  if (!portOpen_) {
    Log("rings (port closed, nobody hears it)");
    return;
  }
  t31_call_event(t31_, AT_CALL_EVENT_ALERTING);
}

void SoftModemEnd::Connect(bool answered) {
  SpandspLogScope scope(&spandspSink_);
  t31_call_event(t31_, answered ? AT_CALL_EVENT_ANSWERED : AT_CALL_EVENT_CONNECTED);
}

void SoftModemEnd::Drop() {
  SpandspLogScope scope(&spandspSink_);
  t31_call_event(t31_, AT_CALL_EVENT_HANGUP);
}

void SoftModemEnd::Busy() {
  SpandspLogScope scope(&spandspSink_);
  t31_call_event(t31_, AT_CALL_EVENT_BUSY);
}

void SoftModemEnd::NoAnswer() {
  SpandspLogScope scope(&spandspSink_);
  t31_call_event(t31_, AT_CALL_EVENT_NO_ANSWER);
}

}  // namespace qc::linesim
