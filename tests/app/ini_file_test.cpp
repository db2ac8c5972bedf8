#include "app/ini_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "temp_folder.h"

namespace qc {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

TEST(IniFile, ReadsSectionsAndKeysWithoutRegardToCase) {
  TempFolder dir;
  WriteFile(dir / "QC.INI",
            "; written by hand\n"
            "[modem]\n"
            "COMPORT = 2 \n"
            "InitString=  \"X4\" ; not a comment\n"
            "comport=5\n"
            "[Modem]\n"
            "FaxClass=3\n"
            "[User]\n"
            "Name=\n");
  IniFile ini(dir / "QC.INI");
  EXPECT_EQ(ini.ReadInteger("Modem", "ComPort", -1), 2);  // the first of two wins
  EXPECT_EQ(ini.ReadString("MODEM", "initstring", "?"), "\"X4\" ; not a comment");
  // Only the first section of a name counts, as the keys are looked up there.
  EXPECT_EQ(ini.ReadInteger("Modem", "FaxClass", 0), 0);
  EXPECT_EQ(ini.ReadString("User", "Name", "default"), "");  // present but empty
  EXPECT_EQ(ini.ReadString("User", "Fax", "default"), "default");
  EXPECT_TRUE(ini.ValueExists("user", "NAME"));
  EXPECT_FALSE(ini.SectionExists("Ports"));
}

TEST(IniFile, IntegersAreDecimalAndAnythingElseGivesTheDefault) {
  struct Case {
    const char* text;
    int expected;
  };
  const Case cases[] = {{"12", 12},        {" -1 ", -1},  {"+5", 5},          {"0", 0},
                        {"x", 77},         {"12x", 77},   {"", 77},           {"1 2", 77},
                        {"0x10", 77},      {"3.5", 77},   {"99999999999", 77}, {"-", 77}, {"+-5", 77},
                        {"2147483647", 2147483647}};
  TempFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile(dir / "a.ini", std::string("[S]\nK=") + c.text + "\n");
    IniFile ini(dir / "a.ini");
    EXPECT_EQ(ini.ReadInteger("S", "K", 77), c.expected);
    EXPECT_EQ(ini.ReadBool("S", "K", false), c.expected != 0 && c.expected != 77);
  }
}

TEST(IniFile, WritingOneKeyKeepsEveryOtherLine) {
  TempFolder dir;
  const std::string before =
      "; Quillcast settings\n"
      "\n"
      "[Modem]\n"
      "comport=1\n"
      "Extra=kept\n"
      "; the next section is mine\n"
      "[Mine]\n"
      "A = b=c\n"
      "junk line without equals\n";
  WriteFile(dir / "QC.INI", before);
  IniFile ini(dir / "QC.INI");
  ini.WriteInteger("MODEM", "ComPort", 4);   // replaces the line in place
  ini.WriteString("Modem", "FaxClass", "2");  // after the section's last key
  ini.WriteBool("Hints", "On", true);         // a new section at the end
  const std::string expected =
      "; Quillcast settings\n"
      "\n"
      "[Modem]\n"
      "ComPort=4\n"
      "Extra=kept\n"
      "FaxClass=2\n"
      "; the next section is mine\n"
      "[Mine]\n"
      "A = b=c\n"
      "junk line without equals\n"
      "\n"
      "[Hints]\n"
      "On=1\n";
  EXPECT_EQ(ReadFile(dir / "QC.INI"), expected);
  EXPECT_EQ(IniFile(dir / "QC.INI").ReadString("Mine", "a", ""), "b=c");
}

TEST(IniFile, KeepsWindowsLineEndingsAndByteOrderMark) {
  TempFolder dir;
  WriteFile(dir / "QC.INI", "\xEF\xBB\xBF[User]\r\nName=Ann\r\n");
  IniFile ini(dir / "QC.INI");
  EXPECT_EQ(ini.ReadString("User", "Name", ""), "Ann");
  ini.WriteString("User", "Fax", "555");
  EXPECT_EQ(ReadFile(dir / "QC.INI"), "\xEF\xBB\xBF[User]\r\nName=Ann\r\nFax=555\r\n");
}

TEST(IniFile, WritingBackWhatWasReadIsStable) {
  // Stray carriage returns and a missing last line break, as hand editing leaves them.
  const char* texts[] = {"[A]\nK=v\r", "[A]\r\nK=v\r\r", "[A]\nK=v\r\r\n", "K=v", "", "\n\n"};
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    const std::string once = IniFile::FromText("QC.INI", text).Text();
    EXPECT_EQ(IniFile::FromText("QC.INI", once).Text(), once);
    EXPECT_EQ(IniFile::FromText("QC.INI", once).ReadString("A", "K", "-"),
              IniFile::FromText("QC.INI", text).ReadString("A", "K", "-"));
  }
}

TEST(IniFile, LineBreaksInAValueCannotPlantKeys) {
  TempFolder dir;
  IniFile ini(dir / "QC.INI");
  ini.WriteString("User", "Name", "Ann\n[Modem]\r\nComPort=5");
  IniFile again(dir / "QC.INI");
  EXPECT_EQ(again.ReadString("User", "Name", ""), "Ann [Modem]  ComPort=5");
  EXPECT_FALSE(again.SectionExists("Modem"));
}

TEST(IniFile, AWriteThatFailsRaisesUnableToWriteAndChangesNothing) {
  TempFolder dir;
  // A missing folder, and a settings "file" that is really a folder: both fail
  // for every user, root included.
  std::filesystem::create_directory(dir / "QC.INI");
  const std::string names[] = {dir / "missing/QC.INI", dir / "QC.INI"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    IniFile ini(name);
    try {
      ini.WriteString("User", "Name", "Ann");
      FAIL() << "no exception";
    } catch (const EIniFileException& e) {
      EXPECT_EQ(std::string(e.what()), "Unable to write to " + name);
      EXPECT_EQ(e.FileName(), name);
      EXPECT_NE(e.SystemError(), 0);
    }
    EXPECT_EQ(ini.ReadString("User", "Name", "none"), "none");  // memory rolled back too
  }
  // No temporary file is left behind.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
}

TEST(IniFile, AReadOnlyFileIsNotReplaced) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write to read-only files";
  TempFolder dir;
  WriteFile(dir / "QC.INI", "[User]\nName=Ann\n");
  std::filesystem::permissions(dir / "QC.INI", std::filesystem::perms(0444));
  IniFile ini(dir / "QC.INI");
  EXPECT_THROW(ini.WriteString("User", "Name", "Bob"), EIniFileException);
  EXPECT_EQ(ReadFile(dir / "QC.INI"), "[User]\nName=Ann\n");
}

TEST(IniFile, ReplacesTheFileAndKeepsItsPermissions) {
  TempFolder dir;
  WriteFile(dir / "QC.INI", "[User]\nName=Ann\n");
  std::filesystem::permissions(dir / "QC.INI", std::filesystem::perms(0640));
  IniFile ini(dir / "QC.INI");
  ini.WriteString("User", "Name", "Bob");
  EXPECT_EQ(std::filesystem::status(dir / "QC.INI").permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(ReadFile(dir / "QC.INI"), "[User]\nName=Bob\n");
}

}  // namespace
}  // namespace qc
