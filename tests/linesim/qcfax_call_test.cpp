// qcfax send --class 1 through the linesim program, both run as a user runs
// them: linesim prints its device, qcfax sends a page to it, and the page the
// far terminal wrote is the page qcfax rendered.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "support/test_pages.h"
#include "tiff_pages.h"

namespace qc::linesim {
namespace {

struct Child {
  std::FILE* pipe = nullptr;
  std::string out;
  int exit = -1;

  explicit Child(const std::string& cmd) : pipe(popen((cmd + " 2>&1").c_str(), "r")) {}
  ~Child() { Wait(); }
  bool ReadLine() {
    char buf[1024];
    if (!pipe || !std::fgets(buf, sizeof buf, pipe)) return false;
    out += buf;
    return true;
  }
  int Wait() {
    if (!pipe) return exit;
    while (ReadLine()) {
    }
    const int status = pclose(pipe);
    pipe = nullptr;
    exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return exit;
  }
};

TEST(Qcfax, SendsClassOneThroughTheLinesimProgram) {
  test::TempDir dir;
  const std::string link = dir.Path("modem"), tiff = dir.Path("rx.tif"), apf = dir.Path("DOC.APF");
  const test::Raster page = test::PatternPage(4, 120);
  test::WriteApf(apf, {page}, true);

  Child line(std::string(LINESIM_PATH) + " --pty-link " + link + " --far receive --tiff " + tiff +
             " --id 'LINESIM FAR 2' --until-closed --timeout 300");
  ASSERT_TRUE(line.ReadLine()) << line.out;
  ASSERT_EQ(line.out, "our end: " + link + "\n");

  Child qcfax(std::string(QCFAX_PATH) + " send --class 1 --device " + link + " --bps 4800 --station 'QC 9'" +
              " --header 'Page $P' 5550100 " + apf);
  EXPECT_EQ(qcfax.Wait(), 0) << qcfax.out;
  EXPECT_EQ(qcfax.out.substr(qcfax.out.size() >= 5 ? qcfax.out.size() - 5 : 0), "Sent\n") << qcfax.out;
  EXPECT_NE(qcfax.out.find("remote \"       LINESIM FAR 2\""), std::string::npos) << qcfax.out;

  EXPECT_EQ(line.Wait(), 0) << line.out;
  EXPECT_NE(line.out.find("completion 0 (OK), remote \"QC 9\", 4800 bit/s, fine, width 1728, pages received 1"),
            std::string::npos)
      << line.out;
  const std::vector<TiffPage> got = ReadTiffPages(tiff);
  ASSERT_EQ(got.size(), 1u) << line.out;
  EXPECT_TRUE(got[0].rows == test::Concat({test::BlankRows(8), test::TextRows("Page 1", true, true), page}));
}

}  // namespace
}  // namespace qc::linesim
