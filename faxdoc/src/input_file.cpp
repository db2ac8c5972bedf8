#include "input_file.h"

#include <cstring>

#include "control/error_codes.h"

namespace qc {

int TInputFile::Open(const std::string& name) {
  error_ = 0;
  bufStart_ = 0;
  bufPos_ = bufLen_ = 0;
  if (int r = file_.OpenRead(name)) return fail(r);
  const long long size = file_.Size();
  if (size < 0) return fail(static_cast<int>(size));
  size_ = size;
  return ecOK;
}

void TInputFile::Seek(uint64_t pos) {
  if (pos >= bufStart_ && pos <= bufStart_ + bufLen_) {
    bufPos_ = static_cast<size_t>(pos - bufStart_);
    return;
  }
  bufStart_ = pos;
  bufPos_ = bufLen_ = 0;
}

bool TInputFile::AtEnd() {
  return Position() >= static_cast<uint64_t>(size_);
}

int TInputFile::refillAndNext() {
  if (error_) return error_;
  bufStart_ += bufLen_;
  bufPos_ = bufLen_ = 0;
  if (bufStart_ >= static_cast<uint64_t>(size_)) return kEof;
  if (int r = file_.Seek(bufStart_)) return fail(r);
  const long got = file_.Read(buffer_, sizeof buffer_);
  if (got < 0) return fail(static_cast<int>(got));
  if (got == 0) return kEof;
  bufLen_ = static_cast<size_t>(got);
  return buffer_[bufPos_++];
}

long TInputFile::Read(void* dst, size_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  size_t done = 0;
  while (done < n) {
    if (bufPos_ == bufLen_) {
      const int b = refillAndNext();
      if (b == kEof) break;
      if (b < 0) return b;
      --bufPos_;  // the byte is taken below with the rest of the block
    }
    const size_t take = std::min(n - done, bufLen_ - bufPos_);
    std::memcpy(out + done, buffer_ + bufPos_, take);
    bufPos_ += take;
    done += take;
  }
  return static_cast<long>(done);
}

int TInputFile::ReadAt(uint64_t offset, void* dst, size_t n) {
  if (error_) return error_;
  if (offset > static_cast<uint64_t>(size_) || n > static_cast<uint64_t>(size_) - offset) {
    return ecReadBeyondEOF;
  }
  if (int r = file_.Seek(offset)) return fail(r);
  if (int r = file_.ReadExact(dst, n)) return r == ecReadBeyondEOF ? r : fail(r);
  return ecOK;
}

}  // namespace qc
