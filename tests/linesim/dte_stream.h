// Follows the bytes between a program and a Class 1 modem in both directions
// and turns them into log lines: command lines, response lines, HDLC frames
// (DLE-unstuffed, up to DLE ETX) and byte counts of page data. What a CONNECT
// opens depends on the command it answers: "+FTH" and "A" a frame from the
// program, "+FRH" and "D" a frame from the modem, "+FTM" / "+FRM" page data.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qc::linesim {

class DteStream {
 public:
  using LogFn = std::function<void(const std::string&)>;
  using FrameFn = std::function<void(bool fromProgram, const std::vector<uint8_t>& frame)>;

  DteStream(LogFn log, FrameFn frame) : log_(std::move(log)), frame_(std::move(frame)) {}

  void FromProgram(const uint8_t* data, size_t len);
  void FromModem(const uint8_t* data, size_t len);
  void Reset();

  // Page data bytes the program has sent since the last page-data CONNECT.
  long ProgramDataBytes() const { return txDataBytes_; }

 private:
  enum class Data { None, TxFrame, TxData, RxFrame, RxData };
  void CommandLine(const std::string& line);
  void ResponseLine(const std::string& line);
  void EndBlock(bool fromProgram);

  LogFn log_;
  FrameFn frame_;
  std::string commandText_;
  std::string responseText_;
  Data afterConnect_ = Data::None;  // what the next CONNECT opens
  Data tx_ = Data::None;            // program -> modem block in progress
  Data rx_ = Data::None;            // modem -> program block in progress
  bool txDle_ = false, rxDle_ = false, skipLf_ = false;
  std::vector<uint8_t> txBlock_, rxBlock_;
  long txDataBytes_ = 0, rxDataBytes_ = 0;
};

// "DIS ff 13 80 00 ..." for the log.
std::string DescribeFrame(const std::vector<uint8_t>& frame);
// The frame's name from its FCF (third octet), "?" when too short.
std::string FrameName(const std::vector<uint8_t>& frame);

}  // namespace qc::linesim
