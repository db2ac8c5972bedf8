// Any bytes as a DBF table, opened and read through the data-set: header and
// field checks, record count mending, every field of every record as text,
// and a filter. The input is "<filter expression> NUL <table bytes>" (without a
// NUL, all of it is the table). Every call must return with an error code or
// a result: no crash, no hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "store/table.h"

namespace {

const std::string& Folder() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/fuzz_dbf_XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    if (!d) std::abort();
    return std::string(d);
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const void* nul = std::memchr(data, 0, std::min<std::size_t>(size, 256));
  std::string filter;
  if (nul) {
    const auto n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - data);
    filter.assign(reinterpret_cast<const char*>(data), n);
    data += n + 1;
    size -= n + 1;
  }
  const std::string path = Folder() + "/T.DBF";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  qc::TTable t;
  t.SetFolder(Folder());
  t.SetTableName("T.DBF");
  if (t.Open() != 0) return 0;
  t.SetShowDeleted(true);
  if (!filter.empty()) t.Query(filter);
  std::size_t bytes = 0;
  int rows = 0;
  for (int rc = t.First(); rc == 0 && !t.Eof() && rows < 2000; rc = t.Next(), ++rows) {
    for (int i = 0; i < t.FieldCount(); ++i) {
      bytes += t.AsText(i).size();
      t.AsDate(i);
      t.AsSmallInt(i);
      t.AsLogical(i);
    }
  }
  t.QueryRecordCount();
  // One change, so that the write paths meet the same table.
  if (t.Append() == 0) {
    if (t.FieldCount() > 0) t.SetText(0, "fuzz");
    t.Post();
  }
  volatile std::size_t sink = bytes;
  (void)sink;
  return 0;
}
