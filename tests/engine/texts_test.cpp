// Status texts, header-line macros and fax history entries.
#include <gtest/gtest.h>

#include "engine/fax_types.h"
#include "fax_log_entry.h"
#include "header_macros.h"

namespace qc {
namespace {

TEST(ProgressText, CodesOneToFortyThree) {
  EXPECT_EQ(ProgressText(1), "Initializing modem for fax processing");
  EXPECT_EQ(ProgressText(3), "Busy, waiting until redial...");
  EXPECT_EQ(ProgressText(7), "Page accepted by remote");
  EXPECT_EQ(ProgressText(28), "Got Class 2 FHNG code");
  EXPECT_EQ(ProgressText(42), "User abort");
  EXPECT_EQ(ProgressText(43), "Finished");
  for (int code : {0, 8, 19, 29, 39, 44, -1}) EXPECT_EQ(ProgressText(code), "") << code;
}

TEST(Ticks, DialWaitRoundTrips) {
  EXPECT_EQ(SecondsToTicks(60), 1092u);
  EXPECT_EQ(SecondsToTicks(10), 182u);
  for (uint32_t s : {0u, 1u, 2u, 30u, 60u, 65535u}) EXPECT_EQ(TicksToSeconds(SecondsToTicks(s)), s);
}

HeaderMacroValues SampleValues() {
  HeaderMacroValues v;
  v.stationId = "QC 1";
  v.sender = "Ann";
  v.recipient = "Bob";
  v.title = "Plans";
  v.page = 3;
  v.totalPages = 4;
  v.now = 1765458000;  // a fixed moment
  return v;
}

TEST(HeaderMacros, EachLetterEitherCase) {
  const HeaderMacroValues v = SampleValues();
  const std::string date = ShortDateText(v.now), time = LongTimeText(v.now);
  struct Case { const char* in; std::string out; };
  const Case cases[] = {
      {"$d $t Page $P of $N", date + " " + time + " Page 3 of 4"},
      {"$D $T", date + " " + time},
      {"From $f to $R: $s ($i)", "From Ann to Bob Plans (QC 1"},  // the whole word is replaced
      {"$I", "QC 1"},
      {"$Q x", " x"},
      {"cost $", "cost "},
      {"$Pof$N", "3"},  // a macro runs to the next blank
      {"no macros", "no macros"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandHeaderMacros(c.in, v), c.out) << c.in;
}

TEST(HeaderMacros, ValuesAreNotExpandedAgain) {
  HeaderMacroValues v = SampleValues();
  v.sender = "$F $N";
  EXPECT_EQ(ExpandHeaderMacros("[$F]", v), "[$F $N");
}

TEST(FaxLogEntry, Formats) {
  FaxLogFacts f;
  f.faxFile = "JOB.APF";
  f.phoneNumber = "5550100";
  f.remoteId = "REMOTE";
  f.hangupResult = 0;
  f.sessionError = -8074;
  const std::time_t t = 1765458000;
  const std::string when = ShortDateText(t) + " " + LongTimeText(t);
  EXPECT_EQ(FaxLogEntry(1, f, t), "Transmit JOB.APF to 5550100 started at " + when + "\r\n");
  EXPECT_EQ(FaxLogEntry(2, f, t), "Transmit to REMOTE finished OK at " + when + " 0\r\n\r\n");
  EXPECT_EQ(FaxLogEntry(3, f, t),
            "Transmit failed at " + when + "\r\n  (Called fax number was busy) 0\r\n\r\n");
  EXPECT_EQ(FaxLogEntry(4, f, t), "");  // a send component writes no receive entries
  f.sender = false;
  EXPECT_EQ(FaxLogEntry(1, f, t), "");
  EXPECT_EQ(FaxLogEntry(4, f, t), "Receive JOB.APF from REMOTE started at " + when + "\r\n");
  EXPECT_EQ(FaxLogEntry(5, f, t), "Receive finished OK at " + when + "\r\n\r\n");
  EXPECT_EQ(FaxLogEntry(6, f, t), "Receive skipped at " + when + "\r\n\r\n");
  EXPECT_EQ(FaxLogEntry(7, f, t), "Receive failed at " + when + "\r\n  (Called fax number was busy)\r\n\r\n");
  EXPECT_EQ(FaxLogEntry(8, f, t), "");
}

}  // namespace
}  // namespace qc
