// The qcfax tool as a user runs it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "test_pages.h"

namespace qc {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string out, err;
};

ToolRun Qcfax(const std::string& args, const std::string& dir) {
  const std::string errFile = dir + "/stderr.txt";
  const std::string cmd = std::string(QCFAX_PATH) + " " + args + " 2>" + errFile;
  ToolRun r;
  std::FILE* p = popen(cmd.c_str(), "r");
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  std::ifstream e(errFile);
  std::stringstream ss;
  ss << e.rdbuf();
  r.err = ss.str();
  return r;
}

std::string ReadFile(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

class QcfaxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::MakeTempFolder("qcfax");
    fine_ = test::MakeBlankRaster(1728, 120);
    standard_ = test::MakeBlankRaster(2048, 60);
    for (int y = 0; y < 120; ++y) fine_.Set((y * 13) % 1728, y);
    for (int y = 0; y < 60; ++y) standard_.Set(2047 - y, y);
    apf_ = dir_ + "/two.apf";
    ASSERT_EQ(test::WriteRasterApf(apf_, {{&fine_, true, 0}, {&standard_, false, 0}}, "QC TEST"), 0);
  }
  void TearDown() override { fs::remove_all(dir_); }

  static std::string Pbm(const test::RasterPage& page, int repeat) {
    std::string s = "P4\n" + std::to_string(page.width) + " " + std::to_string(page.height * repeat) + "\n";
    for (int y = 0; y < page.height; ++y)
      for (int i = 0; i < repeat; ++i) s.append(reinterpret_cast<const char*>(page.Line(y)), page.width / 8);
    return s;
  }

  std::string dir_, apf_;
  test::RasterPage fine_, standard_;
};

TEST_F(QcfaxTest, Info) {
  const ToolRun r = Qcfax("info " + apf_, dir_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("station id: \"QC TEST\"\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("pages: 2\n"), std::string::npos);
  EXPECT_NE(r.out.find("page 1: fine 1728 records length="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" lines=120 badcodes=0\npage 2: standard 2048 records length="), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" lines=60 badcodes=0\n"), std::string::npos) << r.out;
}

TEST_F(QcfaxTest, UnpackWritesThePageAsPbm) {
  struct Case {
    std::string args;
    const test::RasterPage* page;
    int repeat;
  };
  const Case cases[] = {{apf_ + " 1", &fine_, 1},
                        {apf_ + " 2", &standard_, 1},
                        {"--double-height " + apf_ + " 2", &standard_, 2},
                        {"--double-height " + apf_ + " 1", &fine_, 1}};
  for (const Case& c : cases) {
    const std::string out = dir_ + "/page.pbm";
    const ToolRun r = Qcfax("unpack " + c.args + " " + out, dir_);
    ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
    EXPECT_EQ(ReadFile(out), Pbm(*c.page, c.repeat)) << c.args;
  }
}

TEST_F(QcfaxTest, Errors) {
  std::ofstream(dir_ + "/note.txt") << "not a fax\n";
  struct Case {
    std::string args;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"info " + dir_ + "/note.txt", 1, "qcfax: " + dir_ + "/note.txt: File is not an APF file\n"},
      {"info " + dir_ + "/none.apf", 1, "qcfax: " + dir_ + "/none.apf: File not found\n"},
      {"unpack " + apf_ + " 3 " + dir_ + "/x.pbm", 1, "qcfax: " + apf_ + ": File is not an APF file\n"},
      {"unpack " + apf_ + " 0 " + dir_ + "/x.pbm", 1, "qcfax: page number must be 1..65535: 0\n"},
      {"unpack " + apf_ + " 1 " + dir_ + "/no/such/dir/x.pbm", 1,
       "qcfax: " + dir_ + "/no/such/dir/x.pbm: No such file or directory\n"},
      {"unpack " + apf_ + " 1", 2, "usage: qcfax unpack [--double-height] FILE.APF PAGE OUTPUT.pbm\n"},
      {"unpack --triple " + apf_ + " 1 x.pbm", 2, "usage: qcfax unpack [--double-height] FILE.APF PAGE OUTPUT.pbm\n"},
      {"frobnicate", 2, "qcfax: unknown command 'frobnicate'\n"},
      {"", 2, "usage: qcfax COMMAND ARGUMENTS\n"},
  };
  for (const Case& c : cases) {
    const ToolRun r = Qcfax(c.args, dir_);
    EXPECT_EQ(r.status, c.status) << c.args;
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << c.args;
    EXPECT_TRUE(r.out.empty()) << c.args;
  }
  EXPECT_FALSE(fs::exists(dir_ + "/x.pbm"));
}

}  // namespace
}  // namespace qc
