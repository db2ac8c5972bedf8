#include "modem_text.h"

#include <gtest/gtest.h>

namespace qc {
namespace {

TEST(ModemText, ResultWordsAnywhereInTheLine) {
  EXPECT_TRUE(IsOK("OK"));
  EXPECT_TRUE(IsNoCarrier("NO CARRIER"));
  EXPECT_FALSE(IsNoCarrier("NO DIALTONE"));
  EXPECT_TRUE(IsError("+CME ERROR: 3"));
  EXPECT_TRUE(IsConnect("CONNECT 9600"));
  EXPECT_FALSE(IsOK("O K"));
}

TEST(ModemText, HangupCodeReadsUpToThreeCharactersAfterTheColon) {
  struct Case { const char* line; uint16_t code; };
  const Case cases[] = {
      {"+FHNG:0", 0}, {"+FHNG: 50", 50}, {"+FHS:101", 101}, {"+FHNG:1234", 123},
      {"+FHNG", 0},   {"+FHNG: x", 0},   {"+FHNG:", 0},     {"+FHS: 20 ", 20},
  };
  for (const Case& c : cases) EXPECT_EQ(HangupCode(c.line), c.code) << c.line;
}

TEST(ModemText, StripPrefixCutsAtColonElseEquals) {
  EXPECT_EQ(StripPrefix("  +FDIS: 1,3,0,2,0,0,0,0 \r"), "1,3,0,2,0,0,0,0");
  EXPECT_EQ(StripPrefix("+FCLASS=0,1,2"), "0,1,2");
  EXPECT_EQ(StripPrefix("0,1,2,2.0"), "0,1,2,2.0");
  EXPECT_EQ(StripPrefix("+FCSI:a=b"), "a=b");
}

TEST(ModemText, TrimRemoteId) {
  EXPECT_EQ(TrimRemoteID("\"  +1 555 0100 \""), "+1 555 0100");
  EXPECT_EQ(TrimRemoteID("\"REMOTE FAX\""), "REMOTE FAX");
  EXPECT_EQ(TrimRemoteID(" abc-"), "abc");
  EXPECT_EQ(TrimRemoteID("\"\""), "");
}

TEST(ModemText, InitStringByDetectBusyAndBlindDial) {
  EXPECT_EQ(InitStringFor(false, true), "ATE0Q0V1X1S0=0S2=43");
  EXPECT_EQ(InitStringFor(false, false), "ATE0Q0V1X2S0=0S2=43");
  EXPECT_EQ(InitStringFor(true, true), "ATE0Q0V1X3S0=0S2=43");
  EXPECT_EQ(InitStringFor(true, false), "ATE0Q0V1X4S0=0S2=43");
}

TEST(ModemText, ModemInitIsUpperCasedWithAT) {
  EXPECT_EQ(NormalizeModemInit("&F"), "AT&F");
  EXPECT_EQ(NormalizeModemInit("ATZ"), "ATZ");
  EXPECT_EQ(NormalizeModemInit("at&f1"), "AT&F1");
  EXPECT_EQ(NormalizeModemInit(""), "");
  EXPECT_EQ(NormalizeModemInit(std::string(50, 'x')).size(), 40u);
}

TEST(ModemText, MatcherRestartsOnThePatternsFirstByte) {
  PatternMatcher crlf("\r\n");
  std::string seen;
  for (char c : std::string("OK\r\r\nX\r\n")) seen += crlf.Feed(c) ? '!' : '.';
  EXPECT_EQ(seen, "....!..!");
  PatternMatcher dleEtx("\x10\x03");
  EXPECT_FALSE(dleEtx.Feed('\x10'));
  EXPECT_FALSE(dleEtx.Feed('\x10'));
  EXPECT_TRUE(dleEtx.Feed('\x03'));
}

TEST(ModemText, ClassAnswers) {
  struct Case { const char* line; bool c1, c2, c20; };
  const Case cases[] = {
      {"0,1,2,2.0", true, true, true},
      {"+FCLASS: 0,1,2.0", true, false, true},
      {"0,1", true, false, false},
      {"(0,1,2)", true, true, false},
      {"0", false, false, false},
      {"0,2.0", false, false, true},
  };
  for (const Case& c : cases) {
    const ClassAnswer a = ParseClassAnswer(c.line);
    EXPECT_EQ(a.class1, c.c1) << c.line;
    EXPECT_EQ(a.class2, c.c2) << c.line;
    EXPECT_EQ(a.class2_0, c.c20) << c.line;
  }
}

TEST(ModemText, Class1SpeedList) {
  EXPECT_EQ(ParseClass1Speeds("24,48,72,96"), 0b0011110);
  EXPECT_EQ(ParseClass1Speeds("3,24,48,72,73,74,96,97,98,121,122,145,146"), 0b1111110);
  EXPECT_EQ(ParseClass1Speeds("24,48"), 0b0000110);
}

}  // namespace
}  // namespace qc
