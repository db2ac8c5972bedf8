// The send machine's Class 2 and Class 2.0 phases: setup before dialing, the
// modem's reports while it connects and negotiates, and the page verdicts.
#include "control/error_codes.h"
#include "modem_text.h"
#include "send_session.h"

namespace qc {

void SendSession::Class2Setup() {
  ClassData& c = Cls();
  const SessionData& d = Data();
  if (!IsOK(c.responseLine)) {
    SetError(ecFaxInitError);
    SetState(tfError);
    return;
  }
  switch (State()) {
    case tfClass2Set:
      SendCommand(LocalIdCommand(c.words, d.stationId));
      SetState(IsClass2_0() ? tfClass2_0FlowSet : tfLocalIdSet);
      break;
    case tfClass2_0FlowSet:
      SendCommand("AT+FLO=2");
      SetState(tfClass2_0ReportSet);
      break;
    case tfClass2_0ReportSet:
      SendCommand("AT+FNR=1,1,1,0");
      SetState(tfLocalIdSet);
      break;
    case tfLocalIdSet:
      SendCommand(ParametersCommand(c.words, c.resolutionDigit == '1', c.desiredBps, firstPageWide_, c.ecmDigit));
      SetState(tfParametersSet);
      break;
    case tfParametersSet:
      SetState(tfDial);
      break;
    default:
      break;
  }
}

void SendSession::Class2Dialing() {
  ClassData& c = Cls();
  const std::string& line = c.responseLine;
  if (LineHas(line, c.words.connectionReport)) {
    ArmTimeout(c.responseTicks);
    c.responseLine.clear();
    SetState(tfClass2Negotiating);
  } else if (!DialFailed(line)) {
    // Keep waiting under the dial timeout (an echo or NO CARRIER does not end
    // the attempt early, nor restart its limit).
    c.responseLine.clear();
  }
}

static void ApplyParameters(ClassData& c, const SessionParameters& p) {
  c.bitRate = p.bitRate;
  c.sessionFine = c.remoteFine = p.fine;
  c.sessionWide = c.remoteWide = p.wide;
  c.sessionEcm = p.errorCorrection;
  c.scanTimeCode = p.scanTimeCode;
}

void SendSession::Class2Negotiating() {
  ClassData& c = Cls();
  SessionData& d = Data();
  const std::string line = c.responseLine;
  if (LineHas(line, c.words.capabilitiesReport)) {
    ApplyParameters(c, DecodeParameters(StripPrefix(line)));
    RecomputeMinimum();
    if ((firstPageWide_ && !c.remoteWide) || (c.resolutionDigit == '1' && !c.remoteFine)) {
      SetError(ecFaxBadMachine);
      SetState(tfError);
      return;
    }
    SetStatus(fsConnectionParams);
    ArmResponse();
  } else if (LineHas(line, c.words.calledIdReport)) {
    d.remoteId = TrimRemoteID(StripPrefix(line)).substr(0, kStationIdMax);
    SetStatus(fsGotRemoteId);
    ArmResponse();
  } else if (LineHas(line, c.words.parametersReport)) {
    ApplyParameters(c, DecodeParameters(StripPrefix(line)));
    RecomputeMinimum();
    SetStatus(fsConnectionParams);
    ArmResponse();
  } else if (IsOK(line)) {
    SendCommand("AT+FDT");
    ArmTimeout(546);
    StartResponseTimer(546);
  } else if (IsConnect(line)) {
    if (IsClass2_0()) {
      SetState(tfWaitBufferSpace);
      ArmOutFree();
      ArmTimeout(c.dataTicks);
    } else {
      SetState(tfWaitXon);
      ArmTimeout(18);
    }
  } else {
    ArmResponse();
  }
}

void SendSession::Class2PageSent() {
  ClassData& c = Cls();
  c.responseLine.clear();
  c.linePos = c.framePos = 0;
  ArmTimeout(c.dataTicks);
  SetStatus(fsSendingEop);
  SetState(IsClass2_0() ? tfClass2_0Verdict : tfClass2EndOfData);
}

void SendSession::Class2EndOfData() {
  ClassData& c = Cls();
  if (!IsOK(c.responseLine)) {
    SetError(ecFaxSessionError);
    SetState(tfError);
    return;
  }
  SendCommand(MorePages() ? "AT+FET=0" : "AT+FET=2");
  SetState(tfClass2Verdict);
  ArmTimeout(c.dataTicks);
}

void SendSession::Class2Verdict() {
  ClassData& c = Cls();
  const std::string& line = c.responseLine;
  if (IsOK(line)) {
    SetState(tfClass2NextPage);
  } else if (LineHas(line, c.words.hangupWord)) {
    c.hangupCode = HangupCode(line);
    ArmResponse();
  } else if (LineHas(line, c.words.pageStatusReport)) {
    const std::string verdict = StripPrefix(line);
    const char v = verdict.empty() ? ' ' : verdict[0];
    if (v == '1' || v == '3') {
      SetStatus(fsPageAccepted);
      ArmResponse();
    } else if (v == '2') {
      SetStatus(fsPageError);
      SetState(tfClass2Retransmit);
      ArmResponse();
    } else if (v == '4' || v == '5') {
      SetError(ecCancelRequested);
      Cls().forceStatus = true;
      SetState(tfError);
    } else {
      SetError(ecFaxPageError);
      Cls().forceStatus = true;
      SetState(tfError);
    }
  } else {
    SetError(ecFaxPageError);
    Cls().forceStatus = true;
    SetState(tfError);
  }
}

void SendSession::Class2Retransmit() {
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  const std::string& line = c.responseLine;
  if (IsOK(line)) {
    ++h.retransmitCount;
    if (h.retransmitCount > h.retransmitLimit) {
      const uint8_t cmd[] = {'A', 'T', '+', 'F', 'K', 'S', '\r'};
      Port()->SendBlock(cmd, sizeof cmd);
      SetError(ecFaxSessionError);
      c.forceStatus = true;
      SetState(tfError);
      return;
    }
    SendCommand("AT+FDT");
    // The page is sent again from its start: a text cover is opened again at
    // the page start, a fax-file page is found again.
    if (h.textCoverOpen) CloseTextCover();
    if (c.faxFile) {
      int rc = SeekPage(Data().currentPage);
      if (rc == 0) rc = ReadPageHeader();
      if (rc != 0) {
        SetError(rc);
        SetState(tfError);
        return;
      }
    }
    SetState(tfClass2Negotiating);
  } else if (IsClass2_0() && LineHas(line, c.words.pageStatusReport)) {
    // The answer to "AT+FPS?" comes before its OK.
    c.responseLine.clear();
  } else {
    SetError(ecFaxSessionError);
    c.forceStatus = true;
    SetState(tfError);
  }
}

void SendSession::Class2NextPage() {
  if (MorePages()) {
    if (NextPage() != 0) {
      SetState(tfError);
      return;
    }
    SendCommand("AT+FDT");
    SetState(tfClass2Negotiating);
  } else {
    SetState(tfJobDone);
  }
}

void SendSession::Class2_0Verdict() {
  ClassData& c = Cls();
  const std::string& line = c.responseLine;
  if (IsOK(line)) {
    SetState(tfClass2NextPage);
    SetStatus(fsPageAccepted);
  } else if (IsError(line)) {
    SendCommand("AT+FPS?");
    ArmResponse();
    SetState(tfClass2Retransmit);
    SetStatus(fsPageError);
  } else if (LineHas(line, c.words.hangupWord)) {
    c.hangupCode = HangupCode(line);
  } else if (LineHas(line, c.words.pageStatusReport)) {
    // A page-status report ahead of the result: the OK or ERROR that follows decides.
    c.responseLine.clear();
  } else {
    SetError(ecFaxPageError);
    c.forceStatus = true;
    SetState(tfError);
  }
}

}  // namespace qc
