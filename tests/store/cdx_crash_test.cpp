// A change cut short after any of its page writes (as by a crash or a kill)
// leaves a tag that either fails the open-time check or is entirely right.
#include <random>
#include <set>

#include "cdx_test_util.h"

namespace qc::test {
namespace {

using Model = std::set<std::pair<std::string, uint32_t>>;

constexpr int kKeyLen = 40;  // about ten keys a leaf and ten entries an interior node

std::string RandomKey(std::mt19937& rng) {
  std::string text;
  const int len = 3 + int(rng() % 30);
  for (int i = 0; i < len; ++i) text += char('A' + rng() % 26);
  return CdxEncodeCharKey(text, kKeyLen);
}

struct Op {
  bool insert;
  std::string key;
  uint32_t recno;
};

int Apply(CdxFile& f, const Op& op) { return op.insert ? f.Insert(1, op.key, op.recno) : f.Remove(1, op.key, op.recno); }

TEST(CdxCrash, EveryCutShortChangeIsDetectedOrHarmless) {
  TempDir dir;
  const std::string live = dir.File("live.cdx");
  const std::string trial = dir.File("trial.cdx");
  std::unique_ptr<CdxFile> f;
  ASSERT_EQ(CdxFile::Create(live, f), ecOK);
  ASSERT_EQ(f->AddTag({"T", "KEY", "", false, kKeyLen, CdxKeyType::Character}), ecOK);
  std::mt19937 rng(5);
  Model model;
  uint32_t next = 1;
  for (; next <= 300; ++next) {
    std::string k = RandomKey(rng);
    ASSERT_EQ(f->Insert(1, k, next), ecOK);
    model.emplace(k, next);
  }
  f.reset();

  int detected = 0, harmless = 0;
  // Growth (splits, new roots, raised bounds), then shrinking (merges, root collapse).
  for (int i = 0; i < 240; ++i) {
    Op op;
    op.insert = i < 120 ? rng() % 5 != 0 : rng() % 5 == 0;
    if (op.insert) {
      op.key = i % 3 == 0 ? CdxEncodeCharKey("ZZZZ" + std::to_string(i), kKeyLen) : RandomKey(rng);  // some new maxima
      op.recno = next++;
    } else {
      auto it = model.begin();
      std::advance(it, long(rng() % model.size()));
      op.key = it->first;
      op.recno = it->second;
    }
    Model after = model;
    if (op.insert)
      after.emplace(op.key, op.recno);
    else
      after.erase({op.key, op.recno});
    const std::vector<uint8_t> before = ReadBytes(live);

    WriteBytes(trial, before);
    ASSERT_EQ(CdxFile::Open(trial, false, f), ecOK);
    f->SetWriteLimitForTesting(-1);
    ASSERT_EQ(Apply(*f, op), ecOK);
    const int64_t writes = int64_t(f->WritesForTesting());
    f.reset();

    for (int64_t k = 0; k < writes; ++k) {
      WriteBytes(trial, before);
      ASSERT_EQ(CdxFile::Open(trial, false, f), ecOK);
      f->SetWriteLimitForTesting(k);
      ASSERT_EQ(Apply(*f, op), ecOK);
      f.reset();
      ASSERT_EQ(CdxFile::Open(trial, true, f), ecOK);
      for (const Model* m : {&model, &after}) {
        if (f->QuickCheck(1, int64_t(m->size())) != ecOK) {
          ++detected;
          continue;
        }
        ++harmless;
        EXPECT_EQ(f->Check(1, int64_t(m->size())), ecOK) << "op " << i << " cut after " << k << " writes";
        Walk w;
        ASSERT_EQ(WalkTag(*f, 1, true, w), ecOK);
        EXPECT_EQ(w, Walk(m->begin(), m->end())) << "op " << i << " cut after " << k << " writes";
      }
      f.reset();
    }
    ASSERT_EQ(CdxFile::Open(live, false, f), ecOK);
    ASSERT_EQ(Apply(*f, op), ecOK);
    f.reset();
    model = std::move(after);
  }
  // Both outcomes occurred, so the test looked at real cut-short states.
  EXPECT_GT(detected, 0);
  EXPECT_GT(harmless, 0);
}

}  // namespace
}  // namespace qc::test
