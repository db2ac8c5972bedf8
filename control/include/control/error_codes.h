// Signed result codes used below the windows: 0 success, negative codes by
// family, positive operating-system file errors (passed on by the fax engine).
#pragma once

namespace qc {

enum ErrorCode : int {
  ecOK = 0,

  // File and device errors of the file layer (-2 .. -162).
  ecFileNotFound = -2,
  ecPathNotFound = -3,
  ecTooManyFiles = -4,
  ecAccessDenied = -5,
  ecInvalidHandle = -6,
  ecOutOfMemory = -8,
  ecInvalidDrive = -15,
  ecNoMoreFiles = -18,
  ecReadBeyondEOF = -100,
  ecDiskFull = -101,
  ecNotAssigned = -102,
  ecNotOpen = -103,
  ecNotOpenInput = -104,
  ecNotOpenOutput = -105,
  ecWriteProtected = -150,
  ecUnknownUnit = -151,
  ecDriveNotReady = -152,
  ecUnknownCommand = -153,
  ecCRCError = -154,
  ecBadStructLen = -155,
  ecSeekError = -156,
  ecUnknownMedia = -157,
  ecSectorNotFound = -158,
  ecOutOfPaper = -159,
  ecDeviceWrite = -160,
  ecDeviceRead = -161,
  ecHardwareFailure = -162,

  // General.
  ecBadHandle = -1001,
  ecBadArgument = -1002,
  ecGotQuitMsg = -1003,
  ecBufferTooBig = -1004,
  ecPortNotAssigned = -1005,
  ecInternal = -1006,
  ecModemNotAssigned = -1007,
  ecPhonebookNotAssigned = -1008,
  ecCannotUseWithWinSock = -1009,

  // Opening a port.
  ecBadId = -2001,
  ecBaudRate = -2002,
  ecByteSize = -2003,
  ecDefault = -2004,
  ecHardware = -2005,
  ecMemory = -2006,
  ecCommNotOpen = -2007,
  ecAlreadyOpen = -2008,
  ecNoHandles = -2009,
  ecNoTimers = -2010,
  ecNoPortSelected = -2011,

  // Serial input and output.
  ecNullApi = -3001,
  ecNotSupported = -3002,
  ecRegisterHandlerFailed = -3003,
  ecPutBlockFail = -3004,
  ecGetBlockFail = -3005,
  ecOutputBufferTooSmall = -3006,
  ecBufferIsEmpty = -3007,
  ecTracingNotEnabled = -3008,
  ecLoggingNotEnabled = -3009,

  // Modem dialler.
  ecModemNotStarted = -4001,
  ecModemBusy = -4002,
  ecModemNotDialing = -4003,
  ecNotDialing = -4004,
  ecAlreadyDialing = -4005,
  ecModemNotResponding = -4006,
  ecModemRejectedCommand = -4007,
  ecModemStatusMismatch = -4008,

  // Triggers.
  ecNoMoreTriggers = -5001,
  ecTriggerTooLong = -5002,
  ecBadTriggerHandle = -5003,

  // Transfer protocol.
  ecBadFileList = -6001,
  ecNoSearchMask = -6002,
  ecNoMatchingFiles = -6003,
  ecDirNotFound = -6004,
  ecCancelRequested = -6005,
  ecTimeout = -6006,
  ecProtocolError = -6007,
  ecTooManyErrors = -6008,
  ecSequenceError = -6009,
  ecNoFilename = -6010,
  ecFileRejected = -6011,
  ecCantWriteFile = -6012,
  ecTableFull = -6013,
  ecAbortNoCarrier = -6014,
  ecBadProtocolFunction = -6015,

  // INI database.
  ecKeyTooLong = -7001,
  ecDataTooLarge = -7002,
  ecNoFieldsDefined = -7003,
  ecIniWrite = -7004,
  ecIniRead = -7005,
  ecNoIndexKey = -7006,
  ecRecordExists = -7007,
  ecRecordNotFound = -7008,
  ecMustHaveIdxVal = -7009,
  ecDatabaseFull = -7010,
  ecDatabaseEmpty = -7011,
  ecDatabaseNotPrepared = -7012,
  ecBadFieldList = -7013,
  ecBadFieldForIndex = -7014,

  // Fax documents, conversion, viewer.
  ecFaxBadFormat = -8001,
  ecBadGraphicsFormat = -8002,
  ecConvertAbort = -8003,
  ecUnpackAbort = -8004,
  ecCantMakeBitmap = -8005,
  ecNoImageLoaded = -8050,
  ecNoImageBlockMarked = -8051,

  // Fax session.
  ecFaxBadMachine = -8070,
  ecFaxBadModemResult = -8071,
  ecFaxTrainError = -8072,
  ecFaxInitError = -8073,
  ecFaxBusy = -8074,
  ecFaxVoiceCall = -8075,
  ecFaxDataCall = -8076,
  ecFaxNoDialTone = -8077,
  ecFaxNoCarrier = -8078,
  ecFaxSessionError = -8079,
  ecFaxPageError = -8080,
  ecFaxMixedResolution = -8082,
};

}  // namespace qc
