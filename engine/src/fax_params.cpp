#include "fax_params.h"

namespace qc {

char RateDigit(uint32_t bitRate) {
  for (int i = kMinSpeedIndex; i <= kMaxSpeedIndex; ++i)
    if (kSpeeds[i].bitRate == bitRate) return kSpeeds[i].rateDigit;
  return '3';
}

uint16_t MinimumScanBytes(uint8_t scanTimeCode, bool fine, uint32_t bitRate) {
  const ScanTime t = kScanTimes[scanTimeCode & 7];
  const uint32_t ms = fine ? t.fineMs : t.normalMs;
  return static_cast<uint16_t>(ms * bitRate / 8000);
}

Class2Vocabulary VocabularyFor(TFaxClass faxClass) {
  const Class2Words& w = faxClass == fcClass2_0 ? kClass2_0Words : kClass2Words;
  auto cmd = [](std::string_view word) { return "AT+F" + std::string(word); };
  auto rep = [](std::string_view word) { return "+F" + std::string(word); };
  return {cmd(w.classCommand),      cmd(w.parametersCommand),  cmd(w.localIdCommand),
          cmd(w.capabilitiesCommand), rep(w.connectionReport), rep(w.capabilitiesReport),
          rep(w.parametersReport),  rep(w.transmitterIdReport), rep(w.calledIdReport),
          rep(w.pageStatusReport),  std::string(w.hangupWord)};
}

SessionParameters DecodeParameters(std::string_view list) {
  // Characters numbered from 1; a missing one reads as a blank.
  auto at = [&](size_t n) { return n <= list.size() ? list[n - 1] : ' '; };
  SessionParameters p;
  switch (at(3)) {
    case '0': p.bitRate = 2400; break;
    case '1': p.bitRate = 4800; break;
    case '2': p.bitRate = 7200; break;
    case '4': p.bitRate = 12000; break;
    case '5': p.bitRate = 14400; break;
    default: p.bitRate = 9600; break;
  }
  p.fine = at(1) == '1';
  p.wide = at(5) == '1';
  p.errorCorrection = at(11) == '1' || at(11) == '2';
  // The scan-time table has eight entries; anything else means no minimum.
  const char st = at(15);
  p.scanTimeCode = (st >= '0' && st <= '7') ? static_cast<uint8_t>(st - '0') : 0;
  return p;
}

std::string ParametersCommand(const Class2Vocabulary& words, bool fine, uint32_t desiredBps,
                              bool wide, char ecmDigit) {
  std::string s = words.parametersCommand;
  s += '=';
  s += fine ? '1' : '0';
  s += ',';
  s += RateDigit(desiredBps);
  s += ',';
  s += wide ? '1' : '0';
  s += ",2,0,";
  s += ecmDigit;
  s += ",0,0";
  return s;
}

std::string LocalIdCommand(const Class2Vocabulary& words, std::string_view stationId) {
  return words.localIdCommand + "=\"" + std::string(stationId) + "\"";
}

}  // namespace qc
