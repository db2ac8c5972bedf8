#include "class2_modem.h"

#include <algorithm>
#include <cctype>

namespace qc::test {

namespace {
constexpr uint8_t kDLE = 0x10, kETX = 0x03, kXON = 0x11;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

Class2Modem::Class2Modem(Class2Script script) : s_(std::move(script)), echo_(s_.echoAtStart) {
  decoder_.SetLineSink([this](const uint8_t* line, int bytes) {
    page_.rows.emplace_back(line, line + bytes);
  });
}

void Class2Modem::Reply(const std::string& text, int64_t at) {
  // Replies keep their order even when a later one is due sooner.
  at = std::max(at, lastDue_);
  lastDue_ = at;
  out_.emplace_back(at, text);
}

std::string Class2Modem::TakeOutput(int64_t nowMs) {
  std::string bytes;
  while (!out_.empty() && out_.front().first <= nowMs) {
    bytes += out_.front().second;
    out_.pop_front();
  }
  return bytes;
}

bool Class2Modem::Matches(const std::vector<std::string>& prefixes, const std::string& cmd) const {
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](const std::string& p) { return cmd.rfind(Upper(p), 0) == 0; });
}

void Class2Modem::FromHost(const uint8_t* data, size_t n, int64_t now) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    switch (mode_) {
      case Mode::Dead:
        break;
      case Mode::Data:
        if (dle_) {
          dle_ = false;
          if (b == kDLE) {
            PageData(b);
          } else if (s_.dialect == fcClass2 && b == kETX) {
            EndPage('E', now);
          } else if (s_.dialect == fcClass2_0 && (b == ',' || b == '.')) {
            EndPage(static_cast<char>(b), now);
          }
        } else if (b == kDLE) {
          dle_ = true;
        } else {
          PageData(b);
        }
        break;
      case Mode::Command:
        if (echo_) Reply(std::string(1, static_cast<char>(b)), now);
        if (b == '\r') {
          if (!command_.empty()) Command(command_, now);
          command_.clear();
        } else if (b >= 32) {
          command_ += static_cast<char>(b);
          if (command_ == "+++") {  // escape: the call is left
            commands_.push_back(command_);
            command_.clear();
            Line("OK", now + 1000);
          }
        }
        break;
    }
  }
}

void Class2Modem::Command(const std::string& raw, int64_t now) {
  const std::string cmd = Upper(raw);
  commands_.push_back(raw);
  const int64_t at = now + s_.replyDelayMs;
  if (Matches(s_.silentCommands, cmd)) return;
  if (Matches(s_.errorCommands, cmd)) {
    Line("ERROR", at);
    return;
  }
  if (cmd.rfind("AT", 0) != 0) {
    Line("ERROR", at);
    return;
  }
  if (cmd.find("E0") != std::string::npos && cmd.rfind("ATD", 0) != 0) echo_ = false;
  if (cmd.find("E1") != std::string::npos && cmd.rfind("ATD", 0) != 0) echo_ = true;

  if (cmd == "AT+FCLASS=?") {
    Line(s_.classAnswer, at);
    Line("OK", at);
  } else if (cmd == "AT+FTM=?" || cmd == "AT+FRM=?") {
    Line(s_.ftmAnswer, at);
    Line("OK", at);
  } else if (cmd.rfind("ATD", 0) == 0) {
    Dial(now);
  } else if (cmd == "AT+FDT") {
    if (!connected_) {
      Line("ERROR", at);
      return;
    }
    Line((s_.dialect == fcClass2_0 ? "+FCS:" : "+FDCS:") + s_.negotiated, at);
    Line("CONNECT", at + 200);
    if (s_.dialect == fcClass2) Reply(std::string(1, static_cast<char>(kXON)), at + 250);
    mode_ = Mode::Data;
    dle_ = false;
    page_ = ReceivedPage{};
    decoder_.StartPage();
  } else if (cmd.rfind("AT+FET=", 0) == 0 && s_.dialect == fcClass2) {
    const int verdict = NextVerdict();
    Line("+FPTS:" + std::to_string(verdict), at + 500);
    const bool last = cmd == "AT+FET=2";
    if (last && (verdict == 1 || verdict == 3)) {
      Line("+FHNG:0", at + 600);
      connected_ = false;
    }
    Line("OK", at + 600);
  } else if (cmd == "AT+FPS?") {
    Line("+FPS:" + std::to_string(lastVerdict_), at);
    Line("OK", at);
  } else if (cmd == "AT+FKS" || cmd == "AT+FK") {
    Line(s_.dialect == fcClass2_0 ? "+FHS:50" : "+FHNG:50", at + 500);
    Line("OK", at + 500);
    connected_ = false;
  } else if (cmd.rfind("ATH", 0) == 0) {
    connected_ = false;
    hungUp_ = true;
    Line("OK", at);
  } else {
    Line("OK", at);
  }
}

void Class2Modem::DtrChanged(bool on, int64_t) {
  if (on || !connected_) return;
  connected_ = false;
  hungUp_ = true;
  mode_ = Mode::Command;
  command_.clear();
}

void Class2Modem::Dial(int64_t now) {
  ++dials_;
  const int64_t at = now + s_.connectDelayMs;
  DialOutcome outcome = dials_ <= s_.busyDials ? DialOutcome::Busy : s_.dial;
  if (s_.busyDials < 0) outcome = DialOutcome::Busy;
  switch (outcome) {
    case DialOutcome::Busy: Line("BUSY", at); return;
    case DialOutcome::NoDialTone: Line("NO DIALTONE", now + 2000); return;
    case DialOutcome::Voice: Line("VOICE", at); return;
    case DialOutcome::NoCarrier: Line("NO CARRIER", at); return;
    case DialOutcome::Error: Line("ERROR", now + s_.replyDelayMs); return;
    case DialOutcome::Silence: return;
    case DialOutcome::Connect: break;
  }
  connected_ = true;
  lastPageSent_ = false;
  const bool v20 = s_.dialect == fcClass2_0;
  Line(v20 ? "+FCO" : "+FCON", at);
  Line((v20 ? "+FCI:\"" : "+FCSI:\"") + s_.remoteId + "\"", at + 100);
  Line((v20 ? "+FIS:" : "+FDIS:") + s_.remoteCaps, at + 150);
  Line("OK", at + 200);
}

void Class2Modem::PageData(uint8_t b) {
  ++page_.bytes;
  if (!decoder_.PageEnded()) decoder_.DecodeBytes(&b, 1);
  if (s_.hangupAfterPageBytes >= 0 && pages_.empty() &&
      static_cast<long>(page_.bytes) >= s_.hangupAfterPageBytes) {
    // The line drops in the middle of the page: the modem reports it and
    // takes no further part in the call.
    Line(s_.dialect == fcClass2_0 ? "+FHS:40" : "+FHNG:40", lastDue_);
    Line("NO CARRIER", lastDue_);
    mode_ = Mode::Dead;
    connected_ = false;
  }
}

int Class2Modem::NextVerdict() {
  lastVerdict_ = verdictIndex_ < s_.verdicts.size() ? s_.verdicts[verdictIndex_] : 1;
  ++verdictIndex_;
  return lastVerdict_;
}

void Class2Modem::EndPage(char terminator, int64_t now) {
  page_.terminator = terminator;
  page_.badCodes = decoder_.BadCodes();
  pages_.push_back(page_);
  mode_ = Mode::Command;
  const int64_t at = now + 300;
  if (s_.dialect == fcClass2) {
    Line("OK", at);
    return;
  }
  const int verdict = NextVerdict();
  if (verdict == 1 || verdict == 3) {
    if (terminator == '.') {
      Line("+FHS:00", at + 500);
      connected_ = false;
    }
    Line("OK", at + 500);
  } else {
    Line("ERROR", at + 500);
  }
}

}  // namespace qc::test
