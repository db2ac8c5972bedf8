// Types the fax engine shares with its callers: fax classes, session status
// and log codes, and the status texts.
#pragma once

#include <cstdint>
#include <string>

namespace qc {

enum TFaxClass : uint8_t {
  fcUnknown = 0,
  fcDetect = 1,
  fcClass1 = 2,
  fcClass2 = 3,
  fcClass2_0 = 4,
};

// A set of fax classes (the result of ModemClasses).
class TFaxClasses {
 public:
  constexpr TFaxClasses() = default;
  constexpr TFaxClasses& Include(TFaxClass c) { bits_ |= Bit(c); return *this; }
  constexpr bool Contains(TFaxClass c) const { return (bits_ & Bit(c)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(TFaxClasses, TFaxClasses) = default;

 private:
  static constexpr uint8_t Bit(TFaxClass c) { return static_cast<uint8_t>(1u << c); }
  uint8_t bits_ = 0;
};

// Session status codes; the text of code n is string 13000 + n.
enum FaxStatusCode : uint16_t {
  fsInitializing = 1,
  fsDialing = 2,
  fsBusyWait = 3,
  fsSendingPage = 4,
  fsSendingEop = 5,
  fsPageError = 6,
  fsPageAccepted = 7,
  fsWaitingForCall = 20,
  fsNoConnect = 21,
  fsAnswering = 22,
  fsCallIsFax = 23,
  fsGettingPage = 24,
  fsGettingPageEnd = 25,
  fsGettingDocStatus = 26,
  fsGettingHangup = 27,
  fsGotHangup = 28,
  fsConnectionParams = 40,
  fsGotRemoteId = 41,
  fsUserAbort = 42,
  fsFinished = 43,
};

// Log codes handed to the fax log.
enum TFaxLogCode : uint8_t {
  lcTransmitStarted = 1,
  lcTransmitFinished = 2,
  lcTransmitFailed = 3,
  lcReceiveStarted = 4,
  lcReceiveFinished = 5,
  lcReceiveSkipped = 6,
  lcReceiveFailed = 7,
};

// The text of a status code: string code + 13000 for 1..43, else empty.
std::string ProgressText(int code);

// DialWait and DialRetryWait are kept in ticks of 55 ms.
constexpr uint32_t SecondsToTicks(uint32_t seconds) { return seconds * 1675u / 92u; }
constexpr uint32_t TicksToSeconds(uint32_t ticks) { return (ticks + 9u) * 92u / 1675u; }

}  // namespace qc
