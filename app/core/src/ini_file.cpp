#include "app/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace qc {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

enum class LineKind { Other, Section, Key };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string_view name;   // section or key name
  std::string_view value;  // key lines only
};

ParsedLine Parse(std::string_view line) {
  ParsedLine p;
  std::string_view t = Trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '#') return p;
  if (t.front() == '[') {
    t.remove_prefix(1);
    size_t close = t.find(']');
    p.kind = LineKind::Section;
    p.name = Trim(t.substr(0, close));
    return p;
  }
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::Key;
  p.name = Trim(t.substr(0, eq));
  p.value = Trim(t.substr(eq + 1));
  return p;
}

// Writes `text` to `target` through a temporary file in the same folder.
void ReplaceFile(const std::string& fileName, const std::string& text) {
  std::string target = fileName;
  struct stat st {};
  const bool existed = ::lstat(fileName.c_str(), &st) == 0;
  if (existed && S_ISLNK(st.st_mode)) {
    // Replace the file the link points to, not the link itself.
    if (char* real = ::realpath(fileName.c_str(), nullptr)) {
      target = real;
      std::free(real);
      ::stat(target.c_str(), &st);
    }
  }
  // Replacing goes through the folder, so it would succeed on a file the
  // user made read-only; honour the file's own protection instead.
  if (existed && ::access(target.c_str(), W_OK) != 0) throw EIniFileException(fileName, errno);
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = target + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) throw EIniFileException(fileName, errno);

  auto fail = [&](int error) {
    ::close(fd);
    ::unlink(temp.c_str());
    throw EIniFileException(fileName, error);
  };
  if (existed) ::fchmod(fd, st.st_mode & 07777);
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      fail(errno);
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) fail(errno);
  if (::close(fd) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    throw EIniFileException(fileName, error);
  }
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    int error = errno;
    ::unlink(temp.c_str());
    throw EIniFileException(fileName, error);
  }
  // Make the rename itself durable; a failure here no longer loses data.
  std::string folder = target.substr(0, target.find_last_of('/') + 1);
  if (folder.empty()) folder = ".";
  int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
}

}  // namespace

EIniFileException::EIniFileException(const std::string& fileName, int systemError)
    : std::runtime_error("Unable to write to " + fileName),
      fileName_(fileName),
      systemError_(systemError) {}

bool ParseIniInteger(std::string_view text, int& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  int parsed = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

IniFile::IniFile(std::string fileName) : fileName_(std::move(fileName)) {
  std::ifstream in(fileName_, std::ios::binary);
  if (!in) return;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  parse(buffer.str());
}

IniFile IniFile::FromText(std::string fileName, std::string_view text) {
  IniFile ini;
  ini.fileName_ = std::move(fileName);
  ini.parse(text);
  return ini;
}

void IniFile::parse(std::string_view rest) {
  lines_.clear();
  bom_ = false;
  lineEnd_ = "\n";
  if (rest.substr(0, kBom.size()) == kBom) {
    bom_ = true;
    rest.remove_prefix(kBom.size());
  }
  bool sawCrLf = false;
  while (!rest.empty()) {
    size_t nl = rest.find('\n');
    std::string_view line = rest.substr(0, nl);
    rest = nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1);
    if (nl != std::string_view::npos) {
      if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
        sawCrLf = true;
      }
    } else {
      // The last line has no terminator; a stray carriage return ends it too.
      while (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    }
    lines_.emplace_back(line);
  }
  if (sawCrLf) lineEnd_ = "\r\n";
}

IniFile::Found IniFile::find(std::string_view section, std::string_view key) const {
  Found f;
  bool inSection = false;
  for (int i = 0; i < static_cast<int>(lines_.size()); ++i) {
    ParsedLine p = Parse(lines_[i]);
    if (p.kind == LineKind::Section) {
      if (inSection) break;  // the first section of that name is the one used
      if (SameName(p.name, section)) {
        inSection = true;
        f.sectionLine = i;
      }
    } else if (inSection && p.kind == LineKind::Key) {
      f.lastKeyLine = i;
      if (f.keyLine < 0 && SameName(p.name, key)) f.keyLine = i;
    }
  }
  return f;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key,
                                std::string_view defaultValue) const {
  Found f = find(section, key);
  if (f.keyLine < 0) return std::string(defaultValue);
  return std::string(Parse(lines_[f.keyLine]).value);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int defaultValue) const {
  Found f = find(section, key);
  if (f.keyLine < 0) return defaultValue;
  int value = defaultValue;
  if (!ParseIniInteger(Parse(lines_[f.keyLine]).value, value)) return defaultValue;
  return value;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool defaultValue) const {
  return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const {
  return find(section, {}).sectionLine >= 0;
}

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  return find(section, key).keyLine >= 0;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::vector<std::string> before = lines_;
  SetString(section, key, value);
  try {
    store();
  } catch (...) {
    lines_ = std::move(before);
    throw;
  }
}

void IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  std::string clean(value);
  for (char& c : clean)
    if (c == '\n' || c == '\r') c = ' ';
  const std::string line = std::string(key) + "=" + clean;

  Found f = find(section, key);
  if (f.keyLine >= 0) {
    lines_[f.keyLine] = line;
  } else if (f.sectionLine >= 0) {
    int after = f.lastKeyLine >= 0 ? f.lastKeyLine : f.sectionLine;
    lines_.insert(lines_.begin() + after + 1, line);
  } else {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(line);
  }
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

std::string IniFile::Text() const {
  std::string text;
  if (bom_) text += kBom;
  for (const std::string& line : lines_) {
    text += line;
    text += lineEnd_;
  }
  return text;
}

void IniFile::store() const { ReplaceFile(fileName_, Text()); }

}  // namespace qc
