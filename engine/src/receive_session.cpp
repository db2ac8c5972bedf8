#include "receive_session.h"

#include "control/error_codes.h"
#include "modem_text.h"

namespace qc {

ReceiveSession::ReceiveSession() {
  Data().isSender = false;
  Data().faxClass = fcDetect;
  Handle().startState = rfNewCall;
}

ReceiveSession::~ReceiveSession() {
  Shutdown();
  CloseReceiveFile();
}

bool ReceiveSession::IsResponseState(uint8_t state) const {
  return state < kReceiveStateCount && kReceiveStates[state].waitsForLine;
}

RunNext ReceiveSession::NextRule(uint8_t state) const {
  return state < kReceiveStateCount ? kReceiveStates[state].next : RunNext::Wait;
}

bool ReceiveSession::StatusWanted() const {
  // Between calls the owner hears nothing unless it asked for constant status.
  return Handle().firstStatusSent || Handle().constantStatus;
}

void ReceiveSession::TimeoutOff() { ArmTimeout(kMaxTimerTicks); }

void ReceiveSession::ReceiveFlow(bool on) {
  if (Data().options & foSoftwareFlow) Port()->SetReceiveFlow(on);
}

int ReceiveSession::PrepareStep() {
  SessionData& d = Data();
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  SetState(rfNewCall);
  d.error = 0;
  d.status = 0;
  h.firstStatusSent = false;
  CloseReceiveFile();
  d.faxFile.clear();

  if (c.initBaud == 0) Port()->SwitchBaud(19200);
  Port()->SetLineSignals(true, true);
  if (d.faxClass == fcUnknown) d.faxClass = fcDetect;
  if (ChooseClass() != 0) {
    SetError(ecFaxBadModemResult);
    return d.error;
  }
  const bool wasHeld = Port()->HoldEvents(true);
  // A modem that fails here fails again in the states, where the error is
  // reported with the call; so the step itself stays quiet.
  auto setup = [&]() -> bool {
    if (!c.modemInitialised && !InitModem()) return false;
    if (IsClass1()) {
      if (!SyncCommand("AT+FCLASS=1")) return false;
      SwitchToFaxBaud();
      QueryClass1Speeds(false);
      while (c.speedIndex > kMinSpeedIndex && kSpeeds[c.speedIndex].bitRate > c.desiredBps) --c.speedIndex;
      return true;
    }
    if (!SyncCommand(c.words.classCommand)) return false;
    SwitchToFaxBaud();
    if (!SyncCommand("AT+FCR=1")) return false;
    if (!SyncCommand(LocalIdCommand(c.words, d.stationId))) return false;
    return SyncCommand(std::string("AT+FAA=") + c.dataAnswerDigit);
  };
  if (!setup()) Log("receive setup incomplete; the call states try again");
  d.prepared = true;
  Port()->DiscardInput();
  Port()->HoldEvents(wasHeld);
  return 0;
}

void ReceiveSession::ResponseTimeout() {
  if (IsClass1ReceiveState(State()) && Class1Timeout()) return;
  SetError(ecTimeout);
  SetState(rfError);
}

void ReceiveSession::CheckFatalLine() {
  ClassData& c = Cls();
  const uint8_t s = State();
  if (IsError(c.responseLine)) {
    if (s != rfClass2AfterPage && !(IsClass1() && Class1ErrorHandled(s, c.responseLine))) {
      SetError(ecFaxBadModemResult);
      SetState(rfError);
    }
    return;
  }
  if (IsClass2() && LineHas(c.responseLine, c.words.hangupWord) && s != rfClass2Hangup) {
    c.hangupCode = HangupCode(c.responseLine);
    SetError(ecFaxSessionError);
    SetState(rfError);
  }
}

void ReceiveSession::RunAction(int trigger) {
  const uint8_t s = State();
  if (IsClass1ReceiveState(s)) {
    Class1Action(trigger);
    return;
  }
  switch (s) {
    case rfNewCall: NewCall(); break;
    case rfClass2Set:
    case rfClass2_0FlowSet:
    case rfClass2_0ReportSet:
    case rfClass2Ready: Class2Setup(); break;
    case rfWaitForCall: WaitForCall(); break;
    case rfAnswer: AnswerCall(); break;
    case rfClass2Answered: Class2Answered(); break;
    case rfClass2Identification: Class2Identification(); break;
    case rfClass2PageRequest: Class2PageRequest(); break;
    case rfPageStart: PageStart(); break;
    case rfPageData: PageData(trigger); break;
    case rfClass2AfterPage: Class2AfterPage(); break;
    case rfClass2Hangup: Class2Hangup(); break;
    case rfCallDone: CallDone(); break;
    case rfError: ErrorStateAction(); break;
    case rfFinished: break;
    default:
      SetError(ecFaxSessionError);
      SetState(rfError);
      break;
  }
}

void ReceiveSession::NewCall() {
  SessionData& d = Data();
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  h.previousByte = 0xFF;
  c.receiveFill = 0;
  c.responseLine.clear();
  h.documentMode = dmNewDocument;
  d.currentPage = 0;
  c.ringCount = 0;
  c.retryCounter = 0;
  c.hangupCode = 0;
  d.pageBytes = 0;
  d.remoteId.clear();
  d.phoneNumber.clear();
  d.faxFile.clear();
  pageInProgress_ = false;
  if (h.constantStatus && !h.firstStatusSent) {
    h.firstStatusSent = true;
    NotifyStatus(1);
  }
  if (d.options & foSoftwareFlow) Port()->SetReceiveFlow(false);
  Port()->SetLineSignals(true, true);
  if (IsClass1()) {
    SendCommand("AT+FCLASS=1");
    SetState(rfClass1Set);
  } else {
    SendCommand(c.words.classCommand);
    SetState(rfClass2Set);
  }
  ArmTimeout(c.responseTicks);
}

void ReceiveSession::WaitForCall() {
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  const std::string line = c.responseLine;
  if (LineHas(line, "RING")) {
    // Rings come every few seconds; after a longer silence the caller has
    // given up and this RING is the first of another call.
    const uint32_t now = Port()->Ticks();
    if (c.ringCount > 0 && now - lastRingTick_ > kRingGapTicks) c.ringCount = 0;
    lastRingTick_ = now;
    ++c.ringCount;
    c.responseLine.clear();
    if (c.ringCount < c.answerOnRing) return;
    h.documentMode = dmNewDocument;
    SetState(rfAnswer);
    if (!h.firstStatusSent) {
      h.firstStatusSent = true;
      NotifyStatus(1);
    }
    ArmTimeout(c.responseTicks);
  } else if (LineHas(line, "NO C")) {
    SetStatus(fsNoConnect);
    c.responseLine.clear();
  } else if (IsConnect(line)) {
    SetError(ecFaxDataCall);
    SetState(rfError);
  } else if (LineHas(line, "VOICE")) {
    SetError(ecFaxVoiceCall);
    SetState(rfError);
  } else {
    // No timeout runs while waiting for a call: a stray line must not turn
    // into a failed call and a hang-up.
    c.responseLine.clear();
  }
}

void ReceiveSession::AnswerCall() {
  ClassData& c = Cls();
  SendCommand("ATA");
  ArmTimeout(c.dialWaitTicks);
  StartResponseTimer(c.dialWaitTicks);
  SetStatus(fsAnswering);
  SetState(IsClass1() ? rfClass1Answering : rfClass2Answered);
}

bool ReceiveSession::AcceptCall() {
  SessionData& d = Data();
  ClassData& c = Cls();
  if (!NotifyAccept()) {
    if (IsClass2()) {
      const uint8_t cmd[] = {'A', 'T', '+', 'F', 'K', 'S', '\r'};
      Port()->SendBlock(cmd, sizeof cmd);
      // The hang-up that follows discards unsent output: the modem must have
      // the command first.
      for (int waited = 0; waited < 1000 && Port()->OutputWaiting() > 0; waited += 10) Port()->SleepMs(10);
    }
    SetError(ecFileRejected);
    HangUpAnswered();
    c.forceStatus = true;
    NotifyLog(lcReceiveSkipped);
    SetState(rfError);
    return false;
  }
  if (int rc = OpenReceiveFile(); rc != 0) {
    SetError(rc);
    SetState(rfError);
    return false;
  }
  NotifyLog(lcReceiveStarted);
  Handle().documentMode = dmNextPage;
  d.currentPage = 0;
  return true;
}

void ReceiveSession::EndOfDocument() {
  CloseReceiveFile();
  NotifyLog(lcReceiveFinished);
  Data().faxFile.clear();
  SetStatus(fsGettingHangup);
}

void ReceiveSession::CallDone() {
  SessionHandle& h = Handle();
  // A document the class phases left open is complete all the same.
  if (FileOpen()) EndOfDocument();
  SwitchToInitBaud();
  if (h.oneFax) {
    // The owner's status display closes with the call it was opened for.
    if (h.firstStatusSent) NotifyStatus(2);
    h.firstStatusSent = false;
    Cls().modemInitialised = false;
    SetState(rfFinished);
    Finish();
    return;
  }
  if (!h.constantStatus) {
    NotifyStatus(2);
    h.firstStatusSent = false;
  }
  SetState(rfNewCall);
}

void ReceiveSession::ErrorStateAction() {
  SessionData& d = Data();
  SessionHandle& h = Handle();
  if (!d.faxFile.empty() || FileOpen()) {
    if (pageInProgress_) {
      // What arrived of the page is kept: the buffer first, then the headers.
      if (int rc = WriteBuffer(); rc != 0) Log("page data lost: write failed");
      if (int rc = FinishPage(); rc != 0) Log("page headers not completed: write failed");
    }
    CloseReceiveFile();
    NotifyLog(lcReceiveFailed);
    d.faxFile.clear();
  }
  HangUpAnswered();
  if ((h.firstStatusSent && !h.constantStatus) || abortEvent_) {
    NotifyStatus(2);
    h.firstStatusSent = false;
  }
  if ((d.options & foExitOnError) || abortEvent_) {
    Cls().modemInitialised = false;
    SetState(rfFinished);
    Finish();
    return;
  }
  SetState(rfNewCall);
}

}  // namespace qc
