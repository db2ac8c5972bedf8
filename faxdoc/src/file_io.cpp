#include "file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "control/error_codes.h"

namespace qc::fileio {

int CodeForErrno(int err) {
  switch (err) {
    case ENOENT: return ecFileNotFound;
    case ENOTDIR: return ecPathNotFound;
    case EMFILE:
    case ENFILE: return ecTooManyFiles;
    case EACCES:
    case EPERM:
    case EISDIR: return ecAccessDenied;
    case EBADF: return ecInvalidHandle;
    case ENOMEM: return ecOutOfMemory;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return ecDiskFull;
    case EROFS: return ecWriteProtected;
    case ESPIPE:
    case EINVAL: return ecSeekError;
    default: return ecHardwareFailure;
  }
}

static int openWith(int& fd, const std::string& name, int flags) {
  if (name.empty()) return ecFileNotFound;
  int r;
  do {
    r = ::open(name.c_str(), flags | O_CLOEXEC, 0644);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return CodeForErrno(errno);
  struct stat st;
  if (::fstat(r, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(r);
    return ecAccessDenied;
  }
  fd = r;
  return ecOK;
}

int File::OpenRead(const std::string& name) {
  Close();
  return openWith(fd_, name, O_RDONLY);
}
int File::OpenReadWrite(const std::string& name) {
  Close();
  return openWith(fd_, name, O_RDWR);
}
int File::Create(const std::string& name) {
  Close();
  return openWith(fd_, name, O_RDWR | O_CREAT | O_TRUNC);
}

void File::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

long File::Read(void* buf, size_t n) {
  if (fd_ < 0) return ecNotOpen;
  ssize_t r;
  do {
    r = ::read(fd_, buf, n);
  } while (r < 0 && errno == EINTR);
  if (r < 0) return errno == EIO ? ecDeviceRead : CodeForErrno(errno);
  return static_cast<long>(r);
}

int File::ReadExact(void* buf, size_t n) {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    const long r = Read(p, n);
    if (r < 0) return static_cast<int>(r);
    if (r == 0) return ecReadBeyondEOF;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return ecOK;
}

int File::WriteAll(const void* buf, size_t n) {
  if (fd_ < 0) return ecNotOpen;
  const auto* p = static_cast<const uint8_t*>(buf);
  while (n > 0) {
    const ssize_t r = ::write(fd_, p, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      return errno == EIO ? ecDeviceWrite : CodeForErrno(errno);
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return ecOK;
}

int File::Seek(uint64_t offset) {
  if (fd_ < 0) return ecNotOpen;
  if (offset > static_cast<uint64_t>(INT64_MAX)) return ecSeekError;
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return CodeForErrno(errno);
  return ecOK;
}

long long File::Size() {
  struct stat st;
  if (fd_ < 0) return ecNotOpen;
  if (::fstat(fd_, &st) != 0) return CodeForErrno(errno);
  return st.st_size;
}

}  // namespace qc::fileio
