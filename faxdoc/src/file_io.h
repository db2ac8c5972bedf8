// Thin POSIX file access for the document readers and writers, with errors
// mapped onto the file-layer codes (-2 .. -162).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qc::fileio {

// The file-layer code for an errno value.
int CodeForErrno(int err);

// A read-only or read-write handle, closed on destruction.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }

  int OpenRead(const std::string& name);
  int OpenReadWrite(const std::string& name);
  int Create(const std::string& name);  // create or truncate, read-write
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Reads up to n bytes at the current position; the count read, or a
  // negative code.
  long Read(void* buf, size_t n);
  // Reads exactly n bytes: 0, ecReadBeyondEOF (-100) when the file ends first,
  // or a negative code.
  int ReadExact(void* buf, size_t n);
  int WriteAll(const void* buf, size_t n);
  int Seek(uint64_t offset);
  // Current size of the file, or a negative code.
  long long Size();

 private:
  int fd_ = -1;
};

}  // namespace qc::fileio
