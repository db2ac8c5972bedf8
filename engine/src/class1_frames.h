// The Class 1 frame layer both directions share: the T.30 control frames as
// they pass through a T.31 modem ("AT+FTH=3" / "AT+FRH=3"), the DIS/DCS
// capability octets, the training check and the speed fall-back.
//
// Octets are given as the modem hands them over: the first bit on the line
// is the least significant bit, so the FCF values read as in T.30 Table 1
// with its bit 1 (the X bit) in the low bit, and T.30 bit n of the
// information field is bit (n - 1) mod 8 of octet (n - 1) / 8 + 1.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qc {

class FaxSession;
struct ClassData;

// --- HDLC framing (T.30 5.3.4, 5.3.5; T.31 8.3.5) ---
inline constexpr uint8_t kHdlcAddress = 0xFF;
inline constexpr uint8_t kControlMore = 0x03;   // more frames follow
inline constexpr uint8_t kControlFinal = 0x13;  // final frame of the sequence
inline constexpr uint8_t kControlFinalBit = 0x10;
inline constexpr uint8_t kFrameDle = 0x10;
inline constexpr uint8_t kFrameEtx = 0x03;

// --- Facsimile control fields (T.30 5.3.6, Table 1) ---
// Compared on receipt with the X bit cleared unless noted.
namespace fcf {
inline constexpr uint8_t kXBit = 0x01;  // set by the station that received a DIS
inline constexpr uint8_t DIS = 0x80;    // digital identification signal (DTC: 0x81)
inline constexpr uint8_t CSI = 0x40;    // called subscriber identification
inline constexpr uint8_t NSF = 0x20;    // non-standard facilities
inline constexpr uint8_t DCS = 0x82;    // digital command signal
inline constexpr uint8_t TSI = 0x42;    // transmitting subscriber identification
inline constexpr uint8_t CFR = 0x84;    // confirmation to receive
inline constexpr uint8_t FTT = 0x44;    // failure to train
inline constexpr uint8_t EOM = 0x8E;    // end of message
inline constexpr uint8_t MPS = 0x4E;    // multipage signal
inline constexpr uint8_t EOP = 0x2E;    // end of procedure
inline constexpr uint8_t MCF = 0x8C;    // message confirmation (compared exactly)
inline constexpr uint8_t RTP = 0xCC;    // retrain positive (compared exactly)
inline constexpr uint8_t RTN = 0x4C;    // retrain negative
inline constexpr uint8_t CRP = 0x1A;    // command repeat
inline constexpr uint8_t DCN = 0xFA;    // disconnect

// As the calling (sending) station sends them: X bit set.
inline constexpr uint8_t kSendTSI = TSI | kXBit;  // 0x43
inline constexpr uint8_t kSendDCS = DCS | kXBit;  // 0x83
inline constexpr uint8_t kSendMPS = MPS | kXBit;  // 0x4F
inline constexpr uint8_t kSendEOP = EOP | kXBit;  // 0x2F
inline constexpr uint8_t kSendDCN = DCN | kXBit;  // 0xFB
// As the answering station sends them: X bit clear.
inline constexpr uint8_t kSendCSI = CSI;
inline constexpr uint8_t kSendDIS = DIS;
}  // namespace fcf

// Name of an FCF for logs ("DIS", "MCF", "0x5A" for others).
std::string FcfName(uint8_t fcf);

// --- DIS / DCS information field (T.30 5.3.6.2, Table 2) ---
// Octet 1 is bits 1-8, octet 2 bits 9-16, octet 3 bits 17-24.
struct FieldBit {
  uint8_t octet;  // 1-based
  uint8_t mask;
};
constexpr FieldBit BitOf(int n) {
  return {static_cast<uint8_t>((n - 1) / 8 + 1), static_cast<uint8_t>(1u << ((n - 1) % 8))};
}
inline constexpr FieldBit kBitReceiverOperation = BitOf(10);  // DIS: can receive; DCS: receive
inline constexpr FieldBit kBitV29 = BitOf(11);                // DIS rate bits 11-14
inline constexpr FieldBit kBitV27ter = BitOf(12);
inline constexpr FieldBit kBitV33 = BitOf(13);
inline constexpr FieldBit kBitV17 = BitOf(14);
inline constexpr FieldBit kBitFine = BitOf(15);               // 7.7 lines/mm
inline constexpr FieldBit kBitExtend = BitOf(24);             // another octet follows
inline constexpr uint8_t kRateMask = 0x3C;                    // bits 11-14 in octet 2
inline constexpr uint8_t kWidthMask = 0x03;                   // bits 17-18 in octet 3
inline constexpr uint8_t kScanTimeMask = 0x70;                // bits 21-23 in octet 3

// Bits 11-14 by speed index (1..6): what a DIS offers when the local modem
// tops out at that index, and what a DCS orders. A DIS names modem families
// (V.27 ter 0x08, V.29 0x04, V.17 0x20, T.30 Table 2 "data signalling rate");
// a DCS names one rate of one family, the V.29 / V.27 ter forms up to 9600
// and the V.17 forms at 12000 and 14400 (V.17 12000 is bits 12 and 14).
struct Class1RateBits {
  uint8_t dis;
  uint8_t dcs;
};
inline constexpr Class1RateBits kClass1RateBits[7] = {
    {0x0C, 0x04},  // out of range: as 9600
    {0x00, 0x00},  // 2400 V.27 ter
    {0x08, 0x08},  // 4800 V.27 ter
    {0x0C, 0x0C},  // 7200 V.29
    {0x0C, 0x04},  // 9600 V.29
    {0x2C, 0x28},  // 12000 V.17
    {0x2C, 0x20},  // 14400 V.17
};

// Rate bits 11-14 of a DCS (T.30 Table 2) with the speed index and the
// T.31 modulation code the receiver listens with (V.17 at 7200 and 9600 is
// "73" / "97", T.31 Table 5). The V.33 forms are taken as the V.17 rate.
struct DcsRate {
  uint8_t bits;
  uint8_t speedIndex;
  std::string_view modulation;
};
inline constexpr DcsRate kDcsRates[] = {
    {0x00, 1, "24"},  {0x08, 2, "48"},  {0x0C, 3, "72"},  {0x04, 4, "96"},
    {0x10, 6, "145"}, {0x18, 5, "121"}, {0x20, 6, "145"}, {0x28, 5, "121"},
    {0x24, 4, "97"},  {0x2C, 3, "73"},
};

// V.17 is trained long for the training check and short for the pages that
// follow (T.30 5.3.2, V.17 short train); T.31 Table 5 gives each V.17 rate a
// code of each kind. A modem listening for one form misses the other, so both
// ends use the short code for page data.
struct ShortTrain {
  std::string_view longCode;
  std::string_view shortCode;
};
inline constexpr ShortTrain kV17ShortTrain[] = {{"73", "74"}, {"97", "98"}, {"121", "122"}, {"145", "146"}};

// The modulation code for page data at the session's modulation.
inline std::string PageModulation(std::string_view modulation) {
  for (const ShortTrain& t : kV17ShortTrain)
    if (modulation == t.longCode) return std::string(t.shortCode);
  return std::string(modulation);
}

// Bits 21-23 (mask 0x70 of octet 3) of a DIS or DCS read as the scan-time
// code of the session (index of kScanTimes).
inline constexpr uint8_t kScanCodeOfBits[8] = {5, 1, 3, 4, 7, 6, 2, 0};  // by (bits >> 4)

// Bits 21-23 a DCS carries for a scan-time code, normal / fine resolution:
// the remote's minimum at the resolution of the session.
struct DcsScanBits {
  uint8_t normal;
  uint8_t fine;
};
inline constexpr DcsScanBits kDcsScanBits[8] = {
    {0x70, 0x70}, {0x10, 0x10}, {0x20, 0x10}, {0x20, 0x20},
    {0x00, 0x20}, {0x00, 0x00}, {0x40, 0x00}, {0x40, 0x40},
};

// Octet 2 and 3 constants of the frames this side sends.
inline constexpr uint8_t kOctet2Base = 0x02;  // bit 10
inline constexpr uint8_t kDisOctet3 = 0xF9;   // wide, A4+B4 length, 0 ms scan, extend
inline constexpr uint8_t kDcsOctet3Base = 0x88;  // bits 20 and 24
inline constexpr uint8_t kDcsOctet3Wide = 0x01;  // bit 17: 2048 pixels

// Training check: 1.5 s of zeros, (bit rate / 100) x 18 bytes (T.30 5.3.2.2.3).
inline constexpr size_t kTrainingMaxBytes = 8192;
size_t TrainingBytes(uint32_t bitRate);

// The identity field of TSI / CSI / CIG: 20 characters, the number written
// right-aligned and sent last character first (T.30 5.3.6.2.4).
inline constexpr size_t kIdFieldLength = 20;

enum class ParameterKind { Dis, Dcs };

// The first page of the job as the DIS is judged against: fine, wide.
struct FirstPage {
  bool fine = false;
  bool wide = false;
};

// --- pure frame builders and readers ---
// The frame bytes without DLE ETX: address, control, FCF, field.
std::vector<uint8_t> ShortFrameBytes(uint8_t fcf);
std::vector<uint8_t> IdFrameBytes(uint8_t fcf, std::string_view stationId);
// DIS (receive side) or DCS (send side) from the session's speed index,
// resolution digit, scan-time code and width; a DCS also sets the
// modulation code of the speed index.
std::vector<uint8_t> ParameterFrameBytes(ClassData& c, ParameterKind kind);
// The 20 identity bytes after the FCF in reading order (all kept).
std::string ReadIdentity(std::span<const uint8_t> field);
// Removes the modem's DLE doubling and the closing DLE ETX.
std::vector<uint8_t> UnstuffFrame(std::string_view raw);

// `DecodeCapabilities`: octet 2 = bits 9-16, octet 3 = bits 17-24. As DIS
// (the remote's capabilities, sending side) it chooses the speed from the
// local and remote sets and `DesiredBPS`; as DCS (the caller's choice,
// receiving side) it takes speed, resolution and width from it. Both
// recompute the minimum bytes per scan line.
void DecodeCapabilities(ClassData& c, ParameterKind kind, uint8_t octet2, uint8_t octet3,
                        const FirstPage& page = {});

// `StepDown`: the next lower index both sides support; false at none.
bool StepDown(ClassData& c);

// The bit rate, modulation code and minimum scan-line bytes of the speed index.
void ApplySpeedIndex(ClassData& c);

// --- frames through the modem ---
// `SendFrameStart`: 20 ms, then address and control.
int SendFrameStart(FaxSession& s, bool final);
// `SendFrameEnd`: DLE ETX.
int SendFrameEnd(FaxSession& s);
int SendShortFrame(FaxSession& s, uint8_t fcf);
// The session's `StationID` (TSI 0x43 on the send side, CSI 0x40 on the
// receive side); more frames follow.
int SendIDFrame(FaxSession& s, uint8_t fcf);
int SendParameterFrame(FaxSession& s, ParameterKind kind);
// After CONNECT to "AT+FTM=": the zeros of the training check in one block, DLE ETX.
int SendTraining(FaxSession& s);
// "AT+FTH=3" / "AT+FRH=3" after 40 ms, then `ArmResponse`.
int TransmitFrames(FaxSession& s);
int ReceiveFrames(FaxSession& s);

// What `DecodeFrame` found in the `ResponseLine`.
struct FrameOutcome {
  int result = 0;        // -6005 (DCN), -8070 (the first page cannot go), or 0
  bool retrain = false;  // FTT or RTN
  uint8_t fcf = 0;       // as received (X bit kept)
};

// `DecodeFrame`: reads the frame the `ResponseLine` holds, notes the final
// flag and the last FCF, takes identities and capabilities into the session
// (status 41 / 40, forced), then `ArmResponse`. The caller sets the result
// as the session's error.
FrameOutcome DecodeFrame(FaxSession& s, const FirstPage& page = {});

}  // namespace qc
