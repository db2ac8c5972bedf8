// Helpers of the record store tests: a scratch folder and whole-file access.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "store/table.h"

namespace qc::storetest {

class ScratchDir {
 public:
  ScratchDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qc_store_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string Path() const { return path_.string(); }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline std::vector<std::uint8_t> Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Spill(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Record numbers of the visible records in the current order, from First().
inline std::vector<std::uint32_t> Walk(TTable& t) {
  std::vector<std::uint32_t> out;
  EXPECT_EQ(t.First(), 0) << t.LastError();
  while (!t.Eof() && out.size() < 100000) {
    out.push_back(t.RecNo());
    EXPECT_EQ(t.Next(), 0) << t.LastError();
  }
  return out;
}

// The same walked backwards from Last().
inline std::vector<std::uint32_t> WalkBack(TTable& t) {
  std::vector<std::uint32_t> out;
  EXPECT_EQ(t.Last(), 0) << t.LastError();
  while (t.HasRecord() && out.size() < 100000) {
    out.push_back(t.RecNo());
    EXPECT_EQ(t.Prior(), 0) << t.LastError();
    if (t.Bof()) break;
  }
  return out;
}

// Field values of the visible records in the current order.
inline std::vector<std::string> Column(TTable& t, const char* field) {
  std::vector<std::string> out;
  EXPECT_EQ(t.First(), 0) << t.LastError();
  while (!t.Eof() && out.size() < 100000) {
    out.push_back(t.AsText(field));
    EXPECT_EQ(t.Next(), 0) << t.LastError();
  }
  return out;
}

}  // namespace qc::storetest
