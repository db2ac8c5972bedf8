// Helpers of the CDX tests: a scratch folder, a minimal DBF record reader
// (independent of the store's own table code) and tag walks.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cdx_file.h"

namespace qc::test {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qc_cdx_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct DbfRecord {
  uint32_t recno = 0;
  bool deleted = false;
  std::map<std::string, std::string> fields;  // raw field text
};

// Reads the records of a dBase III / FoxPro table from its header fields.
inline std::vector<DbfRecord> ReadDbfRecords(const std::string& path) {
  std::vector<uint8_t> b = ReadBytes(path);
  std::vector<DbfRecord> out;
  if (b.size() < 32) return out;
  const uint32_t count = b[4] | (b[5] << 8) | (b[6] << 16) | (uint32_t(b[7]) << 24);
  const size_t headerLen = b[8] | (b[9] << 8);
  const size_t recordLen = b[10] | (b[11] << 8);
  struct Field {
    std::string name;
    size_t offset, length;
  };
  std::vector<Field> fields;
  size_t offset = 1;
  for (size_t p = 32; p + 32 <= headerLen && b[p] != 0x0D; p += 32) {
    std::string name(reinterpret_cast<const char*>(&b[p]), 11);
    name = name.substr(0, name.find('\0'));
    fields.push_back({name, offset, b[p + 16]});
    offset += b[p + 16];
  }
  for (uint32_t r = 0; r < count; ++r) {
    const size_t at = headerLen + r * recordLen;
    if (at + recordLen > b.size()) break;
    DbfRecord rec;
    rec.recno = r + 1;
    rec.deleted = b[at] == '*';
    for (const Field& f : fields)
      rec.fields[f.name] = std::string(reinterpret_cast<const char*>(&b[at + f.offset]), f.length);
    out.push_back(std::move(rec));
  }
  return out;
}

using Walk = std::vector<std::pair<std::string, uint32_t>>;

// WalkTag's result when the walk did not end within its bound.
constexpr int kWalkDidNotEnd = 1;

// Every entry of a tag in logical order (forward) or its reverse, walking
// with Next or Prior. Bounded so that a broken cursor fails instead of hanging.
inline int WalkTag(CdxFile& file, int tag, bool forward, Walk& out, size_t bound = 10'000'000) {
  out.clear();
  CdxCursor c(file, tag);
  int rc = forward ? c.First() : c.Last();
  while (rc == ecOK && c.Valid()) {
    out.emplace_back(c.Key(), c.RecNo());
    if (out.size() > bound) return kWalkDidNotEnd;
    rc = forward ? c.Next() : c.Prior();
  }
  return rc;
}

}  // namespace qc::test
