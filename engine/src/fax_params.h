// Fax protocol tables shared by the send and receive machines: the speed
// index table, the minimum scan-line times, the Class 2 / 2.0 vocabularies
// and the session parameter lists of the Class 2 reports.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/fax_types.h"

namespace qc {

// Speed index 1..6 (index 0 unused). Class 1 modulation codes of
// T.31 "AT+FTM=" (V.27ter, V.29, V.17); Class 2 rate digits are the "br"
// values of T.32 / EIA-592 (0 = 2400 ... 5 = 14400).
struct SpeedEntry {
  uint32_t bitRate;
  std::string_view modulation;
  char rateDigit;
};
inline constexpr SpeedEntry kSpeeds[7] = {
    {0, "", '3'},        {2400, "24", '0'},   {4800, "48", '1'},   {7200, "72", '2'},
    {9600, "96", '3'},   {12000, "121", '4'}, {14400, "145", '5'},
};
inline constexpr int kMinSpeedIndex = 1;
inline constexpr int kMaxSpeedIndex = 6;

// The Class 2 rate digit of a bit rate; '3' for a rate not in the table.
char RateDigit(uint32_t bitRate);

// Minimum scan-line time in ms by scan-time code (T.30 DIS bits 21-23, the
// Class 2 "st" value), for normal / fine resolution.
struct ScanTime {
  uint8_t normalMs;
  uint8_t fineMs;
};
inline constexpr ScanTime kScanTimes[8] = {
    {0, 0}, {5, 5}, {10, 5}, {10, 10}, {20, 10}, {20, 20}, {40, 20}, {40, 40},
};

// Bytes a scan line must at least take: time x bit rate / 8000.
uint16_t MinimumScanBytes(uint8_t scanTimeCode, bool fine, uint32_t bitRate);

// The strings of one Class 2 dialect (T.32 for 2.0, EIA-592 draft "Class 2").
struct Class2Words {
  std::string_view classCommand;       // select the class
  std::string_view parametersCommand;  // session parameters for sending
  std::string_view localIdCommand;
  std::string_view capabilitiesCommand;  // capabilities for receiving
  std::string_view connectionReport;
  std::string_view capabilitiesReport;
  std::string_view parametersReport;
  std::string_view transmitterIdReport;
  std::string_view calledIdReport;
  std::string_view pageStatusReport;
  std::string_view hangupWord;
};
inline constexpr Class2Words kClass2Words{"CLASS=2", "DIS", "LID", "DCC", "CON", "DIS",
                                          "DCS",     "TSI", "CSI", "PTS", "FHNG"};
inline constexpr Class2Words kClass2_0Words{"CLASS=2.0", "IS", "LI", "CC", "CO", "IS",
                                            "CS",        "TI", "CI", "PS", "FHS"};

// The full strings as sent and matched: "AT+F" + command word, "+F" + report.
struct Class2Vocabulary {
  std::string classCommand, parametersCommand, localIdCommand, capabilitiesCommand;
  std::string connectionReport, capabilitiesReport, parametersReport;
  std::string transmitterIdReport, calledIdReport, pageStatusReport, hangupWord;
};
Class2Vocabulary VocabularyFor(TFaxClass faxClass);

// Session parameters read from a "+FDIS:"/"+FDCS:" style list
// (vr,br,wd,ln,df,ec,bf,st; one digit each).
struct SessionParameters {
  uint32_t bitRate = 9600;
  bool fine = false;
  bool wide = false;
  bool errorCorrection = false;
  uint8_t scanTimeCode = 0;
};
SessionParameters DecodeParameters(std::string_view list);

// "AT+FDIS=1,3,0,2,0,0,0,0" and its 2.0 form.
std::string ParametersCommand(const Class2Vocabulary& words, bool fine, uint32_t desiredBps,
                              bool wide, char ecmDigit);

// "AT+FLID=\"ID\"".
std::string LocalIdCommand(const Class2Vocabulary& words, std::string_view stationId);

}  // namespace qc
