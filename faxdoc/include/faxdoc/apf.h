// APF fax files: a 64-byte file header followed by pages, each a 16-byte page
// header and its MH coded image data. All integers little-endian. This header
// and apf.cpp are the one place where the byte layout is fixed.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace qc {

constexpr int kApfFileHeaderSize = 64;
constexpr int kApfPageHeaderSize = 16;
constexpr uint32_t kApfFirstPageOffset = 64;
// Largest line record a reader takes into its line buffer.
constexpr int kApfMaxRecordBytes = 4096;
constexpr int kApfStationIdChars = 20;

// "APF10" followed by 0x1A.
constexpr std::array<uint8_t, 6> kApfSignature = {'A', 'P', 'F', '1', '0', 0x1A};

// Page flags.
constexpr uint16_t pfFine = 0x0001;         // fine vertical resolution (7.7 lines/mm)
constexpr uint16_t pfWide = 0x0002;         // 2048-pixel lines (else 1728)
constexpr uint16_t pfLineRecords = 0x0004;  // image data is a sequence of line records

enum TFaxResolution { frNormal, frHigh };
enum TFaxWidth { fwNormal, fwWide };

struct TApfFileHeader {
  std::array<uint8_t, 6> Signature{};
  uint32_t TimeStamp = 0;                 // MS-DOS packed date (high word) and time (low word)
  std::array<uint8_t, 21> StationId{};    // length byte (0..20) and 20 character positions
  uint8_t Reserved1 = 0;
  uint16_t PageCount = 0;
  uint32_t FirstPageOffset = 0;
  std::array<uint8_t, 26> Reserved2{};

  // A new header as the writers start it: signature, first page at 64, no
  // pages, every other byte 0.
  static TApfFileHeader Fresh();
  bool HasSignature() const { return Signature == kApfSignature; }

  // The station identifier as text (the length byte clamped to 20).
  std::string StationIdText() const;
  // Copies at most 20 characters of `id`, length byte = real length; positions
  // beyond it become spaces. With `padded` the length byte is 20 (the receiver's
  // form before its first completed page).
  void SetStationId(const std::string& id, bool padded = false);
  // Copies at most 20 characters with the real length, leaving the positions
  // beyond it as they are (the receiver's form after a completed page).
  void SetStationIdKeepTail(const std::string& id);

  void ToBytes(uint8_t out[kApfFileHeaderSize]) const;
  static TApfFileHeader FromBytes(const uint8_t in[kApfFileHeaderSize]);
};

struct TApfPageHeader {
  uint32_t ImageLength = 0;  // bytes of image data after this header
  uint16_t Flags = 0;
  std::array<uint8_t, 10> Reserved{};

  bool IsFine() const { return Flags & pfFine; }
  bool IsWide() const { return Flags & pfWide; }
  bool HasLineRecords() const { return Flags & pfLineRecords; }
  int LineWidth() const { return IsWide() ? 2048 : 1728; }

  void ToBytes(uint8_t out[kApfPageHeaderSize]) const;
  static TApfPageHeader FromBytes(const uint8_t in[kApfPageHeaderSize]);
};

// MS-DOS packed local date and time; 0 when the year lies outside 1980..2099.
uint32_t DosTimeStamp(std::time_t when);
// The local time a packed stamp stands for (0 for a stamp of 0).
std::time_t DosTimeStampToTime(uint32_t stamp);

// True when the file's first 6 bytes are the signature.
bool IsApfFile(const std::string& fileName);

// Reads the 64-byte file header. -2 for an empty name, -8001 for a wrong
// signature, negative I/O codes otherwise.
int ReadApfHeader(const std::string& fileName, TApfFileHeader& header);

// Finds page `pageNumber` (from 1) by walking the page chain. `dataOffset` is
// the offset of its first image byte. Page 0 succeeds without reading a page.
// -8001 for a wrong signature or a page beyond PageCount.
int LocateApfPage(const std::string& fileName, unsigned pageNumber, TApfPageHeader& pageHeader,
                  uint64_t& dataOffset, TApfFileHeader* fileHeader = nullptr);

// Appends every page of `source` to `target`: target PageCount grows by the
// source's, the target's StationId and TimeStamp stay. Returns 0 or a negative
// code (-2 when either file is missing, negative I/O codes).
int AppendApfFileStatus(const std::string& target, const std::string& source);
// The same, raising EInOutError (with the positive code) on failure.
void AppendApfFile(const std::string& target, const std::string& source);

// Writer of the document converter: pages of line records.
//   Create -> { BeginPage -> WriteLine* -> EndPage }* -> Finish
// Writes go through a 4096-byte block. Any failure is sticky: later calls
// return the first error. Abort (or destruction before Finish) closes and
// deletes the file.
class TApfWriter {
 public:
  TApfWriter();
  ~TApfWriter();
  TApfWriter(const TApfWriter&) = delete;
  TApfWriter& operator=(const TApfWriter&) = delete;

  int Create(const std::string& fileName);
  // Writes this page's header (ImageLength 0 for now).
  int BeginPage(bool fine, bool wide);
  bool InPage() const { return inPage_; }
  // One line record: 2-byte count and `count` bytes (count <= 4096).
  int WriteLine(const uint8_t* data, int count);
  // Writes the end-of-page record, counts the page and rewrites its header.
  int EndPage();
  // Station id (real length, space padded), time stamp, header rewrite, close.
  int Finish(const std::string& stationId, std::time_t now);
  // Closes and deletes the output.
  void Abort();

  int Status() const { return status_; }
  unsigned PageCount() const { return header_.PageCount; }

 private:
  int put(const void* data, size_t n);
  int flush();
  int fail(int code);

  int fd_ = -1;
  std::string fileName_;
  int status_ = 0;
  bool inPage_ = false;
  uint64_t position_ = 0;      // logical end of file (buffered bytes included)
  uint64_t pageHeaderPos_ = 0;
  TApfFileHeader header_;
  TApfPageHeader page_;
  uint8_t buffer_[4096];
  size_t buffered_ = 0;
};

// Writer of the fax receiver: pages of raw received bytes.
//   Create -> { BeginPage -> Append* -> EndPage }* -> Close
// The file header is rewritten after every completed page, so an interrupted
// file is readable up to its last completed page.
class TApfReceiveWriter {
 public:
  TApfReceiveWriter() = default;
  ~TApfReceiveWriter();
  TApfReceiveWriter(const TApfReceiveWriter&) = delete;
  TApfReceiveWriter& operator=(const TApfReceiveWriter&) = delete;

  // Station id padded to 20 positions (length byte 20), time stamp now.
  int Create(const std::string& fileName, const std::string& remoteId, std::time_t now);
  int BeginPage(uint16_t flags);  // pfFine and/or pfWide
  int Append(const uint8_t* data, size_t n);
  // PageCount + 1, station id with its real length, new time stamp, both
  // headers rewritten.
  int EndPage(const std::string& remoteId, std::time_t now);
  int Close();

  int Status() const { return status_; }
  unsigned PageCount() const { return header_.PageCount; }

 private:
  int fail(int code);

  int fd_ = -1;
  int status_ = 0;
  bool inPage_ = false;
  uint64_t pageHeaderPos_ = 0;
  uint64_t position_ = 0;
  TApfFileHeader header_;
  TApfPageHeader page_;
};

}  // namespace qc
