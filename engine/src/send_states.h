// The states of the send machine, numbered as in the fax state tables, with
// what each state does after its action (run again at once, only when input
// waits, or wait for the next event) and whether it waits for modem lines.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qc {

enum SendState : uint8_t {
  tfNone = 0,
  tfGetNextJob = 1,
  tfPrepareDocument = 2,
  tfClass1Set = 3,         // Class 1: "AT+FCLASS=1" answered
  tfClass2Set = 4,         // class command answered, send local ID
  tfClass2_0FlowSet = 5,   // 2.0: "AT+FLO=2"
  tfClass2_0ReportSet = 6, // 2.0: "AT+FNR=1,1,1,0"
  tfLocalIdSet = 7,
  tfParametersSet = 8,
  tfDial = 9,
  tfRedialWait = 10,
  tfClass1Dialing = 11,
  tfClass1SendTsi = 12,
  tfClass1SendDcs = 13,
  tfClass1TrainCommand = 14,
  tfClass1Training = 15,
  tfClass1TrainSent = 16,
  tfClass1TrainAnswer = 17,
  tfClass1PageCommand = 18,
  tfClass2Dialing = 19,
  tfClass2Negotiating = 20,
  tfWaitXon = 21,
  tfWaitBufferSpace = 22,
  tfPageStart = 23,
  tfCoverStart = 24,
  tfTextCover = 25,
  tfFaxPageStart = 26,
  tfPageData = 27,
  tfDrain = 28,
  tfClass1PageSent = 29,
  tfClass1PostPageTry = 30,
  tfClass1PostPageConnect = 31,
  tfClass1PostPageSent = 32,
  tfClass1State33 = 33,
  tfClass1PostPageAnswer = 34,
  tfClass1SendDcn = 35,
  tfClass1DcnSent = 36,
  tfClass1HangupSent = 37,
  tfClass2PageSent = 38,
  tfClass2EndOfData = 39,
  tfClass2Verdict = 40,
  tfClass2Retransmit = 41,
  tfClass2NextPage = 42,
  tfClass2_0Verdict = 43,
  tfJobDone = 44,
  tfNoMoreJobs = 45,
  tfError = 46,
  tfFinished = 47,
};
inline constexpr int kSendStateCount = 48;

enum class RunNext : uint8_t { Now, IfInput, Wait };

struct SendStateInfo {
  std::string_view name;
  bool waitsForLine;  // a response state: lines are collected before the action runs
  RunNext next;
};

// clang-format off
inline constexpr std::array<SendStateInfo, kSendStateCount> kSendStates{{
    {"tfNone", false, RunNext::Wait},
    {"tfGetNextJob", false, RunNext::Now},
    {"tfPrepareDocument", false, RunNext::Now},
    {"tfClass1Set", true, RunNext::IfInput},
    {"tfClass2Set", true, RunNext::IfInput},
    {"tfClass2_0FlowSet", true, RunNext::IfInput},
    {"tfClass2_0ReportSet", true, RunNext::IfInput},
    {"tfLocalIdSet", true, RunNext::IfInput},
    {"tfParametersSet", true, RunNext::IfInput},
    {"tfDial", false, RunNext::Now},
    {"tfRedialWait", false, RunNext::Wait},
    {"tfClass1Dialing", true, RunNext::IfInput},
    {"tfClass1SendTsi", true, RunNext::IfInput},
    {"tfClass1SendDcs", true, RunNext::IfInput},
    {"tfClass1TrainCommand", true, RunNext::IfInput},
    {"tfClass1Training", true, RunNext::IfInput},
    {"tfClass1TrainSent", true, RunNext::IfInput},
    {"tfClass1TrainAnswer", true, RunNext::IfInput},
    {"tfClass1PageCommand", true, RunNext::IfInput},
    {"tfClass2Dialing", true, RunNext::IfInput},
    {"tfClass2Negotiating", true, RunNext::IfInput},
    {"tfWaitXon", false, RunNext::Wait},
    {"tfWaitBufferSpace", false, RunNext::Wait},
    {"tfPageStart", false, RunNext::Now},
    {"tfCoverStart", false, RunNext::Now},
    {"tfTextCover", false, RunNext::Wait},
    {"tfFaxPageStart", false, RunNext::Now},
    {"tfPageData", false, RunNext::Wait},
    {"tfDrain", false, RunNext::Wait},
    {"tfClass1PageSent", true, RunNext::IfInput},
    {"tfClass1PostPageTry", false, RunNext::Now},
    {"tfClass1PostPageConnect", true, RunNext::IfInput},
    {"tfClass1PostPageSent", true, RunNext::IfInput},
    {"tfClass1State33", true, RunNext::IfInput},
    {"tfClass1PostPageAnswer", true, RunNext::IfInput},
    {"tfClass1SendDcn", true, RunNext::IfInput},
    {"tfClass1DcnSent", true, RunNext::IfInput},
    {"tfClass1HangupSent", true, RunNext::IfInput},
    {"tfClass2PageSent", false, RunNext::Now},
    {"tfClass2EndOfData", true, RunNext::IfInput},
    {"tfClass2Verdict", true, RunNext::IfInput},
    {"tfClass2Retransmit", true, RunNext::IfInput},
    {"tfClass2NextPage", false, RunNext::Now},
    {"tfClass2_0Verdict", true, RunNext::IfInput},
    {"tfJobDone", false, RunNext::Now},
    {"tfNoMoreJobs", false, RunNext::Now},
    {"tfError", false, RunNext::Now},
    {"tfFinished", false, RunNext::Wait},
}};
// clang-format on

inline std::string_view SendStateName(uint8_t state) {
  return state < kSendStateCount ? kSendStates[state].name : "tf?";
}

}  // namespace qc
