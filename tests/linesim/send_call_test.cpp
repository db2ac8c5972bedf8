// Whole calls through the virtual line: our TQcSendFax, Class 1, sends to the
// spandsp fax terminal, which writes what it decoded to a TIFF file. Every
// page read back must be exactly the page we rendered (eight blank rows, the
// header line, the APF page), and what the terminal reports must match the
// DCS it was sent. A call takes 15 to 60 s of real time, so the default build
// runs a short table and LINESIM_FULL builds the rest.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "send_call.h"
#include "tiff_pages.h"

namespace qc::linesim {
namespace {

using test::BlankRows;
using test::Concat;
using test::PatternPage;
using test::Raster;
using test::TextRows;
using test::WriteApf;

// Bit n (1-based, as T.30 Table 2 numbers them) of a DCS frame's FIF.
bool DcsBit(const std::vector<uint8_t>& frame, int n) {
  const size_t octet = 3 + static_cast<size_t>(n - 1) / 8;
  return octet < frame.size() && ((frame[octet] >> ((n - 1) % 8)) & 1) != 0;
}

// Data signalling rate of a DCS, bits 11-14 (T.30 Table 2).
int DcsRate(const std::vector<uint8_t>& dcs) {
  const int code = (DcsBit(dcs, 11) ? 8 : 0) | (DcsBit(dcs, 12) ? 4 : 0) | (DcsBit(dcs, 13) ? 2 : 0) |
                   (DcsBit(dcs, 14) ? 1 : 0);
  switch (code) {
    case 0b0000: return 2400;
    case 0b0100: return 4800;
    case 0b1100: return 7200;   // V.29
    case 0b1000: return 9600;   // V.29
    case 0b1101: return 7200;   // V.17
    case 0b1001: return 9600;   // V.17
    case 0b0101: return 12000;  // V.17
    case 0b0001: return 14400;  // V.17
    default: return -1;
  }
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct SendCase {
  const char* name;
  int bps;
  int pages;   // APF pages (rows shrink page by page)
  bool fine;
  bool cover;  // a text cover page in front
};

void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class SendThroughLine : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendThroughLine, PagesArrivePixelExactAndTheTerminalAgreesWithTheDcs) {
  const SendCase& c = GetParam();
  LineConfig config;
  config.terminal.stationId = "LINESIM FAR 1";
  SendCall call(config);

  std::vector<Raster> pages;
  for (int p = 0; p < c.pages; ++p) pages.push_back(PatternPage(p + 1, 160 - 30 * p));
  const std::string apf = call.dir.Path("BODY.APF");
  WriteApf(apf, pages, c.fine);
  const std::string cover = call.dir.Path("cover.txt");
  std::ofstream(cover) << "QUILLCAST COVER\nTo: $R\n";

  call.fax.SetDesiredBPS(static_cast<uint16_t>(c.bps));
  call.fax.SetStationID("QC LINESIM 1");
  call.fax.SetHeaderLine("$I Page $P of $N");
  call.fax.SetHeaderRecipient("Bob");
  call.fax.SetPhoneNumber("5550100");
  call.fax.SetFaxFile(apf);
  if (c.cover) call.fax.SetCoverFile(cover);

  ASSERT_TRUE(call.Run()) << call.Diagnostics();
  EXPECT_EQ(call.finishCode, 0) << call.Diagnostics();
  EXPECT_TRUE(call.errors.empty());
  EXPECT_EQ(call.logs, (std::vector<int>{lcTransmitStarted, lcTransmitFinished}));
  // The terminal's CSI read in order: 20 characters, fillers in front.
  const std::string farId = "       LINESIM FAR 1";
  EXPECT_EQ(call.fax.RemoteStationID(), farId);

  const CallReport r = call.line.Report();
  const int total = c.pages + (c.cover ? 1 : 0);
  EXPECT_EQ(r.completionCode, 0) << r.completionText;
  EXPECT_EQ(r.pagesReceived, total);
  EXPECT_EQ(r.remoteId, "QC LINESIM 1");
  ASSERT_FALSE(r.dcs.empty()) << call.Diagnostics();
  const std::vector<uint8_t>& dcs = r.dcs.back();
  EXPECT_EQ(DcsRate(dcs), c.bps);
  EXPECT_EQ(r.bitRate, c.bps);
  EXPECT_EQ(DcsBit(dcs, 15), c.fine);
  EXPECT_EQ(r.yResolution, c.fine ? 7700 : 3850);
  for (const TerminalPage& p : r.pages) EXPECT_EQ(p.badRows, 0);

  std::string error;
  const std::vector<TiffPage> got = ReadTiffPages(r.tiffPath, &error);
  ASSERT_EQ(static_cast<int>(got.size()), total) << error;
  auto header = [&](int n) { return "QC LINESIM 1 Page " + std::to_string(n) + " of " + std::to_string(total); };
  size_t at = 0;
  if (c.cover) {
    const Raster expected = Concat({BlankRows(8), TextRows(header(1), true, c.fine),
                                    TextRows("QUILLCAST COVER", false, c.fine), TextRows("To: Bob", false, c.fine)});
    EXPECT_TRUE(got[0].rows == expected) << "cover page: " << got[0].rows.size() << " rows, expected "
                                         << expected.size();
    at = 1;
  }
  for (int p = 0; p < c.pages; ++p, ++at) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    EXPECT_EQ(got[at].width, 1728);
    EXPECT_EQ(got[at].fine, c.fine);
    const Raster expected =
        Concat({BlankRows(8), TextRows(header(static_cast<int>(at) + 1), true, c.fine), pages[static_cast<size_t>(p)]});
    EXPECT_TRUE(got[at].rows == expected) << got[at].rows.size() << " rows, expected " << expected.size();
  }

  const std::string his = ReadFile(call.dir.Path("QCFAX.HIS"));
  EXPECT_NE(his.find("Transmit " + apf + " to 5550100 started at "), std::string::npos) << his;
  EXPECT_NE(his.find("Transmit to " + farId + " finished OK at "), std::string::npos) << his;
  if (HasFailure()) std::cerr << call.Diagnostics();
}

#ifndef LINESIM_FULL
// The short set the default test run takes (with the qcfax call, four
// calls): each modem family and both resolutions once, the longest document
// at the fastest rate.
const SendCase kCases[] = {
    {"OnePageFine9600", 9600, 1, true, false},
    {"CoverAndThreePagesStandard14400", 14400, 3, false, true},
    {"OnePageStandard2400", 2400, 1, false, false},
};
#else
const SendCase kCases[] = {
    {"ThreePagesFine7200", 7200, 3, true, false},
    {"OnePageFine2400", 2400, 1, true, false},
    {"OnePageFine4800", 4800, 1, true, false},
    {"OnePageFine7200", 7200, 1, true, false},
    {"OnePageFine12000", 12000, 1, true, false},
    {"OnePageFine14400", 14400, 1, true, false},
    {"OnePageStandard4800", 4800, 1, false, false},
    {"OnePageStandard9600", 9600, 1, false, false},
    {"OnePageStandard14400", 14400, 1, false, false},
    {"CoverAndThreePagesFine2400", 2400, 3, true, true},
    {"CoverAndThreePagesFine4800", 4800, 3, true, true},
    {"CoverAndThreePagesFine9600", 9600, 3, true, true},
    {"CoverAndThreePagesFine12000", 12000, 3, true, true},
    {"CoverAndThreePagesStandard7200", 7200, 3, false, true},
    {"ThreePagesStandard9600", 9600, 3, false, false},
    {"ThreePagesStandard12000", 12000, 3, false, false},
};
#endif

INSTANTIATE_TEST_SUITE_P(Send, SendThroughLine, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qc::linesim
