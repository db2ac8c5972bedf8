// The send machine's Class 1 phases: the answering station's frames after
// dialing, TSI and DCS, the training check with fall-back, the post-page
// messages and their answers, and the disconnect. The frames themselves are
// built and read in class1_frames.cpp.
#include <algorithm>

#include "class1_frames.h"
#include "control/error_codes.h"
#include "modem_text.h"
#include "send_session.h"

namespace qc {

namespace {

constexpr uint32_t kFrameTurnMs = 200;       // between a frame exchange and the next command
constexpr uint32_t kPostPageWaitMs = 500;    // before each post-page try
constexpr uint32_t kPostPageAnswerTicks = 54;  // 3 s for the answer to MPS / EOP
constexpr uint32_t kHangupTicks = 26;
constexpr uint32_t kXonWaitTicks = 18;
constexpr int kPostPageTries = 3;
// Times the DCS and training are sent again when the answer to the training
// never comes (the receiver missed it, or its CFR was lost).
constexpr int kTrainingAnswerRepeats = 3;

bool IsFcError(std::string_view line) { return LineHas(line, "FCERROR"); }

// Page data the port has handed on may still wait downstream, in a modem
// that does not hold the port back or in a pseudo-terminal (about 20 KB):
// the modem's OK comes only when it has sent all of it.
constexpr uint32_t kDownstreamBytes = 32768;

}  // namespace

bool SendSession::Class1LineIsFatal(uint8_t state, std::string_view line) const {
  // A wrong carrier while listening for frames is told as "+FCERROR": the
  // listening states take it themselves.
  if (IsFcError(line) && (state == tfClass1Dialing || state == tfClass1TrainAnswer)) return false;
  return state != tfClass1PostPageConnect && state != tfClass1State33 && state != tfClass1PostPageAnswer;
}

uint32_t SendSession::Class1PageSentTicks() const {
  const uint32_t bitRate = std::max<uint32_t>(Cls().bitRate, 2400);
  return Cls().dataTicks + SecondsToTicks(kDownstreamBytes * 8 / bitRate + 1);
}

void SendSession::FrameReceived() {
  if (!IsClass1()) return;
  ClassData& c = Cls();
  const FrameOutcome out = DecodeFrame(*this, FirstPage{c.resolutionDigit == '1', firstPageWide_});
  if (out.result != 0) {
    SetError(out.result);
    SetState(tfError);
    return;
  }
  if (!out.retrain) return;
  const bool rtn = (out.fcf & static_cast<uint8_t>(~fcf::kXBit)) == fcf::RTN;
  if (!StepDown(c)) {
    SetError(ecFaxTrainError);
    SetState(tfError);
    return;
  }
  Log("step down to " + std::to_string(c.bitRate));
  if (rtn && RestartPage() != 0) return;
  TransmitFrames(*this);
  SetState(tfClass1SendDcs);
}

// The page the receiver turned down goes again from its start.
int SendSession::RestartPage() {
  SessionData& d = Data();
  ClassData& c = Cls();
  if (Handle().textCoverOpen) CloseTextCover();
  if (d.coverPending || !c.faxFile) return 0;  // a cover is opened again at its start
  int rc = SeekPage(d.currentPage);
  if (rc == 0) rc = ReadPageHeader();
  if (rc != 0) {
    SetError(rc);
    SetState(tfError);
  }
  return rc;
}

void SendSession::Class1Action(int trigger) {
  (void)trigger;
  ClassData& c = Cls();
  SessionHandle& h = Handle();
  const std::string line = c.responseLine;
  switch (State()) {
    case tfClass1Set:
      if (IsOK(line)) {
        SetState(tfDial);
      } else {
        SetError(ecFaxInitError);
        SetState(tfError);
      }
      break;

    case tfClass1Dialing:
      if (IsConnect(line)) {
        h.connectSeen = true;
        ArmResponse();
      } else if (IsOK(line)) {
        if (c.lastFrameFinal) {
          Port()->SleepMs(kFrameTurnMs);
          TransmitFrames(*this);
          c.lastFrameFinal = false;
          SetState(tfClass1SendTsi);
        } else {
          ReceiveFrames(*this);
        }
      } else if (DialFailed(line)) {
        // redialing, or the attempt failed
      } else if (IsNoCarrier(line)) {
        SetError(ecFaxNoCarrier);
        SetState(tfError);
      } else if (IsFcError(line)) {
        ReceiveFrames(*this);
      } else if (h.connectSeen) {
        ArmResponse();
      } else {
        // Before the answer the dial timeout holds; a stray line does not
        // shorten it.
        c.responseLine.clear();
      }
      break;

    case tfClass1SendTsi:
      if (IsConnect(line)) {
        SendIDFrame(*this, fcf::kSendTSI);
        SetState(tfClass1SendDcs);
      }
      ArmResponse();
      break;

    case tfClass1SendDcs:
      if (IsConnect(line)) {
        SendParameterFrame(*this, ParameterKind::Dcs);
        Log("speed " + std::to_string(c.bitRate) + ", minimum " + std::to_string(c.minimumScanBytes) +
            " bytes per line");
        SetState(tfClass1TrainCommand);
      }
      ArmResponse();
      break;

    case tfClass1TrainCommand:
      if (IsOK(line)) {
        SendDataCommand("AT+FTM=" + c.modulation);
        SetState(tfClass1Training);
      } else {
        ArmResponse();
      }
      break;

    case tfClass1Training:
      if (IsConnect(line)) {
        if (Data().options & foSoftwareFlow) Port()->SetSoftwareFlow(true);
        if (int rc = SendTraining(*this); rc != 0) {
          SetError(rc);
          SetState(tfError);
          return;
        }
        SetState(tfClass1TrainSent);
      }
      ArmResponse();
      break;

    case tfClass1TrainSent:
      if (IsOK(line)) {
        if (Data().options & foSoftwareFlow) Port()->SetSoftwareFlow(false);
        Port()->SleepMs(kFrameTurnMs);
        ReceiveFrames(*this);
        SetState(tfClass1TrainAnswer);
        c.confirmationReceived = false;
      }
      break;

    case tfClass1TrainAnswer:
      if (IsOK(line)) {
        if (!c.lastFrameFinal) {
          ReceiveFrames(*this);
        } else if (c.confirmationReceived) {
          trainingRepeats_ = 0;
          Port()->SleepMs(kFrameTurnMs);
          SendDataCommand("AT+FTM=" + PageModulation(c.modulation));
          c.lastFrameFinal = false;
          SetState(tfClass1PageCommand);
        } else {
          Port()->SleepMs(kFrameTurnMs);
          TransmitFrames(*this);
          SetState(tfClass1SendDcs);
        }
      } else if (IsNoCarrier(line) || IsFcError(line)) {
        // No answer to the training came through: the DCS and the training
        // go again at the same speed, a few times.
        if (++trainingRepeats_ > kTrainingAnswerRepeats) {
          SetError(ecTimeout);
          SetState(tfError);
          return;
        }
        if (IsFcError(line)) {
          ReceiveFrames(*this);
        } else {
          TransmitFrames(*this);
          SetState(tfClass1SendDcs);
        }
      } else {
        ArmResponse();
      }
      break;

    case tfClass1PageCommand:
      if (IsConnect(line)) {
        SetState(tfWaitXon);
        ArmTimeout(kXonWaitTicks);
      } else {
        ArmResponse();
      }
      break;

    case tfClass1PageSent:
      if (IsOK(line)) {
        c.retryCounter = 0;
        SetState(tfClass1PostPageTry);
        SetStatus(fsSendingEop);
      } else {
        ArmResponse();
      }
      break;

    case tfClass1PostPageTry:
      if (++c.retryCounter > kPostPageTries) {
        SetError(ecTimeout);
        c.forceStatus = true;
        SetState(tfError);
        return;
      }
      Port()->SleepMs(kPostPageWaitMs);
      TransmitFrames(*this);
      SetState(tfClass1PostPageConnect);
      break;

    case tfClass1PostPageConnect:
      if (IsConnect(line)) {
        SendShortFrame(*this, MorePages() ? fcf::kSendMPS : fcf::kSendEOP);
        SetState(tfClass1PostPageSent);
      }
      ArmResponse();
      break;

    case tfClass1PostPageSent:
      if (IsOK(line)) {
        Port()->SleepMs(kFrameTurnMs);
        ReceiveFrames(*this);
        SetState(tfClass1PostPageAnswer);
        ArmTimeout(kPostPageAnswerTicks);
        h.connectSeen = false;
      } else {
        ArmResponse();
      }
      break;

    case tfClass1State33:
      ArmResponse();
      break;

    case tfClass1PostPageAnswer: PostPageAnswer(line); break;

    case tfClass1SendDcn:
      if (IsConnect(line)) {
        SendShortFrame(*this, fcf::kSendDCN);
        SetState(tfClass1DcnSent);
      }
      ArmResponse();
      break;

    case tfClass1DcnSent:
      if (IsOK(line)) {
        SendCommand("ATH");
        ArmTimeout(kHangupTicks);
        SetState(tfClass1HangupSent);
      } else {
        ArmResponse();
      }
      break;

    case tfClass1HangupSent:
      if (IsOK(line))
        SetState(tfJobDone);
      else
        ArmResponse();
      break;

    default:
      break;
  }
}

void SendSession::PostPageAnswer(const std::string& line) {
  ClassData& c = Cls();
  if (IsConnect(line)) {
    Handle().connectSeen = true;
    ArmResponse();
    return;
  }
  if (IsError(line) || IsNoCarrier(line)) {
    // A damaged answer, or none before the modem gave up listening: the
    // post-page message goes again.
    SetState(tfClass1PostPageTry);
    return;
  }
  if (!IsOK(line)) {
    ArmResponse();
    return;
  }
  if (!c.lastFrameFinal) {
    ReceiveFrames(*this);
    return;
  }
  c.lastFrameFinal = false;
  if (c.lastFcf == fcf::MCF) {
    SetStatus(fsPageAccepted, false);
    if (MorePages()) {
      if (NextPage() != 0) {
        SetState(tfError);
        return;
      }
      SendDataCommand("AT+FTM=" + PageModulation(c.modulation));
      SetState(tfClass1PageCommand);
    } else {
      TransmitFrames(*this);
      SetState(tfClass1SendDcn);
    }
  } else if (c.lastFcf == fcf::RTP) {
    SetStatus(fsPageAccepted, false);
    if (MorePages()) {
      if (NextPage() != 0) {
        SetState(tfError);
        return;
      }
      TransmitFrames(*this);
      SetState(tfClass1SendDcs);
    } else {
      TransmitFrames(*this);
      SetState(tfClass1SendDcn);
    }
  }
  // Any other answer: the answer timeout sends the message again.
}

}  // namespace qc
