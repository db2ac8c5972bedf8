// The AT dialogue log: command and response lines, frames between CONNECT
// and DLE ETX with DLE DLE unstuffed, page data counted, not logged.
#include <gtest/gtest.h>

#include "dte_stream.h"

namespace qc::linesim {
namespace {

struct Recorder {
  std::vector<std::string> log;
  std::vector<std::pair<bool, std::vector<uint8_t>>> frames;
  DteStream stream{[this](const std::string& s) { log.push_back(s); },
                   [this](bool p, const std::vector<uint8_t>& f) { frames.emplace_back(p, f); }};
  void Program(const std::string& s) { stream.FromProgram(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
  void Modem(const std::string& s) { stream.FromModem(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
};

TEST(DteStream, FramesBothWaysAndPageData) {
  Recorder r;
  r.Program("AT+FRH=3\r");
  r.Modem("\r\nCONNECT\r\n");
  r.Modem(std::string("\xff\x13\x80\x10\x10\x01\x10\x03", 8));  // DIS with a stuffed 0x10
  r.Modem("\r\nOK\r\n");
  r.Program("AT+FTH=3\r");
  r.Modem("\r\nCONNECT\r\n");
  r.Program(std::string("\xff\x03\x43\x20\x10\x03", 6));  // TSI, not final: CONNECT again
  r.Modem("\r\nCONNECT\r\n");
  r.Program(std::string("\xff\x13\x83\x00\x10\x03", 6));
  r.Modem("\r\nOK\r\n");
  r.Program("AT+FTM=96\r");
  r.Modem("\r\nCONNECT\r\n");
  r.Program(std::string("\x00\x10\x10\x41\x42\x10\x03", 7));
  r.Modem("\r\nOK\r\n");
  r.Program("ATH\r");

  ASSERT_EQ(r.frames.size(), 3u);
  EXPECT_FALSE(r.frames[0].first);
  EXPECT_EQ(r.frames[0].second, (std::vector<uint8_t>{0xff, 0x13, 0x80, 0x10, 0x01}));
  EXPECT_TRUE(r.frames[1].first);
  EXPECT_EQ(r.frames[1].second, (std::vector<uint8_t>{0xff, 0x03, 0x43, 0x20}));
  EXPECT_EQ(r.frames[2].second, (std::vector<uint8_t>{0xff, 0x13, 0x83, 0x00}));
  EXPECT_EQ(r.stream.ProgramDataBytes(), 4);
  const std::vector<std::string> expected = {
      "> AT+FRH=3", "< CONNECT", "< frame DIS ff 13 80 10 01", "< OK", "> AT+FTH=3", "< CONNECT",
      "> frame TSI ff 03 43 20", "< CONNECT", "> frame DCS ff 13 83 00", "< OK", "> AT+FTM=96", "< CONNECT",
      "> [page data 4 bytes]", "< OK", "> ATH"};
  EXPECT_EQ(r.log, expected);
}

TEST(DteStream, ResultWithoutConnectOpensNothing) {
  Recorder r;
  r.Program("AT+FRH=3\r");
  r.Modem("\r\nNO CARRIER\r\n");
  r.Modem("\r\nCONNECT\r\n");  // unasked: stays text
  r.Modem(std::string("\xff\x13\x80\x10\x03", 5));
  EXPECT_TRUE(r.frames.empty());
}

}  // namespace
}  // namespace qc::linesim
