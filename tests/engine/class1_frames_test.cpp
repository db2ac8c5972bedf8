// The Class 1 frame layer on its own: frame bytes, the DIS / DCS octets both
// ways, the speed fall-back and the identity fields.
#include <gtest/gtest.h>

#include "class1_frames.h"
#include "fax_params.h"
#include "session_records.h"

namespace qc {
namespace {

using Bytes = std::vector<uint8_t>;

ClassData WithLocal(int topIndex) {
  ClassData c;
  c.local.Clear();
  for (int i = 1; i <= topIndex; ++i) c.local.speeds[i] = true;
  return c;
}

TEST(Class1Frames, IdentityIsSentRightAlignedFromTheLastCharacter) {
  const Bytes frame = IdFrameBytes(fcf::kSendTSI, "QC 1");
  Bytes expected{0xFF, 0x03, 0x43, '1', ' ', 'C', 'Q'};
  expected.resize(23, ' ');
  EXPECT_EQ(frame, expected);
  // Longer identities are cut to 20 characters.
  EXPECT_EQ(IdFrameBytes(fcf::kSendCSI, std::string(25, 'X')).size(), 23u);

  // Reading turns the field round and keeps all 20 characters.
  const Bytes field{'9', '9', '1', '0', ' ', '5', '5', '5', ' ', '1', '+', ' ', ' ', ' ',
                    ' ', ' ', ' ', ' ', ' ', ' '};
  EXPECT_EQ(ReadIdentity(field), "         +1 555 0199");
}

TEST(Class1Frames, ShortFramesAndTheirNames) {
  EXPECT_EQ(ShortFrameBytes(fcf::kSendMPS), (Bytes{0xFF, 0x13, 0x4F}));
  EXPECT_EQ(ShortFrameBytes(fcf::kSendEOP), (Bytes{0xFF, 0x13, 0x2F}));
  EXPECT_EQ(ShortFrameBytes(fcf::kSendDCN), (Bytes{0xFF, 0x13, 0xFB}));
  EXPECT_EQ(FcfName(0x43), "TSI");
  EXPECT_EQ(FcfName(0x8C), "MCF");
  EXPECT_EQ(FcfName(0x5A), "0x5A");
}

TEST(Class1Frames, DcsOctetsBySpeedResolutionScanTimeAndWidth) {
  struct Case {
    uint16_t index;
    char resolution;
    uint8_t scanCode;
    bool wide;
    Bytes frame;
    const char* modulation;
  };
  const Case cases[] = {
      {4, '0', 1, false, {0xFF, 0x13, 0x83, 0x00, 0x06, 0x98, 0x00}, "96"},
      {4, '1', 1, false, {0xFF, 0x13, 0x83, 0x00, 0x46, 0x98, 0x00}, "96"},
      {6, '1', 0, true, {0xFF, 0x13, 0x83, 0x00, 0x62, 0xF9, 0x00}, "145"},
      {5, '0', 5, false, {0xFF, 0x13, 0x83, 0x00, 0x2A, 0x88, 0x00}, "121"},
      {3, '0', 4, false, {0xFF, 0x13, 0x83, 0x00, 0x0E, 0x88, 0x00}, "72"},
      {3, '1', 4, false, {0xFF, 0x13, 0x83, 0x00, 0x4E, 0xA8, 0x00}, "72"},
      {2, '0', 6, false, {0xFF, 0x13, 0x83, 0x00, 0x0A, 0xC8, 0x00}, "48"},
      {1, '1', 6, false, {0xFF, 0x13, 0x83, 0x00, 0x42, 0x88, 0x00}, "24"},
      {1, '0', 7, false, {0xFF, 0x13, 0x83, 0x00, 0x02, 0xC8, 0x00}, "24"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index * 100 + c.scanCode);
    ClassData cls;
    cls.speedIndex = c.index;
    cls.resolutionDigit = c.resolution;
    cls.scanTimeCode = c.scanCode;
    cls.sessionWide = c.wide;
    EXPECT_EQ(ParameterFrameBytes(cls, ParameterKind::Dcs), c.frame);
    EXPECT_EQ(cls.modulation, c.modulation);
  }
}

TEST(Class1Frames, DisOctetsOfTheAnsweringSide) {
  struct Case {
    uint16_t index;
    uint8_t octet2;
  };
  for (const Case c : {Case{1, 0x42}, Case{2, 0x4A}, Case{3, 0x4E}, Case{4, 0x4E}, Case{5, 0x6E}, Case{6, 0x6E}}) {
    SCOPED_TRACE(c.index);
    ClassData cls;
    cls.speedIndex = c.index;
    EXPECT_EQ(ParameterFrameBytes(cls, ParameterKind::Dis), (Bytes{0xFF, 0x13, 0x80, 0x00, c.octet2, 0xF9, 0x00}));
  }
}

TEST(Class1Frames, DisChoosesTheSpeedBothSidesHaveUpToDesiredBps) {
  struct Case {
    uint8_t octet2, octet3;
    int localTop;
    uint16_t desired;
    bool firstFine;
    uint16_t index;
    bool remoteFine, remoteWide;
    uint8_t scanCode;
    uint16_t minimumBytes;
  };
  const Case cases[] = {
      {0x6E, 0x10, 6, 9600, false, 4, true, false, 1, 6},  // V.17 remote held to 9600; 5 ms
      {0x6E, 0x71, 6, 14400, true, 6, true, true, 0, 0},
      {0x6E, 0x72, 6, 12000, false, 5, true, true, 0, 0},   // 0x02: wide up to 303 mm
      {0x6E, 0x00, 4, 14400, false, 4, true, false, 5, 24},  // modem tops at 9600; 20 ms
      {0x0E, 0x30, 6, 14400, true, 4, false, false, 4, 12},  // V.29 remote, 10 ms fine
      {0x06, 0x60, 6, 14400, false, 4, false, false, 2, 12}, // V.29 alone: 9600 and 7200
      {0x0A, 0x40, 6, 14400, false, 2, false, false, 7, 24}, // V.27 ter: 4800; 40 ms
      {0x02, 0x50, 6, 9600, true, 2, false, false, 6, 12},   // fall-back V.27 ter; 20 ms fine
      {0x6E, 0x70, 6, 2400, false, 1, true, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.octet2) * 1000 + c.octet3);
    ClassData cls = WithLocal(c.localTop);
    cls.desiredBps = c.desired;
    DecodeCapabilities(cls, ParameterKind::Dis, c.octet2, c.octet3, FirstPage{c.firstFine, false});
    EXPECT_EQ(cls.speedIndex, c.index);
    EXPECT_EQ(cls.bitRate, kSpeeds[c.index].bitRate);
    EXPECT_EQ(cls.remoteFine, c.remoteFine);
    EXPECT_EQ(cls.remoteWide, c.remoteWide);
    EXPECT_EQ(cls.sessionFine, c.firstFine);
    EXPECT_EQ(cls.scanTimeCode, c.scanCode);
    EXPECT_EQ(cls.minimumScanBytes, c.minimumBytes);
  }
}

TEST(Class1Frames, DcsGivesTheCallersChoice) {
  struct Case {
    uint8_t octet2, octet3;
    uint16_t index;
    const char* modulation;
    bool fine, wide;
    uint8_t scanCode;
  };
  const Case cases[] = {
      {0x46, 0x98, 4, "96", true, false, 1},   {0x0E, 0x89, 3, "72", false, true, 0x5},
      {0x0A, 0xC8, 2, "48", false, false, 7},  {0x02, 0xF8, 1, "24", false, false, 0},
      {0x22, 0x88, 6, "145", false, false, 5}, {0x6A, 0xA8, 5, "121", true, false, 3},
      {0x26, 0x88, 4, "97", false, false, 5},  {0x2E, 0x88, 3, "73", false, false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modulation);
    ClassData cls;
    DecodeCapabilities(cls, ParameterKind::Dcs, c.octet2, c.octet3);
    EXPECT_EQ(cls.speedIndex, c.index);
    EXPECT_EQ(cls.bitRate, kSpeeds[c.index].bitRate);
    EXPECT_EQ(cls.modulation, c.modulation);
    EXPECT_EQ(cls.sessionFine, c.fine);
    EXPECT_EQ(cls.sessionWide, c.wide);
    EXPECT_EQ(cls.scanTimeCode, c.scanCode);
  }
}

TEST(Class1Frames, StepDownSkipsWhatEitherSideLacks) {
  ClassData c = WithLocal(6);
  c.remote.Clear();
  for (int i : {1, 2, 4, 6}) c.remote.speeds[i] = true;
  c.speedIndex = 6;
  c.scanTimeCode = 1;
  std::vector<uint32_t> rates;
  while (StepDown(c)) rates.push_back(c.bitRate);
  EXPECT_EQ(rates, (std::vector<uint32_t>{9600, 4800, 2400}));
  EXPECT_EQ(c.speedIndex, 1);
  EXPECT_EQ(c.minimumScanBytes, 1);  // 5 ms at 2400
  EXPECT_EQ(c.modulation, "24");
}

TEST(Class1Frames, TrainingLengthAndUnstuffing) {
  EXPECT_EQ(TrainingBytes(2400), 432u);
  EXPECT_EQ(TrainingBytes(9600), 1728u);
  EXPECT_EQ(TrainingBytes(14400), 2592u);
  EXPECT_EQ(TrainingBytes(1000000), kTrainingMaxBytes);
  const std::string raw{'\xFF', '\x13', '\x80', '\x10', '\x10', '\x03', '\x10', '\x03', 'O', 'K'};
  EXPECT_EQ(UnstuffFrame(raw), (Bytes{0xFF, 0x13, 0x80, 0x10, 0x03}));
}

}  // namespace
}  // namespace qc
