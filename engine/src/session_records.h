// The records of one fax session: SessionData (both directions, all classes),
// ClassData (the protocol code's working set) and the SessionHandle variants
// that own them. Fields follow the order of the session tables; strings are
// kept within their limits by the setters of the components.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "engine/fax_types.h"
#include "fax_params.h"

namespace qc {

class HeaderRenderer;
struct SessionHandle;

// Text limits of the engine.
inline constexpr size_t kStationIdMax = 20;
inline constexpr size_t kPhoneNumberMax = 40;
inline constexpr size_t kModemStringMax = 40;
inline constexpr size_t kFileNameMax = 255;
inline constexpr size_t kResponseLineMax = 128;
inline constexpr size_t kInitStringMax = 19;

// Session options (bit set).
enum SessionOption : uint16_t {
  foAbortNoConnect = 1,
  foExitOnError = 2,
  foSoftwareFlow = 8,
};

// Notification codes from the engine to its owner.
enum FaxNotice : uint16_t {
  fnAbortRequest = 0x7EA0,
  fnNextFaxQuery = 0x7EA1,
  fnStatusNotice = 0x7EA2,
  fnLogNotice = 0x7EA3,
  fnNameQuery = 0x7EA4,
  fnAcceptQuery = 0x7EA5,
  fnErrorNotice = 0x7EA6,
  fnFinishNotice = 0x7EA7,
};

// The owner side of the notifications. Every call but Finish arrives on the
// owner's thread and is waited for at most one second; Finish is queued.
class SessionOwner {
 public:
  virtual ~SessionOwner() = default;
  virtual bool NextFaxQuery(SessionHandle& session) = 0;
  virtual void StatusNotice(int which) = 0;  // 1 first, 2 last, 0 otherwise
  virtual void LogNotice(int logCode) = 0;
  virtual void NameQuery(SessionHandle&) {}
  virtual int AcceptQuery(SessionHandle&) { return 1; }
  virtual void ErrorNotice(int code) = 0;
  virtual void FinishNotice(int code) = 0;
};

// Six flags for the speed indexes 1..6 (index 0 unused).
struct CapabilitySet {
  std::array<bool, 7> speeds{};
  void Clear() { speeds.fill(false); }
};

// Page header of an APF file as the engine keeps it.
struct PageInfo {
  uint32_t imageLength = 0;
  bool fine = false;
  bool wide = false;
  bool lineRecords = false;
};

struct SessionData {
  // Trigger handles of the serial layer.
  int availTrigger = -1;
  int statusTrigger = -1;
  int timeoutTrigger = -1;
  int outFreeTrigger = -1;
  int outUsedTrigger = -1;
  int modemStatusTrigger = -1;

  uint32_t statusInterval = 1;  // seconds
  std::shared_ptr<SessionOwner> owner;
  bool eventProcAttached = false;

  bool isSender = false;
  bool coverPending = false;
  bool prepared = false;

  uint16_t dialAttempts = 1;
  uint16_t attemptsMade = 0;
  uint16_t retryWaitTicks = 0;

  uint16_t options = 0;
  uint16_t status = 0;
  int32_t error = 0;

  int32_t currentPage = 0;
  int32_t pageCount = 0;
  int32_t coverPages = 0;
  int32_t pageBytes = 0;
  int32_t pageLength = 0;

  TFaxClass faxClass = fcUnknown;
  std::string stationId;
  std::string remoteId;

  std::string destinationDir;
  std::string faxFileExt = "APF";
  std::string faxFile;
  std::string coverFile;
  std::string phoneNumber;

  std::string headerTitle;
  std::string headerRecipient;
  std::string headerSender;
};

struct ClassData {
  bool forceStatus = false;
  bool morePages = false;  // receive
  bool sessionFine = false;
  bool sessionWide = false;
  bool sessionEcm = false;
  bool remoteFine = false;
  bool remoteWide = false;
  bool lastFrameFinal = false;

  bool toneDial = true;
  bool pageStored = false;  // receive
  bool lineRecords = false;
  bool coverIsFaxFile = false;
  bool modemInitialised = false;
  bool atInitBaud = false;
  bool confirmationReceived = false;  // Class 1
  bool blindDial = false;
  bool detectBusy = true;

  char ecmDigit = '0';
  char resolutionDigit = ' ';
  char previousResolutionDigit = ' ';
  char dataAnswerDigit = '0';

  uint8_t scanTimeCode = 0;
  uint8_t lastFcf = 0;
  uint8_t linePos = 0;   // CR LF matcher
  uint8_t framePos = 0;  // DLE ETX matcher

  uint16_t responseTicks = 182;
  uint16_t dataTicks = 1092;
  uint16_t desiredBps = 9600;
  uint16_t speedIndex = 4;
  uint16_t minimumScanBytes = 0;
  uint16_t hangupCode = 0;
  uint16_t receiveFill = 0;
  uint16_t trainingNonZero = 0;
  uint16_t retryCounter = 0;

  int32_t dataCount = 0;
  uint32_t dialWaitTicks = 1092;
  uint32_t answerOnRing = 1;
  uint32_t ringCount = 0;
  uint32_t bitRate = 9600;
  uint32_t normalBaud = 0;
  uint32_t initBaud = 0;

  std::array<uint8_t, 4096> dataBuffer{};
  std::FILE* faxFile = nullptr;
  std::array<uint8_t, 64> fileHeader{};
  uint16_t filePageCount = 0;
  uint32_t firstPageOffset = 0;
  PageInfo pageHeader;

  Class2Vocabulary words;
  std::string modulation;
  std::string initString = "ATE0Q0V1X4S0=0S2=43";
  std::string modemInit;
  std::string dialPrefix;
  std::string responseLine;
  std::string resolvedFileName;

  uint32_t responseStart = 0;
  uint32_t responseExpiry = 0;

  CapabilitySet local;
  CapabilitySet remote;
};

// A session: the send variant's fields, and the receive variant's beside
// them (a handle is created as one or the other).
struct SessionHandle {
  std::unique_ptr<SessionData> data = std::make_unique<SessionData>();
  std::unique_ptr<ClassData> cls = std::make_unique<ClassData>();

  // Send variant.
  uint16_t maxSendCount = 50;
  uint16_t bufferMinimum = 1000;
  bool connectSeen = false;
  int32_t retransmitCount = 0;
  int32_t retransmitLimit = 2;
  std::unique_ptr<HeaderRenderer> renderer;
  uint8_t state = 0;
  std::string headerLine;
  std::FILE* textCover = nullptr;
  bool textCoverOpen = false;

  // Receive variant.
  bool oneFax = false;
  bool constantStatus = false;
  bool firstStatusSent = false;
  uint8_t previousByte = 0xFF;
  uint8_t documentMode = 0;
  uint8_t startState = 1;

  SessionHandle();
  ~SessionHandle();
};

}  // namespace qc
