// Files we write, read back by an independent reader (cdx_pyread.py, written
// from the published layout: directory, tag headers, interior nodes, compact
// leaves with their stored bit widths). Debian's python3-dbf and
// python3-dbfread read DBF tables only, not CDX indexes, so they cannot take
// part here.
#include <cstdio>
#include <random>
#include <set>
#include <sstream>

#include "cdx_test_util.h"

namespace qc::test {
namespace {

std::string Hex(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += d[c >> 4];
    h += d[c & 15];
  }
  return h;
}

int RunReader(const std::string& cdx, const std::string& fills, std::string& out) {
  const std::string cmd = std::string(QC_PYTHON3) + " " + QC_CDX_PYREAD + " " + cdx + " " + fills + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return ::pclose(p);
}

TEST(CdxInterop, IndependentReaderSeesOurTags) {
  if (std::string(QC_PYTHON3).empty()) GTEST_SKIP() << "python3 not found";
  TempDir dir;
  const std::string path = dir.File("QCOUT.CDX");
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Create(path, f), ecOK);
  struct T {
    CdxTagSpec def;
    std::set<std::pair<std::string, uint32_t>> model;
  };
  std::vector<T> tags = {
      {{"DATESENT", "DTOS(DATESENT)+TIMESENT", ".not. deleted()", true, 13, CdxKeyType::Character}, {}},
      {{"SUBJECT", "UPPER(SUBJECT)", ".not. deleted()", false, 50, CdxKeyType::Character}, {}},
      {{"PAGES", "PAGES", "", false, 8, CdxKeyType::Numeric}, {}},
      {{"ARCHIVED", "ARCHIVED", ".not. deleted()", false, 1, CdxKeyType::Logical}, {}},
      {{"BULK", "UPPER(SUBJECT)", "", true, 50, CdxKeyType::Character}, {}},
  };
  for (T& t : tags) ASSERT_EQ(f->AddTag(t.def), ecOK);
  std::mt19937 rng(7);
  std::vector<CdxEntry> bulk;
  for (uint32_t r = 1; r <= 4000; ++r) {
    const std::string date = rng() % 5 == 0 ? "        " : "2025" + std::to_string(10 + rng() % 3) + std::to_string(10 + rng() % 19);
    const std::string keys[] = {
        CdxEncodeCharKey(date + "1" + std::to_string(rng() % 10) + ":" + std::to_string(10 + rng() % 50), 13),
        CdxEncodeCharKey("SUBJECT " + std::to_string(rng() % 300), 50),
        CdxEncodeNumericKey(double(rng() % 99)),
        CdxEncodeLogicalKey(rng() % 3 == 0),
    };
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(f->Insert(i + 1, keys[i], r), ecOK);
      tags[size_t(i)].model.emplace(keys[i], r);
    }
    bulk.push_back({keys[1], r});
    tags[4].model.emplace(keys[1], r);
    // Some records leave their tags again.
    if (r % 7 == 0) {
      const uint32_t gone = 1 + rng() % r;
      for (int i = 0; i < 4; ++i) {
        auto& m = tags[size_t(i)].model;
        for (auto it = m.begin(); it != m.end(); ++it)
          if (it->second == gone) {
            ASSERT_EQ(f->Remove(i + 1, it->first, it->second), ecOK);
            m.erase(it);
            break;
          }
      }
    }
  }
  ASSERT_EQ(f->BulkBuild(5, bulk), ecOK);
  f.reset();

  std::ostringstream want;
  for (const T& t : tags) {
    want << "TAG " << t.def.name << '|' << t.def.keyExpr << '|' << t.def.forExpr << '|'
         << (t.def.descending ? 'D' : 'A') << '|' << t.def.keyLength << '|';
    want << "@\n";  // depth is compared separately
    for (const auto& [key, recno] : t.model) want << Hex(key) << ' ' << recno << '\n';
  }
  std::string got;
  ASSERT_EQ(RunReader(path, "PAGES=00", got), 0) << got;
  // Every tag must be deeper than one leaf, so interior nodes were read.
  std::istringstream in(got);
  std::string line, normalised;
  while (std::getline(in, line)) {
    if (line.rfind("TAG ", 0) == 0) {
      const size_t bar = line.rfind('|');
      EXPECT_GE(std::stoi(line.substr(bar + 1)), 1) << line;
      line = line.substr(0, bar + 1) + "@";
    }
    normalised += line + '\n';
  }
  EXPECT_EQ(normalised, want.str());
}

}  // namespace
}  // namespace qc::test
