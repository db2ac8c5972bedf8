#include "support/pty_pair.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace qc::test {

namespace {
[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }
}  // namespace

PtyPair::PtyPair() {
  master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) Fail("posix_openpt");
  char name[128];
  if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
    close(master_);
    Fail("pty setup");
  }
  path_ = name;
  slaveKeeper_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slaveKeeper_ < 0) {
    close(master_);
    Fail("open pty slave");
  }
  termios tio{};
  tcgetattr(slaveKeeper_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slaveKeeper_, TCSANOW, &tio);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  HangUp();
  if (slaveKeeper_ >= 0) close(slaveKeeper_);
}

void PtyPair::HangUp() {
  if (master_ >= 0) close(master_);
  master_ = -1;
}

}  // namespace qc::test
