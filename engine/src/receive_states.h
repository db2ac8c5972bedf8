// The states of the receive machine, numbered as in the fax state tables,
// with what each state does after its action (run again at once, only when
// input waits, or wait for the next event) and whether it waits for modem
// lines. States 6 and 17 are not used.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "send_states.h"  // RunNext

namespace qc {

enum ReceiveState : uint8_t {
  rfNone = 0,
  rfNewCall = 1,
  rfClass1Set = 2,              // Class 1: "AT+FCLASS=1" answered
  rfClass2Set = 3,              // class command answered: capabilities next
  rfClass2_0FlowSet = 4,        // 2.0: capabilities answered, "AT+FLO=2"
  rfClass2_0ReportSet = 5,      // 2.0: "AT+FNR=1,1,1,0"
  rfUnused6 = 6,
  rfClass2Ready = 7,            // last setup command answered
  rfWaitForCall = 8,            // counting rings
  rfAnswer = 9,                 // "ATA"
  rfClass1Answering = 10,       // waiting for CONNECT after "ATA"
  rfClass1SendCsiDis = 11,      // CSI sent, DIS next
  rfClass1CallerFrames = 12,    // TSI, DCS from the caller
  rfClass1Repeat = 13,          // CSI and DIS once more
  rfClass1RepeatSend = 14,
  rfClass1TrainCommand = 15,    // "AT+FRM=" for the training check
  rfClass1Training = 16,        // the training check bytes
  rfUnused17 = 17,
  rfClass1FailureToTrain = 18,  // FTT
  rfClass1TrainingGood = 19,
  rfClass1Confirmation = 20,    // CFR, then accept the call
  rfClass1PageCommand = 21,     // "AT+FRM=" for the page
  rfClass2Answered = 22,        // waiting for the connection report
  rfClass2Identification = 23,  // the caller's ID and parameters
  rfClass2PageRequest = 24,     // "AT+FDR" sent
  rfPageStart = 25,
  rfPageData = 26,
  rfClass1PageReceived = 27,    // NO CARRIER after the page
  rfClass1PostPage = 28,        // MPS / EOP / EOM
  rfClass1PageEnd = 29,
  rfClass1ConfirmPage = 30,     // MCF
  rfClass1WaitDcn = 31,
  rfClass1HangupSent = 32,      // "ATH"
  rfClass2AfterPage = 33,       // page status and end-of-page reports
  rfClass2Hangup = 34,          // the hangup report
  rfCallDone = 35,
  rfError = 36,
  rfFinished = 37,
};
inline constexpr int kReceiveStateCount = 38;

struct ReceiveStateInfo {
  std::string_view name;
  bool waitsForLine;  // a response state: lines are collected before the action runs
  RunNext next;
};

// clang-format off
inline constexpr std::array<ReceiveStateInfo, kReceiveStateCount> kReceiveStates{{
    {"rfNone", false, RunNext::Wait},
    {"rfNewCall", false, RunNext::Now},
    {"rfClass1Set", true, RunNext::IfInput},
    {"rfClass2Set", true, RunNext::IfInput},
    {"rfClass2_0FlowSet", true, RunNext::IfInput},
    {"rfClass2_0ReportSet", true, RunNext::IfInput},
    {"rfUnused6", false, RunNext::Wait},
    {"rfClass2Ready", true, RunNext::IfInput},
    {"rfWaitForCall", true, RunNext::IfInput},
    {"rfAnswer", false, RunNext::Now},
    {"rfClass1Answering", true, RunNext::IfInput},
    {"rfClass1SendCsiDis", true, RunNext::IfInput},
    {"rfClass1CallerFrames", true, RunNext::IfInput},
    {"rfClass1Repeat", false, RunNext::Wait},
    {"rfClass1RepeatSend", false, RunNext::Wait},
    {"rfClass1TrainCommand", true, RunNext::IfInput},
    {"rfClass1Training", false, RunNext::Wait},
    {"rfUnused17", false, RunNext::Wait},
    {"rfClass1FailureToTrain", true, RunNext::IfInput},
    {"rfClass1TrainingGood", true, RunNext::IfInput},
    {"rfClass1Confirmation", true, RunNext::IfInput},
    {"rfClass1PageCommand", true, RunNext::IfInput},
    {"rfClass2Answered", true, RunNext::IfInput},
    {"rfClass2Identification", true, RunNext::IfInput},
    {"rfClass2PageRequest", true, RunNext::IfInput},
    {"rfPageStart", false, RunNext::Now},
    {"rfPageData", false, RunNext::IfInput},
    {"rfClass1PageReceived", true, RunNext::IfInput},
    {"rfClass1PostPage", true, RunNext::IfInput},
    {"rfClass1PageEnd", false, RunNext::Now},
    {"rfClass1ConfirmPage", true, RunNext::IfInput},
    {"rfClass1WaitDcn", true, RunNext::IfInput},
    {"rfClass1HangupSent", true, RunNext::IfInput},
    {"rfClass2AfterPage", true, RunNext::IfInput},
    {"rfClass2Hangup", true, RunNext::IfInput},
    {"rfCallDone", false, RunNext::Now},
    {"rfError", false, RunNext::Now},
    {"rfFinished", false, RunNext::Wait},
}};
// clang-format on

inline std::string_view ReceiveStateName(uint8_t state) {
  return state < kReceiveStateCount ? kReceiveStates[state].name : "rf?";
}

// The states driven by the Class 1 receive code (class1_receive.cpp).
inline constexpr bool IsClass1ReceiveState(uint8_t state) {
  return state == rfClass1Set || (state >= rfClass1Answering && state <= rfClass1PageCommand) ||
         (state >= rfClass1PageReceived && state <= rfClass1HangupSent);
}

}  // namespace qc
