#include "app/settings.h"

#include <string>

#include "app/folders.h"
#include "app/ini_file.h"

namespace qc {

TSettings Settings;

namespace {

constexpr int kRates[] = {2400, 4800, 7200, 9600, 12000, 14400};
constexpr int kPortCount = 6;

}  // namespace

void LoadSettings(TSettings& s, const IniFile& ini) {
  const TSettings d;  // defaults
  s.Dialing.BlindDial = ini.ReadBool("Dialing", "BlindDial", d.Dialing.BlindDial);
  s.Dialing.IgnoreBusy = ini.ReadBool("Dialing", "IgnoreBusy", d.Dialing.IgnoreBusy);
  s.User.Name = ini.ReadString("User", "Name", d.User.Name);
  s.User.Company = ini.ReadString("User", "Company", d.User.Company);
  s.User.Fax = ini.ReadString("User", "Fax", d.User.Fax);
  s.User.Voice = ini.ReadString("User", "Voice", d.User.Voice);
  s.Dialing.DialPrefix = ini.ReadString("Dialing", "DialPrefix", d.Dialing.DialPrefix);
  s.Modem.InitString = ini.ReadString("Modem", "InitString", d.Modem.InitString);
  s.Dialing.DialAttempts = ini.ReadInteger("Dialing", "DialAttempts", d.Dialing.DialAttempts);
  s.Dialing.RetryWait = ini.ReadInteger("Dialing", "RetryWait", d.Dialing.RetryWait);
  s.Modem.ComPort = ini.ReadInteger("Modem", "ComPort", d.Modem.ComPort);
  s.Modem.FaxClass = ini.ReadInteger("Modem", "FaxClass", d.Modem.FaxClass);
  s.Modem.MaximumBPS = ini.ReadInteger("Modem", "MaximumBPS", d.Modem.MaximumBPS);
  s.Dialing.ToneOrPulse = ini.ReadInteger("Dialing", "ToneOrPulse", d.Dialing.ToneOrPulse);
  s.Dialing.Timeout = ini.ReadInteger("Dialing", "Timeout", d.Dialing.Timeout);
  s.Receive.Wav = ini.ReadString("Receive", "Wav", d.Receive.Wav);
  s.Receive.AnswerOnRing = ini.ReadInteger("Receive", "AnswerOnRing", d.Receive.AnswerOnRing);
  s.Hints.On = ini.ReadBool("Hints", "On", d.Hints.On);
  s.Resetting.String = ini.ReadString("Resetting", "String", d.Resetting.String);
  s.Resetting.AfterString = ini.ReadString("Resetting", "AfterString", d.Resetting.AfterString);
  for (int i = 0; i < kPortCount; ++i)
    s.Ports.Com[i] = ini.ReadString("Ports", "Com" + std::to_string(i + 1), d.Ports.Com[i]);
}

void SaveSettings(const TSettings& s, IniFile& ini) {
  ini.WriteString("User", "Fax", s.User.Fax);
  ini.WriteString("User", "Name", s.User.Name);
  ini.WriteString("User", "Voice", s.User.Voice);
  ini.WriteString("User", "Company", s.User.Company);
  ini.WriteString("Dialing", "DialPrefix", s.Dialing.DialPrefix);
  ini.WriteString("Modem", "InitString", s.Modem.InitString);
  ini.WriteInteger("Dialing", "DialAttempts", s.Dialing.DialAttempts);
  ini.WriteInteger("Dialing", "RetryWait", s.Dialing.RetryWait);
  ini.WriteBool("Dialing", "BlindDial", s.Dialing.BlindDial);
  ini.WriteBool("Dialing", "IgnoreBusy", s.Dialing.IgnoreBusy);
  ini.WriteInteger("Modem", "ComPort", s.Modem.ComPort);
  ini.WriteInteger("Modem", "FaxClass", s.Modem.FaxClass);
  ini.WriteInteger("Modem", "MaximumBPS", s.Modem.MaximumBPS);
  ini.WriteInteger("Dialing", "ToneOrPulse", s.Dialing.ToneOrPulse);
  ini.WriteInteger("Dialing", "Timeout", s.Dialing.Timeout);
  ini.WriteString("Resetting", "String", s.Resetting.String);
  ini.WriteString("Resetting", "AfterString", s.Resetting.AfterString);
  ini.WriteString("Receive", "Wav", s.Receive.Wav);
  ini.WriteInteger("Receive", "AnswerOnRing", s.Receive.AnswerOnRing);
  ini.WriteBool("Hints", "On", s.Hints.On);
}

void LoadSettings() {
  IniFile ini(SettingsFileName());
  LoadSettings(Settings, ini);
}

void SaveSettings() {
  IniFile ini(SettingsFileName());
  SaveSettings(Settings, ini);
}

std::string PortDevice(const TSettings& settings, int comPort) {
  if (comPort < 0 || comPort >= kPortCount) return {};
  return settings.Ports.Com[comPort];
}

std::string PortDevice(int comPort) { return PortDevice(Settings, comPort); }

int RateToIndex(int bps) {
  for (int i = 0; i < static_cast<int>(std::size(kRates)); ++i)
    if (kRates[i] == bps) return i;
  return 3;
}

int IndexToRate(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kRates))) return 9600;
  return kRates[index];
}

}  // namespace qc
