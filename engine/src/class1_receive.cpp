// The receive machine's Class 1 phases (T.30 on the host, the modem only
// modulates): CSI and DIS after answering, the caller's TSI and DCS, the
// training check (TCF) with CFR or FTT, the page command, the post-page
// message (MPS, EOP, EOM) with MCF, and the caller's DCN.
//
// Frames are decoded as they end, inside the response collector; what a
// frame asks for (the caller disconnects, or wants to train again) is
// carried out by the state when the modem's line after the frame arrives,
// so that the machine never changes course in the middle of a response.
#include <algorithm>
#include <string>

#include "class1_frames.h"
#include "control/error_codes.h"
#include "modem_text.h"
#include "receive_session.h"

namespace qc {

namespace {

// The training check: a TCF is good when fewer than this share (percent,
// integer division) of its bytes are not zero.
constexpr int kTrainingLimitPercent = 10;
// After a DLE inside the training bytes the modem gets this long to deliver
// the byte that belongs to it.
constexpr uint32_t kTrainingDlePauseMs = 10;
// How long the caller has for its frames after our DIS (T.30 T4: 3 s).
constexpr uint32_t kCallerFramesTicks = 54;
// The slowest modulation: a failed training there cannot step down.
constexpr std::string_view kLowestModulation = "24";
constexpr int kMaxRepeats = 3;

}  // namespace

bool ReceiveSession::Class1ListenState(uint8_t state) {
  return state == rfClass1CallerFrames || state == rfClass1PostPage || state == rfClass1WaitDcn;
}

bool ReceiveSession::Class1ErrorHandled(uint8_t state, std::string_view line) {
  // A damaged frame ends with ERROR; the caller repeats it.
  if (Class1ListenState(state)) return true;
  // "+FCERROR": the modem heard another carrier than the one asked for.
  return (state == rfClass1TrainCommand || state == rfClass1PageCommand) && LineHas(line, "+FCERROR");
}

void ReceiveSession::Class1Relisten() {
  // The modem has gone back to command mode without a carrier it could use;
  // listen again under the state's running timeout.
  ClassData& c = Cls();
  const bool frames = Class1ListenState(State());
  const std::string command = frames                              ? std::string("AT+FRH=3")
                              : State() == rfClass1PageCommand ? "AT+FRM=" + PageModulation(c.modulation)
                                                               : "AT+FRM=" + c.modulation;
  Port()->SleepMs(40);
  Log("command " + command + " (again)");
  for (char ch : command) Port()->SendByte(static_cast<uint8_t>(ch));
  Port()->SendByte('\r');
  c.responseLine.clear();
  c.linePos = 0;
  c.framePos = 0;
}

bool ReceiveSession::Class1TakeFrameOutcome() {
  const Class1FrameOutcome outcome = frameOutcome_;
  frameOutcome_ = Class1FrameOutcome::None;
  switch (outcome) {
    case Class1FrameOutcome::None:
      return false;
    case Class1FrameOutcome::Disconnect:
      if (State() == rfClass1WaitDcn) {
        // The caller's DCN is the expected end of the call.
        Data().error = 0;
        return false;
      }
      SetError(ecCancelRequested);
      SetState(rfError);
      return true;
    case Class1FrameOutcome::Retrain:
      // FTT or RTN are the receiver's frames; a caller sending them has lost
      // its place: start over from its DCS.
      Port()->SleepMs(200);
      ReceiveFrames(*this);
      SetState(rfClass1CallerFrames);
      return true;
  }
  return false;
}

void ReceiveSession::FrameReceived() {
  if (!IsClass1()) return;
  const FrameOutcome outcome = DecodeFrame(*this);
  if (outcome.result == ecCancelRequested)
    frameOutcome_ = Class1FrameOutcome::Disconnect;
  else if (outcome.retrain)
    frameOutcome_ = Class1FrameOutcome::Retrain;
}

bool ReceiveSession::Class1Timeout() {
  ClassData& c = Cls();
  switch (State()) {
    case rfClass1Answering:
      // A CONNECT after "ATA" never came: only a repeat may be waited out.
      if (c.retryCounter == 0) return false;
      SetState(rfClass1Repeat);
      return true;
    case rfClass1CallerFrames:
      SetState(rfClass1Repeat);
      return true;
    case rfClass1WaitDcn:
      // The document is complete; a caller that does not say goodbye still
      // must not leave the line off hook for the next call.
      HangUpAnswered();
      SetState(rfCallDone);
      return true;
    default:
      return false;
  }
}

void ReceiveSession::Class1TrainingCheck(int trigger) {
  SessionData& d = Data();
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  FaxPort& port = *Port();
  bool ended = false;
  while (!ended && port.InputWaiting() > 0 && !ResponseTimerExpired()) {
    uint8_t b = 0;
    if (port.ReadByte(b) != 0) break;
    if (h.previousByte == kFrameDle) {
      // The byte after a DLE is not counted: ETX ends the check, anything
      // else (the second DLE of a doubled one) is part of the data.
      h.previousByte = 0xFF;
      ended = b == kFrameEtx;
      continue;
    }
    ++c.dataCount;
    if (b != 0 && c.trainingNonZero < UINT16_MAX) ++c.trainingNonZero;
    if (b != kFrameDle) continue;
    h.previousByte = kFrameDle;
    if (port.InputWaiting() == 0) port.SleepMs(kTrainingDlePauseMs);
  }
  if (ended) {
    h.previousByte = 0xFF;
    // The DLE itself is counted, so there is at least one byte.
    const int64_t percent = static_cast<int64_t>(c.trainingNonZero) * 100 / std::max<int32_t>(c.dataCount, 1);
    Log("training " + std::to_string(c.trainingNonZero) + " of " + std::to_string(c.dataCount) +
        " bytes not zero");
    if (percent < kTrainingLimitPercent) {
      ArmResponse();
      SetState(rfClass1TrainingGood);
      return;
    }
    // The rest of the burst (the modem's NO CARRIER) is of no use now.
    uint8_t rest = 0;
    while (port.InputWaiting() > 0 && port.ReadByte(rest) == 0) {
    }
    TransmitFrames(*this);
    SetState(rfClass1FailureToTrain);
    return;
  }
  if (trigger == d.timeoutTrigger || ResponseTimerExpired()) {
    h.previousByte = 0xFF;
    SetError(ecTimeout);
    SetState(rfError);
  }
}

void ReceiveSession::Class1Action(int trigger) {
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  const std::string& line = c.responseLine;

  if (Class1ListenState(State())) {
    if (IsError(line)) {
      // The frame before it was damaged: whatever it seemed to say is void.
      frameOutcome_ = Class1FrameOutcome::None;
      c.lastFrameFinal = false;
      Class1Relisten();
      return;
    }
    if (Class1TakeFrameOutcome()) return;
  }

  switch (State()) {
    case rfClass1Set:
      if (IsOK(line)) {
        SwitchToFaxBaud();
        TimeoutOff();
        SetState(rfWaitForCall);
        SetStatus(fsWaitingForCall);
      } else if (line.rfind("AT", 0) == 0) {
        // The modem echoing the command (its echo is on after a failed
        // initialisation): the answer is still to come.
        ArmResponse();
      } else {
        SetError(ecFaxInitError);
        SetState(rfError);
      }
      break;

    case rfClass1Answering:
      if (IsConnect(line)) {
        // Nothing of an earlier call or round is still pending.
        frameOutcome_ = Class1FrameOutcome::None;
        c.lastFrameFinal = false;
        SendIDFrame(*this, fcf::kSendCSI);
        SetState(rfClass1SendCsiDis);
      }
      ArmResponse();
      break;

    case rfClass1SendCsiDis:
      if (IsConnect(line)) {
        SendParameterFrame(*this, ParameterKind::Dis);
        ArmResponse();
      } else if (IsOK(line)) {
        Port()->SleepMs(200);
        Port()->SleepMs(200);
        ReceiveFrames(*this);
        ArmTimeout(kCallerFramesTicks);
        SetState(rfClass1CallerFrames);
      } else {
        ArmResponse();
      }
      break;

    case rfClass1CallerFrames:
      if (IsConnect(line)) {
        ArmResponse();
      } else if (IsOK(line)) {
        if (c.lastFrameFinal) {
          c.lastFrameFinal = false;
          ReceiveFlow(true);
          SendDataCommand("AT+FRM=" + c.modulation);
          SetState(rfClass1TrainCommand);
          StartResponseTimer(c.responseTicks);
        } else {
          ReceiveFrames(*this);
        }
      } else if (LineHas(line, "+FCERROR") || IsNoCarrier(line)) {
        Class1Relisten();
      } else {
        ArmResponse();
      }
      break;

    case rfClass1Repeat:
      if (++c.retryCounter > kMaxRepeats) {
        SetError(ecTimeout);
        SetState(rfError);
        break;
      }
      // The first byte ends a reception the modem may still be in.
      SendCommand("AT\r");
      SetState(rfClass1RepeatSend);
      break;

    case rfClass1RepeatSend:
      TransmitFrames(*this);
      SetState(rfClass1Answering);
      break;

    case rfClass1TrainCommand:
      if (IsConnect(line)) {
        SetState(rfClass1Training);
        c.dataCount = 0;
        c.trainingNonZero = 0;
        h.previousByte = 0xFF;
        // Both limits at once: the check ends on the timer even when the
        // modem stops sending.
        ArmTimeout(c.responseTicks);
        StartResponseTimer(c.responseTicks);
      } else if (LineHas(line, "+FCERROR")) {
        Class1Relisten();
      } else {
        ArmResponse();
      }
      break;

    case rfClass1Training:
      Class1TrainingCheck(trigger);
      break;

    case rfClass1FailureToTrain:
      if (IsConnect(line)) {
        SendShortFrame(*this, fcf::FTT);
        ArmResponse();
      } else if (IsOK(line)) {
        // At the lowest speed there is nothing left to try; the call ends
        // once the FTT is out (the hang-up would cut it off).
        if (c.modulation == kLowestModulation) {
          SetError(ecFaxTrainError);
          SetState(rfError);
          break;
        }
        ReceiveFrames(*this);
        SetState(rfClass1CallerFrames);
      } else {
        ArmResponse();
      }
      break;

    case rfClass1TrainingGood:
      if (IsNoCarrier(line)) {
        ReceiveFlow(false);
        Port()->SleepMs(20);
        TransmitFrames(*this);
        SetState(rfClass1Confirmation);
      } else {
        ArmResponse();
      }
      break;

    case rfClass1Confirmation:
      if (IsConnect(line)) {
        ReceiveFlow(true);
        SendShortFrame(*this, fcf::CFR);
        ArmResponse();
      } else if (IsOK(line)) {
        // The caller starts its page soon after CFR: the modem listens
        // before the owner is asked.
        SendDataCommand("AT+FRM=" + PageModulation(c.modulation));
        SetState(rfClass1PageCommand);
        AcceptCall();
      } else {
        ArmResponse();
      }
      break;

    case rfClass1PageCommand:
      if (IsConnect(line)) {
        SetState(rfPageStart);
        SetStatus(fsConnectionParams);
      } else if (LineHas(line, "+FCERROR")) {
        Class1Relisten();
      } else {
        ArmResponse();
      }
      break;

    case rfClass1PageReceived:
      if (IsNoCarrier(line)) {
        ReceiveFrames(*this);
        SetState(rfClass1PostPage);
      } else {
        ArmResponse();
      }
      break;

    case rfClass1PostPage:
      if (IsConnect(line)) {
        ArmResponse();
      } else if (IsOK(line)) {
        if (c.lastFrameFinal) {
          c.lastFrameFinal = false;
          c.morePages = (c.lastFcf & ~fcf::kXBit) == fcf::MPS;
          SetState(rfClass1PageEnd);
          SetStatus(fsGettingPageEnd);
        } else {
          ReceiveFrames(*this);
        }
      } else if (LineHas(line, "+FCERROR") || IsNoCarrier(line)) {
        Class1Relisten();
      } else {
        ArmResponse();
      }
      break;

    case rfClass1PageEnd:
      if (const int rc = FinishPage(); rc != 0) {
        SetError(rc);
        SetState(rfError);
        break;
      }
      TransmitFrames(*this);
      SetState(rfClass1ConfirmPage);
      SetStatus(fsGettingDocStatus);
      break;

    case rfClass1ConfirmPage:
      if (IsConnect(line)) {
        SendShortFrame(*this, fcf::MCF);
        ArmResponse();
      } else if (IsOK(line)) {
        if (c.morePages) {
          SendDataCommand("AT+FRM=" + PageModulation(c.modulation));
          h.documentMode = dmNextPage;
          SetState(rfClass1PageCommand);
        } else {
          // EOP, and EOM or anything else final too: this document is done.
          Port()->SleepMs(200);
          ReceiveFrames(*this);
          SetState(rfClass1WaitDcn);
          EndOfDocument();
        }
      } else {
        ArmResponse();
      }
      break;

    case rfClass1WaitDcn:
      if (IsConnect(line)) {
        ArmResponse();
      } else if (IsOK(line)) {
        if (c.lastFrameFinal) {
          c.lastFrameFinal = false;
          SendCommand("ATH");
          SetState(rfClass1HangupSent);
        } else {
          ReceiveFrames(*this);
        }
      } else if (LineHas(line, "+FCERROR") || IsNoCarrier(line)) {
        Class1Relisten();
      } else {
        ArmResponse();
      }
      break;

    case rfClass1HangupSent:
      if (IsOK(line)) {
        SetStatus(fsGotHangup);
        SetState(rfCallDone);
      } else {
        ArmResponse();
      }
      break;

    default:
      break;
  }
}

}  // namespace qc
