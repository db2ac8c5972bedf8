#include "class1_frames.h"

#include <algorithm>
#include <cstdio>

#include "control/error_codes.h"
#include "engine/fax_types.h"
#include "fax_params.h"
#include "fax_session.h"

namespace qc {

namespace {

constexpr uint32_t kFrameStartWaitMs = 20;
constexpr uint32_t kFrameCommandWaitMs = 40;

struct FcfNameEntry {
  uint8_t fcf;
  std::string_view name;
};
constexpr FcfNameEntry kFcfNames[] = {
    {fcf::DIS, "DIS"}, {fcf::CSI, "CSI"}, {fcf::NSF, "NSF"}, {fcf::DCS, "DCS"},
    {fcf::TSI, "TSI"}, {fcf::CFR, "CFR"}, {fcf::FTT, "FTT"}, {fcf::EOM, "EOM"},
    {fcf::MPS, "MPS"}, {fcf::EOP, "EOP"}, {fcf::MCF, "MCF"}, {fcf::RTP, "RTP"},
    {fcf::RTN, "RTN"}, {fcf::CRP, "CRP"}, {fcf::DCN, "DCN"},
};

int SendBytes(FaxSession& s, const std::vector<uint8_t>& bytes) {
  return s.Port()->SendBlock(bytes.data(), bytes.size());
}

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string text;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X", b);
    if (!text.empty()) text += ' ';
    text += buf;
  }
  return text;
}

// Sends a frame's bytes after address and control (those go first) and
// closes it; logs it.
int SendFrame(FaxSession& s, const std::vector<uint8_t>& frame) {
  const bool final = frame.size() > 1 && (frame[1] & kControlFinalBit);
  if (int rc = SendFrameStart(s, final); rc != 0) return rc;
  const std::vector<uint8_t> rest(frame.begin() + 2, frame.end());
  if (int rc = SendBytes(s, rest); rc != 0) return rc;
  s.Log("frame out " + FcfName(frame[2]) + ": " + HexBytes(frame));
  return SendFrameEnd(s);
}

bool Supported(const ClassData& c, int index) {
  return index >= kMinSpeedIndex && index <= kMaxSpeedIndex && c.local.speeds[index] &&
         c.remote.speeds[index];
}

}  // namespace

std::string FcfName(uint8_t value) {
  const uint8_t plain = value & static_cast<uint8_t>(~fcf::kXBit);
  for (const FcfNameEntry& e : kFcfNames)
    if (e.fcf == plain) return std::string(e.name);
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%02X", value);
  return buf;
}

size_t TrainingBytes(uint32_t bitRate) {
  return std::min<size_t>(static_cast<size_t>(bitRate / 100) * 18, kTrainingMaxBytes);
}

std::vector<uint8_t> ShortFrameBytes(uint8_t value) { return {kHdlcAddress, kControlFinal, value}; }

std::vector<uint8_t> IdFrameBytes(uint8_t value, std::string_view stationId) {
  std::vector<uint8_t> frame{kHdlcAddress, kControlMore, value};
  // Right-aligned in the field and sent from its end: the identity's last
  // character goes first, the filling spaces last.
  const std::string_view id = stationId.substr(0, kIdFieldLength);
  for (auto it = id.rbegin(); it != id.rend(); ++it) frame.push_back(static_cast<uint8_t>(*it));
  frame.insert(frame.end(), kIdFieldLength - id.size(), ' ');
  return frame;
}

void ApplySpeedIndex(ClassData& c) {
  const int index = std::clamp<int>(c.speedIndex, kMinSpeedIndex, kMaxSpeedIndex);
  c.speedIndex = static_cast<uint16_t>(index);
  c.bitRate = kSpeeds[index].bitRate;
  c.modulation = std::string(kSpeeds[index].modulation);
  c.minimumScanBytes = MinimumScanBytes(c.scanTimeCode, c.sessionFine, c.bitRate);
}

std::vector<uint8_t> ParameterFrameBytes(ClassData& c, ParameterKind kind) {
  const bool dis = kind == ParameterKind::Dis;
  const int index = c.speedIndex <= kMaxSpeedIndex ? c.speedIndex : 0;
  const bool fine = c.resolutionDigit == '1';
  uint8_t octet2 = kOctet2Base;
  if (dis || fine) octet2 |= kBitFine.mask;
  octet2 |= dis ? kClass1RateBits[index].dis : kClass1RateBits[index].dcs;
  uint8_t octet3 = kDisOctet3;
  if (!dis) {
    const DcsScanBits scan = kDcsScanBits[c.scanTimeCode & 7];
    octet3 = static_cast<uint8_t>((fine ? scan.fine : scan.normal) | kDcsOctet3Base);
    if (c.sessionWide) octet3 |= kDcsOctet3Wide;
    if (index != 0) c.modulation = std::string(kSpeeds[index].modulation);
  }
  return {kHdlcAddress, kControlFinal, dis ? fcf::kSendDIS : fcf::kSendDCS, 0x00, octet2, octet3, 0x00};
}

std::string ReadIdentity(std::span<const uint8_t> field) {
  std::string id;
  const size_t n = std::min(field.size(), kIdFieldLength);
  for (size_t i = n; i > 0; --i) id += static_cast<char>(field[i - 1]);
  return id;
}

std::vector<uint8_t> UnstuffFrame(std::string_view raw) {
  std::vector<uint8_t> out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    const auto b = static_cast<uint8_t>(raw[i]);
    if (b == kFrameDle && i + 1 < raw.size()) {
      const auto next = static_cast<uint8_t>(raw[i + 1]);
      if (next == kFrameEtx) break;
      if (next == kFrameDle) {
        out.push_back(kFrameDle);
        ++i;
        continue;
      }
    }
    out.push_back(b);
  }
  return out;
}

void DecodeCapabilities(ClassData& c, ParameterKind kind, uint8_t octet2, uint8_t octet3,
                        const FirstPage& page) {
  if (kind == ParameterKind::Dis) {
    // The families a DIS names and the rates each brings (T.30 Table 2,
    // V.27 ter 2400/4800, V.29 7200/9600, V.17 up to 14400).
    CapabilitySet& r = c.remote;
    r.Clear();
    r.speeds[1] = r.speeds[2] = true;
    if (octet2 & kBitV29.mask) r.speeds[3] = r.speeds[4] = true;
    if (octet2 & (kBitV17.mask | kBitV33.mask)) r.speeds[5] = true;
    if (octet2 & kBitV17.mask) r.speeds[6] = true;
    int index = kMinSpeedIndex;
    for (int i = kMaxSpeedIndex; i >= kMinSpeedIndex; --i) {
      if (c.local.speeds[i] && r.speeds[i] && kSpeeds[i].bitRate <= c.desiredBps) {
        index = i;
        break;
      }
    }
    c.speedIndex = static_cast<uint16_t>(index);
    c.sessionFine = page.fine;
    c.sessionWide = page.wide;
    c.sessionEcm = false;
    c.remoteFine = octet2 & kBitFine.mask;
    // 0x01: 1728 and 2048; 0x02 adds 2432.
    const uint8_t width = octet3 & kWidthMask;
    c.remoteWide = width == 0x01 || width == 0x02;
  } else {
    const uint8_t bits = octet2 & kRateMask;
    c.speedIndex = 4;
    std::string_view modulation = kSpeeds[4].modulation;
    for (const DcsRate& rate : kDcsRates)
      if (rate.bits == bits) {
        c.speedIndex = rate.speedIndex;
        modulation = rate.modulation;
      }
    c.sessionFine = octet2 & kBitFine.mask;
    c.sessionWide = (octet3 & kWidthMask) == 0x01;
    c.sessionEcm = false;
    c.scanTimeCode = kScanCodeOfBits[(octet3 & kScanTimeMask) >> 4];
    ApplySpeedIndex(c);
    c.modulation = std::string(modulation);
    return;
  }
  c.scanTimeCode = kScanCodeOfBits[(octet3 & kScanTimeMask) >> 4];
  ApplySpeedIndex(c);
}

bool StepDown(ClassData& c) {
  int index = c.speedIndex;
  do {
    --index;
  } while (index > 0 && !Supported(c, index));
  if (index <= 0) return false;
  c.speedIndex = static_cast<uint16_t>(index);
  ApplySpeedIndex(c);
  return true;
}

int SendFrameStart(FaxSession& s, bool final) {
  s.Port()->SleepMs(kFrameStartWaitMs);
  const uint8_t start[] = {kHdlcAddress, final ? kControlFinal : kControlMore};
  return s.Port()->SendBlock(start, sizeof start);
}

int SendFrameEnd(FaxSession& s) {
  const uint8_t end[] = {kFrameDle, kFrameEtx};
  return s.Port()->SendBlock(end, sizeof end);
}

int SendShortFrame(FaxSession& s, uint8_t value) { return SendFrame(s, ShortFrameBytes(value)); }

int SendIDFrame(FaxSession& s, uint8_t value) {
  return SendFrame(s, IdFrameBytes(value, s.Data().stationId));
}

int SendParameterFrame(FaxSession& s, ParameterKind kind) {
  return SendFrame(s, ParameterFrameBytes(s.Cls(), kind));
}

int SendTraining(FaxSession& s) {
  const std::vector<uint8_t> zeros(TrainingBytes(s.Cls().bitRate), 0);
  s.Log("training " + std::to_string(zeros.size()) + " bytes");
  if (int rc = SendBytes(s, zeros); rc != 0) return rc;
  return SendFrameEnd(s);
}

static int FrameCommand(FaxSession& s, std::string_view text) {
  s.Port()->SleepMs(kFrameCommandWaitMs);
  s.Log("command " + std::string(text));
  int rc = 0;
  for (char ch : text)
    if (rc == 0) rc = s.Port()->SendByte(static_cast<uint8_t>(ch));
  if (rc == 0) rc = s.Port()->SendByte('\r');
  s.ArmResponse();
  return rc;
}

int TransmitFrames(FaxSession& s) { return FrameCommand(s, "AT+FTH=3"); }

int ReceiveFrames(FaxSession& s) { return FrameCommand(s, "AT+FRH=3"); }

FrameOutcome DecodeFrame(FaxSession& s, const FirstPage& page) {
  SessionData& d = s.Data();
  ClassData& c = s.Cls();
  FrameOutcome out;
  std::vector<uint8_t> frame = UnstuffFrame(c.responseLine);
  // Noise before the frame (the tail of a result line) is dropped.
  const auto start = std::find(frame.begin(), frame.end(), kHdlcAddress);
  frame.erase(frame.begin(), start == frame.end() && !frame.empty() ? frame.end() - 1 : start);
  if (frame.size() < 3) {
    s.Log("frame in: too short");
    s.ArmResponse();
    return out;
  }
  c.lastFrameFinal = frame[1] & kControlFinalBit;
  c.lastFcf = frame[2];
  out.fcf = frame[2];
  s.Log("frame in " + FcfName(frame[2]) + ": " + HexBytes(frame));
  auto octet = [&](size_t n) -> uint8_t { return 2 + n < frame.size() ? frame[2 + n] : 0; };
  switch (frame[2] & static_cast<uint8_t>(~fcf::kXBit)) {
    case fcf::CSI:
    case fcf::TSI:
      d.remoteId = ReadIdentity(std::span<const uint8_t>(frame).subspan(3));
      d.status = fsGotRemoteId;
      c.forceStatus = true;
      break;
    case fcf::FTT:
    case fcf::RTN:
      out.retrain = true;
      break;
    case fcf::DIS:
      DecodeCapabilities(c, ParameterKind::Dis, octet(2), octet(3), page);
      if ((page.fine && !c.remoteFine) || (page.wide && !c.remoteWide)) {
        out.result = ecFaxBadMachine;
        return out;
      }
      d.status = fsConnectionParams;
      c.forceStatus = true;
      break;
    case fcf::DCS:
      DecodeCapabilities(c, ParameterKind::Dcs, octet(2), octet(3), page);
      d.status = fsConnectionParams;
      c.forceStatus = true;
      break;
    case fcf::CFR:
      c.confirmationReceived = true;
      break;
    case fcf::DCN:
      out.result = ecCancelRequested;
      break;
    default:
      break;  // non-standard facilities and the like
  }
  s.ArmResponse();
  return out;
}

}  // namespace qc
