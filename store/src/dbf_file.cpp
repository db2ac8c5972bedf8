#include "dbf_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "control/error_codes.h"
#include "file_io.h"
#include "store/store_errors.h"

namespace qc {
namespace {

// Byte taken by the write lock of a shared table; far past any real data so
// it never covers bytes other engines lock.
constexpr off_t kWriteLockByte = 0x7FFFFFF0;

int LockFile(int fd, bool exclusive) {
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return 0;
  return errno == EWOULDBLOCK ? seTableInUse : CodeForErrno(errno);
}

}  // namespace

void TodayYmd(int& year, int& month, int& day) {
  const std::time_t now = std::time(nullptr);
  std::tm tm {};
  ::localtime_r(&now, &tm);
  year = tm.tm_year + 1900;
  month = tm.tm_mon + 1;
  day = tm.tm_mday;
}

DbfFile::~DbfFile() { Close(); }

int DbfFile::Create(const std::string& path, const std::vector<dbf::Field>& fields, std::string& message) {
  if (fields.empty()) {
    message = "a table needs at least one field";
    return seBadTable;
  }
  std::vector<dbf::Field> laid = fields;
  int length = 1;
  for (std::size_t i = 0; i < laid.size(); ++i) {
    if (!dbf::ValidField(laid[i], message)) return seBadValue;
    for (std::size_t j = 0; j < i; ++j) {
      if (laid[j].name == laid[i].name) {
        message = "field " + laid[i].name + " is defined twice";
        return seBadValue;
      }
    }
    laid[i].offset = length;
    length += laid[i].length;
  }
  if (length > 0xFFFF || dbf::kPrefixSize + dbf::kDescriptorSize * laid.size() + 1 > 0xFFFF) {
    message = "record too long";
    return seBadValue;
  }
  dbf::Header h;
  h.version = dbf::kVersionDbase3;
  TodayYmd(h.year, h.month, h.day);
  h.recordLength = static_cast<std::uint16_t>(length);
  h.codePage = 0x03;  // Windows-1252
  std::vector<std::uint8_t> bytes = dbf::EncodeHeader(h, laid);
  bytes.push_back(dbf::kEndOfFile);

  // Written beside the target and renamed over it: a crash leaves no half table.
  const std::string temp = path + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int code = CodeForErrno(errno);
    message = "cannot create " + path + ": " + std::strerror(errno);
    return code;
  }
  int rc = WriteAt(fd, bytes.data(), bytes.size(), 0);
  if (rc == 0 && ::fsync(fd) != 0) rc = CodeForErrno(errno);
  ::close(fd);
  if (rc == 0 && ::rename(temp.c_str(), path.c_str()) != 0) rc = CodeForErrno(errno);
  if (rc != 0) {
    ::unlink(temp.c_str());
    message = "cannot write " + path;
  }
  return rc;
}

int DbfFile::Open(const std::string& path, bool exclusive, bool readOnly, std::string& message) {
  Close();
  const int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    const int code = CodeForErrno(errno);
    message = "cannot open " + path + ": " + std::strerror(errno);
    return code;
  }
  if (const int rc = LockFile(fd, exclusive); rc != 0) {
    ::close(fd);
    message = rc == seTableInUse ? path + " is in use by another program" : "cannot lock " + path;
    return rc;
  }
  fd_ = fd;
  path_ = path;
  exclusive_ = exclusive;
  readOnly_ = readOnly;
  countMended_ = false;
  dateTouched_ = false;
  const int rc = ReadHeader(message);
  if (rc != 0) {
    Close();
    message = path + ": " + message;
    return rc;
  }
  if (countMended_ && exclusive_ && !readOnly_) {
    // Bring the header in line and drop any partial record after the last
    // complete one.
    std::uint8_t eof = dbf::kEndOfFile;
    const std::uint64_t end = header_.headerLength +
                              static_cast<std::uint64_t>(header_.recordCount) * header_.recordLength;
    int w = WriteAt(fd_, &eof, 1, end);
    if (w == 0 && ::ftruncate(fd_, static_cast<off_t>(end + 1)) != 0) w = CodeForErrno(errno);
    if (w == 0) w = TouchHeader();
    if (w != 0) {
      Close();
      message = path + ": cannot mend the record count";
      return w;
    }
  }
  return 0;
}

int DbfFile::ReadHeader(std::string& message) {
  const std::int64_t size = FileSize(fd_);
  if (size < 0) {
    message = "cannot read the file size";
    return CodeForErrno(errno);
  }
  std::uint8_t prefix[dbf::kPrefixSize] = {};
  const std::size_t prefixSize = std::min<std::size_t>(sizeof prefix, static_cast<std::size_t>(size));
  if (prefixSize > 0) {
    if (const int rc = ReadAt(fd_, prefix, prefixSize, 0); rc != 0) {
      message = "cannot read the header";
      return rc;
    }
  }
  std::uint16_t headerLength = dbf::PeekHeaderLength(prefix, prefixSize);
  std::vector<std::uint8_t> bytes(prefix, prefix + prefixSize);
  if (headerLength > prefixSize && headerLength <= size) {
    bytes.resize(headerLength);
    if (const int rc = ReadAt(fd_, bytes.data(), headerLength, 0); rc != 0) {
      message = "cannot read the header";
      return rc;
    }
  }
  if (!dbf::DecodeHeader(bytes.data(), bytes.size(), static_cast<std::uint64_t>(size), header_, fields_,
                         message))
    return seBadTable;
  headerBytes_ = std::move(bytes);
  const std::uint64_t complete =
      (static_cast<std::uint64_t>(size) - header_.headerLength) / header_.recordLength;
  const std::uint32_t records = complete > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(complete);
  if (records != header_.recordCount) {
    header_.recordCount = records;
    countMended_ = true;
  }
  return 0;
}

void DbfFile::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also drops the lock
    fd_ = -1;
  }
  fields_.clear();
  headerBytes_.clear();
}

int DbfFile::FieldIndex(std::string_view name) const {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const std::string& f = fields_[i].name;
    if (f.size() != name.size()) continue;
    bool same = true;
    for (std::size_t k = 0; k < f.size() && same; ++k)
      same = std::toupper(static_cast<unsigned char>(name[k])) == static_cast<unsigned char>(f[k]);
    if (same) return static_cast<int>(i);
  }
  return -1;
}

int DbfFile::Refresh() {
  if (fd_ < 0) return seNotOpen;
  std::string message;
  return ReadHeader(message);
}

int DbfFile::Read(std::uint32_t recno, std::uint8_t* buf) const { return ReadRange(recno, 1, buf); }

int DbfFile::ReadRange(std::uint32_t first, std::uint32_t count, std::uint8_t* buf) const {
  if (fd_ < 0) return seNotOpen;
  if (first < 1 || count == 0 || first - 1 + static_cast<std::uint64_t>(count) > header_.recordCount)
    return seNoRecord;
  const std::uint64_t offset =
      header_.headerLength + static_cast<std::uint64_t>(first - 1) * header_.recordLength;
  return ReadAt(fd_, buf, static_cast<std::size_t>(count) * header_.recordLength, offset);
}

int DbfFile::Write(std::uint32_t recno, const std::uint8_t* buf) {
  if (fd_ < 0) return seNotOpen;
  if (readOnly_) return seReadOnly;
  if (recno < 1 || recno > header_.recordCount) return seNoRecord;
  const std::uint64_t offset =
      header_.headerLength + static_cast<std::uint64_t>(recno - 1) * header_.recordLength;
  if (const int rc = WriteAt(fd_, buf, header_.recordLength, offset); rc != 0) return rc;
  return dateTouched_ ? 0 : TouchHeader();
}

int DbfFile::Append(const std::uint8_t* buf, std::uint32_t& recno) {
  if (fd_ < 0) return seNotOpen;
  if (readOnly_) return seReadOnly;
  if (header_.recordCount == 0xFFFFFFFFu) return ecDatabaseFull;
  const std::uint64_t offset =
      header_.headerLength + static_cast<std::uint64_t>(header_.recordCount) * header_.recordLength;
  // Record and end byte in one write, then the count.
  std::vector<std::uint8_t> out(buf, buf + header_.recordLength);
  out.push_back(dbf::kEndOfFile);
  if (const int rc = WriteAt(fd_, out.data(), out.size(), offset); rc != 0) return rc;
  ++header_.recordCount;
  if (const int rc = TouchHeader(); rc != 0) {
    --header_.recordCount;
    return rc;
  }
  recno = header_.recordCount;
  return 0;
}

int DbfFile::SetDeleteFlag(std::uint32_t recno, bool deleted) {
  if (fd_ < 0) return seNotOpen;
  if (readOnly_) return seReadOnly;
  if (recno < 1 || recno > header_.recordCount) return seNoRecord;
  const std::uint8_t flag = deleted ? dbf::kDeleted : dbf::kLive;
  const std::uint64_t offset =
      header_.headerLength + static_cast<std::uint64_t>(recno - 1) * header_.recordLength;
  if (const int rc = WriteAt(fd_, &flag, 1, offset); rc != 0) return rc;
  return dateTouched_ ? 0 : TouchHeader();
}

int DbfFile::SetProductionIndexFlag(bool on) {
  if (fd_ < 0) return seNotOpen;
  if (readOnly_) return seReadOnly;
  const std::uint8_t flags =
      on ? (header_.flags | dbf::kFlagProductionIndex) : (header_.flags & ~dbf::kFlagProductionIndex);
  if (flags == header_.flags) return 0;
  if (const int rc = WriteAt(fd_, &flags, 1, dbf::kOffFlags); rc != 0) return rc;
  header_.flags = flags;
  headerBytes_[dbf::kOffFlags] = flags;
  return 0;
}

int DbfFile::TouchHeader() {
  TodayYmd(header_.year, header_.month, header_.day);
  std::uint8_t bytes[7];
  dbf::EncodeDateAndCount(header_, bytes);
  if (const int rc = WriteAt(fd_, bytes, sizeof bytes, 1); rc != 0) return rc;
  std::memcpy(headerBytes_.data() + 1, bytes, sizeof bytes);
  dateTouched_ = true;
  return 0;
}

int DbfFile::LockForWrite() {
  if (exclusive_ || fd_ < 0) return 0;
  struct flock lk {};
  lk.l_type = F_WRLCK;
  lk.l_whence = SEEK_SET;
  lk.l_start = kWriteLockByte;
  lk.l_len = 1;
  while (::fcntl(fd_, F_SETLKW, &lk) != 0) {
    if (errno != EINTR) return CodeForErrno(errno);
  }
  return Refresh();
}

void DbfFile::UnlockForWrite() {
  if (exclusive_ || fd_ < 0) return;
  struct flock lk {};
  lk.l_type = F_UNLCK;
  lk.l_whence = SEEK_SET;
  lk.l_start = kWriteLockByte;
  lk.l_len = 1;
  ::fcntl(fd_, F_SETLK, &lk);
}

int DbfFile::Pack(const std::function<void(int)>& progress, std::string& message) {
  if (fd_ < 0) return seNotOpen;
  if (readOnly_) return seReadOnly;
  if (!exclusive_) {
    message = "pack needs the table opened exclusively";
    return seTableInUse;
  }
  const std::string temp = path_ + ".pak";
  const int out = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) {
    message = "cannot create " + temp;
    return CodeForErrno(errno);
  }
  auto fail = [&](int code, const std::string& what) {
    ::close(out);
    ::unlink(temp.c_str());
    message = what;
    return code;
  };
  if (::flock(out, LOCK_EX | LOCK_NB) != 0) return fail(seTableInUse, "cannot lock " + temp);

  dbf::Header h = header_;
  std::vector<std::uint8_t> head = headerBytes_;
  const std::size_t recLen = header_.recordLength;
  constexpr std::uint32_t kChunk = 1024;
  std::vector<std::uint8_t> in(kChunk * recLen);
  std::vector<std::uint8_t> kept;
  kept.reserve(in.size() + 1);
  std::uint64_t writePos = header_.headerLength;
  std::uint32_t live = 0;
  if (progress) progress(0);
  for (std::uint32_t first = 1; first <= header_.recordCount; first += kChunk) {
    const std::uint32_t n = std::min(kChunk, header_.recordCount - first + 1);
    if (const int rc = ReadRange(first, n, in.data()); rc != 0) return fail(rc, "cannot read " + path_);
    kept.clear();
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::uint8_t* r = in.data() + i * recLen;
      if (r[0] == static_cast<std::uint8_t>(dbf::kDeleted)) continue;
      kept.insert(kept.end(), r, r + recLen);
      ++live;
    }
    if (!kept.empty()) {
      if (const int rc = WriteAt(out, kept.data(), kept.size(), writePos); rc != 0)
        return fail(rc, "cannot write " + temp);
      writePos += kept.size();
    }
    if (progress && first + n - 1 < header_.recordCount)
      progress(static_cast<int>((first + n - 1) * 100ull / header_.recordCount));
  }
  const std::uint8_t eof = dbf::kEndOfFile;
  if (const int rc = WriteAt(out, &eof, 1, writePos); rc != 0) return fail(rc, "cannot write " + temp);
  h.recordCount = live;
  TodayYmd(h.year, h.month, h.day);
  dbf::EncodeDateAndCount(h, head.data() + 1);
  if (const int rc = WriteAt(out, head.data(), head.size(), 0); rc != 0) return fail(rc, "cannot write " + temp);
  if (::fdatasync(out) != 0) return fail(CodeForErrno(errno), "cannot write " + temp);
  if (::rename(temp.c_str(), path_.c_str()) != 0) return fail(CodeForErrno(errno), "cannot replace " + path_);
  ::close(fd_);
  fd_ = out;
  header_ = h;
  headerBytes_ = std::move(head);
  dateTouched_ = true;
  if (progress) progress(100);
  return 0;
}

}  // namespace qc
