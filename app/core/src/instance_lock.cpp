#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace qc {

InstanceLock::~InstanceLock() { Release(); }

InstanceLock::Result InstanceLock::TryAcquire(const std::string& folder) {
  Release();
  std::string name = folder;
  if (name.empty() || name.back() != '/') name += '/';
  name += "quillcast.lock";
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    error_ = errno;
    return Result::Failed;
  }
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    error_ = errno;
    ::close(fd);
    return error_ == EWOULDBLOCK ? Result::HeldElsewhere : Result::Failed;
  }
  // The holder's process id, for people looking at the folder; nothing reads it.
  char pid[24];
  int n = std::snprintf(pid, sizeof pid, "%ld\n", static_cast<long>(::getpid()));
  if (::ftruncate(fd, 0) == 0 && ::write(fd, pid, static_cast<size_t>(n)) < 0) {
    // harmless
  }
  fd_ = fd;
  error_ = 0;
  return Result::Acquired;
}

void InstanceLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor drops the lock
    fd_ = -1;
  }
}

std::string InstanceServerName(const std::string& folder) {
  std::string path = folder;
  if (char* real = ::realpath(folder.c_str(), nullptr)) {
    path = real;
    std::free(real);
  }
  if (path.empty() || path.back() != '/') path += '/';
  // FNV-1a 64: stable across builds, so two versions of the program agree.
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : path) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "quillcast-%u-%016llx", static_cast<unsigned>(::getuid()),
                static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace qc
