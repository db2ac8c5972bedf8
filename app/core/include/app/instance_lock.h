// The single-instance lock: an advisory lock on a file in the data folder.
// The kernel drops it when its holder ends in any way, so a crashed
// instance never blocks the next start.
#pragma once

#include <string>

namespace qc {

class InstanceLock {
 public:
  InstanceLock() = default;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

  enum class Result { Acquired, HeldElsewhere, Failed };

  // Tries (without waiting) to lock "quillcast.lock" in `folder`.
  // Failed: the lock file cannot be opened or locked at all (errno in SystemError()).
  Result TryAcquire(const std::string& folder);
  bool Held() const noexcept { return fd_ >= 0; }
  void Release();
  int SystemError() const noexcept { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

// The name under which the instance owning `folder` listens for a second
// start: one name per user and data folder, short enough for a local socket.
std::string InstanceServerName(const std::string& folder);

}  // namespace qc
