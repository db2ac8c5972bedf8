#include "class1_modem.h"

#include <algorithm>
#include <cctype>

#include "class1_frames.h"

namespace qc::test {

namespace {
constexpr uint8_t kDLE = 0x10, kETX = 0x03;
// V.21 channel 2 carries 300 bit/s; a frame's bytes, flags and FCS take
// about 27 ms each.
constexpr int kFrameByteMs = 27;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

bool Matches(const std::string& expect, const std::string& action) {
  if (!expect.empty() && expect.back() == '*')
    return action.rfind(expect.substr(0, expect.size() - 1), 0) == 0;
  return expect == action;
}

bool HasConnect(const ModemReply& r) {
  return std::any_of(r.begin(), r.end(),
                     [](const ModemOut& o) { return o.bytes.find("CONNECT") != std::string::npos; });
}

// Bit lengths from one EOL's end to the next (first coded bit in bit 0),
// with the run of bare EOLs of the RTC at the end left out.
std::vector<int> LineBits(const std::vector<uint8_t>& data) {
  std::vector<int> lengths;
  long zeros = 0, previous = -1;
  for (size_t i = 0; i < data.size() * 8; ++i) {
    const bool one = (data[i / 8] >> (i % 8)) & 1;
    if (!one) {
      ++zeros;
      continue;
    }
    if (zeros >= 11) {
      const long end = static_cast<long>(i) + 1;
      if (previous >= 0) lengths.push_back(static_cast<int>(end - previous));
      previous = end;
    }
    zeros = 0;
  }
  while (!lengths.empty() && lengths.back() == 12) lengths.pop_back();
  return lengths;
}

}  // namespace

ModemReply operator+(ModemReply a, const ModemReply& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

ModemReply Say(const std::string& text, int delayMs) { return {{delayMs, "\r\n" + text + "\r\n"}}; }

ModemReply Frame(const std::vector<uint8_t>& bytes, int delayMs, const std::string& result) {
  std::string stuffed;
  for (uint8_t b : bytes) {
    stuffed += static_cast<char>(b);
    if (b == kDLE) stuffed += static_cast<char>(kDLE);
  }
  stuffed += static_cast<char>(kDLE);
  stuffed += static_cast<char>(kETX);
  const int airtime = kFrameByteMs * static_cast<int>(bytes.size() + 4);
  return {{delayMs + airtime, stuffed}, {0, "\r\n" + result + "\r\n"}};
}

ModemReply Pause(int ms) { return {{ms, ""}}; }

std::vector<uint8_t> RemoteIdFrame(uint8_t fcf, const std::string& number, bool final) {
  std::vector<uint8_t> f{0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), fcf};
  // Twenty characters, the number at the right, sent from its last character.
  for (size_t i = 0; i < 20; ++i)
    f.push_back(i < number.size() ? static_cast<uint8_t>(number[number.size() - 1 - i]) : ' ');
  return f;
}

std::vector<uint8_t> RemoteDis(uint8_t octet2, uint8_t octet3, bool final) {
  return {0xFF, static_cast<uint8_t>(final ? 0x13 : 0x03), 0x80, 0x00, octet2, octet3, 0x00};
}

std::vector<uint8_t> RemoteShort(uint8_t fcf) { return {0xFF, 0x13, fcf}; }

Class1Modem::Class1Modem(std::vector<Step> steps, Class1Setup setup)
    : steps_(std::move(steps)), setup_(std::move(setup)) {}

void Class1Modem::Queue(const ModemReply& reply, int64_t now, int tag) {
  int64_t t = now;
  for (const ModemOut& o : reply) {
    t += o.delayMs;
    const int64_t due = std::max(t, lastDue_);
    lastDue_ = due;
    out_.push_back({due, o.bytes, tag});
  }
}

std::string Class1Modem::TakeOutput(int64_t nowMs) {
  std::string bytes;
  while (!out_.empty() && out_.front().due <= nowMs) {
    const Pending p = out_.front();
    out_.pop_front();
    bytes += p.bytes;
    if (p.tag == listenTag_ &&
        std::none_of(out_.begin(), out_.end(), [&](const Pending& q) { return q.tag == listenTag_; }))
      listenTag_ = -1;  // the reception ended with its result
  }
  return bytes;
}

bool Class1Modem::Act(const std::string& action, int64_t now, bool listenAfter) {
  actions_.push_back(action);
  const int tag = ++tags_;
  ModemReply reply;
  bool matched = false;
  if (next_ < steps_.size()) {
    const Step& step = steps_[next_];
    if (Matches(step.expect, action)) {
      matched = true;
      reply = step.reply;
      ++next_;
    } else {
      mismatches_.push_back("step " + std::to_string(next_ + 1) + ": expected " + step.expect + ", got " +
                            action);
      reply = Say("ERROR", setup_.replyDelayMs);
    }
  } else {
    extras_.push_back(action);
    reply = Say("OK", setup_.replyDelayMs);
  }
  Queue(reply, now, tag);
  if (matched && listenAfter) listenTag_ = tag;

  // What the modem does next follows its own answer.
  if (!matched) {
    mode_ = Mode::Command;
  } else if (action == "AT+FTH=3") {
    mode_ = HasConnect(reply) ? Mode::HdlcSend : Mode::Command;
  } else if (action.rfind("AT+FTM=", 0) == 0) {
    mode_ = HasConnect(reply) ? Mode::DataSend : Mode::Command;
    modulation_ = action.substr(7);
  }
  dle_ = false;
  block_.clear();
  lastReply_ = reply;
  return matched;
}

void Class1Modem::Command(const std::string& raw, int64_t now) {
  const std::string cmd = Upper(raw);
  commands_.push_back(cmd);
  if (!dialled_ && cmd.rfind("ATD", 0) != 0) {
    const int64_t at = now + setup_.replyDelayMs;
    if (cmd == "AT+FCLASS=?") {
      Queue(Say(setup_.classAnswer) + Say("OK"), at, 0);
    } else if (cmd == "AT+FTM=?" || cmd == "AT+FRM=?") {
      Queue(Say(setup_.ftmAnswer) + Say("OK"), at, 0);
    } else if (cmd.rfind("AT+FCLASS=2", 0) == 0 || cmd.rfind("AT", 0) != 0) {
      Queue(Say("ERROR"), at, 0);
    } else {
      Queue(Say("OK"), at, 0);
    }
    return;
  }
  dialled_ = true;
  const bool listens = cmd == "AT+FRH=3" || cmd.rfind("ATD", 0) == 0;
  Act(cmd, now, listens);
}

void Class1Modem::EndFrame(int64_t now) {
  const std::vector<uint8_t> frame = block_;
  hostFrames_.push_back(frame);
  const bool final = frame.size() > 1 && (frame[1] & 0x10);
  const std::string name = frame.size() > 2 ? "frame:" + FcfName(frame[2]) : "frame:?";
  const bool matched = Act(name, now);
  // A frame that is not the last keeps the transmitter on when the modem
  // asks for the next one with CONNECT.
  mode_ = matched && !final && HasConnect(lastReply_) ? Mode::HdlcSend : Mode::Command;
}

void Class1Modem::EndData(int64_t now) {
  const bool zeros = std::all_of(block_.begin(), block_.end(), [](uint8_t b) { return b == 0; });
  DataBlock block{modulation_, block_};
  (zeros ? trainings_ : pageData_).push_back(std::move(block));
  Act(zeros ? "train" : "page", now);
  mode_ = Mode::Command;
}

void Class1Modem::FromHost(const uint8_t* data, size_t n, int64_t now) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = data[i];
    if (listenTag_ >= 0) {
      // Any character ends a reception or a dial; its result is not given.
      const int tag = listenTag_;
      listenTag_ = -1;
      out_.erase(std::remove_if(out_.begin(), out_.end(), [&](const Pending& p) { return p.tag == tag; }),
                 out_.end());
      lastDue_ = out_.empty() ? now : out_.back().due;
      command_.clear();
      Act("abort", now);
      continue;
    }
    switch (mode_) {
      case Mode::HdlcSend:
      case Mode::DataSend:
        if (dle_) {
          dle_ = false;
          if (b == kDLE) {
            block_.push_back(b);
          } else if (b == kETX) {
            if (mode_ == Mode::HdlcSend)
              EndFrame(now);
            else
              EndData(now);
            block_.clear();
          }
        } else if (b == kDLE) {
          dle_ = true;
        } else {
          block_.push_back(b);
        }
        break;
      case Mode::Command:
        if (b == '\r') {
          if (!command_.empty()) Command(command_, now);
          command_.clear();
        } else if (b > 32 || (b == ' ' && !command_.empty())) {
          command_ += static_cast<char>(b);
        }
        break;
    }
  }
}

std::vector<Class1Page> Class1Modem::Pages() const {
  std::vector<Class1Page> pages;
  for (const DataBlock& block : pageData_) {
    Class1Page page;
    TFaxLineDecoder decoder;
    decoder.SetLineSink([&](const uint8_t* line, int bytes) { page.rows.emplace_back(line, line + bytes); });
    decoder.StartPage();
    decoder.DecodeBytes(block.bytes.data(), block.bytes.size());
    page.badCodes = decoder.BadCodes();
    page.lineBits = LineBits(block.bytes);
    pages.push_back(std::move(page));
  }
  return pages;
}

std::string Class1Modem::Transcript() const {
  std::string text;
  for (const std::string& a : actions_) text += "  " + a + "\n";
  for (const std::string& m : mismatches_) text += "  MISMATCH " + m + "\n";
  if (StepsLeft() > 0) text += "  steps left: " + std::to_string(StepsLeft()) + " (next " + steps_[next_].expect + ")\n";
  return text;
}

}  // namespace qc::test
