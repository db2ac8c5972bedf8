// A pseudo-terminal pair: the port under test opens DevicePath() (the slave,
// a real tty as far as termios is concerned); the test or a fake modem talks
// on the master.
#pragma once

#include <string>

namespace qc::test {

class PtyPair {
 public:
  // Throws std::system_error when no pseudo-terminal can be had.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  // The slave's path, e.g. /dev/pts/7.
  const std::string& DevicePath() const { return path_; }
  // Non-blocking master descriptor (-1 after HangUp).
  int MasterFd() const { return master_; }
  // Closes the master: the port sees the line hang up.
  void HangUp();

 private:
  int master_ = -1;
  // Held open so that the slave keeps its raw settings and the master sees no
  // hang-up while the port is closed between openings.
  int slaveKeeper_ = -1;
  std::string path_;
};

}  // namespace qc::test
