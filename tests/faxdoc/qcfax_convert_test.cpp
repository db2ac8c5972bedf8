// qcfax convert, checked through qcfax unpack.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "apf_pages.h"
#include "image_writers.h"
#include "scratch_dir.h"

namespace qc {
namespace {

struct ToolResult {
  int status = -1;
  std::string err;
};

ToolResult Qcfax(const test::ScratchDir& dir, const std::string& args) {
  const std::string errFile = dir.File("stderr.txt");
  const std::string cmd = std::string(QCFAX_PATH) + " " + args + " >/dev/null 2>" + errFile;
  const int st = std::system(cmd.c_str());
  ToolResult r;
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  const auto bytes = test::ReadWholeFile(errFile);
  r.err.assign(bytes.begin(), bytes.end());
  return r;
}

// The PBM qcfax unpack writes: "P4\n<w> <h>\n" and the rows.
struct Pbm {
  int w = 0, h = 0;
  std::vector<uint8_t> bits;
};

Pbm ReadPbm(const std::string& name) {
  const auto b = test::ReadWholeFile(name);
  Pbm p;
  int consumed = 0;
  if (std::sscanf(reinterpret_cast<const char*>(b.data()), "P4\n%d %d\n%n", &p.w, &p.h, &consumed) != 2) return p;
  p.bits.assign(b.begin() + consumed, b.end());
  return p;
}

TEST(QcfaxConvert, PbmRoundTripGivesTheImageBack) {
  struct Case {
    int w, h;
    const char* flags;
    int lineWidth, leftMargin, topMargin;
  } cases[] = {
      {1728, 40, "", 1728, 50, 0},                               // default margin: shifted, right part lost
      {2100, 9, "--left-margin 0 --fine", 1728, 0, 0},           // pixels beyond the line dropped
      {301, 17, "--wide --left-margin=123 --top-margin 3", 2048, 123, 3},
      {8, 3, "--left-margin 2040", 1728, 1728, 0},              // margin beyond the line: blank lines
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.flags);
    test::ScratchDir dir;
    const test::Picture pic = test::MakePicture(k.w, k.h, static_cast<uint32_t>(k.w));
    const std::string in = dir.Write("image.pbm", test::PbmBytes(pic));
    ASSERT_EQ(Qcfax(dir, std::string("convert ") + k.flags + " " + in + " " + dir.File("out.apf")).status, 0);
    ASSERT_EQ(Qcfax(dir, "unpack " + dir.File("out.apf") + " 1 " + dir.File("back.pbm")).status, 0);
    const Pbm back = ReadPbm(dir.File("back.pbm"));
    ASSERT_EQ(back.w, k.lineWidth);
    ASSERT_EQ(back.h, k.h + k.topMargin);  // every row of the image
    const size_t stride = static_cast<size_t>(k.lineWidth / 8);
    ASSERT_EQ(back.bits.size(), stride * back.h);
    for (int y = 0; y < back.h; ++y) {
      for (int x = 0; x < k.lineWidth; ++x) {
        const int px = x - k.leftMargin, py = y - k.topMargin;
        const bool expected = py >= 0 && px >= 0 && px < k.w && pic.Black(px, py);
        const bool got = back.bits[y * stride + x / 8] & (0x80 >> (x % 8));
        ASSERT_EQ(got, expected) << "pixel " << x << "," << y;
      }
    }
  }
}

TEST(QcfaxConvert, TypeFromNameOrOption) {
  test::ScratchDir dir;
  const test::Picture pic = test::MakePicture(64, 4);
  const std::string pcx = dir.Write("IMAGE.PCX", test::PcxBytes(pic));
  const std::string text = dir.Write("notes.TXT", std::string("one\ntwo\n"));
  const std::string unnamed = dir.Write("image.data", test::PbmBytes(pic));
  EXPECT_EQ(Qcfax(dir, "convert " + pcx + " " + dir.File("a")).status, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.File("a.APF")));  // ".APF" added to a name without extension
  EXPECT_EQ(Qcfax(dir, "convert " + text + " " + dir.File("b.apf")).status, 0);
  EXPECT_EQ(test::DecodeApfFile(dir.File("b.apf")).pages.at(0).lines.size(), 32u);
  const ToolResult unknown = Qcfax(dir, "convert " + unnamed + " " + dir.File("c.apf"));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("--type"), std::string::npos) << unknown.err;
  EXPECT_EQ(Qcfax(dir, "convert --type pbm " + unnamed + " " + dir.File("c.apf")).status, 0);
  // A file that is not of the type given: the error text, nothing left behind.
  const ToolResult wrong = Qcfax(dir, "convert --type tiff " + unnamed + " " + dir.File("d.apf"));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.err, "qcfax: " + unnamed + ": Unsupported graphics file format\n");
  EXPECT_FALSE(std::filesystem::exists(dir.File("d.apf")));
  const ToolResult missing = Qcfax(dir, "convert " + dir.File("none.pbm") + " " + dir.File("e.apf"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("File not found"), std::string::npos) << missing.err;
  EXPECT_FALSE(std::filesystem::exists(dir.File("e.apf")));
  EXPECT_EQ(Qcfax(dir, "convert " + pcx).status, 2);
  EXPECT_EQ(Qcfax(dir, "convert --left-margin 12x " + pcx + " " + dir.File("f.apf")).status, 1);
  EXPECT_EQ(Qcfax(dir, "convert --colour " + pcx + " " + dir.File("f.apf")).status, 2);
}

}  // namespace
}  // namespace qc
