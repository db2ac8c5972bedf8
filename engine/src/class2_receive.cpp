// The receive machine's Class 2 and Class 2.0 phases: announcing the receive
// capabilities, the modem's reports after it has answered, "AT+FDR" for each
// page, the page verdicts, the end-of-page reports and the hangup report.
#include "control/error_codes.h"
#include "modem_text.h"
#include "receive_session.h"

namespace qc {

namespace {

// What the receiver can take: fine resolution, normal width, any length,
// one-dimensional coding, no file transfer, any scan time (the vr,br,wd,ln,
// df,ec,bf,st list of "+FDCC" / "+FCC").
std::string CapabilitiesCommand(const Class2Vocabulary& words, uint32_t desiredBps, char ecmDigit) {
  std::string s = words.capabilitiesCommand;
  s += "=1,";
  s += RateDigit(desiredBps);
  s += ",0,2,0,";
  s += ecmDigit;
  s += ",0,0";
  return s;
}

void ApplyParameters(ClassData& c, const SessionParameters& p) {
  c.bitRate = p.bitRate;
  c.sessionFine = c.remoteFine = p.fine;
  c.sessionWide = c.remoteWide = p.wide;
  c.sessionEcm = p.errorCorrection;
  c.scanTimeCode = p.scanTimeCode;
}

// The document mode an end-of-page report's value gives.
uint8_t DocumentModeFor(char value) {
  switch (value) {
    case '0': return dmNextPage;
    case '1': return dmNewDocument;
    case '2': return dmEndOfCall;
    case '3': return dmEndOfMessage;
    default: return dmOther;
  }
}

}  // namespace

void ReceiveSession::Class2Setup() {
  ClassData& c = Cls();
  if (!IsOK(c.responseLine)) {
    SetError(ecFaxInitError);
    SetState(rfError);
    return;
  }
  switch (State()) {
    case rfClass2Set:
      SwitchToFaxBaud();
      SendCommand(CapabilitiesCommand(c.words, c.desiredBps, c.ecmDigit));
      SetState(IsClass2_0() ? rfClass2_0FlowSet : rfClass2Ready);
      break;
    case rfClass2_0FlowSet:
      SendCommand("AT+FLO=2");
      SetState(rfClass2_0ReportSet);
      break;
    case rfClass2_0ReportSet:
      SendCommand("AT+FNR=1,1,1,0");
      SetState(rfClass2Ready);
      break;
    case rfClass2Ready:
      SetState(rfWaitForCall);
      TimeoutOff();
      SetStatus(fsWaitingForCall);
      c.responseLine.clear();
      break;
    default:
      break;
  }
}

void ReceiveSession::Class2Answered() {
  ClassData& c = Cls();
  if (LineHas(c.responseLine, c.words.connectionReport)) {
    ArmTimeout(c.responseTicks);
    SetStatus(fsCallIsFax, false);
    SetState(rfClass2Identification);
  } else {
    // Still under the time "ATA" was given to connect.
    c.responseLine.clear();
  }
}

void ReceiveSession::Class2Identification() {
  SessionData& d = Data();
  ClassData& c = Cls();
  const std::string line = c.responseLine;
  if (LineHas(line, c.words.transmitterIdReport)) {
    ArmTimeout(c.responseTicks);
    d.remoteId = TrimRemoteID(StripPrefix(line)).substr(0, kStationIdMax);
    if (!AcceptCall()) return;
    SetStatus(fsGotRemoteId);
  } else if (LineHas(line, c.words.parametersReport)) {
    ArmTimeout(c.responseTicks);
    ApplyParameters(c, DecodeParameters(StripPrefix(line)));
    SetStatus(fsConnectionParams);
  } else if (IsOK(line)) {
    SendCommand("AT+FDR");
    c.forceStatus = true;
    SetState(rfClass2PageRequest);
    ArmTimeout(c.responseTicks);
  } else {
    ArmResponse();
  }
}

void ReceiveSession::Class2PageRequest() {
  ClassData& c = Cls();
  const std::string line = c.responseLine;
  if (LineHas(line, c.words.parametersReport)) {
    ArmTimeout(c.responseTicks);
    ApplyParameters(c, DecodeParameters(StripPrefix(line)));
    SetStatus(fsConnectionParams);
  } else if (IsConnect(line)) {
    ReceiveFlow(true);
    SetState(rfPageStart);
  } else {
    ArmResponse();
  }
}

void ReceiveSession::Class2AfterPage() {
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  const std::string line = c.responseLine;
  if (LineHas(line, c.words.pageStatusReport)) {
    SetStatus(fsGettingPageEnd);
    const std::string verdict = StripPrefix(line);
    const char v = verdict.empty() ? ' ' : verdict[0];
    if (v == '1' || v == '3' || v == '5') {
      if (int rc = FinishPage(); rc != 0) {
        SetError(rc);
        SetState(rfError);
      }
    } else {
      // The caller sends the page again; it must not stay in the file.
      pageDropped_ = true;
      if (int rc = DropPage(); rc != 0) {
        SetError(rc);
        SetState(rfError);
      }
    }
  } else if (LineHas(line, "+FET")) {
    SetStatus(fsGettingDocStatus);
    const std::string value = StripPrefix(line);
    h.documentMode = DocumentModeFor(value.empty() ? ' ' : value[0]);
  } else if (IsOK(line)) {
    SendCommand("AT+FDR");
    // A page that was not confirmed comes again, even after the caller's
    // end-of-document mark.
    if (h.documentMode == dmEndOfCall && !pageDropped_) {
      EndOfDocument();
      SetState(rfClass2Hangup);
    } else {
      SetState(rfClass2PageRequest);
    }
  } else if (IsError(line)) {
    pageDropped_ = true;
    if (int rc = DropPage(); rc != 0) {
      SetError(rc);
      SetState(rfError);
      return;
    }
    SendCommand("AT+FDR");
    SetState(rfClass2PageRequest);
  } else {
    ArmResponse();
  }
}

void ReceiveSession::Class2Hangup() {
  ClassData& c = Cls();
  const std::string& line = c.responseLine;
  if (LineHas(line, c.words.hangupWord)) {
    c.hangupCode = HangupCode(line);
    SetStatus(fsGotHangup);
    c.responseLine.clear();
  } else if (LineHas(line, "+FET")) {
    SetStatus(fsGettingHangup);
    c.responseLine.clear();
  } else if (IsOK(line)) {
    SetState(rfCallDone);
  } else {
    ArmResponse();
  }
}

}  // namespace qc
