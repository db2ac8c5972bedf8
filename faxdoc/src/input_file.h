// Buffered read-only access to a reader's input file: sequential reads
// through an 8192-byte block plus reads at any offset. Errors are sticky: the
// first one is kept and returned by every later call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "file_io.h"

namespace qc {

class TInputFile {
 public:
  static constexpr int kEof = -1;  // NextByte at the end (never an error code)

  int Open(const std::string& name);
  void Close() { file_.Close(); }
  bool IsOpen() const { return file_.IsOpen(); }
  long long Size() const { return size_; }
  int Error() const { return error_; }

  // Position of the next sequential byte.
  uint64_t Position() const { return bufStart_ + bufPos_; }
  void Seek(uint64_t pos);
  bool AtEnd();

  // The next byte (0..255), kEof at the end, or the sticky error code.
  int NextByte() {
    if (bufPos_ < bufLen_) return buffer_[bufPos_++];
    return refillAndNext();
  }
  // Up to n bytes; the count read (short only at the end) or an error code.
  long Read(void* dst, size_t n);
  // Exactly n bytes at `offset` (the sequential position stays): 0,
  // ecReadBeyondEOF when the file ends first, or an error code.
  int ReadAt(uint64_t offset, void* dst, size_t n);

 private:
  int refillAndNext();
  int fail(int code) {
    if (error_ == 0) error_ = code;
    return error_;
  }

  fileio::File file_;
  long long size_ = 0;
  int error_ = 0;
  uint64_t bufStart_ = 0;
  size_t bufPos_ = 0;
  size_t bufLen_ = 0;
  uint8_t buffer_[8192];
};

}  // namespace qc
