#include "send_session.h"

#include <cctype>

#include "control/error_codes.h"
#include "header_renderer.h"
#include "modem_text.h"

namespace qc {

SendSession::SendSession() {
  Data().isSender = true;
  Data().dialAttempts = 1;
}

SendSession::~SendSession() {
  Shutdown();
  CloseTextCover();
  CloseFaxFile();
}

int SendSession::Create() {
  auto renderer = std::make_unique<HeaderRenderer>();
  if (int rc = renderer->Create(); rc != 0) return rc;
  Handle().renderer = std::move(renderer);
  return 0;
}

bool SendSession::IsResponseState(uint8_t state) const {
  return state < kSendStateCount && kSendStates[state].waitsForLine;
}

RunNext SendSession::NextRule(uint8_t state) const {
  return state < kSendStateCount ? kSendStates[state].next : RunNext::Wait;
}

int SendSession::PrepareStep() {
  SessionData& d = Data();
  ClassData& c = Cls();
  c.resolutionDigit = ' ';
  c.previousResolutionDigit = ' ';
  c.fileHeader.fill(0);
  c.filePageCount = 0;
  SetState(tfGetNextJob);
  SetStatus(fsInitializing, false);
  d.error = 0;
  NotifyStatus(1);
  d.pageBytes = 0;
  d.currentPage = 1;
  d.pageLength = 0;
  d.remoteId.clear();
  d.coverPages = 0;
  d.faxFile.clear();
  d.coverFile.clear();
  d.phoneNumber.clear();
  d.attemptsMade = 0;

  // With a baud pair the port already runs at the initialisation baud.
  if (c.initBaud == 0) Port()->SwitchBaud(19200);
  Port()->SetLineSignals(true, true);

  if (d.faxClass == fcUnknown) d.faxClass = fcDetect;
  if (ChooseClass() != 0) {
    SetError(ecFaxBadModemResult);
    return d.error;
  }
  if (!c.modemInitialised && !InitModem()) {
    SetError(ecFaxBadModemResult);
    return d.error;
  }
  if (IsClass2())
    SwitchToFaxBaud();
  else
    QueryClass1Speeds(true);
  d.prepared = true;
  return 0;
}

void SendSession::ResponseTimeout() {
  switch (State()) {
    case tfClass1PostPageAnswer:
      Port()->SendByte(' ');
      SetState(tfClass1PostPageTry);
      break;
    case tfClass1HangupSent:
      HangUp();
      SetState(tfJobDone);
      break;
    case tfClass1PostPageConnect:
      // No CONNECT to "AT+FTH=3": counted as a post-page try.
      SetState(tfClass1PostPageTry);
      break;
    default:
      SetError(ecTimeout);
      SetState(tfError);
      break;
  }
}

void SendSession::CheckFatalLine() {
  ClassData& c = Cls();
  const uint8_t s = State();
  if (IsError(c.responseLine)) {
    if (IsClass1() ? Class1LineIsFatal(s, c.responseLine) : s != tfClass2_0Verdict) {
      SetError(ecFaxBadModemResult);
      SetState(tfError);
    }
    return;
  }
  if (IsClass2() && LineHas(c.responseLine, c.words.hangupWord)) {
    if (s != tfClass2Verdict && s != tfClass2_0Verdict) {
      SetError(ecFaxBadModemResult);
      c.hangupCode = HangupCode(c.responseLine);
      SetState(tfError);
    }
  }
}

void SendSession::RunAction(int trigger) {
  switch (State()) {
    case tfGetNextJob: GetNextJob(); break;
    case tfPrepareDocument: PrepareDocument(); break;
    case tfClass2Set:
    case tfClass2_0FlowSet:
    case tfClass2_0ReportSet:
    case tfLocalIdSet:
    case tfParametersSet: Class2Setup(); break;
    case tfDial: DialState(); break;
    case tfRedialWait:
      // Only the end of the wait redials; stray input is dropped.
      if (trigger == Data().timeoutTrigger)
        SetState(tfDial);
      else
        Port()->DiscardInput();
      break;
    case tfClass2Dialing: Class2Dialing(); break;
    case tfClass2Negotiating: Class2Negotiating(); break;
    case tfWaitXon: {
      if (trigger == Data().timeoutTrigger) {
        SetState(tfWaitBufferSpace);
      } else {
        uint8_t b = 0;
        while (Port()->InputWaiting() > 0 && Port()->ReadByte(b) == 0) {
          if (b == 0x11) {
            SetState(tfWaitBufferSpace);
            break;
          }
        }
      }
      if (State() == tfWaitBufferSpace) {
        ArmOutFree();
        ArmTimeout(Cls().dataTicks);
      }
      break;
    }
    case tfWaitBufferSpace:
      if (trigger == Data().outFreeTrigger) {
        SetStatus(fsSendingPage);
        SetState(tfPageStart);
        if (Data().options & foSoftwareFlow) Port()->SetSoftwareFlow(true);
      } else if (trigger == Data().timeoutTrigger) {
        SetError(ecTimeout);
        SetState(tfError);
      }
      break;
    case tfPageStart: PageStart(); break;
    case tfCoverStart: CoverStart(); break;
    case tfTextCover: TextCover(trigger); break;
    case tfFaxPageStart: FaxPageStart(); break;
    case tfPageData: PageData(trigger); break;
    case tfDrain: Drain(trigger); break;
    case tfClass2PageSent: Class2PageSent(); break;
    case tfClass2EndOfData: Class2EndOfData(); break;
    case tfClass2Verdict: Class2Verdict(); break;
    case tfClass2Retransmit: Class2Retransmit(); break;
    case tfClass2NextPage: Class2NextPage(); break;
    case tfClass2_0Verdict: Class2_0Verdict(); break;
    case tfJobDone: JobDone(); break;
    case tfNoMoreJobs: NoMoreJobs(); break;
    case tfError: ErrorStateAction(); break;
    case tfFinished: break;
    case tfClass1Set:
    case tfClass1Dialing:
    case tfClass1SendTsi:
    case tfClass1SendDcs:
    case tfClass1TrainCommand:
    case tfClass1Training:
    case tfClass1TrainSent:
    case tfClass1TrainAnswer:
    case tfClass1PageCommand:
    case tfClass1PageSent:
    case tfClass1PostPageTry:
    case tfClass1PostPageConnect:
    case tfClass1PostPageSent:
    case tfClass1State33:
    case tfClass1PostPageAnswer:
    case tfClass1SendDcn:
    case tfClass1DcnSent:
    case tfClass1HangupSent: Class1Action(trigger); break;
    default:
      SetError(ecNotSupported);
      SetState(tfError);
      break;
  }
}

bool SendSession::DialFailed(std::string_view line) {
  if (LineHas(line, "BUSY") || LineHas(line, "ANSWER")) {
    RedialRule();
  } else if (LineHas(line, "VOICE")) {
    SetError(ecFaxVoiceCall);
    SetState(tfError);
  } else if (LineHas(line, "NO DIAL")) {
    SetError(ecFaxNoDialTone);
    SetState(tfError);
  } else {
    return false;
  }
  return true;
}

void SendSession::GetNextJob() {
  SessionData& d = Data();
  ClassData& c = Cls();
  if (!NotifyNextFax()) {
    SetState(tfNoMoreJobs);
    return;
  }
  NotifyLog(lcTransmitStarted);
  d.attemptsMade = 0;
  d.coverPending = false;
  c.coverIsFaxFile = false;
  d.pageCount = 0;
  d.coverPages = 0;
  Handle().retransmitCount = 0;
  c.hangupCode = 0;
  d.pageBytes = 0;
  d.currentPage = 1;
  d.pageLength = 0;
  d.remoteId.clear();
  // Each job is a call of its own: its pages are not held against the last job's.
  c.resolutionDigit = ' ';
  c.previousResolutionDigit = ' ';
  if (!d.faxFile.empty()) {
    if (int rc = OpenFaxFile(d.faxFile); rc != 0) {
      SetError(rc);
      SetState(tfError);
      return;
    }
    d.pageCount = c.filePageCount;
  } else if (!d.coverFile.empty()) {
    d.pageCount = 0;
  } else {
    SetError(ecNoFilename);
    SetState(tfError);
    return;
  }
  SetState(tfPrepareDocument);
  if (d.options & foSoftwareFlow) Port()->SetSoftwareFlow(false);
}

static bool HasFaxExtension(const std::string& name, const std::string& ext) {
  std::string upperName, upperExt = "." ;
  for (char ch : name) upperName += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  for (char ch : ext) upperExt += static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  return upperName.find(upperExt) != std::string::npos;
}

void SendSession::PrepareDocument() {
  SessionData& d = Data();
  ClassData& c = Cls();
  for (char& ch : d.stationId) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  firstPageWide_ = false;
  if (!d.coverFile.empty()) {
    d.coverPages = 1;
    d.coverPending = true;
    c.coverIsFaxFile = HasFaxExtension(d.coverFile, d.faxFileExt);
  }
  if (!d.faxFile.empty()) {
    int rc = SeekPage(d.currentPage);
    if (rc == 0) rc = ReadPageHeader();
    if (rc == 0) rc = ApplyPageResolution();
    if (rc != 0 && rc != ecFaxMixedResolution) {
      SetError(rc);
      SetState(tfError);
      return;
    }
    firstPageWide_ = c.pageHeader.wide;
  } else {
    c.resolutionDigit = '0';
    if (c.coverIsFaxFile) {
      if (int rc = OpenCover(); rc != 0) {
        SetError(rc);
        SetState(tfError);
        return;
      }
      c.resolutionDigit = c.pageHeader.fine ? '1' : '0';
      firstPageWide_ = c.pageHeader.wide;
      CloseFaxFile();
    }
  }
  RecomputeMinimum();
  SetStatus(fsInitializing);
  if (IsClass1()) {
    SendCommand("AT+FCLASS=1");
    SetState(tfClass1Set);
  } else {
    SendCommand(c.words.classCommand);
    SetState(tfClass2Set);
  }
}

void SendSession::DialState() {
  Handle().connectSeen = false;
  trainingRepeats_ = 0;
  Cls().lastFrameFinal = false;
  Cls().confirmationReceived = false;
  Dial();
  SetStatus(fsDialing);
  SetState(IsClass1() ? tfClass1Dialing : tfClass2Dialing);
}

void SendSession::RedialRule() {
  SessionData& d = Data();
  ++d.attemptsMade;
  if (d.dialAttempts > d.attemptsMade || d.dialAttempts == 0) {
    SetStatus(fsBusyWait);
    SetState(tfRedialWait);
    ArmTimeout(d.retryWaitTicks);
    return;
  }
  NotifyStatus(0);
  if (d.options & foAbortNoConnect) {
    SetError(ecFaxBusy);
    SetState(tfError);
    return;
  }
  CloseFaxFile();
  SetError(ecFaxBusy);
  NotifyLog(lcTransmitFailed);
  if (IsClass1()) SetStatus(fsInitializing);
  SetState(tfGetNextJob);
}

void SendSession::JobDone() {
  CloseTextCover();
  CloseFaxFile();
  Handle().retransmitCount = 0;
  Data().coverPending = false;
  SetStatus(fsFinished);
  NotifyLog(lcTransmitFinished);
  SetState(tfGetNextJob);
  SwitchToInitBaud();
}

void SendSession::NoMoreJobs() {
  NotifyStatus(2);
  Cls().modemInitialised = false;
  SetState(tfFinished);
  Finish();
}

void SendSession::ErrorStateAction() {
  SessionData& d = Data();
  CloseFaxFile();
  CloseTextCover();
  NotifyLog(lcTransmitFailed);
  HangUp();
  if ((d.options & (foExitOnError | foAbortNoConnect)) || abortEvent_) {
    SetStatus(fsUserAbort);
    NotifyStatus(2);
    Cls().modemInitialised = false;
    SwitchToInitBaud();
    SetState(tfFinished);
    Finish();
  } else {
    SetState(tfGetNextJob);
    SwitchToInitBaud();
  }
}

bool SendSession::MorePages() const {
  const SessionData& d = Data();
  return !d.faxFile.empty() && (d.coverPending || d.pageCount > d.currentPage);
}

int SendSession::HeaderPageNumber() const {
  const SessionData& d = Data();
  if (d.coverPages > 0) return d.coverPending ? 1 : d.currentPage + 1;
  return d.currentPage;
}

int SendSession::HeaderTotalPages() const {
  const SessionData& d = Data();
  return d.pageCount + d.coverPages;
}

}  // namespace qc
