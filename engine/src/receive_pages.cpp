// The received fax file: its creation, the capture of page data into it and
// the bookkeeping of its file and page headers. Pages are stored raw, as the
// modem delivers them (no line records), and the file header is brought up to
// date after every page, so a call cut short leaves a readable file.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <ctime>

#include "control/error_codes.h"
#include "faxdoc/apf.h"
#include "receive_session.h"

namespace qc {

namespace {

constexpr uint8_t kDLE = 0x10, kETX = 0x03, kDC2 = 0x12;

// A Class 2 modem hands over page data with the first bit of the line in
// bit 7; the file keeps it in bit 0, as T.4 data is stored everywhere else.
constexpr std::array<uint8_t, 256> MakeBitReverse() {
  std::array<uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) {
    uint8_t r = 0;
    for (int b = 0; b < 8; ++b)
      if (i & (1 << b)) r = static_cast<uint8_t>(r | (0x80 >> b));
    t[i] = r;
  }
  return t;
}
constexpr std::array<uint8_t, 256> kBitReverse = MakeBitReverse();
static_assert(kBitReverse[0x01] == 0x80 && kBitReverse[0x80] == 0x01 && kBitReverse[0x0F] == 0xF0);

int FileError() { return errno != 0 ? errno : EIO; }

// Writes all of `data` at `offset`, or reports why not: an operating-system
// error as its code, a write that took fewer bytes than asked as -160.
int WriteAt(std::FILE* f, long offset, const void* data, size_t n) {
  errno = 0;
  const ssize_t written = ::pwrite(::fileno(f), data, n, offset);
  if (written < 0) return FileError();
  return static_cast<size_t>(written) == n ? 0 : ecDeviceWrite;
}

}  // namespace

// --- file and header bookkeeping ---

int ReceiveSession::OpenReceiveFile() {
  SessionData& d = Data();
  ClassData& c = Cls();
  CloseReceiveFile();
  d.currentPage = 1;
  TApfFileHeader header = TApfFileHeader::Fresh();
  header.TimeStamp = DosTimeStamp(std::time(nullptr));
  header.SetStationId(d.remoteId, true);
  header.PageCount = 0;
  header.FirstPageOffset = kApfFirstPageOffset;
  header.ToBytes(c.fileHeader.data());
  c.filePageCount = 0;
  c.firstPageOffset = kApfFirstPageOffset;
  pageInProgress_ = false;

  NotifyName();
  if (d.faxFile.empty()) {
    d.error = ecNoFilename;
    return d.error;
  }
  errno = 0;
  std::FILE* f = std::fopen(d.faxFile.c_str(), "w+b");
  if (!f) {
    d.error = FileError();
    return d.error;
  }
  // All writes go straight to the descriptor at known offsets.
  std::setvbuf(f, nullptr, _IONBF, 0);
  c.faxFile = f;
  fileEnd_ = kApfFileHeaderSize;
  if (int rc = WriteAt(f, 0, c.fileHeader.data(), c.fileHeader.size()); rc != 0) {
    CloseReceiveFile();
    d.error = rc;
    return rc;
  }
  return 0;
}

void ReceiveSession::CloseReceiveFile() {
  ClassData& c = Cls();
  if (c.faxFile) std::fclose(c.faxFile);
  c.faxFile = nullptr;
  pageInProgress_ = false;
}

int ReceiveSession::WritePageHeader(long offset) {
  ClassData& c = Cls();
  TApfPageHeader ph;
  ph.ImageLength = c.pageHeader.imageLength;
  ph.Flags = static_cast<uint16_t>((c.pageHeader.fine ? pfFine : 0) | (c.pageHeader.wide ? pfWide : 0));
  uint8_t bytes[kApfPageHeaderSize];
  ph.ToBytes(bytes);
  return WriteAt(c.faxFile, offset, bytes, sizeof bytes);
}

int ReceiveSession::RewriteFileHeader() {
  SessionData& d = Data();
  ClassData& c = Cls();
  TApfFileHeader header = TApfFileHeader::FromBytes(c.fileHeader.data());
  header.SetStationIdKeepTail(d.remoteId.substr(0, kStationIdMax));
  header.TimeStamp = DosTimeStamp(std::time(nullptr));
  header.PageCount = c.filePageCount;
  header.ToBytes(c.fileHeader.data());
  return WriteAt(c.faxFile, 0, c.fileHeader.data(), c.fileHeader.size());
}

int ReceiveSession::PageOffset(int page, long& offset) {
  ClassData& c = Cls();
  offset = static_cast<long>(c.firstPageOffset);
  for (int p = 1; p < page; ++p) {
    uint8_t bytes[kApfPageHeaderSize];
    errno = 0;
    const ssize_t got = ::pread(::fileno(c.faxFile), bytes, sizeof bytes, offset);
    if (got < 0) return FileError();
    if (got != static_cast<ssize_t>(sizeof bytes)) return ecFaxBadFormat;
    offset += kApfPageHeaderSize + static_cast<long>(TApfPageHeader::FromBytes(bytes).ImageLength);
  }
  return 0;
}

int ReceiveSession::FinishPage() {
  ClassData& c = Cls();
  // A page already finished is not counted again.
  if (!c.faxFile || !pageInProgress_) return 0;
  ++c.filePageCount;
  pageInProgress_ = false;
  int first = RewriteFileHeader();
  // The bytes that are in the file: after a failed write fewer than arrived.
  c.pageHeader.imageLength = static_cast<uint32_t>(fileEnd_ - pageOffset_ - kApfPageHeaderSize);
  const int rc = WritePageHeader(pageOffset_);
  if (first == 0) first = rc;
  return first;
}

int ReceiveSession::DropPage() {
  SessionData& d = Data();
  ClassData& c = Cls();
  pageInProgress_ = false;
  if (!c.faxFile) return 0;
  long offset = 0;
  int rc = PageOffset(c.filePageCount + 1, offset);
  if (rc == 0 && ::ftruncate(::fileno(c.faxFile), offset) != 0) rc = FileError();
  if (rc == 0) fileEnd_ = offset;
  if (d.currentPage > 0) --d.currentPage;
  d.pageBytes = 0;
  c.receiveFill = 0;
  return rc;
}

// --- page data ---

void ReceiveSession::PageStart() {
  SessionData& d = Data();
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  ++d.currentPage;
  if (h.documentMode == dmNewDocument) {
    if (FileOpen()) {
      // The caller announced another document: this one is complete.
      CloseReceiveFile();
      NotifyLog(lcReceiveFinished);
      d.faxFile.clear();
    }
    if (int rc = OpenReceiveFile(); rc != 0) {
      SetError(rc);
      SetState(rfError);
      return;
    }
    NotifyLog(lcReceiveStarted);
    h.documentMode = dmNextPage;
  }
  if (!FileOpen()) {
    SetError(ecNoFilename);
    SetState(rfError);
    return;
  }
  c.pageHeader = PageInfo{};
  c.pageHeader.fine = c.sessionFine;
  c.pageHeader.wide = c.sessionWide;
  pageOffset_ = fileEnd_;
  if (int rc = WritePageHeader(pageOffset_); rc != 0) {
    SetError(rc);
    SetState(rfError);
    return;
  }
  fileEnd_ += kApfPageHeaderSize;
  pageInProgress_ = true;
  pageDropped_ = false;
  c.receiveFill = 0;
  h.previousByte = 0xFF;
  ArmTimeout(c.responseTicks);
  d.pageBytes = 0;
  if (IsClass2()) Port()->SendByte(kDC2);
  SetState(rfPageData);
  SetStatus(fsGettingPage);
}

void ReceiveSession::PageData(int trigger) {
  SessionData& d = Data();
  ClassData& c = Cls();
  if (trigger == d.timeoutTrigger) {
    // The data stopped without the end-of-page mark: the call ends with what
    // arrived rather than waiting for someone to abort it.
    SetError(ecTimeout);
    c.forceStatus = true;
    SetState(rfError);
    return;
  }
  bool ended = false;
  if (int rc = ReceiveData(ended); rc != 0) {
    SetError(rc);
    c.forceStatus = true;
    SetState(rfError);
    return;
  }
  if (!ended) return;
  Handle().previousByte = 0xFF;
  SetStatus(fsGettingPage);
  ArmResponse();
  ReceiveFlow(false);
  SetState(IsClass1() ? rfClass1PageReceived : rfClass2AfterPage);
}

int ReceiveSession::WriteBuffer() {
  ClassData& c = Cls();
  if (c.receiveFill == 0 || !c.faxFile) return 0;
  errno = 0;
  const ssize_t written = ::pwrite(::fileno(c.faxFile), c.dataBuffer.data(), c.receiveFill, fileEnd_);
  const size_t asked = c.receiveFill;
  c.receiveFill = 0;
  if (written < 0) return FileError();
  // What reached the file stays part of the page.
  fileEnd_ += written;
  return static_cast<size_t>(written) == asked ? 0 : ecDeviceWrite;
}

int ReceiveSession::ReceiveData(bool& pageEnded) {
  SessionData& d = Data();
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  FaxPort& port = *Port();
  pageEnded = false;
  d.error = 0;
  if (port.InputWaiting() <= 0) return 0;
  const bool reverse = Data().faxClass == fcClass2;
  for (int taken = 0; taken < kReceiveChunkBytes && port.InputWaiting() > 0; ++taken) {
    uint8_t b = 0;
    if (port.ReadByte(b) != 0) break;
    if (h.previousByte == kDLE) {
      h.previousByte = 0xFF;
      if (b == kETX) {
        pageEnded = true;
        return WriteBuffer();
      }
    } else if (b == kDLE) {
      h.previousByte = kDLE;
      continue;
    }
    c.dataBuffer[c.receiveFill++] = reverse ? kBitReverse[b] : b;
    ++d.pageBytes;
    if (c.receiveFill == kReceiveBlockBytes) {
      if (int rc = WriteBuffer(); rc != 0) return rc;
    }
  }
  if (port.InputWaiting() <= 0) ArmTimeout(c.responseTicks);
  return 0;
}

}  // namespace qc
