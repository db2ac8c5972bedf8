#include "class1_receive_modem.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace qc::test {

namespace {
constexpr uint8_t kDLE = 0x10, kETX = 0x03;
constexpr int kSplitGapMs = 15;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// T.30 DCS data signalling rate, bits 11 to 14 of octet 2 (0x04 = bit 11):
// V.27 ter 2400 / 4800, V.29 7200 / 9600, V.17 12000 / 14400.
constexpr uint8_t kDcsRateBits[7] = {0, 0x00, 0x08, 0x0C, 0x04, 0x28, 0x20};
constexpr const char* kModulations[7] = {"", "24", "48", "72", "96", "121", "145"};
constexpr int kBitRates[7] = {0, 2400, 4800, 7200, 9600, 12000, 14400};

// The HDLC frame check sequence (ISO 13239 CRC-16, sent low byte first).
uint16_t Fcs(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0x8408) : crc >> 1;
  }
  return static_cast<uint16_t>(~crc);
}

std::string Stuffed(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t b : bytes) {
    s += static_cast<char>(b);
    if (b == kDLE) s += static_cast<char>(kDLE);
  }
  return s;
}

int BitRateOf(const std::string& modulation) {
  for (int i = 1; i <= 6; ++i)
    if (modulation == kModulations[i]) return kBitRates[i];
  // V.17 at 7200 and 9600 (T.31 Table 5).
  return modulation == "73" ? 7200 : 9600;
}
}  // namespace

std::string ModulationOf(int speedIndex) {
  if (speedIndex < 1 || speedIndex > 6) throw std::out_of_range("speed index");
  return kModulations[speedIndex];
}

CallerItem Frame(uint8_t fcf, std::vector<uint8_t> info, bool final) {
  CallerItem item;
  item.kind = CallerItem::Kind::Frame;
  item.fcf = fcf;
  item.info = std::move(info);
  item.final = final;
  return item;
}

CallerItem IdFrame(uint8_t fcf, const std::string& id, bool final) {
  std::string padded = std::string(20 - std::min<size_t>(id.size(), 20), ' ') + id.substr(0, 20);
  std::vector<uint8_t> info(padded.rbegin(), padded.rend());
  return Frame(fcf, std::move(info), final);
}

CallerItem Dcs(int speedIndex, bool fine, bool wide) {
  if (speedIndex < 1 || speedIndex > 6) throw std::out_of_range("speed index");
  return DcsWithRate(kDcsRateBits[speedIndex], fine, wide);
}

CallerItem DcsWithRate(uint8_t rateBits, bool fine, bool wide) {
  // Octet 2: bit 10 (receiver operation), the rate, bit 15 (fine).
  const uint8_t octet2 = static_cast<uint8_t>(0x02 | rateBits | (fine ? 0x40 : 0));
  // Octet 3: bit 17 for 2048 pels; bits 21 to 23 clear (20 ms).
  const uint8_t octet3 = wide ? 0x01 : 0x00;
  return Frame(0x83, {0x00, octet2, octet3}, true);
}

CallerItem Training(const std::string& modulation, int bytes, int nonZero) {
  CallerItem item;
  item.kind = CallerItem::Kind::HighSpeed;
  item.modulation = modulation;
  item.data.assign(static_cast<size_t>(bytes), 0);
  // Spread over the burst, DLE among them (it reaches the host doubled).
  static constexpr uint8_t kValues[] = {0x01, 0x10, 0x80, 0xFF, 0x03};
  for (int i = 0; i < nonZero; ++i)
    item.data[static_cast<size_t>(static_cast<int64_t>(i) * bytes / nonZero)] = kValues[i % 5];
  return item;
}

CallerItem Page(const std::string& modulation, std::vector<uint8_t> data) {
  CallerItem item;
  item.kind = CallerItem::Kind::HighSpeed;
  item.modulation = modulation;
  item.data = std::move(data);
  return item;
}

CallerItem Text(const std::string& text, int delayMs) {
  CallerItem item;
  item.kind = CallerItem::Kind::Text;
  item.text = "\r\n" + text + "\r\n";
  item.delayMs = delayMs;
  return item;
}

CallerItem Silence() { return CallerItem{}; }

Class1Modem::Class1Modem(Class1Script script)
    : s_(std::move(script)), caller_(s_.caller.begin(), s_.caller.end()) {}

std::vector<uint8_t> Class1Modem::FrameFcfs() const {
  std::vector<uint8_t> fcfs;
  for (const HostFrame& f : frames_) fcfs.push_back(f.fcf);
  return fcfs;
}

void Class1Modem::Emit(const std::string& bytes, int64_t at, bool split) {
  // Bytes keep their order even when a later piece is due sooner.
  at = std::max(at, lastDue_);
  if (!split || s_.splitBytes <= 0) {
    out_.emplace_back(at, bytes);
    lastDue_ = at;
    return;
  }
  for (size_t i = 0; i < bytes.size(); i += static_cast<size_t>(s_.splitBytes)) {
    out_.emplace_back(at, bytes.substr(i, static_cast<size_t>(s_.splitBytes)));
    lastDue_ = at;
    at += kSplitGapMs;
  }
}

std::string Class1Modem::TakeOutput(int64_t nowMs) {
  if (ringing_ && !inCall_ && mode_ == Mode::Command && rings_ < s_.ringsBeforeSilence &&
      !commands_.empty() && nowMs - lastHostByte_ >= 1000 && nowMs >= nextRing_ && out_.empty()) {
    ++rings_;
    nextRing_ = nowMs + s_.ringIntervalMs;
    Line("RING", nowMs);
  }
  std::string bytes;
  while (!out_.empty() && out_.front().first <= nowMs) {
    bytes += out_.front().second;
    out_.pop_front();
  }
  return bytes;
}

void Class1Modem::EndCall() {
  if (inCall_) hungUp_ = true;
  inCall_ = false;
  ringing_ = false;
  mode_ = Mode::Command;
  listenForever_ = false;
  frame_.clear();
  frameDle_ = false;
}

void Class1Modem::DtrChanged(bool on, int64_t nowMs) {
  if (on || !inCall_) return;
  // Whatever the modem was still going to say is lost with the call.
  while (!out_.empty() && out_.back().first > nowMs) out_.pop_back();
  lastDue_ = nowMs;
  EndCall();
  command_.clear();
}

void Class1Modem::FromHost(const uint8_t* data, size_t n, int64_t now) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    lastHostByte_ = now;
    if (mode_ == Mode::Listening && !listenForever_ && now >= listenEnds_) mode_ = Mode::Command;
    switch (mode_) {
      case Mode::Listening:
        // Any byte ends the reception; the rest of the caller's transmission
        // is not delivered.
        while (!out_.empty() && out_.back().first > now) out_.pop_back();
        lastDue_ = now;
        ++aborts_;
        listenForever_ = false;
        mode_ = Mode::Command;
        Line("OK", now + 20);
        break;
      case Mode::HdlcTransmit:
        HostFrameByte(b, now);
        break;
      case Mode::Command:
        if (b == '\r') {
          if (!command_.empty()) Command(command_, now);
          command_.clear();
        } else if (b >= 32) {
          command_ += static_cast<char>(b);
          if (command_ == "+++") {
            commands_.push_back(command_);
            command_.clear();
            Line("OK", now + 1000);
          }
        }
        break;
    }
  }
}

void Class1Modem::HostFrameByte(uint8_t b, int64_t now) {
  if (frameDle_) {
    frameDle_ = false;
    if (b == kETX) {
      HostFrame f;
      if (frame_.size() >= 3) {
        f.control = frame_[1];
        f.fcf = frame_[2];
        f.info.assign(frame_.begin() + 3, frame_.end());
      }
      frames_.push_back(f);
      // V.21 carries 300 bit/s: the frame is on the line for a while.
      const int64_t at = now + 20 + static_cast<int64_t>(frame_.size() + 4) * 27;
      frame_.clear();
      if (f.control & 0x10) {
        mode_ = Mode::Command;
        Line("OK", at);
      } else {
        Line("CONNECT", at);
      }
      return;
    }
    frame_.push_back(b);  // DLE DLE (or a stray pair) stands for the byte
    return;
  }
  if (b == kDLE) {
    frameDle_ = true;
    return;
  }
  frame_.push_back(b);
}

void Class1Modem::Command(const std::string& raw, int64_t now) {
  const std::string cmd = Upper(raw);
  // Text that does not start with AT (a second carriage return, the rest of
  // a command whose first byte ended a reception) is not a command.
  if (cmd.rfind("AT", 0) != 0) return;
  commands_.push_back(raw);
  const int64_t at = now + 30;
  if (!s_.silentPrefix.empty() && cmd.rfind(Upper(s_.silentPrefix), 0) == 0) return;
  for (const std::string& p : s_.errorCommands)
    if (cmd.rfind(Upper(p), 0) == 0) {
      Line("ERROR", at);
      return;
    }
  if (cmd == "AT+FCLASS=?") {
    Line(s_.classAnswer, at);
    Line("OK", at);
  } else if (cmd == "AT+FRM=?" || cmd == "AT+FTM=?") {
    Line(s_.speedAnswer, at);
    Line("OK", at);
  } else if (cmd == "ATA") {
    ringing_ = false;
    if (!s_.answerConnects) return;
    inCall_ = true;
    mode_ = Mode::HdlcTransmit;
    frame_.clear();
    frameDle_ = false;
    Line("CONNECT", now + s_.connectDelayMs);
  } else if (cmd == "AT+FTH=3") {
    if (!inCall_) {
      Line("ERROR", at);
      return;
    }
    mode_ = Mode::HdlcTransmit;
    frame_.clear();
    frameDle_ = false;
    Line("CONNECT", now + 100);
  } else if (cmd == "AT+FRH=3") {
    Listen(true, "3", now);
  } else if (cmd.rfind("AT+FRM=", 0) == 0) {
    Listen(false, cmd.substr(7), now);
  } else if (cmd.rfind("ATH", 0) == 0) {
    EndCall();
    Line("OK", at);
  } else {
    Line("OK", at);
  }
}

void Class1Modem::Listen(bool hdlc, const std::string& modulation, int64_t now) {
  const std::string what = hdlc ? "AT+FRH=3" : "AT+FRM=" + modulation;
  if (!inCall_) {
    Line("NO CARRIER", now + 30);
    return;
  }
  mode_ = Mode::Listening;
  listenForever_ = false;
  if (caller_.empty()) {
    listenForever_ = true;
    return;
  }
  CallerItem item = caller_.front();
  const int64_t t0 = now + item.delayMs;
  switch (item.kind) {
    case CallerItem::Kind::Silence:
      caller_.pop_front();
      listenForever_ = true;
      return;
    case CallerItem::Kind::Text:
      caller_.pop_front();
      Emit(item.text, t0, false);
      listenEnds_ = lastDue_;
      return;
    case CallerItem::Kind::Frame: {
      if (!hdlc) {
        // A V.21 carrier where a high-speed one was asked for.
        mismatches_.push_back(what + " while the caller sends frame " + std::to_string(item.fcf));
        Line("+FCERROR", t0);
        listenEnds_ = lastDue_;
        return;
      }
      caller_.pop_front();
      std::vector<uint8_t> bytes;
      bytes.reserve(item.info.size() + 5);
      bytes.push_back(0xFF);
      bytes.push_back(item.final ? 0x13 : 0x03);
      bytes.push_back(item.fcf);
      for (uint8_t b : item.info) bytes.push_back(b);
      const uint16_t fcs = Fcs(bytes);
      if (item.badFcs) {
        bytes.push_back(static_cast<uint8_t>(~fcs & 0xFF));
        bytes.push_back(static_cast<uint8_t>(~fcs >> 8));
      } else {
        bytes.push_back(static_cast<uint8_t>(fcs & 0xFF));
        bytes.push_back(static_cast<uint8_t>(fcs >> 8));
      }
      Line("CONNECT", t0);
      const int64_t onLine = static_cast<int64_t>(bytes.size()) * 27;
      Emit(Stuffed(bytes) + std::string{static_cast<char>(kDLE), static_cast<char>(kETX)}, t0 + 40, true);
      Line(item.badFcs ? "ERROR" : "OK", t0 + 40 + onLine);
      listenEnds_ = lastDue_;
      return;
    }
    case CallerItem::Kind::HighSpeed: {
      if (hdlc || modulation != item.modulation) {
        mismatches_.push_back(what + " while the caller sends at " + item.modulation);
        if (hdlc) {
          Line("+FCERROR", t0);
          listenEnds_ = lastDue_;
        } else {
          listenForever_ = true;  // the modem never hears a carrier it knows
        }
        return;
      }
      caller_.pop_front();
      Line("CONNECT", t0);
      // The data arrives at the line rate in 10 ms pieces, cut wherever the
      // rate falls (a doubled DLE may straddle two of them).
      const size_t perPiece = std::max<size_t>(1, static_cast<size_t>(BitRateOf(modulation) / 800));
      std::string stream = Stuffed(item.data) + static_cast<char>(kDLE);
      int64_t t = t0 + 20;
      for (size_t i = 0; i < stream.size(); i += perPiece, t += 10) Emit(stream.substr(i, perPiece), t, false);
      // With split delivery the ETX comes well after its DLE.
      t += s_.splitBytes > 0 ? 30 : 0;
      Emit(std::string(1, static_cast<char>(kETX)), t, false);
      Line("NO CARRIER", t + 20);
      listenEnds_ = lastDue_;
      return;
    }
  }
}

}  // namespace qc::test
