#include "dte_stream.h"

#include <spandsp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace qc::linesim {

namespace {
constexpr uint8_t kDle = 0x10;
constexpr uint8_t kEtx = 0x03;

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Printable(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 32 && c < 127) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "<%02x>", c);
      out += hex;
    }
  }
  return out;
}
}  // namespace

std::string FrameName(const std::vector<uint8_t>& frame) {
  if (frame.size() < 3) return "?";
  return t30_frametype(frame[2]);
}

std::string DescribeFrame(const std::vector<uint8_t>& frame) {
  std::string out = FrameName(frame);
  char hex[4];
  for (uint8_t b : frame) {
    std::snprintf(hex, sizeof hex, " %02x", b);
    out += hex;
  }
  return out;
}

void DteStream::Reset() {
  commandText_.clear();
  responseText_.clear();
  afterConnect_ = tx_ = rx_ = Data::None;
  txDle_ = rxDle_ = skipLf_ = false;
  txBlock_.clear();
  rxBlock_.clear();
  txDataBytes_ = rxDataBytes_ = 0;
}

void DteStream::CommandLine(const std::string& raw) {
  std::string line = raw;
  while (!line.empty() && (line.front() == '\n' || line.front() == ' ')) line.erase(line.begin());
  if (line.empty()) return;
  log_("> " + Printable(line));
  const std::string up = Upper(line);
  if (up.find("+FTH=") != std::string::npos) {
    afterConnect_ = Data::TxFrame;
  } else if (up.find("+FTM=") != std::string::npos) {
    afterConnect_ = Data::TxData;
  } else if (up.find("+FRH=") != std::string::npos) {
    afterConnect_ = Data::RxFrame;
  } else if (up.find("+FRM=") != std::string::npos) {
    afterConnect_ = Data::RxData;
  } else if (up.rfind("ATD", 0) == 0) {
    afterConnect_ = Data::RxFrame;  // the caller hears the answerer's frames first
  } else if (up.rfind("ATA", 0) == 0) {
    afterConnect_ = Data::TxFrame;
  } else {
    afterConnect_ = Data::None;
  }
}

void DteStream::ResponseLine(const std::string& line) {
  if (line.empty()) return;
  log_("< " + Printable(line));
  if (line == "CONNECT" || line == "1") {
    switch (afterConnect_) {
      case Data::TxFrame:
      case Data::TxData:
        tx_ = afterConnect_;
        txBlock_.clear();
        txDataBytes_ = 0;
        break;
      case Data::RxFrame:
      case Data::RxData:
        rx_ = afterConnect_;
        rxBlock_.clear();
        rxDataBytes_ = 0;
        break;
      case Data::None: break;
    }
  } else {
    // A final result ends whatever the program was sending (an aborted
    // transmission) and the next CONNECT needs a new command.
    if (tx_ != Data::None) EndBlock(true);
    afterConnect_ = Data::None;
  }
}

void DteStream::EndBlock(bool fromProgram) {
  Data& mode = fromProgram ? tx_ : rx_;
  std::vector<uint8_t>& block = fromProgram ? txBlock_ : rxBlock_;
  const char* arrow = fromProgram ? "> " : "< ";
  if (mode == Data::TxFrame || mode == Data::RxFrame) {
    if (!block.empty()) {
      log_(std::string(arrow) + "frame " + DescribeFrame(block));
      frame_(fromProgram, block);
    }
    // After a frame the modem says CONNECT for the next one (or OK).
    if (fromProgram) afterConnect_ = Data::TxFrame;
  } else if (mode == Data::TxData || mode == Data::RxData) {
    const long n = fromProgram ? txDataBytes_ : rxDataBytes_;
    log_(std::string(arrow) + "[page data " + std::to_string(n) + " bytes]");
  }
  block.clear();
  mode = Data::None;
}

void DteStream::FromProgram(const uint8_t* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    const uint8_t c = data[i];
    if (tx_ == Data::None) {
      if (c == '\r') {
        CommandLine(commandText_);
        commandText_.clear();
      } else if (commandText_.size() < 256) {
        commandText_ += static_cast<char>(c);
      }
      continue;
    }
    if (txDle_) {
      txDle_ = false;
      if (c == kEtx) {
        EndBlock(true);
        continue;
      }
      if (c == kDle) {
        if (tx_ == Data::TxFrame) txBlock_.push_back(kDle);
        ++txDataBytes_;
      }
      continue;  // DLE + other: a command to the modem, not data
    }
    if (c == kDle) {
      txDle_ = true;
      continue;
    }
    if (tx_ == Data::TxFrame) {
      if (txBlock_.size() < 512) txBlock_.push_back(c);
    } else {
      ++txDataBytes_;
    }
  }
}

void DteStream::FromModem(const uint8_t* data, size_t len) {
  for (size_t i = 0; i < len; ++i) {
    const uint8_t c = data[i];
    if (rx_ == Data::None) {
      if (c == '\r' || c == '\n') {
        ResponseLine(responseText_);
        responseText_.clear();
        // The line end of "CONNECT" is "\r\n"; its '\n' is not data.
        if (c == '\r' && rx_ != Data::None && i + 1 < len && data[i + 1] == '\n') ++i;
        else if (c == '\r' && rx_ != Data::None) skipLf_ = true;
      } else if (responseText_.size() < 256) {
        responseText_ += static_cast<char>(c);
      }
      continue;
    }
    if (skipLf_) {
      skipLf_ = false;
      if (c == '\n') continue;
    }
    if (rxDle_) {
      rxDle_ = false;
      if (c == kEtx) {
        EndBlock(false);
        continue;
      }
      if (c == kDle) {
        if (rx_ == Data::RxFrame) rxBlock_.push_back(kDle);
        ++rxDataBytes_;
      }
      continue;
    }
    if (c == kDle) {
      rxDle_ = true;
      continue;
    }
    if (rx_ == Data::RxFrame) {
      if (rxBlock_.size() < 512) rxBlock_.push_back(c);
    } else {
      ++rxDataBytes_;
    }
  }
}

}  // namespace qc::linesim
