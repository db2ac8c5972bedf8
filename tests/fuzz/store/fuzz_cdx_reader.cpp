// Any bytes as a CDX file: open it, walk and check every tag, and change it.
// Every call must return (no hang) without touching memory outside the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cdx_file.h"

namespace {

int MemFile() {
  static int fd = ::memfd_create("fuzz_cdx", 0);
  return fd;
}

void Walk(qc::CdxFile& f, int tag, bool forward, size_t bound) {
  qc::CdxCursor c(f, tag);
  int rc = forward ? c.First() : c.Last();
  for (size_t n = 0; rc == qc::ecOK && c.Valid(); ++n) {
    if (n > bound) __builtin_trap();  // a walk longer than the file can hold keys: a loop
    rc = forward ? c.Next() : c.Prior();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = MemFile();
  if (fd < 0 || ::ftruncate(fd, 0) != 0) return 0;
  if (size > 0 && ::pwrite(fd, data, size, 0) != ssize_t(size)) return 0;
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::unique_ptr<qc::CdxFile> f;
  if (qc::CdxFile::Open(path, false, f) != qc::ecOK) return 0;
  // No leaf holds more than (512 - 24) keys, so a walk has at most that many
  // per page of the file (the changes below add a few pages at most).
  const size_t bound = (size / 512 + 16) * 488;
  for (int tag = 1; tag <= f->TagCount(); ++tag) {
    const int keyLen = f->Tag(tag)->keyLength;
    Walk(*f, tag, true, bound);
    Walk(*f, tag, false, bound);
    uint32_t n;
    f->KeyCount(tag, n);
    f->QuickCheck(tag);
    f->Check(tag);
    qc::CdxCursor c(*f, tag);
    c.Seek(std::string(1, 'M'));
    c.Next();
    const std::string key(size_t(keyLen), 'Q');
    f->Insert(tag, key, 77);
    f->Remove(tag, key, 77);
    Walk(*f, tag, true, bound);
  }
  return 0;
}
