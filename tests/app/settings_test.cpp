#include "app/settings.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "app/ini_file.h"
#include "temp_folder.h"

namespace qc {
namespace {

using test::ReadFile;
using test::ScopedEnv;
using test::TempFolder;
using test::WriteFile;

void ExpectDefaults(const TSettings& s) {
  EXPECT_EQ(s.User.Name, "");
  EXPECT_EQ(s.User.Company, "");
  EXPECT_EQ(s.User.Fax, "");
  EXPECT_EQ(s.User.Voice, "");
  EXPECT_EQ(s.Dialing.DialPrefix, "");
  EXPECT_EQ(s.Dialing.DialAttempts, 3);
  EXPECT_EQ(s.Dialing.RetryWait, 60);
  EXPECT_FALSE(s.Dialing.BlindDial);
  EXPECT_FALSE(s.Dialing.IgnoreBusy);
  EXPECT_EQ(s.Dialing.ToneOrPulse, 0);
  EXPECT_EQ(s.Dialing.Timeout, 60);
  EXPECT_EQ(s.Modem.InitString, "");
  EXPECT_EQ(s.Modem.ComPort, -1);
  EXPECT_EQ(s.Modem.FaxClass, 0);
  EXPECT_EQ(s.Modem.MaximumBPS, 9600);
  EXPECT_EQ(s.Resetting.String, "");
  EXPECT_EQ(s.Resetting.AfterString, "");
  EXPECT_EQ(s.Receive.Wav, "");
  EXPECT_EQ(s.Receive.AnswerOnRing, 1);
  EXPECT_TRUE(s.Hints.On);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(PortDevice(s, i), "/dev/ttyS" + std::to_string(i));
}

// Every field away from its default, so a field that is not read or not
// written shows up.
TSettings Unusual() {
  TSettings s;
  s.User = {"Ann Lee", "Lee & Co", "+44 1234", "+44 5678"};
  s.Dialing.DialPrefix = "9,";
  s.Dialing.DialAttempts = 7;
  s.Dialing.RetryWait = 15;
  s.Dialing.BlindDial = true;
  s.Dialing.IgnoreBusy = true;
  s.Dialing.ToneOrPulse = 1;
  s.Dialing.Timeout = 90;
  s.Modem.InitString = "X3";
  s.Modem.ComPort = 2;
  s.Modem.FaxClass = 3;
  s.Modem.MaximumBPS = 14400;
  s.Resetting.String = "AT&F";
  s.Resetting.AfterString = "ATZ";
  s.Receive.Wav = "/home/ann/ring.wav";
  s.Receive.AnswerOnRing = 2;
  s.Hints.On = false;
  return s;
}

class SettingsTest : public ::testing::Test {
 protected:
  TempFolder dir;
  ScopedEnv home{"QUILLCAST_HOME", dir.path().c_str()};
};

TEST_F(SettingsTest, MissingFileGivesEveryDefault) {
  Settings = Unusual();
  LoadSettings();
  ExpectDefaults(Settings);
  EXPECT_FALSE(std::filesystem::exists(dir / "QC.INI"));  // reading creates nothing
}

TEST_F(SettingsTest, ComPortMinusOneInTheFileIsLikeAFirstStart) {
  WriteFile(dir / "QC.INI", "[Modem]\nComPort=-1\n");
  LoadSettings();
  ExpectDefaults(Settings);
}

TEST_F(SettingsTest, UnreadableNumbersGiveDefaultsAndBooleansAreNonZero) {
  WriteFile(dir / "QC.INI",
            "[Dialing]\nDialAttempts=x\nBlindDial=2\nIgnoreBusy=0\nRetryWait=\n"
            "[Hints]\nOn=-3\n[Modem]\nMaximumBPS=fast\n");
  LoadSettings();
  EXPECT_EQ(Settings.Dialing.DialAttempts, 3);
  EXPECT_EQ(Settings.Dialing.RetryWait, 60);
  EXPECT_TRUE(Settings.Dialing.BlindDial);
  EXPECT_FALSE(Settings.Dialing.IgnoreBusy);
  EXPECT_TRUE(Settings.Hints.On);
  EXPECT_EQ(Settings.Modem.MaximumBPS, 9600);
  SaveSettings();
  IniFile ini(dir / "QC.INI");
  EXPECT_EQ(ini.ReadString("Dialing", "BlindDial", ""), "1");
  EXPECT_EQ(ini.ReadString("Dialing", "DialAttempts", ""), "3");
  EXPECT_EQ(ini.ReadString("Hints", "On", ""), "1");
}

TEST_F(SettingsTest, SaveWritesEveryKeyInItsOrderAndLoadReadsThemBack) {
  Settings = Unusual();
  SaveSettings();
  EXPECT_EQ(ReadFile(dir / "QC.INI"),
            "[User]\nFax=+44 1234\nName=Ann Lee\nVoice=+44 5678\nCompany=Lee & Co\n\n"
            "[Dialing]\nDialPrefix=9,\nDialAttempts=7\nRetryWait=15\nBlindDial=1\nIgnoreBusy=1\n"
            "ToneOrPulse=1\nTimeout=90\n\n"
            "[Modem]\nInitString=X3\nComPort=2\nFaxClass=3\nMaximumBPS=14400\n\n"
            "[Resetting]\nString=AT&F\nAfterString=ATZ\n\n"
            "[Receive]\nWav=/home/ann/ring.wav\nAnswerOnRing=2\n\n"
            "[Hints]\nOn=0\n");
  Settings = TSettings();
  LoadSettings();
  const TSettings expected = Unusual();
  EXPECT_EQ(Settings.User.Name, expected.User.Name);
  EXPECT_EQ(Settings.User.Company, expected.User.Company);
  EXPECT_EQ(Settings.User.Fax, expected.User.Fax);
  EXPECT_EQ(Settings.User.Voice, expected.User.Voice);
  EXPECT_EQ(Settings.Dialing.DialPrefix, "9,");
  EXPECT_EQ(Settings.Dialing.DialAttempts, 7);
  EXPECT_EQ(Settings.Dialing.RetryWait, 15);
  EXPECT_TRUE(Settings.Dialing.BlindDial);
  EXPECT_TRUE(Settings.Dialing.IgnoreBusy);
  EXPECT_EQ(Settings.Dialing.ToneOrPulse, 1);
  EXPECT_EQ(Settings.Dialing.Timeout, 90);
  EXPECT_EQ(Settings.Modem.InitString, "X3");
  EXPECT_EQ(Settings.Modem.ComPort, 2);
  EXPECT_EQ(Settings.Modem.FaxClass, 3);
  EXPECT_EQ(Settings.Modem.MaximumBPS, 14400);
  EXPECT_EQ(Settings.Resetting.String, "AT&F");
  EXPECT_EQ(Settings.Resetting.AfterString, "ATZ");
  EXPECT_EQ(Settings.Receive.Wav, "/home/ann/ring.wav");
  EXPECT_EQ(Settings.Receive.AnswerOnRing, 2);
  EXPECT_FALSE(Settings.Hints.On);
}

TEST_F(SettingsTest, SaveKeepsUnknownSectionsKeysCommentsAndPorts) {
  const std::string mine =
      "; my modem setup\n"
      "[Ports]\n"
      "Com1=/dev/ttyACM0\n"
      "com3 = /dev/ttyUSB1\n"
      "\n"
      "[TMainScreen_Placement]\n"
      "Left=10\n";
  WriteFile(dir / "QC.INI", mine + "[Modem]\nComPort=0\nSpeaker=off ; keep\n");
  LoadSettings();
  EXPECT_EQ(PortDevice(0), "/dev/ttyACM0");
  EXPECT_EQ(PortDevice(1), "/dev/ttyS1");
  EXPECT_EQ(PortDevice(2), "/dev/ttyUSB1");
  EXPECT_EQ(PortDevice(-1), "");
  EXPECT_EQ(PortDevice(6), "");
  Settings.Ports.Com[0] = "/dev/changed-in-memory";
  SaveSettings();
  const std::string after = ReadFile(dir / "QC.INI");
  EXPECT_EQ(after.substr(0, mine.size()), mine);  // [Ports] untouched, never rewritten
  IniFile ini(dir / "QC.INI");
  EXPECT_EQ(ini.ReadString("Modem", "Speaker", ""), "off ; keep");
  EXPECT_EQ(ini.ReadString("Modem", "ComPort", ""), "0");
  EXPECT_EQ(ini.ReadString("TMainScreen_Placement", "Left", ""), "10");
}

TEST_F(SettingsTest, UnwritableFileRaisesUnableToWrite) {
  ScopedEnv missing("QUILLCAST_HOME", (dir / "not-there/").c_str());
  try {
    SaveSettings();
    FAIL() << "no exception";
  } catch (const EIniFileException& e) {
    EXPECT_STREQ(e.what(), ("Unable to write to " + dir.path() + "not-there/QC.INI").c_str());
  }
}

// A save that fails part-way (here: the file may not grow past a limit)
// leaves a complete file that holds every key written before the failure.
TEST_F(SettingsTest, AFailedSaveKeepsTheKeysWrittenBeforeIt) {
  WriteFile(dir / "QC.INI", "; keep me\n");
  Settings = Unusual();
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 120;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  bool raised = false;
  try {
    SaveSettings();
  } catch (const EIniFileException&) {
    raised = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_TRUE(raised);

  const std::string text = ReadFile(dir / "QC.INI");
  EXPECT_LE(text.size(), 120u);
  EXPECT_EQ(text.substr(0, 10), "; keep me\n");
  EXPECT_EQ(text.back(), '\n');  // whole lines only
  IniFile ini(dir / "QC.INI");
  EXPECT_EQ(ini.ReadString("User", "Fax", ""), "+44 1234");  // the first keys are there
  EXPECT_EQ(ini.ReadString("User", "Name", ""), "Ann Lee");
  EXPECT_FALSE(ini.ValueExists("Hints", "On"));  // the last one never made it
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);  // no temporary file left
}

TEST(TransferRate, IndexRule) {
  const int rates[] = {2400, 4800, 7200, 9600, 12000, 14400};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(RateToIndex(rates[i]), i);
    EXPECT_EQ(IndexToRate(i), rates[i]);
  }
  for (int odd : {0, 300, 9601, 28800, -1}) EXPECT_EQ(RateToIndex(odd), 3) << odd;
  for (int odd : {-1, 6, 100}) EXPECT_EQ(IndexToRate(odd), 9600) << odd;
}

}  // namespace
}  // namespace qc
