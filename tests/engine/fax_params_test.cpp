#include "fax_params.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

TEST(FaxParams, DecodeParametersByPosition) {
  struct Case { const char* list; uint32_t bps; bool fine, wide, ecm; uint8_t st; };
  const Case cases[] = {
      {"1,3,0,2,0,0,0,0", 9600, true, false, false, 0},
      {"0,5,1,2,0,1,0,7", 14400, false, true, true, 7},
      {"0,0,0,2,0,2,0,3", 2400, false, false, true, 3},
      {"1,1,0,0,0,0,0,5", 4800, true, false, false, 5},
      {"0,2,0,0,0,0,0,2", 7200, false, false, false, 2},
      {"0,4,0,0,0,0,0,1", 12000, false, false, false, 1},
      {"0,9,0,0,0,0,0,9", 9600, false, false, false, 0},
      {"1", 9600, true, false, false, 0},
      {"", 9600, false, false, false, 0},
  };
  for (const Case& c : cases) {
    const SessionParameters p = DecodeParameters(c.list);
    EXPECT_EQ(p.bitRate, c.bps) << c.list;
    EXPECT_EQ(p.fine, c.fine) << c.list;
    EXPECT_EQ(p.wide, c.wide) << c.list;
    EXPECT_EQ(p.errorCorrection, c.ecm) << c.list;
    EXPECT_EQ(p.scanTimeCode, c.st) << c.list;
  }
}

TEST(FaxParams, MinimumScanBytes) {
  EXPECT_EQ(MinimumScanBytes(0, false, 9600), 0);
  EXPECT_EQ(MinimumScanBytes(5, false, 9600), 24);   // 20 ms
  EXPECT_EQ(MinimumScanBytes(2, true, 14400), 9);    // 5 ms fine
  EXPECT_EQ(MinimumScanBytes(7, false, 14400), 72);  // 40 ms
  EXPECT_EQ(MinimumScanBytes(3, true, 2400), 3);
}

TEST(FaxParams, Vocabularies) {
  const Class2Vocabulary c2 = VocabularyFor(fcClass2);
  const Class2Vocabulary c20 = VocabularyFor(fcClass2_0);
  EXPECT_EQ(c2.classCommand, "AT+FCLASS=2");
  EXPECT_EQ(c20.classCommand, "AT+FCLASS=2.0");
  EXPECT_EQ(c2.localIdCommand, "AT+FLID");
  EXPECT_EQ(c20.localIdCommand, "AT+FLI");
  EXPECT_EQ(c2.capabilitiesCommand, "AT+FDCC");
  EXPECT_EQ(c20.capabilitiesCommand, "AT+FCC");
  EXPECT_EQ(c2.connectionReport, "+FCON");
  EXPECT_EQ(c20.connectionReport, "+FCO");
  EXPECT_EQ(c2.capabilitiesReport, "+FDIS");
  EXPECT_EQ(c20.parametersReport, "+FCS");
  EXPECT_EQ(c2.calledIdReport, "+FCSI");
  EXPECT_EQ(c20.transmitterIdReport, "+FTI");
  EXPECT_EQ(c2.pageStatusReport, "+FPTS");
  EXPECT_EQ(c20.pageStatusReport, "+FPS");
  EXPECT_EQ(c2.hangupWord, "FHNG");
  EXPECT_EQ(c20.hangupWord, "FHS");
}

TEST(FaxParams, SetupCommands) {
  const Class2Vocabulary c2 = VocabularyFor(fcClass2);
  const Class2Vocabulary c20 = VocabularyFor(fcClass2_0);
  EXPECT_EQ(ParametersCommand(c2, true, 9600, false, '0'), "AT+FDIS=1,3,0,2,0,0,0,0");
  EXPECT_EQ(ParametersCommand(c20, false, 14400, true, '1'), "AT+FIS=0,5,1,2,0,1,0,0");
  EXPECT_EQ(ParametersCommand(c2, false, 9601, false, '0'), "AT+FDIS=0,3,0,2,0,0,0,0");
  EXPECT_EQ(LocalIdCommand(c2, "QUILL 1"), "AT+FLID=\"QUILL 1\"");
  EXPECT_EQ(LocalIdCommand(c20, ""), "AT+FLI=\"\"");
}

}  // namespace
}  // namespace qc
