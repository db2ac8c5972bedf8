// The termios device: a tty opened non-blocking in raw 8N1, with the usual
// locks that keep two programs off one modem.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

#include "control/error_codes.h"
#include "serial/device.h"

namespace qc {

namespace {

std::mutex lockFolderMutex;
std::string& LockFolderSlot() {
  static std::string folder = "/var/lock";
  return folder;
}

struct BaudCode {
  int baud;
  speed_t code;
};
// The rates a fax modem port is driven at.
constexpr BaudCode kBaudCodes[] = {
    {2400, B2400}, {4800, B4800}, {9600, B9600}, {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200},
};

bool BaudToCode(int baud, speed_t& code) {
  for (const BaudCode& b : kBaudCodes) {
    if (b.baud == baud) {
      code = b.code;
      return true;
    }
  }
  return false;
}

// A UUCP-style lock file names the process that holds the device: ten ASCII
// digits (HDB) or, in old files, a binary int. A live holder other than us
// keeps the device.
bool LockFileHeldByOther(const std::string& devicePath) {
  const std::string folder = LockFileFolder();
  if (folder.empty()) return false;
  const size_t slash = devicePath.find_last_of('/');
  const std::string base = slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
  std::ifstream in(folder + "/LCK.." + base, std::ios::binary);
  if (!in) return false;
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  long pid = 0;
  if (content.size() == sizeof(int) && (content[0] < '0' || content[0] > '9') && content[0] != ' ') {
    int binary = 0;
    std::memcpy(&binary, content.data(), sizeof binary);
    pid = binary;
  } else {
    pid = std::strtol(content.c_str(), nullptr, 10);
  }
  if (pid <= 0 || pid == static_cast<long>(getpid())) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

int OpenErrorCode(int err) {
  switch (err) {
    case EACCES:
    case EPERM:
    case EROFS: return ecAccessDenied;
    case EBUSY:
    case EAGAIN: return ecHardware;
    default: return ecBadId;  // ENOENT, ENXIO, ENODEV, ENOTDIR, EIO ...
  }
}

class TermiosDevice final : public SerialDevice {
 public:
  TermiosDevice(std::string path, int fd, int wakeFd) : path_(std::move(path)), fd_(fd), wakeFd_(wakeFd) {}

  ~TermiosDevice() override {
    ioctl(fd_, TIOCNXCL);  // the flag outlives our descriptor otherwise
    flock(fd_, LOCK_UN);
    close(fd_);
    close(wakeFd_);
  }

  TDeviceLayer Layer() const override { return dlTermios; }
  std::string Name() const override { return path_; }

  int Configure(const LineConfig& config) override {
    speed_t code;
    if (!BaudToCode(config.baud, code)) return ecBaudRate;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return ecHardware;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    if (config.hardwareFlow) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, code);
    cfsetospeed(&tio, code);
    return tcsetattr(fd_, TCSANOW, &tio) == 0 ? ecOK : ecBaudRate;
  }

  long Read(uint8_t* buf, size_t len) override {
    const ssize_t n = read(fd_, buf, len);
    if (n > 0) return n;
    if (n == 0) return HungUp() ? kDeviceHangup : 0;
    if (errno == EAGAIN || errno == EINTR) return 0;
    return errno == EIO ? kDeviceHangup : -errno - 1;
  }

  long Write(const uint8_t* buf, size_t len) override {
    const ssize_t n = write(fd_, buf, len);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EINTR) return 0;
    return errno == EIO ? kDeviceHangup : -errno - 1;
  }

  DeviceWait WaitReadable(int timeoutMs) override { return Wait(POLLIN, timeoutMs); }
  DeviceWait WaitWritable(int timeoutMs) override { return Wait(POLLOUT, timeoutMs); }

  void Interrupt() override {
    const uint64_t one = 1;
    // The counter stays readable: every later wait returns at once too.
    [[maybe_unused]] ssize_t n = write(wakeFd_, &one, sizeof one);
  }

  int SetModemControl(bool dtr, bool rts) override {
    int set = 0, clear = 0;
    (dtr ? set : clear) |= TIOCM_DTR;
    (rts ? set : clear) |= TIOCM_RTS;
    if (ioctl(fd_, TIOCMBIS, &set) != 0 || ioctl(fd_, TIOCMBIC, &clear) != 0) {
      return errno == ENOTTY || errno == EINVAL ? ecNotSupported : ecHardware;
    }
    return ecOK;
  }

  int ModemStatus(uint8_t& bits) override {
    bits = 0;
    int lines = 0;
    if (ioctl(fd_, TIOCMGET, &lines) != 0) {
      return errno == ENOTTY || errno == EINVAL ? ecNotSupported : ecHardware;
    }
    if (lines & TIOCM_CTS) bits |= msCTS;
    if (lines & TIOCM_DSR) bits |= msDSR;
    if (lines & TIOCM_RNG) bits |= msRI;
    if (lines & TIOCM_CD) bits |= msDCD;
    return ecOK;
  }

  int TakeLineErrors(uint8_t& bits) override {
    bits = 0;
    serial_icounter_struct now{};
    if (ioctl(fd_, TIOCGICOUNT, &now) != 0) {
      return errno == ENOTTY || errno == EINVAL ? ecNotSupported : ecHardware;
    }
    if (haveCounts_) {
      if (now.overrun != counts_.overrun || now.buf_overrun != counts_.buf_overrun) bits |= leOverrun;
      if (now.parity != counts_.parity) bits |= leParity;
      if (now.frame != counts_.frame) bits |= leFraming;
      if (now.brk != counts_.brk) bits |= leBreak;
    }
    counts_ = now;
    haveCounts_ = true;
    return ecOK;
  }

  int Purge(bool input, bool output) override {
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (!input && !output) return ecOK;
    return tcflush(fd_, which) == 0 ? ecOK : ecHardware;
  }

  int SendBreak(int) override { return tcsendbreak(fd_, 0) == 0 ? ecOK : ecHardware; }

 private:
  bool HungUp() {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR));
  }

  DeviceWait Wait(short what, int timeoutMs) {
    pollfd p[2] = {{fd_, what, 0}, {wakeFd_, POLLIN, 0}};
    const int n = poll(p, 2, timeoutMs);
    if (n < 0) return errno == EINTR ? DeviceWait::Timeout : DeviceWait::Hangup;
    if (p[1].revents) return DeviceWait::Interrupted;
    if (n == 0) return DeviceWait::Timeout;
    if (p[0].revents & what) return DeviceWait::Ready;
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return DeviceWait::Hangup;
    return DeviceWait::Timeout;
  }

  std::string path_;
  int fd_;
  int wakeFd_;
  serial_icounter_struct counts_{};
  bool haveCounts_ = false;
};

}  // namespace

void SetLockFileFolder(std::string folder) {
  std::lock_guard<std::mutex> lock(lockFolderMutex);
  LockFolderSlot() = std::move(folder);
}

std::string LockFileFolder() {
  std::lock_guard<std::mutex> lock(lockFolderMutex);
  return LockFolderSlot();
}

int OpenTermiosDevice(const std::string& path, std::unique_ptr<SerialDevice>& out) {
  out.reset();
  if (path.empty()) return ecBadId;
  if (access(path.c_str(), F_OK) != 0) return ecBadId;
  if (LockFileHeldByOther(path)) return ecHardware;
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenErrorCode(errno);
  if (!isatty(fd)) {
    close(fd);
    return ecBadId;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    return err == EWOULDBLOCK ? ecHardware : ecBadId;
  }
  ioctl(fd, TIOCEXCL);  // not every tty takes it; the flock is what counts
  const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd < 0) {
    ioctl(fd, TIOCNXCL);
    close(fd);
    return ecNoHandles;
  }
  out = std::make_unique<TermiosDevice>(path, fd, wakeFd);
  return ecOK;
}

}  // namespace qc
