// Everything the engine says to the modem and reads back as text.
#include <algorithm>

#include "control/error_codes.h"
#include "fax_session.h"
#include "modem_text.h"

namespace qc {

namespace {
constexpr uint32_t kSyncPollMs = 5;
}

void FaxSession::ArmTimeout(uint32_t ticks) {
  const int t = Data().timeoutTrigger;
  if (t >= 0) port_->ArmTimerTrigger(t, std::min(ticks, kMaxTimerTicks));
}

void FaxSession::StartResponseTimer(uint32_t ticks) {
  ClassData& c = Cls();
  c.responseStart = port_->Ticks();
  c.responseExpiry = c.responseStart + std::min(ticks, kMaxTimerTicks);
}

bool FaxSession::ResponseTimerExpired() {
  const ClassData& c = Cls();
  return port_->Ticks() - c.responseStart >= c.responseExpiry - c.responseStart;
}

void FaxSession::ArmResponse() {
  ClassData& c = Cls();
  c.responseLine.clear();
  c.linePos = 0;
  c.framePos = 0;
  lineDone_ = false;
  ArmTimeout(c.responseTicks);
  StartResponseTimer(c.responseTicks);
}

static int SendCommandBody(FaxPort& port, std::string_view text) {
  for (char ch : text)
    if (int rc = port.SendByte(static_cast<uint8_t>(ch)); rc != 0) return rc;
  return port.SendByte('\r');
}

int FaxSession::SendCommand(std::string_view text) {
  port_->SleepMs(100);
  if (logSink_) logSink_("command " + std::string(text));
  const int rc = SendCommandBody(*port_, text);
  ArmResponse();
  return rc;
}

int FaxSession::SendDataCommand(std::string_view text) {
  port_->SleepMs(40);
  if (logSink_) logSink_("command " + std::string(text));
  const int rc = SendCommandBody(*port_, text);
  ArmResponse();
  return rc;
}

bool FaxSession::CollectResponse() {
  ClassData& c = Cls();
  if (lineDone_) {
    c.responseLine.clear();
    lineDone_ = false;
  }
  PatternMatcher line("\r\n");
  PatternMatcher frame("\x10\x03");
  for (uint8_t i = 0; i < c.linePos; ++i) line.Feed("\r\n"[i]);
  for (uint8_t i = 0; i < c.framePos; ++i) frame.Feed("\x10\x03"[i]);
  bool complete = false;
  bool frameEndedWait = false;
  while (!complete && port_->InputWaiting() > 0) {
    uint8_t b = 0;
    if (port_->ReadByte(b) != 0) break;
    if (c.responseLine.size() < kResponseLineMax) c.responseLine += static_cast<char>(b);
    // Inside a Class 1 HDLC frame CR LF is data, and a doubled DLE is one data byte.
    const bool inFrame = Data().faxClass == fcClass1 && !c.responseLine.empty() &&
                         static_cast<uint8_t>(c.responseLine[0]) == 0xFF;
    if (!inFrame && line.Feed(static_cast<char>(b))) {
      c.responseLine = std::string(TrimControls(c.responseLine));
      if (c.responseLine.empty()) continue;
      complete = true;
    } else {
      const bool escapedDle = b == 0x10 && frame.Position() == 1;
      if (frame.Feed(static_cast<char>(b))) {
        const uint8_t before = h_.state;
        FrameReceived();
        // A frame that moved the machine on ends this wait: the new state
        // must run now, not when the modem's next line arrives.
        if (h_.state != before) {
          frameEndedWait = true;
          break;
        }
      } else if (escapedDle) {
        frame.Reset();
      }
    }
  }
  if (frameEndedWait) {
    c.linePos = c.framePos = 0;
    c.responseLine.clear();
    lineDone_ = true;
    return true;
  }
  c.linePos = line.Position();
  c.framePos = frame.Position();
  if (!complete) return false;
  lineDone_ = true;
  if (logSink_) logSink_("response " + c.responseLine);
  CheckFatalLine();
  return true;
}

bool FaxSession::ReadSyncLine(std::string& line) {
  line.clear();
  for (;;) {
    while (port_->InputWaiting() > 0) {
      uint8_t b = 0;
      if (port_->ReadByte(b) != 0) break;
      if (b == '\r') {
        if (!line.empty()) return true;
        continue;
      }
      if (b < 32) continue;
      if (line.size() == kResponseLineMax) line.erase(0, 1);
      line += static_cast<char>(b);
    }
    if (ResponseTimerExpired()) return false;
    if (loop_ && loop_->OnOwnerThread()) loop_->ProcessPending();
    port_->SleepMs(kSyncPollMs);
  }
}

bool FaxSession::SyncCommand(std::string_view text) {
  ClassData& c = Cls();
  // Held before the command goes out so that no event procedure sees the answer.
  const bool wasHeld = port_->HoldEvents(true);
  auto done = [&](bool result) {
    port_->DiscardInput();
    port_->HoldEvents(wasHeld);
    if (logSink_) logSink_(std::string(result ? "sync ok " : "sync failed ") + std::string(text));
    return result;
  };
  if (SendCommand(text) != 0) {
    port_->HoldEvents(wasHeld);
    return false;
  }
  ArmResponse();
  std::string& line = c.responseLine;
  for (;;) {
    if (!ReadSyncLine(line)) return done(false);
    if (line != text) break;  // the modem's echo
  }
  if (logSink_) logSink_("response " + line);
  if (IsError(line)) return done(false);
  if (IsOK(line)) return done(true);
  std::string second;
  if (!ReadSyncLine(second)) return done(false);
  if (logSink_) logSink_("response " + second);
  return done(true);
}

void FaxSession::ToggleDTR() {
  port_->DiscardInput();
  port_->DiscardOutput();
  port_->SetLineSignals(false, false);
  port_->SleepMs(500);
  port_->SetLineSignals(true, true);
  port_->SleepMs(500);
}

FaxSession::DetectedClasses FaxSession::DetectClasses(bool reset) {
  ClassData& c = Cls();
  DetectedClasses r;
  const bool wasHeld = port_->HoldEvents(true);
  auto done = [&] {
    port_->HoldEvents(wasHeld);
    lastDetected_ = r;
    return r;
  };
  if (reset) {
    bool ok = false;
    for (int attempt = 0; attempt < 2 && !ok; ++attempt) {
      ToggleDTR();
      if (!SyncCommand(c.initString)) return done();
      ok = IsOK(c.responseLine);
    }
    if (!ok) return done();
  }
  if (!SyncCommand("AT+FCLASS=?")) return done();
  const ClassAnswer a = ParseClassAnswer(c.responseLine);
  r.ok = true;
  r.class1 = a.class1;
  r.class2 = a.class2;
  r.class2_0 = a.class2_0;
  return done();
}

int FaxSession::ChooseClass() {
  SessionData& d = Data();
  if (d.faxClass == fcUnknown || d.faxClass == fcDetect) {
    const DetectedClasses found = DetectClasses(true);
    d.faxClass = found.class2_0 ? fcClass2_0 : found.class2 ? fcClass2 : found.class1 ? fcClass1 : fcUnknown;
    if (logSink_) logSink_("class " + std::to_string(d.faxClass));
    if (d.faxClass == fcUnknown) return ecFaxBadModemResult;
  }
  if (d.faxClass == fcClass2 || d.faxClass == fcClass2_0) Cls().words = VocabularyFor(d.faxClass);
  return 0;
}

bool FaxSession::InitModem() {
  ClassData& c = Cls();
  if (!c.modemInit.empty() && !SyncCommand(c.modemInit)) return false;
  if (!SyncCommand(c.initString)) return false;
  c.modemInitialised = true;
  return true;
}

void FaxSession::QueryClass1Speeds(bool sending) {
  ClassData& c = Cls();
  if (!SyncCommand("AT+FCLASS=1")) return;
  c.local.Clear();
  c.local.speeds[1] = c.local.speeds[2] = true;
  c.speedIndex = 1;
  SendCommand(sending ? "AT+FTM=?" : "AT+FRM=?");
  StartResponseTimer(c.responseTicks);
  const bool wasHeld = port_->HoldEvents(true);
  std::string line;
  for (;;) {
    const bool got = ReadSyncLine(line);
    if (got && LineHas(line, ",")) {
      const uint8_t bits = ParseClass1Speeds(line);
      for (int i = kMinSpeedIndex; i <= kMaxSpeedIndex; ++i) {
        c.local.speeds[i] = (bits >> i) & 1;
        if (c.local.speeds[i]) c.speedIndex = static_cast<uint16_t>(i);
      }
    }
    if (!got || ResponseTimerExpired()) break;
    StartResponseTimer(36);
    if (IsOK(line) || IsError(line)) break;
  }
  port_->HoldEvents(wasHeld);
}

int FaxSession::Dial() {
  const SessionData& d = Data();
  const ClassData& c = Cls();
  std::string cmd = c.toneDial ? "ATDT" : "ATDP";
  cmd += c.dialPrefix;
  cmd += d.phoneNumber;
  const int rc = SendCommand(cmd);
  ArmTimeout(c.dialWaitTicks);
  return rc;
}

int FaxSession::RingLine(std::string_view line) {
  ClassData& c = Cls();
  if (LineHas(line, "RING")) {
    if (++c.ringCount >= c.answerOnRing) {
      SendCommand("ATA");
      ArmTimeout(c.dialWaitTicks);
      StartResponseTimer(c.dialWaitTicks);
    }
    return 0;
  }
  if (LineHas(line, "NO C")) {
    SetStatus(fsNoConnect);
    return 0;
  }
  if (IsConnect(line)) return ecFaxDataCall;
  if (LineHas(line, "VOICE")) return ecFaxVoiceCall;
  return 0;
}

void FaxSession::HangUp() {
  if (port_->CarrierPresent()) {
    port_->SleepMs(1000);
    const uint8_t escape[] = {'+', '+', '+'};
    port_->SendBlock(escape, sizeof escape);
    port_->SleepMs(1000);
    SendCommand("ATH0");
    port_->SleepMs(1000);
    port_->DiscardInput();
    if (port_->CarrierPresent()) ToggleDTR();
  } else {
    SendCommand("ATH0");
    port_->SleepMs(1000);
    port_->DiscardInput();
  }
}

void FaxSession::HangUpAnswered() {
  ToggleDTR();
  port_->SleepMs(1000);
  const uint8_t escape[] = {'+', '+', '+'};
  port_->SendBlock(escape, sizeof escape);
  port_->SleepMs(1000);
  SendCommand("ATH");
  port_->SleepMs(1000);
  port_->DiscardInput();
}

void FaxSession::SetBaudPair(uint32_t initBaud, uint32_t normalBaud, bool applyNow) {
  ClassData& c = Cls();
  c.initBaud = initBaud;
  c.normalBaud = normalBaud != 0 ? normalBaud : port_->CurrentBaud();
  if (applyNow) SwitchToInitBaud();
}

void FaxSession::SwitchToFaxBaud() {
  ClassData& c = Cls();
  if (c.initBaud == 0 || !c.atInitBaud) return;
  port_->SleepMs(9 * 55);
  port_->SwitchBaud(c.normalBaud);
  c.atInitBaud = false;
}

void FaxSession::SwitchToInitBaud() {
  ClassData& c = Cls();
  if (c.initBaud == 0 || c.atInitBaud) return;
  port_->SleepMs(9 * 55);
  port_->SwitchBaud(c.initBaud);
  c.atInitBaud = true;
}

}  // namespace qc
