// A bare program at a soft modem's device, for the line's own tests: opens
// the device raw, writes commands, reads until a text arrives.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace qc::linesim {

class DteClient {
 public:
  explicit DteClient(const std::string& device) {
    fd_ = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
      termios tio{};
      tcgetattr(fd_, &tio);
      cfmakeraw(&tio);
      tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~DteClient() { Close(); }
  DteClient(const DteClient&) = delete;
  DteClient& operator=(const DteClient&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  // Writes everything, waiting for room (a modem holding back input).
  bool Write(const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = write(fd_, data.data() + done, data.size() - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
        continue;
      }
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
    }
    return true;
  }

  // Reads until `text` has arrived (true) or `limit` has passed; everything
  // read stays in Received().
  bool ReadUntil(const std::string& text, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (received_.find(text, scanFrom_) != std::string::npos) {
        scanFrom_ = received_.find(text, scanFrom_) + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(fd_, buf, sizeof buf);
      if (n > 0) received_.append(buf, static_cast<size_t>(n));
    }
  }
  // Sends a command line and waits for `reply`.
  bool Command(const std::string& cmd, const std::string& reply,
               std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    return Write(cmd + "\r") && ReadUntil(reply, limit);
  }

  const std::string& Received() const { return received_; }
  // What arrived after the last text ReadUntil found.
  std::string Unscanned() const { return received_.substr(scanFrom_); }

 private:
  int fd_ = -1;
  std::string received_;
  size_t scanFrom_ = 0;
};

}  // namespace qc::linesim
