#include "class2_modem.h"

#include <algorithm>
#include <cctype>

namespace qc::test {

namespace {
constexpr uint8_t kDLE = 0x10, kETX = 0x03, kXON = 0x11, kDC2 = 0x12;

uint8_t Reverse(uint8_t b) {
  uint8_t r = 0;
  for (int i = 0; i < 8; ++i)
    if (b & (1 << i)) r = static_cast<uint8_t>(r | (0x80 >> i));
  return r;
}

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
  while (callRinging_ && !ringQueue_.empty() && ringQueue_.front().first <= nowMs) {
    const std::string line = ringQueue_.front().second;
    ringQueue_.pop_front();
    if (line == "RING") ++ringsEmitted_;
    Line(line, nowMs);
  }
  std::string bytes;
  while (!out_.empty() && out_.front().first <= nowMs) {
    bytes += out_.front().second;
    out_.pop_front();
  }
  toHost_ += bytes;
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
      case Mode::WaitDc2:
        if (b == kDC2) {
          mode_ = Mode::Command;
          DeliverPage(now);
        }
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
    if (callActive_) {
      callRecords_.back().refused = true;
      EndCall();
    }
  } else if (cmd.rfind("ATH", 0) == 0) {
    connected_ = false;
    hungUp_ = true;
    EndCall();
    Line("OK", at);
  } else if (cmd.rfind(s_.dialect == fcClass2_0 ? "AT+FCC=" : "AT+FDCC=", 0) == 0) {
    Line("OK", at);
    if (!callRinging_ && !callActive_ && Call()) ScheduleCall(at);
  } else if (cmd == "ATA") {
    if (callRinging_)
      Answer(now);
    else
      Line("NO CARRIER", at);
  } else if (cmd == "AT+FDR") {
    if (callActive_ && connected_)
      PageRequest(now);
    else
      Line("ERROR", at);
  } else {
    Line("OK", at);
  }
}

void Class2Modem::DtrChanged(bool on, int64_t nowMs) {
  if (!on && callActive_) {
    // The call is over: what the modem still had for the host is gone.
    out_.clear();
    lastDue_ = nowMs;
    EndCall();
    hungUp_ = true;
    command_.clear();
    return;
  }
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

void Class2Modem::ScheduleCall(int64_t now) {
  const IncomingCall& call = *Call();
  callRinging_ = true;
  ringsEmitted_ = 0;
  ringQueue_.clear();
  int64_t at = now + s_.ringDelayMs;
  for (const std::string& line : call.ringLines) {
    ringQueue_.emplace_back(at, line);
    at += s_.ringGapMs;
  }
  callRecords_.push_back(CallRecord{});
}

void Class2Modem::Answer(int64_t now) {
  const IncomingCall& call = *Call();
  callRinging_ = false;
  ringQueue_.clear();
  callRecords_.back().ringsBeforeAnswer = ringsEmitted_;
  connected_ = true;
  callActive_ = true;
  pageIndex_ = 0;
  attempt_ = 0;
  const bool v20 = s_.dialect == fcClass2_0;
  const int64_t at = now + s_.connectDelayMs;
  Line(v20 ? "+FCO" : "+FCON", at);
  if (!call.callerId.empty()) Line((v20 ? "+FTI:\"" : "+FTSI:\"") + call.callerId + "\"", at + 100);
  Line((v20 ? "+FCS:" : "+FDCS:") + call.params, at + 150);
  Line("OK", at + 200);
}

void Class2Modem::PageRequest(int64_t now) {
  const IncomingCall& call = *Call();
  const bool v20 = s_.dialect == fcClass2_0;
  const int64_t at = now + s_.replyDelayMs;
  if (pageIndex_ >= call.pages.size()) {
    Line(v20 ? "+FHS:00" : "+FHNG:0", at + 200);
    Line("OK", at + 250);
    connected_ = false;
    EndCall();
    return;
  }
  Line("CONNECT", at + 200);
  mode_ = Mode::WaitDc2;
}

void Class2Modem::DeliverPage(int64_t now) {
  const IncomingCall& call = *Call();
  const CallerPage& page = call.pages[pageIndex_];
  const bool v20 = s_.dialect == fcClass2_0;
  CallRecord& record = callRecords_.back();
  record.dc2Seen = true;
  ++record.pagesDelivered;
  size_t count = page.data.size();
  const bool cut = page.cutAfter >= 0 && static_cast<size_t>(page.cutAfter) < count;
  if (cut) count = static_cast<size_t>(page.cutAfter);
  std::string wire;
  for (size_t i = 0; i < count; ++i) {
    uint8_t b = page.data[i];
    if (page.stuff) {
      if (!v20) b = Reverse(b);
      if (b == kDLE) wire += static_cast<char>(kDLE);
    }
    wire += static_cast<char>(b);
  }
  int64_t at = now + s_.replyDelayMs;
  for (size_t pos = 0; pos < wire.size(); pos += static_cast<size_t>(s_.pageChunkBytes)) {
    Reply(wire.substr(pos, static_cast<size_t>(s_.pageChunkBytes)), at);
    record.lastDataMs = lastDue_;
    at += s_.pageChunkMs;
  }
  const std::string end{static_cast<char>(kDLE), static_cast<char>(kETX)};
  if (cut) {
    // The line drops: the modem takes no further part in the call.
    connected_ = false;
    if (page.cutReports) {
      Reply(end, at);
      Line(v20 ? "+FHS:70" : "+FHNG:70", at + 300);
    }
    return;
  }
  Reply(end, at);
  const std::string verdict = attempt_ < page.verdicts.size() ? page.verdicts[attempt_] : "1";
  if (verdict == "ERROR") {
    Line("ERROR", at + 300);
  } else {
    const bool last = pageIndex_ + 1 == call.pages.size();
    const char fet = page.fet != 0 ? page.fet : (last ? '2' : '0');
    Line((v20 ? "+FPS:" : "+FPTS:") + verdict, at + 300);
    Line(std::string("+FET:") + fet, at + 350);
    Line("OK", at + 400);
  }
  if (verdict == "1" || verdict == "3" || verdict == "5") {
    ++pageIndex_;
    attempt_ = 0;
  } else {
    ++attempt_;
  }
}

void Class2Modem::EndCall() {
  if (!callActive_) return;
  callActive_ = false;
  connected_ = false;
  mode_ = Mode::Command;
  dle_ = false;
  ++callIndex_;
}

}  // namespace qc::test
