// The program-wide settings kept in QC.INI, loaded once at start and written
// whole by each window that changes them.
#pragma once

#include <array>
#include <string>

namespace qc {

class IniFile;

struct TSettings {
  struct {
    std::string Name;
    std::string Company;
    std::string Fax;
    std::string Voice;
  } User;
  struct {
    std::string DialPrefix;
    int DialAttempts = 3;
    int RetryWait = 60;
    bool BlindDial = false;
    bool IgnoreBusy = false;
    int ToneOrPulse = 0;  // 0 tone, 1 pulse
    int Timeout = 60;
  } Dialing;
  struct {
    std::string InitString;
    int ComPort = -1;  // 0 = Com1 ... 5 = Com6; -1 = never configured
    int FaxClass = 0;  // 0 auto detect, 1 class 1, 2 class 2, 3 class 2.0
    int MaximumBPS = 9600;
  } Modem;
  struct {
    std::string String;       // sent before each fax call
    std::string AfterString;  // sent after each fax call
  } Resetting;
  struct {
    std::string Wav;
    int AnswerOnRing = 1;
  } Receive;
  struct {
    bool On = true;
  } Hints;
  // [Ports] Com1..Com6: the device behind each port. Read at load, never
  // written: the user sets them up by editing QC.INI.
  struct {
    std::array<std::string, 6> Com{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyS2",
                                   "/dev/ttyS3", "/dev/ttyS4", "/dev/ttyS5"};
  } Ports;
};

// The settings of the running program.
extern TSettings Settings;

// Reads every key of QC.INI in the program folder into `Settings`; a missing
// or unreadable file gives the defaults.
void LoadSettings();
// Writes every field of `Settings` to QC.INI, one key after the other.
// Raises EIniFileException ("Unable to write to <file>") when a key cannot be
// written; the keys before it stay written.
void SaveSettings();

// The same on a given settings object and file.
void LoadSettings(TSettings& settings, const IniFile& ini);
void SaveSettings(const TSettings& settings, IniFile& ini);

// The device of port `comPort` (0 = Com1 ... 5 = Com6); empty for any other index.
std::string PortDevice(const TSettings& settings, int comPort);
std::string PortDevice(int comPort);

// Transfer rates in drop-down lists: 0 = 2400 ... 5 = 14400. Any other rate
// maps to index 3, any other index to 9600.
int RateToIndex(int bps);
int IndexToRate(int index);

}  // namespace qc
