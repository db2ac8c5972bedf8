#include "modem_text.h"

#include <cctype>

namespace qc {

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) < 33) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) < 33) s.remove_suffix(1);
  return s;
}

uint16_t HangupCode(std::string_view line) {
  const auto colon = line.find(':');
  if (colon == std::string_view::npos) return 0;
  const std::string_view digits = TrimControls(line.substr(colon + 1, 3));
  unsigned value = 0;
  bool any = false;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<unsigned>(c - '0');
    any = true;
  }
  return any ? static_cast<uint16_t>(value) : 0;
}

std::string StripPrefix(std::string_view line) {
  std::string_view s = TrimControls(line);
  auto cut = s.find(':');
  if (cut == std::string_view::npos) cut = s.find('=');
  if (cut != std::string_view::npos) s.remove_prefix(cut + 1);
  return std::string(TrimControls(s));
}

std::string TrimRemoteID(std::string_view text) {
  std::string s(TrimControls(text));
  if (!s.empty() && s.front() == '"') s.front() = ' ';
  while (!s.empty() && !std::isalnum(static_cast<unsigned char>(s.back()))) s.pop_back();
  return std::string(TrimControls(s));
}

std::string_view InitStringFor(bool detectBusy, bool blindDial) {
  if (detectBusy) return blindDial ? "ATE0Q0V1X3S0=0S2=43" : "ATE0Q0V1X4S0=0S2=43";
  return blindDial ? "ATE0Q0V1X1S0=0S2=43" : "ATE0Q0V1X2S0=0S2=43";
}

std::string NormalizeModemInit(std::string_view text) {
  std::string s;
  for (char c : text.substr(0, 40)) s += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (!s.empty() && s.front() != 'A') s = "AT" + s;
  if (s.size() > 40) s.resize(40);
  return s;
}

bool PatternMatcher::Feed(char byte) {
  if (byte == pattern_[pos_]) {
    if (++pos_ == pattern_.size()) {
      pos_ = 0;
      return true;
    }
    return false;
  }
  pos_ = (byte == pattern_[0]) ? 1 : 0;
  return false;
}

ClassAnswer ParseClassAnswer(std::string_view line) {
  const std::string list = StripPrefix(line);
  ClassAnswer a;
  a.class1 = LineHas(list, "1");
  if (LineHas(list, "2.0")) {
    a.class2_0 = true;
    a.class2 = LineHas(list, "2,");
  } else {
    a.class2 = LineHas(list, "2");
  }
  return a;
}

uint8_t ParseClass1Speeds(std::string_view line) {
  uint8_t bits = (1u << 1) | (1u << 2);
  if (LineHas(line, "72")) bits |= 1u << 3;
  if (LineHas(line, "96")) bits |= 1u << 4;
  if (LineHas(line, "121")) bits |= 1u << 5;
  if (LineHas(line, "145")) bits |= 1u << 6;
  return bits;
}

}  // namespace qc
