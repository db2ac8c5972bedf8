#include "app/folders.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qc {
namespace {

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string EnvValue(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvValue("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/tmp";
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameNameIgnoreCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return a[i] == '\0' && i == b.size();
}

bool IsFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string ProgramFolder() {
  std::string home = EnvValue("QUILLCAST_HOME");
  if (!home.empty()) return WithSlash(home);
  std::string xdg = EnvValue("XDG_DATA_HOME");
  // Relative values are invalid for XDG_DATA_HOME and are ignored.
  if (xdg.empty() || xdg.front() != '/') xdg = WithSlash(HomeFolder()) + ".local/share";
  return WithSlash(xdg) + "quillcast/";
}

std::string SendFolder() { return ProgramFolder() + "SEND/"; }
std::string ReceiveFolder() { return ProgramFolder() + "Receive/"; }
std::string CoversFolder() { return ProgramFolder() + "Covers/"; }

std::string SettingsFileName() {
  const std::string folder = ProgramFolder();
  std::string found = FindFileIgnoreCase(folder, "QC.INI");
  return found.empty() ? folder + "QC.INI" : found;
}

std::string FindFileIgnoreCase(const std::string& folder, const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return {};
  const std::string base = WithSlash(folder);
  struct stat st {};
  if (::stat((base + name).c_str(), &st) == 0) return base + name;
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return {};
  std::string result;
  while (const dirent* entry = ::readdir(dir)) {
    if (SameNameIgnoreCase(entry->d_name, name)) {
      result = base + entry->d_name;
      break;
    }
  }
  ::closedir(dir);
  return result;
}

bool FileExistsIgnoreCase(const std::string& folder, const std::string& name) {
  return !FindFileIgnoreCase(folder, name).empty();
}

bool ForceFolders(const std::string& path) {
  std::string p = path;
  if (!p.empty() && p.back() == '/') p.pop_back();
  if (p.empty()) return true;  // the root
  if (IsFolder(p)) return true;
  size_t slash = p.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !ForceFolders(p.substr(0, slash))) return false;
  if (::mkdir(p.c_str(), 0777) == 0) return true;
  return errno == EEXIST && IsFolder(p);
}

bool CopyFileBlocks(const std::string& source, const std::string& target) {
  constexpr size_t kBlockSize = 2048;
  if (source == target) return false;
  int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat srcStat {};
  if (::fstat(in, &srcStat) != 0) {
    ::close(in);
    return false;
  }
  // Another name of the same file: creating the target would empty the source.
  struct stat dstStat {};
  if (::stat(target.c_str(), &dstStat) == 0 && dstStat.st_dev == srcStat.st_dev &&
      dstStat.st_ino == srcStat.st_ino) {
    ::close(in);
    return false;
  }
  int out = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (out < 0) {
    ::close(in);
    return false;
  }
  char block[kBlockSize];
  off_t left = srcStat.st_size;
  bool ok = true;
  while (ok && left > 0) {
    size_t want = left < static_cast<off_t>(kBlockSize) ? static_cast<size_t>(left) : kBlockSize;
    ssize_t n = ::read(in, block, want);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;  // shorter than its size said, or a read error
      break;
    }
    ok = WriteAll(out, block, static_cast<size_t>(n));
    left -= n;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(target.c_str());
  return ok;
}

std::string UniqueFileName(const std::string& folder, const std::string& prefix) {
  const std::string base = WithSlash(folder);
  char number[8];
  for (int i = 0;; ++i) {
    std::snprintf(number, sizeof number, "%5.5d", i);
    std::string name = prefix + number + ".APF";
    if (i == 99999 || !FileExistsIgnoreCase(base, name)) return base + name;
  }
}

std::string UniqueSendFile(const std::string& prefix) { return UniqueFileName(SendFolder(), prefix); }
std::string UniqueWorkFile(const std::string& prefix) {
  return UniqueFileName(ProgramFolder(), prefix);
}

std::string ShareFolder() {
  std::error_code ec;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    std::filesystem::path installed = exe.parent_path().parent_path() / "share" / "quillcast";
    if (std::filesystem::is_directory(installed, ec)) return WithSlash(installed.string());
#ifdef QC_BINARY_DIR
    const std::string build = WithSlash(QC_BINARY_DIR);
    if (exe.string().compare(0, build.size(), build) == 0 && IsFolder(QC_SOURCE_RESOURCES))
      return WithSlash(QC_SOURCE_RESOURCES);
#endif
  }
#ifdef QC_SHARE_DIR
  return WithSlash(QC_SHARE_DIR);
#else
  return "/usr/share/quillcast/";
#endif
}

int InstallCovers(const std::string& shareFolder, const std::string& coversFolder) {
  const std::string covers = WithSlash(coversFolder);
  if (DIR* dir = ::opendir(covers.c_str())) {
    bool empty = true;
    while (const dirent* entry = ::readdir(dir)) {
      std::string_view n = entry->d_name;
      if (n != "." && n != "..") {
        empty = false;
        break;
      }
    }
    ::closedir(dir);
    if (!empty) return 0;
  }
  if (!ForceFolders(covers)) return 0;
  const std::string from = WithSlash(shareFolder) + "covers/";
  DIR* dir = ::opendir(from.c_str());
  if (!dir) return 0;
  int copied = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    struct stat st {};
    if (::stat((from + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (CopyFileBlocks(from + name, covers + name)) ++copied;
  }
  ::closedir(dir);
  return copied;
}

}  // namespace qc
