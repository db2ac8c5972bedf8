// Fax files, cover pages, the header line and the page data pump.
#include <cerrno>
#include <cstring>
#include <vector>

#include "control/error_codes.h"
#include "faxdoc/apf.h"
#include "header_macros.h"
#include "header_renderer.h"
#include "send_session.h"

namespace qc {

namespace {

constexpr int kBlankLinesBeforePage = 8;
constexpr int kBlockBytes = 4096;
constexpr uint32_t kOutFreeThreshold = 4096;
constexpr uint8_t kDLE = 0x10, kETX = 0x03;

// A byte-aligned EOL, the white make-up code for 1728 and the white
// terminating code for 0 (T.4 4.1.2).
constexpr uint8_t kBlankLine[] = {0x00, 0x80, 0xB2, 0x59, 0x01, 0x00};

int FileError() { return errno != 0 ? errno : ecDeviceRead; }

// Reads exactly `n` bytes; -100 when the file ends first.
int ReadExact(std::FILE* f, void* buffer, size_t n) {
  errno = 0;
  if (std::fread(buffer, 1, n, f) == n) return 0;
  return std::ferror(f) ? FileError() : ecReadBeyondEOF;
}

}  // namespace

int SendSession::OpenFaxFile(const std::string& name) {
  ClassData& c = Cls();
  CloseFaxFile();
  std::string full = name;
  const auto dot = full.rfind('.');
  if (!full.empty() && (dot == std::string::npos || full.find_first_of("/\\", dot) != std::string::npos))
    full += "." + Data().faxFileExt;
  c.resolvedFileName = full;
  errno = 0;
  std::FILE* f = std::fopen(full.c_str(), "rb");
  if (!f) return full.empty() ? ENOENT : FileError();
  if (int rc = ReadExact(f, c.fileHeader.data(), c.fileHeader.size()); rc != 0) {
    std::fclose(f);
    return rc;
  }
  const TApfFileHeader header = TApfFileHeader::FromBytes(c.fileHeader.data());
  if (!header.HasSignature()) {
    std::fclose(f);
    return ecFaxBadFormat;
  }
  c.filePageCount = header.PageCount;
  c.firstPageOffset = header.FirstPageOffset;
  c.faxFile = f;
  return 0;
}

void SendSession::CloseFaxFile() {
  ClassData& c = Cls();
  if (c.faxFile) std::fclose(c.faxFile);
  c.faxFile = nullptr;
}

void SendSession::CloseTextCover() {
  SessionHandle& h = Handle();
  if (h.textCover) std::fclose(h.textCover);
  h.textCover = nullptr;
  h.textCoverOpen = false;
}

int SendSession::SeekPage(int page) {
  ClassData& c = Cls();
  if (!c.faxFile) return ecNotOpen;
  if (page <= 0 || page > c.filePageCount) return ecReadBeyondEOF;
  errno = 0;
  if (std::fseek(c.faxFile, static_cast<long>(c.firstPageOffset), SEEK_SET) != 0) return FileError();
  for (int i = 1; i < page; ++i) {
    uint8_t raw[kApfPageHeaderSize];
    if (int rc = ReadExact(c.faxFile, raw, sizeof raw); rc != 0) return rc;
    const TApfPageHeader ph = TApfPageHeader::FromBytes(raw);
    if (std::fseek(c.faxFile, static_cast<long>(ph.ImageLength), SEEK_CUR) != 0) return FileError();
  }
  return 0;
}

int SendSession::ReadPageHeader() {
  ClassData& c = Cls();
  uint8_t raw[kApfPageHeaderSize];
  if (int rc = ReadExact(c.faxFile, raw, sizeof raw); rc != 0) return rc;
  const TApfPageHeader ph = TApfPageHeader::FromBytes(raw);
  c.pageHeader.imageLength = ph.ImageLength;
  c.pageHeader.fine = ph.IsFine();
  c.pageHeader.wide = ph.IsWide();
  c.pageHeader.lineRecords = ph.HasLineRecords();
  c.lineRecords = c.pageHeader.lineRecords;
  return 0;
}

// The resolution digit follows the page; a change within one call cannot be
// negotiated and is reported, but the page is sent.
int SendSession::ApplyPageResolution() {
  ClassData& c = Cls();
  c.previousResolutionDigit = c.resolutionDigit;
  c.resolutionDigit = c.pageHeader.fine ? '1' : '0';
  RecomputeMinimum();
  if (c.previousResolutionDigit != ' ' && c.previousResolutionDigit != c.resolutionDigit) {
    SetError(ecFaxMixedResolution);
    return ecFaxMixedResolution;
  }
  return 0;
}

void SendSession::RecomputeMinimum() {
  ClassData& c = Cls();
  c.minimumScanBytes = MinimumScanBytes(c.scanTimeCode, c.resolutionDigit == '1', c.bitRate);
}

int SendSession::NextPage() {
  SessionData& d = Data();
  ClassData& c = Cls();
  if (d.coverPending) {
    if (c.coverIsFaxFile) {
      CloseFaxFile();
      if (int rc = OpenFaxFile(d.faxFile); rc != 0) {
        SetError(rc);
        return rc;
      }
    } else {
      CloseTextCover();
    }
    d.coverPending = false;
    d.coverFile.clear();
  } else {
    ++d.currentPage;
    d.pageBytes = 0;
  }
  int rc = SeekPage(d.currentPage);
  if (rc == 0) rc = ReadPageHeader();
  if (rc != 0) {
    SetError(rc);
    return rc;
  }
  ApplyPageResolution();  // a mixed resolution is reported; the job goes on
  return 0;
}

int SendSession::OpenCover() {
  SessionData& d = Data();
  ClassData& c = Cls();
  if (c.coverIsFaxFile) {
    CloseFaxFile();
    int rc = OpenFaxFile(d.coverFile);
    if (rc == 0) rc = SeekPage(1);
    if (rc == 0) rc = ReadPageHeader();
    return rc;
  }
  CloseTextCover();
  errno = 0;
  SessionHandle& h = Handle();
  h.textCover = std::fopen(d.coverFile.c_str(), "rb");
  if (!h.textCover) return FileError();
  h.textCoverOpen = true;
  if (int rc = h.renderer->LoadFont(false, c.resolutionDigit == '1'); rc != 0) {
    SetError(rc);
    return rc;
  }
  return 0;
}

int SendSession::SendStuffed(std::span<const uint8_t> bytes) {
  std::vector<uint8_t> out;
  out.reserve(bytes.size() + 16);
  for (uint8_t b : bytes) {
    out.push_back(b);
    if (b == kDLE) out.push_back(kDLE);
  }
  // The pump only runs with ample free space; a block that doubled on DLEs
  // may still not fit at once, so it goes out in parts as the port drains.
  size_t sent = 0;
  uint32_t waited = 0;
  while (sent < out.size()) {
    const size_t space = static_cast<size_t>(std::max(0, Port()->OutputSpace()));
    const size_t n = std::min(space, out.size() - sent);
    if (n > 0) {
      if (int rc = Port()->SendBlock(out.data() + sent, n); rc != 0) return rc;
      sent += n;
      continue;
    }
    if (waited >= 60000) return ecPutBlockFail;
    Port()->SleepMs(10);
    waited += 10;
  }
  return 0;
}

int SendSession::SendScanLine(std::span<const uint8_t> bytes) {
  if (int rc = SendStuffed(bytes); rc != 0) return rc;
  const size_t minimum = Cls().minimumScanBytes;
  if (bytes.size() < minimum) {
    std::vector<uint8_t> zeros(minimum - bytes.size(), 0);
    if (int rc = SendStuffed(zeros); rc != 0) return rc;
  }
  Data().pageBytes += static_cast<int32_t>(std::max(bytes.size(), minimum));
  return 0;
}

int SendSession::SendBlankLines(int count) {
  const size_t minimum = Cls().minimumScanBytes;
  std::vector<uint8_t> line(std::begin(kBlankLine), std::end(kBlankLine));
  if (minimum >= 7) line.resize(line.size() + minimum - 5, 0);
  for (int i = 0; i < count; ++i)
    if (int rc = SendStuffed(line); rc != 0) return rc;
  return 0;
}

void SendSession::FillOutputBuffer() {
  const int waiting = Port()->OutputWaiting();
  const int minimum = Handle().bufferMinimum;
  if (waiting <= minimum) {
    std::vector<uint8_t> zeros(static_cast<size_t>(minimum - waiting + 1), 0);
    SendStuffed(zeros);
  }
}

std::string SendSession::Expand(std::string_view text) {
  if (expandMacros) return expandMacros(text);
  HeaderMacroValues v;
  v.stationId = Data().stationId;
  v.sender = Data().headerSender;
  v.recipient = Data().headerRecipient;
  v.title = Data().headerTitle;
  v.page = HeaderPageNumber();
  v.totalPages = HeaderTotalPages();
  v.now = std::time(nullptr);
  return ExpandHeaderMacros(text, v);
}

void SendSession::ArmOutFree() {
  Port()->ArmStatusTrigger(Data().outFreeTrigger, kOutFreeThreshold);
}

void SendSession::PageStart() {
  SessionHandle& h = Handle();
  ClassData& c = Cls();
  int rc = h.renderer->LoadFont(true, c.resolutionDigit == '1');
  if (rc != 0) {
    SetError(rc);
    SetState(tfError);
    return;
  }
  if (!h.headerLine.empty()) {
    const std::string text = Expand(h.headerLine);
    SendBlankLines(kBlankLinesBeforePage);
    FillOutputBuffer();
    for (int row = 1; row <= h.renderer->Rows() && rc == 0; ++row)
      rc = SendScanLine(h.renderer->CodeRow(text, row));
    c.dataCount = 1;
  } else {
    rc = SendBlankLines(kBlankLinesBeforePage);
  }
  FillOutputBuffer();
  if (rc != 0) {
    SetError(rc);
    SetState(tfError);
    return;
  }
  SetState(Data().coverFile.empty() ? tfFaxPageStart : tfCoverStart);
}

void SendSession::CoverStart() {
  Data().pageBytes = 0;
  if (int rc = OpenCover(); rc != 0) {
    SetError(rc);
    SetState(tfError);
    return;
  }
  if (Cls().coverIsFaxFile) {
    SetState(tfFaxPageStart);
    return;
  }
  SetState(tfTextCover);
  ArmTimeout(Cls().dataTicks);
  ArmOutFree();
  SetStatus(fsSendingPage);
}

void SendSession::TextCover(int trigger) {
  SessionHandle& h = Handle();
  ClassData& c = Cls();
  if (trigger == Data().timeoutTrigger) {
    SetError(ecTimeout);
    SetState(tfError);
    return;
  }
  if (trigger != Data().outFreeTrigger) return;
  while (Port()->OutputSpace() > kBlockBytes) {
    char buffer[256];
    errno = 0;
    if (!std::fgets(buffer, sizeof buffer, h.textCover)) {
      if (std::ferror(h.textCover)) {
        SetError(FileError());
        SetState(tfError);
        return;
      }
      // End of the text: close the page.
      const auto end = h.renderer->CodePageEnd();
      SendStuffed(end);
      if (end.size() <= c.minimumScanBytes) {
        std::vector<uint8_t> zeros(c.minimumScanBytes - end.size() + 1, 0);
        SendStuffed(zeros);
      }
      if (IsClass1()) {
        const uint8_t dleEtx[] = {kDLE, kETX};
        Port()->SendBlock(dleEtx, sizeof dleEtx);
      }
      SetStatus(fsSendingPage);
      SetState(tfDrain);
      ArmTimeout(c.dataTicks);
      Port()->ArmStatusTrigger(Data().outUsedTrigger, 0);
      return;
    }
    std::string line(buffer);
    // A line of more than 255 characters goes on as the next line.
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const std::string text = Expand(line);
    for (int row = 1; row <= h.renderer->Rows(); ++row) {
      if (int rc = SendScanLine(h.renderer->CodeRow(text, row)); rc != 0) {
        SetError(rc);
        SetState(tfError);
        return;
      }
    }
  }
  ArmTimeout(c.dataTicks);
  ArmOutFree();
}

void SendSession::FaxPageStart() {
  Data().pageBytes = 0;
  Data().pageLength = static_cast<int32_t>(Cls().pageHeader.imageLength);
  SetState(tfPageData);
  Cls().forceStatus = true;
  ArmTimeout(Cls().dataTicks);
  ArmOutFree();
}

void SendSession::PageData(int trigger) {
  const SessionData& d = Data();
  if (trigger == d.outFreeTrigger) {
    PagePump();
  } else if (trigger == d.timeoutTrigger) {
    SetError(ecTimeout);
    Cls().forceStatus = true;
    SetState(tfError);
  } else if (trigger == d.availTrigger) {
    Port()->DiscardInput();
  }
}

void SendSession::PagePump() {
  SessionData& d = Data();
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  const uint32_t interval = SecondsToTicks(d.statusInterval);
  uint32_t timerStart = Port()->Ticks();
  uint32_t timerTicks = 3 * interval;
  int count = 0;
  while (count < h.maxSendCount && Port()->OutputWaiting() <= h.bufferMinimum &&
         Port()->OutputSpace() >= kBlockBytes) {
    if (Port()->Ticks() - timerStart >= timerTicks) {
      c.forceStatus = false;
      NotifyStatus(0);
      ArmStatusTimer();
      timerStart = Port()->Ticks();
      timerTicks = 2 * interval;
    }
    ++count;
    if (d.pageBytes < d.pageLength) {
      size_t n = 0;
      int rc = 0;
      if (c.lineRecords) {
        uint8_t len[2];
        rc = ReadExact(c.faxFile, len, 2);
        size_t recordLength = static_cast<size_t>(len[0] | (len[1] << 8));
        recordLength = std::min<size_t>(recordLength, kBlockBytes);
        if (rc == 0 && recordLength > 0) rc = ReadExact(c.faxFile, c.dataBuffer.data(), recordLength);
        if (rc == 0) {
          n = recordLength;
          if (n < c.minimumScanBytes) {
            std::memset(c.dataBuffer.data() + n, 0, c.minimumScanBytes - n);
            n = c.minimumScanBytes;
          }
          d.pageBytes += static_cast<int32_t>(recordLength + 2);
        }
      } else {
        // Never past this page's data into the next page's header.
        const size_t want = std::min<size_t>(kBlockBytes, static_cast<size_t>(d.pageLength - d.pageBytes));
        errno = 0;
        n = std::fread(c.dataBuffer.data(), 1, want, c.faxFile);
        if (n < want) rc = std::ferror(c.faxFile) ? FileError() : ecReadBeyondEOF;
        d.pageBytes += static_cast<int32_t>(n);
      }
      if (rc != 0) {
        SetError(rc);
        SetState(tfError);
        return;
      }
      if (int sc = SendStuffed(std::span<const uint8_t>(c.dataBuffer.data(), n)); sc != 0) {
        SetError(sc);
        SetState(tfError);
        return;
      }
    } else {
      if (IsClass1()) {
        const uint8_t dleEtx[] = {kDLE, kETX};
        Port()->SendBlock(dleEtx, sizeof dleEtx);
        SetStatus(fsSendingPage);
      }
      SetState(tfDrain);
      break;
    }
  }
  ArmTimeout(c.dataTicks);
  if (State() == tfDrain) {
    Port()->ArmStatusTrigger(d.outUsedTrigger, 0);
  } else {
    // Wake when the pump can run again (at most BufferMinimum bytes queued),
    // not merely when 4096 bytes are free.
    const uint32_t size = static_cast<uint32_t>(Port()->OutputSpace() + Port()->OutputWaiting());
    const uint32_t wanted = size > h.bufferMinimum ? size - h.bufferMinimum : kOutFreeThreshold;
    Port()->ArmStatusTrigger(d.outFreeTrigger, std::max(kOutFreeThreshold, wanted));
  }
}

void SendSession::Drain(int trigger) {
  SessionData& d = Data();
  if (trigger == d.outUsedTrigger) {
    if (d.options & foSoftwareFlow) Port()->SetSoftwareFlow(false);
    if (IsClass1()) {
      SetState(tfClass1PageSent);
      ArmTimeout(Class1PageSentTicks());
    } else {
      const uint8_t end[] = {kDLE, IsClass2_0() ? static_cast<uint8_t>(MorePages() ? ',' : '.') : kETX};
      Port()->SendBlock(end, sizeof end);
      SetState(tfClass2PageSent);
    }
    SetStatus(fsSendingPage);
  } else if (trigger == d.timeoutTrigger) {
    SetError(ecTimeout);
    SetState(tfError);
  } else if (trigger == d.availTrigger) {
    Port()->DiscardInput();
  }
}

}  // namespace qc
