// Error texts and the exception classes raised for failed results.
#pragma once

#include <stdexcept>
#include <string>

#include "control/error_codes.h"

namespace qc {

// The message of a code (either sign), at most 79 characters; empty when the
// code has no string.
std::string ErrorText(int code);

// The string number that holds the message of `code`.
int ErrorStringNumber(int code);

// Base of every exception raised for a result code.
class EQcException : public std::runtime_error {
 public:
  EQcException(const std::string& message, int errorCode)
      : std::runtime_error(message), errorCode_(errorCode) {}
  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// The run-time library's input/output exception: raised for file-layer codes
// -2 .. -162 (except -8) with the positive code as its error code.
class EInOutError : public std::runtime_error {
 public:
  EInOutError(const std::string& message, int errorCode)
      : std::runtime_error(message), errorCode_(errorCode) {}
  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// The run-time library's out-of-memory exception (code -8).
class EOutOfMemory : public std::runtime_error {
 public:
  explicit EOutOfMemory(const std::string& message) : std::runtime_error(message) {}
  int ErrorCode() const noexcept { return -ecOutOfMemory; }
};

#define QC_DECLARE_EXCEPTION(Name, Base)                                              \
  class Name : public Base {                                                          \
   public:                                                                            \
    Name(const std::string& message, int errorCode) : Base(message, errorCode) {}     \
  };

// Families.
QC_DECLARE_EXCEPTION(EGeneral, EQcException)
QC_DECLARE_EXCEPTION(EOpenComm, EQcException)
QC_DECLARE_EXCEPTION(ESerialIO, EQcException)
QC_DECLARE_EXCEPTION(EModem, EQcException)
QC_DECLARE_EXCEPTION(ETrigger, EQcException)
QC_DECLARE_EXCEPTION(EProtocol, EQcException)
QC_DECLARE_EXCEPTION(EINI, EQcException)
QC_DECLARE_EXCEPTION(EFax, EQcException)

// One line per code that has a class of its own: class, family, code.
// EInternal also stands for -7003, -7006 and -7012; EProtocol for -6006,
// -6008 and -6009 (see RaiseForCode).
#define QC_EXCEPTION_LIST(X)                      \
  X(EBadHandle, EGeneral, -1001)                  \
  X(EBadArgument, EGeneral, -1002)                \
  X(EGotQuitMsg, EGeneral, -1003)                 \
  X(EBufferTooBig, EGeneral, -1004)               \
  X(EPortNotAssigned, EGeneral, -1005)            \
  X(EInternal, EGeneral, -1006)                   \
  X(EModemNotAssigned, EGeneral, -1007)           \
  X(EPhonebookNotAssigned, EGeneral, -1008)       \
  X(ECannotUseWithWinSock, EGeneral, -1009)       \
  X(EBadId, EOpenComm, -2001)                     \
  X(EBaudRate, EOpenComm, -2002)                  \
  X(EByteSize, EOpenComm, -2003)                  \
  X(EDefault, EOpenComm, -2004)                   \
  X(EHardware, EOpenComm, -2005)                  \
  X(EMemory, EOpenComm, -2006)                    \
  X(ECommNotOpen, EOpenComm, -2007)               \
  X(EAlreadyOpen, EOpenComm, -2008)               \
  X(ENoHandles, EOpenComm, -2009)                 \
  X(ENoTimers, EOpenComm, -2010)                  \
  X(ENoPortSelected, EOpenComm, -2011)            \
  X(ENullApi, ESerialIO, -3001)                   \
  X(ENotSupported, ESerialIO, -3002)              \
  X(ERegisterHandlerFailed, ESerialIO, -3003)     \
  X(EPutBlockFail, ESerialIO, -3004)              \
  X(EGetBlockFail, ESerialIO, -3005)              \
  X(EOutputBufferTooSmall, ESerialIO, -3006)      \
  X(EBufferIsEmpty, ESerialIO, -3007)             \
  X(ETracingNotEnabled, ESerialIO, -3008)         \
  X(ELoggingNotEnabled, ESerialIO, -3009)         \
  X(EModemNotStarted, EModem, -4001)              \
  X(EModemBusy, EModem, -4002)                    \
  X(EModemNotDialing, EModem, -4003)              \
  X(ENotDialing, EModem, -4004)                   \
  X(EAlreadyDialing, EModem, -4005)               \
  X(EModemNotResponding, EModem, -4006)           \
  X(EModemRejectedCommand, EModem, -4007)         \
  X(EModemStatusMismatch, EModem, -4008)          \
  X(ENoMoreTriggers, ETrigger, -5001)             \
  X(ETriggerTooLong, ETrigger, -5002)             \
  X(EBadTriggerHandle, ETrigger, -5003)           \
  X(EKeyTooLong, EINI, -7001)                     \
  X(EDataTooLarge, EINI, -7002)                   \
  X(EIniWrite, EINI, -7004)                       \
  X(EIniRead, EINI, -7005)                        \
  X(ERecordExists, EINI, -7007)                   \
  X(ERecordNotFound, EINI, -7008)                 \
  X(EDatabaseFull, EINI, -7010)                   \
  X(EDatabaseEmpty, EINI, -7011)                  \
  X(EBadFieldList, EINI, -7013)                   \
  X(EBadFieldForIndex, EINI, -7014)               \
  X(EFaxBadFormat, EFax, -8001)                   \
  X(EBadGraphicsFormat, EFax, -8002)              \
  X(EConvertAbort, EFax, -8003)                   \
  X(EUnpackAbort, EFax, -8004)                    \
  X(ECantMakeBitmap, EFax, -8005)                 \
  X(EFaxBadMachine, EFax, -8070)                  \
  X(EFaxBadModemResult, EFax, -8071)              \
  X(EFaxTrainError, EFax, -8072)                  \
  X(EFaxInitError, EFax, -8073)                   \
  X(EFaxBusy, EFax, -8074)                        \
  X(EFaxVoiceCall, EFax, -8075)                   \
  X(EFaxDataCall, EFax, -8076)                    \
  X(EFaxNoDialTone, EFax, -8077)                  \
  X(EFaxNoCarrier, EFax, -8078)                   \
  X(EFaxSessionError, EFax, -8079)                \
  X(EFaxPageError, EFax, -8080)

#define QC_DECLARE_LISTED(Name, Base, Code) QC_DECLARE_EXCEPTION(Name, Base)
QC_EXCEPTION_LIST(QC_DECLARE_LISTED)
#undef QC_DECLARE_LISTED

// Turns a failed result into its exception:
// 1. results >= 0, and every result while `loading` (the component is being
//    loaded from its stored form), are returned unchanged;
// 2. a code with a class of its own raises that class with the code and its text;
// 3. -8 raises EOutOfMemory; other codes -2 .. -162 raise EInOutError with the
//    positive code; both with the code's text;
// 4. any other negative code raises EQcException("Fax library exception", 0).
int RaiseForCode(int code, bool loading = false);

}  // namespace qc
