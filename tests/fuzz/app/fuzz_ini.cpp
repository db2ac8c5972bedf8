// QC.INI files are edited by hand, so the reader meets anything. Whatever it
// reads, writing it back must be stable, and setting one key must change
// that key and nothing else.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/ini_file.h"

namespace {

struct Probe {
  const char* section;
  const char* key;
};
constexpr Probe kProbes[] = {{"User", "Name"},     {"Ports", "Com1"},   {"Dialing", "DialAttempts"},
                             {"Modem", "FaxClass"}, {"Modem", "Other"}, {"", ""},
                             {"Hints", "On"}};

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  qc::IniFile ini = qc::IniFile::FromText("QC.INI", text);
  const std::string written = ini.Text();
  Check(qc::IniFile::FromText("QC.INI", written).Text() == written);

  std::string before[std::size(kProbes)];
  for (std::size_t i = 0; i < std::size(kProbes); ++i)
    before[i] = ini.ReadString(kProbes[i].section, kProbes[i].key, "\x01missing");
  int number = 0;
  (void)qc::ParseIniInteger(text.substr(0, 16), number);

  ini.SetString("Modem", "ComPort", "7\n[User]\nName=planted");
  qc::IniFile changed = qc::IniFile::FromText("QC.INI", ini.Text());
  Check(changed.ReadString("Modem", "ComPort", "") == "7 [User] Name=planted");
  for (std::size_t i = 0; i < std::size(kProbes); ++i)
    Check(changed.ReadString(kProbes[i].section, kProbes[i].key, "\x01missing") == before[i]);
  return 0;
}
