#include "app/folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "temp_folder.h"

namespace qc {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempFolder;
using test::WriteFile;

TEST(ProgramFolder, FollowsTheEnvironment) {
  struct Case {
    const char* quillcastHome;
    const char* xdgDataHome;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/data/qc", "/xdg", "/home/ann", "/data/qc/"},
      {"/data/qc/", nullptr, "/home/ann", "/data/qc/"},
      {"", "/xdg", "/home/ann", "/xdg/quillcast/"},
      {nullptr, "/xdg/", "/home/ann", "/xdg/quillcast/"},
      {nullptr, nullptr, "/home/ann", "/home/ann/.local/share/quillcast/"},
      {nullptr, "relative/path", "/home/ann", "/home/ann/.local/share/quillcast/"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    ScopedEnv a("QUILLCAST_HOME", c.quillcastHome);
    ScopedEnv b("XDG_DATA_HOME", c.xdgDataHome);
    ScopedEnv h("HOME", c.home);
    EXPECT_EQ(ProgramFolder(), c.expected);
    EXPECT_EQ(SendFolder(), std::string(c.expected) + "SEND/");
    EXPECT_EQ(ReceiveFolder(), std::string(c.expected) + "Receive/");
    EXPECT_EQ(CoversFolder(), std::string(c.expected) + "Covers/");
  }
}

TEST(FindFileIgnoreCase, FindsTheEntryInAnyLetterCase) {
  TempFolder dir;
  WriteFile(dir / "Cover1.FCT", "x");
  WriteFile(dir / "qc.ini", "");
  std::filesystem::create_directory(dir / "Send");
  EXPECT_EQ(FindFileIgnoreCase(dir.path(), "Cover1.FCT"), dir / "Cover1.FCT");
  EXPECT_EQ(FindFileIgnoreCase(dir.path(), "COVER1.fct"), dir / "Cover1.FCT");
  EXPECT_EQ(FindFileIgnoreCase(dir.path(), "SEND"), dir / "Send");
  EXPECT_EQ(FindFileIgnoreCase(dir.path(), "Cover2.FCT"), "");
  EXPECT_EQ(FindFileIgnoreCase(dir.path(), "Cover1.FC"), "");
  EXPECT_EQ(FindFileIgnoreCase(dir.path(), "../" + dir.path()), "");
  EXPECT_EQ(FindFileIgnoreCase(dir / "missing", "x"), "");

  ScopedEnv home("QUILLCAST_HOME", dir.path().c_str());
  EXPECT_EQ(SettingsFileName(), dir / "qc.ini");  // the user's spelling is kept
}

TEST(ForceFolders, CreatesMissingParents) {
  TempFolder dir;
  EXPECT_TRUE(ForceFolders(dir / "a/b/c/"));
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_TRUE(ForceFolders(dir / "a/b"));  // already there
  WriteFile(dir / "file", "");
  EXPECT_FALSE(ForceFolders(dir / "file/sub"));
  EXPECT_FALSE(ForceFolders(dir / "file"));
}

TEST(CopyFileBlocks, CopiesEveryByte) {
  TempFolder dir;
  std::string data;
  for (int i = 0; i < 5000; ++i) data += static_cast<char>(i * 7);  // not a block multiple
  for (size_t size : {size_t{0}, size_t{2048}, data.size()}) {
    SCOPED_TRACE(size);
    WriteFile(dir / "src", data.substr(0, size));
    WriteFile(dir / "dst", "old content that is longer than some sources");
    EXPECT_TRUE(CopyFileBlocks(dir / "src", dir / "dst"));
    EXPECT_EQ(ReadFile(dir / "dst"), data.substr(0, size));
  }
}

TEST(CopyFileBlocks, NeverCopiesAFileOntoItself) {
  TempFolder dir;
  WriteFile(dir / "FAX00000.APF", "page data");
  ::link((dir / "FAX00000.APF").c_str(), (dir / "hardlink").c_str());
  const std::string sameFile[] = {dir / "FAX00000.APF", dir.path() + "./FAX00000.APF",
                                  dir / "hardlink"};
  for (const std::string& target : sameFile) {
    SCOPED_TRACE(target);
    EXPECT_FALSE(CopyFileBlocks(dir / "FAX00000.APF", target));
    EXPECT_EQ(ReadFile(dir / "FAX00000.APF"), "page data");
  }
}

TEST(CopyFileBlocks, FailsWhenEitherSideCannotBeOpened) {
  TempFolder dir;
  WriteFile(dir / "src", "x");
  EXPECT_FALSE(CopyFileBlocks(dir / "missing", dir / "dst"));
  EXPECT_FALSE(std::filesystem::exists(dir / "dst"));
  EXPECT_FALSE(CopyFileBlocks(dir / "src", dir / "no-folder/dst"));
  EXPECT_FALSE(CopyFileBlocks(dir / "src", dir.path()));  // a folder as target
}

TEST(UniqueFiles, TakeTheFirstFreeNumber) {
  TempFolder dir;
  ScopedEnv home("QUILLCAST_HOME", dir.path().c_str());
  ASSERT_TRUE(ForceFolders(SendFolder()));
  EXPECT_EQ(UniqueSendFile("FAX"), dir / "SEND/FAX00000.APF");
  WriteFile(dir / "SEND/FAX00000.APF", "");
  WriteFile(dir / "SEND/FAX00001.APF", "");
  EXPECT_EQ(UniqueSendFile("FAX"), dir / "SEND/FAX00002.APF");
  WriteFile(dir / "SEND/fax00002.apf", "");  // another spelling is the same name
  EXPECT_EQ(UniqueSendFile("FAX"), dir / "SEND/FAX00003.APF");
  EXPECT_EQ(UniqueSendFile("COV"), dir / "SEND/COV00000.APF");
  WriteFile(dir / "FAX00000.APF", "");
  EXPECT_EQ(UniqueWorkFile("FAX"), dir / "FAX00001.APF");
}

TEST(InstallCovers, FillsAMissingOrEmptyCoversFolderOnly) {
  TempFolder share;
  ForceFolders(share / "covers");
  WriteFile(share / "covers/Basic.FCT", "template");
  WriteFile(share / "covers/Basic.bmp", "preview");
  ForceFolders(share / "covers/not-a-template-folder");

  TempFolder data;
  EXPECT_EQ(InstallCovers(share.path(), data / "Covers/"), 2);  // missing
  EXPECT_EQ(ReadFile(data / "Covers/Basic.FCT"), "template");
  EXPECT_EQ(ReadFile(data / "Covers/Basic.bmp"), "preview");

  std::filesystem::remove(data / "Covers/Basic.bmp");
  WriteFile(data / "Covers/Basic.FCT", "edited by the user");
  EXPECT_EQ(InstallCovers(share.path(), data / "Covers/"), 0);  // not empty: left alone
  EXPECT_EQ(ReadFile(data / "Covers/Basic.FCT"), "edited by the user");

  TempFolder empty;
  ForceFolders(empty / "Covers");
  EXPECT_EQ(InstallCovers(share.path(), empty / "Covers"), 2);

  TempFolder noShare;
  EXPECT_EQ(InstallCovers(noShare / "nothing", noShare / "Covers/"), 0);
  EXPECT_TRUE(std::filesystem::is_directory(noShare / "Covers"));  // created either way
}

TEST(ShareFolder, IsTheSourceResourcesInTheBuildTree) {
  EXPECT_EQ(ShareFolder(), std::string(QC_SOURCE_RESOURCES) + "/");
}

}  // namespace
}  // namespace qc
