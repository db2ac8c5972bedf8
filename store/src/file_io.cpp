#include "file_io.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "control/error_codes.h"

namespace qc {

int CodeForErrno(int err) {
  switch (err) {
    case ENOENT: return ecFileNotFound;
    case ENOTDIR: return ecPathNotFound;
    case EMFILE:
    case ENFILE: return ecTooManyFiles;
    case EACCES:
    case EPERM: return ecAccessDenied;
    case EROFS: return ecWriteProtected;
    case EBADF: return ecInvalidHandle;
    case ENOMEM: return ecOutOfMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return ecDiskFull;
    case EIO: return ecHardwareFailure;
    default: return ecAccessDenied;
  }
}

int ReadAt(int fd, void* buf, std::size_t size, std::uint64_t offset) {
  auto* p = static_cast<char*>(buf);
  while (size > 0) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return CodeForErrno(errno);
    }
    if (n == 0) return ecReadBeyondEOF;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return 0;
}

int WriteAt(int fd, const void* buf, std::size_t size, std::uint64_t offset) {
  const auto* p = static_cast<const char*>(buf);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return CodeForErrno(errno);
    }
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return 0;
}

std::int64_t FileSize(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  return st.st_size;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string PathNoCase(const std::string& folder, const std::string& name) {
  const std::string dir = folder.empty() ? "." : folder;
  const std::string exact = folder.empty() ? name : (folder.back() == '/' ? folder + name : folder + "/" + name);
  if (FileExists(exact)) return exact;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return exact;
  std::string found;
  while (const dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) == 0) {
      found = folder.empty() ? std::string(e->d_name)
                             : (folder.back() == '/' ? folder + e->d_name : folder + "/" + e->d_name);
      if (FileExists(found)) break;
      found.clear();
    }
  }
  ::closedir(d);
  return found.empty() ? exact : found;
}

}  // namespace qc
