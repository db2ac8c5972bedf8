// Reading the modem's text: result words, report prefixes, identifiers,
// hang-up codes, class and speed answers; and the strings the engine builds
// for it. Pure functions, shared by the send and receive machines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qc {

// Removes characters with codes below 33 from both ends.
std::string_view TrimControls(std::string_view s);

// True when `word` occurs anywhere in `line`.
inline bool LineHas(std::string_view line, std::string_view word) {
  return line.find(word) != std::string_view::npos;
}
inline bool IsOK(std::string_view line) { return LineHas(line, "OK"); }
inline bool IsConnect(std::string_view line) { return LineHas(line, "CONNECT"); }
inline bool IsNoCarrier(std::string_view line) { return LineHas(line, "RRIER"); }
inline bool IsError(std::string_view line) { return LineHas(line, "ERROR"); }

// The number after the first ':' (at most three characters, trimmed); 0 when
// there is no ':' or no number.
uint16_t HangupCode(std::string_view line);

// Trim; drop everything up to and including the first ':' (or, if none, the
// first '='); trim again.
std::string StripPrefix(std::string_view line);

// Trim; a leading '"' becomes a blank; trailing characters that are neither
// letters nor digits are dropped; trim again. The caller keeps 20 characters.
std::string TrimRemoteID(std::string_view text);

// Initialisation string by DetectBusy and BlindDial (X1..X4 result sets).
std::string_view InitStringFor(bool detectBusy, bool blindDial);

// ModemInit as stored: upper case, at most 40 characters, "AT" in front
// unless it already starts with 'A'. Empty stays empty.
std::string NormalizeModemInit(std::string_view text);

// Keeps a position in a short byte pattern; Feed reports a complete match.
class PatternMatcher {
 public:
  constexpr explicit PatternMatcher(std::string_view pattern) : pattern_(pattern) {}
  bool Feed(char byte);
  void Reset() { pos_ = 0; }
  uint8_t Position() const { return pos_; }

 private:
  std::string_view pattern_;
  uint8_t pos_ = 0;
};

// Classes in an answer to "AT+FCLASS=?".
struct ClassAnswer {
  bool class1 = false;
  bool class2 = false;
  bool class2_0 = false;
};
ClassAnswer ParseClassAnswer(std::string_view line);

// Speeds in an answer to "AT+FTM=?" / "AT+FRM=?": a bit per speed index
// (bit 1 = 2400 ... bit 6 = 14400); 2400 and 4800 always.
uint8_t ParseClass1Speeds(std::string_view line);

}  // namespace qc
