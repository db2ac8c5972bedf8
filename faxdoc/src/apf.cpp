#include "faxdoc/apf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "control/error_codes.h"
#include "control/errors.h"
#include "faxdoc/t4.h"
#include "file_io.h"

namespace qc {

namespace {

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

int writeAt(int fd, uint64_t offset, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const ssize_t r = ::pwrite(fd, p, n, static_cast<off_t>(offset));
    if (r < 0) {
      if (errno == EINTR) continue;
      return fileio::CodeForErrno(errno);
    }
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return ecOK;
}

int writeAll(int fd, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    const ssize_t r = ::write(fd, p, n);
    if (r < 0) {
      if (errno == EINTR) continue;
      return fileio::CodeForErrno(errno);
    }
    p += r;
    n -= static_cast<size_t>(r);
  }
  return ecOK;
}

int createFile(const std::string& name, int& fd) {
  if (name.empty()) return ecFileNotFound;
  fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return fileio::CodeForErrno(errno);
  return ecOK;
}

}  // namespace

// ---- headers -------------------------------------------------------------

TApfFileHeader TApfFileHeader::Fresh() {
  TApfFileHeader h;
  h.Signature = kApfSignature;
  h.FirstPageOffset = kApfFirstPageOffset;
  return h;
}

std::string TApfFileHeader::StationIdText() const {
  const int n = std::min<int>(StationId[0], kApfStationIdChars);
  return std::string(reinterpret_cast<const char*>(StationId.data() + 1), n);
}

void TApfFileHeader::SetStationId(const std::string& id, bool padded) {
  const size_t n = std::min<size_t>(id.size(), kApfStationIdChars);
  std::fill(StationId.begin() + 1, StationId.end(), ' ');
  std::memcpy(StationId.data() + 1, id.data(), n);
  StationId[0] = static_cast<uint8_t>(padded ? kApfStationIdChars : n);
}

void TApfFileHeader::SetStationIdKeepTail(const std::string& id) {
  const size_t n = std::min<size_t>(id.size(), kApfStationIdChars);
  std::memcpy(StationId.data() + 1, id.data(), n);
  StationId[0] = static_cast<uint8_t>(n);
}

void TApfFileHeader::ToBytes(uint8_t out[kApfFileHeaderSize]) const {
  std::memset(out, 0, kApfFileHeaderSize);
  std::memcpy(out, Signature.data(), 6);
  put32(out + 6, TimeStamp);
  std::memcpy(out + 10, StationId.data(), 21);
  out[31] = Reserved1;
  put16(out + 32, PageCount);
  put32(out + 34, FirstPageOffset);
  std::memcpy(out + 38, Reserved2.data(), 26);
}

TApfFileHeader TApfFileHeader::FromBytes(const uint8_t in[kApfFileHeaderSize]) {
  TApfFileHeader h;
  std::memcpy(h.Signature.data(), in, 6);
  h.TimeStamp = get32(in + 6);
  std::memcpy(h.StationId.data(), in + 10, 21);
  h.Reserved1 = in[31];
  h.PageCount = get16(in + 32);
  h.FirstPageOffset = get32(in + 34);
  std::memcpy(h.Reserved2.data(), in + 38, 26);
  return h;
}

void TApfPageHeader::ToBytes(uint8_t out[kApfPageHeaderSize]) const {
  put32(out, ImageLength);
  put16(out + 4, Flags);
  std::memcpy(out + 6, Reserved.data(), 10);
}

TApfPageHeader TApfPageHeader::FromBytes(const uint8_t in[kApfPageHeaderSize]) {
  TApfPageHeader p;
  p.ImageLength = get32(in);
  p.Flags = get16(in + 4);
  std::memcpy(p.Reserved.data(), in + 6, 10);
  return p;
}

uint32_t DosTimeStamp(std::time_t when) {
  std::tm tm{};
  if (!localtime_r(&when, &tm)) return 0;
  const int year = tm.tm_year + 1900;
  if (year < 1980 || year > 2099) return 0;
  const uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
  const uint32_t time = static_cast<uint32_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  return (date << 16) | time;
}

std::time_t DosTimeStampToTime(uint32_t stamp) {
  if (stamp == 0) return 0;
  std::tm tm{};
  const uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
  tm.tm_year = static_cast<int>((date >> 9) + 80);
  tm.tm_mon = static_cast<int>(((date >> 5) & 15)) - 1;
  tm.tm_mday = static_cast<int>(date & 31);
  tm.tm_hour = static_cast<int>(time >> 11);
  tm.tm_min = static_cast<int>((time >> 5) & 63);
  tm.tm_sec = static_cast<int>((time & 31) * 2);
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

// ---- readers -------------------------------------------------------------

bool IsApfFile(const std::string& fileName) {
  fileio::File f;
  if (f.OpenRead(fileName) != ecOK) return false;
  uint8_t sig[6];
  if (f.ReadExact(sig, 6) != ecOK) return false;
  return std::memcmp(sig, kApfSignature.data(), 6) == 0;
}

static int readHeader(fileio::File& f, TApfFileHeader& header) {
  uint8_t buf[kApfFileHeaderSize];
  const int r = f.ReadExact(buf, sizeof buf);
  if (r == ecReadBeyondEOF) {
    // Too short to hold a header: it is no APF file whatever its first bytes are.
    return ecFaxBadFormat;
  }
  if (r != ecOK) return r;
  header = TApfFileHeader::FromBytes(buf);
  return header.HasSignature() ? ecOK : ecFaxBadFormat;
}

int ReadApfHeader(const std::string& fileName, TApfFileHeader& header) {
  fileio::File f;
  if (const int r = f.OpenRead(fileName); r != ecOK) return r;
  return readHeader(f, header);
}

int LocateApfPage(const std::string& fileName, unsigned pageNumber, TApfPageHeader& pageHeader,
                  uint64_t& dataOffset, TApfFileHeader* fileHeader) {
  fileio::File f;
  if (const int r = f.OpenRead(fileName); r != ecOK) return r;
  TApfFileHeader h;
  if (const int r = readHeader(f, h); r != ecOK) return r;
  if (fileHeader) *fileHeader = h;
  if (h.PageCount < pageNumber) return ecFaxBadFormat;
  if (pageNumber == 0) return ecOK;
  // 64-bit offsets: ImageLength values near 4 GiB must not wrap onto earlier data.
  uint64_t offset = h.FirstPageOffset;
  uint8_t buf[kApfPageHeaderSize];
  for (unsigned n = 1;; ++n) {
    if (const int r = f.Seek(offset); r != ecOK) return r;
    if (const int r = f.ReadExact(buf, sizeof buf); r != ecOK) return r;
    const TApfPageHeader p = TApfPageHeader::FromBytes(buf);
    if (n == pageNumber) {
      pageHeader = p;
      dataOffset = offset + kApfPageHeaderSize;
      return ecOK;
    }
    offset += kApfPageHeaderSize + static_cast<uint64_t>(p.ImageLength);
  }
}

int AppendApfFileStatus(const std::string& target, const std::string& source) {
  if (::access(target.c_str(), F_OK) != 0 || ::access(source.c_str(), F_OK) != 0 || target.empty() ||
      source.empty())
    return ecFileNotFound;
  fileio::File t, s;
  if (const int r = t.OpenReadWrite(target); r != ecOK) return r;
  uint8_t hb[kApfFileHeaderSize];
  if (const int r = t.ReadExact(hb, sizeof hb); r != ecOK) return r;
  TApfFileHeader th = TApfFileHeader::FromBytes(hb);
  uint64_t end = th.FirstPageOffset;
  uint8_t pb[kApfPageHeaderSize];
  for (unsigned n = 0; n < th.PageCount; ++n) {
    if (const int r = t.Seek(end); r != ecOK) return r;
    if (const int r = t.ReadExact(pb, sizeof pb); r != ecOK) return r;
    end += kApfPageHeaderSize + static_cast<uint64_t>(TApfPageHeader::FromBytes(pb).ImageLength);
  }
  if (const int r = s.OpenRead(source); r != ecOK) return r;
  if (const int r = s.ReadExact(hb, sizeof hb); r != ecOK) return r;
  const TApfFileHeader sh = TApfFileHeader::FromBytes(hb);
  if (static_cast<unsigned>(th.PageCount) + sh.PageCount > 0xFFFF) return ecFaxBadFormat;
  // The source's size is fixed first, so a file appended onto itself ends.
  const long long sourceSize = s.Size();
  if (sourceSize < 0) return static_cast<int>(sourceSize);
  if (const int r = s.Seek(sh.FirstPageOffset); r != ecOK) return r;
  uint64_t left = sourceSize > static_cast<long long>(sh.FirstPageOffset)
                      ? static_cast<uint64_t>(sourceSize) - sh.FirstPageOffset
                      : 0;
  uint8_t buf[4096];
  uint64_t at = end;
  while (left > 0) {
    const long got = s.Read(buf, static_cast<size_t>(std::min<uint64_t>(left, sizeof buf)));
    if (got < 0) return static_cast<int>(got);
    if (got == 0) break;
    if (const int r = writeAt(t.Fd(), at, buf, static_cast<size_t>(got)); r != ecOK) return r;
    at += static_cast<uint64_t>(got);
    left -= static_cast<uint64_t>(got);
  }
  // Anything the target held past its last page is not a page; drop it.
  if (::ftruncate(t.Fd(), static_cast<off_t>(at)) != 0) return fileio::CodeForErrno(errno);
  th.PageCount = static_cast<uint16_t>(th.PageCount + sh.PageCount);
  th.ToBytes(hb);
  return writeAt(t.Fd(), 0, hb, sizeof hb);
}

void AppendApfFile(const std::string& target, const std::string& source) {
  const int r = AppendApfFileStatus(target, source);
  if (r < 0) throw EInOutError(ErrorText(r), -r);
}

// ---- document writer -----------------------------------------------------

TApfWriter::TApfWriter() = default;

TApfWriter::~TApfWriter() {
  if (fd_ >= 0) Abort();
}

int TApfWriter::fail(int code) {
  if (status_ == 0) status_ = code;
  return status_;
}

int TApfWriter::Create(const std::string& fileName) {
  if (fd_ >= 0) Abort();
  status_ = 0;
  inPage_ = false;
  buffered_ = 0;
  fileName_ = fileName;
  if (const int r = createFile(fileName, fd_); r != ecOK) {
    fd_ = -1;
    return fail(r);
  }
  header_ = TApfFileHeader::Fresh();
  uint8_t hb[kApfFileHeaderSize];
  header_.ToBytes(hb);
  position_ = 0;
  return put(hb, sizeof hb);
}

int TApfWriter::flush() {
  if (buffered_ == 0) return status_;
  const int r = writeAll(fd_, buffer_, buffered_);
  buffered_ = 0;
  return r == ecOK ? status_ : fail(r);
}

int TApfWriter::put(const void* data, size_t n) {
  if (status_ != 0) return status_;
  if (fd_ < 0) return fail(ecNotOpen);
  position_ += n;
  if (buffered_ + n > sizeof buffer_) {
    if (flush() != 0) return status_;
    if (n >= sizeof buffer_) {
      const int r = writeAll(fd_, data, n);
      return r == ecOK ? 0 : fail(r);
    }
  }
  std::memcpy(buffer_ + buffered_, data, n);
  buffered_ += n;
  return 0;
}

int TApfWriter::BeginPage(bool fine, bool wide) {
  if (status_ != 0) return status_;
  pageHeaderPos_ = position_;
  page_ = TApfPageHeader{};
  page_.Flags = static_cast<uint16_t>(pfLineRecords | (fine ? pfFine : 0) | (wide ? pfWide : 0));
  uint8_t pb[kApfPageHeaderSize];
  page_.ToBytes(pb);
  inPage_ = true;
  return put(pb, sizeof pb);
}

int TApfWriter::WriteLine(const uint8_t* data, int count) {
  if (status_ != 0) return status_;
  if (!inPage_ || count < 0 || count > kApfMaxRecordBytes) return fail(ecBadArgument);
  // ImageLength is 32 bits; a page that would overflow it cannot be stored.
  if (page_.ImageLength > 0xFFFFFFFFu - 2 - static_cast<uint32_t>(count)) return fail(ecDiskFull);
  uint8_t cb[2];
  put16(cb, static_cast<uint16_t>(count));
  if (put(cb, 2) != 0 || put(data, static_cast<size_t>(count)) != 0) return status_;
  page_.ImageLength += 2 + static_cast<uint32_t>(count);
  return 0;
}

int TApfWriter::EndPage() {
  if (status_ != 0) return status_;
  TFaxLineEncoder enc;
  const int n = enc.EncodePageEnd();
  if (WriteLine(enc.Data(), n) != 0) return status_;
  inPage_ = false;
  header_.PageCount = static_cast<uint16_t>(header_.PageCount + 1);
  if (flush() != 0) return status_;
  uint8_t pb[kApfPageHeaderSize];
  page_.ToBytes(pb);
  const int r = writeAt(fd_, pageHeaderPos_, pb, sizeof pb);
  return r == ecOK ? 0 : fail(r);
}

int TApfWriter::Finish(const std::string& stationId, std::time_t now) {
  if (status_ != 0) return status_;
  header_.SetStationId(stationId);
  header_.TimeStamp = DosTimeStamp(now);
  if (flush() != 0) return status_;
  uint8_t hb[kApfFileHeaderSize];
  header_.ToBytes(hb);
  if (const int r = writeAt(fd_, 0, hb, sizeof hb); r != ecOK) return fail(r);
  if (::close(fd_) != 0) {
    fd_ = -1;
    return fail(fileio::CodeForErrno(errno));
  }
  fd_ = -1;
  return 0;
}

void TApfWriter::Abort() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
    ::unlink(fileName_.c_str());
  }
  buffered_ = 0;
  inPage_ = false;
}

// ---- receive writer ------------------------------------------------------

TApfReceiveWriter::~TApfReceiveWriter() { Close(); }

int TApfReceiveWriter::fail(int code) {
  if (status_ == 0) status_ = code;
  return status_;
}

int TApfReceiveWriter::Create(const std::string& fileName, const std::string& remoteId, std::time_t now) {
  Close();
  status_ = 0;
  inPage_ = false;
  if (const int r = createFile(fileName, fd_); r != ecOK) {
    fd_ = -1;
    return fail(r);
  }
  header_ = TApfFileHeader::Fresh();
  header_.SetStationId(remoteId, /*padded=*/true);
  header_.TimeStamp = DosTimeStamp(now);
  uint8_t hb[kApfFileHeaderSize];
  header_.ToBytes(hb);
  if (const int r = writeAll(fd_, hb, sizeof hb); r != ecOK) return fail(r);
  position_ = kApfFileHeaderSize;
  return 0;
}

int TApfReceiveWriter::BeginPage(uint16_t flags) {
  if (status_ != 0) return status_;
  if (fd_ < 0) return fail(ecNotOpen);
  page_ = TApfPageHeader{};
  page_.Flags = static_cast<uint16_t>(flags & (pfFine | pfWide));
  pageHeaderPos_ = position_;
  uint8_t pb[kApfPageHeaderSize];
  page_.ToBytes(pb);
  if (const int r = writeAll(fd_, pb, sizeof pb); r != ecOK) return fail(r);
  position_ += kApfPageHeaderSize;
  inPage_ = true;
  return 0;
}

int TApfReceiveWriter::Append(const uint8_t* data, size_t n) {
  if (status_ != 0) return status_;
  if (!inPage_) return fail(ecBadArgument);
  if (n > 0xFFFFFFFFu - page_.ImageLength) return fail(ecDiskFull);
  if (const int r = writeAll(fd_, data, n); r != ecOK) return fail(r);
  page_.ImageLength += static_cast<uint32_t>(n);
  position_ += n;
  return 0;
}

int TApfReceiveWriter::EndPage(const std::string& remoteId, std::time_t now) {
  if (status_ != 0) return status_;
  if (!inPage_) return fail(ecBadArgument);
  inPage_ = false;
  header_.PageCount = static_cast<uint16_t>(header_.PageCount + 1);
  header_.SetStationIdKeepTail(remoteId);
  header_.TimeStamp = DosTimeStamp(now);
  uint8_t hb[kApfFileHeaderSize];
  header_.ToBytes(hb);
  if (const int r = writeAt(fd_, 0, hb, sizeof hb); r != ecOK) return fail(r);
  uint8_t pb[kApfPageHeaderSize];
  page_.ToBytes(pb);
  if (const int r = writeAt(fd_, pageHeaderPos_, pb, sizeof pb); r != ecOK) return fail(r);
  return 0;
}

int TApfReceiveWriter::Close() {
  if (fd_ >= 0) {
    if (::close(fd_) != 0) fail(fileio::CodeForErrno(errno));
    fd_ = -1;
  }
  return status_;
}

}  // namespace qc
