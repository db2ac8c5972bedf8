// What the line and its two ends tell each other. An end produces and takes
// audio a step at a time and is told about ringing, answer and hang-up; it
// reports dialling, answering and going on hook back to the line, which acts
// on them between steps (never from inside a spandsp call-back).
#pragma once

#include <cstdint>
#include <string>

#include "line_sim.h"

namespace qc::linesim {

class LineEnd;

class LineEvents {
 public:
  virtual ~LineEvents() = default;
  virtual void Dial(LineEnd& from, const std::string& number) = 0;
  virtual void Answer(LineEnd& from) = 0;
  virtual void OnHook(LineEnd& from) = 0;
  // An HDLC frame (address, control, FCF, info) the end sent or received.
  virtual void Frame(LineEnd& from, bool sent, const uint8_t* msg, int len) = 0;
  virtual void Log(const LineEnd& from, const std::string& text) = 0;
};

class LineEnd {
 public:
  LineEnd(std::string name, LineEvents& events) : events_(events), name_(std::move(name)) {}
  virtual ~LineEnd() = default;
  LineEnd(const LineEnd&) = delete;
  LineEnd& operator=(const LineEnd&) = delete;

  const std::string& Name() const { return name_; }

  // Exactly `n` samples each; silence when the end sends nothing.
  virtual void Tx(int16_t* amp, int n) = 0;
  virtual void Rx(int16_t* amp, int n) = 0;
  // Device input and output between steps; `fd`/`events` for the line's poll.
  virtual void Service() {}
  virtual int PollFd() const { return -1; }
  virtual short PollEvents() const { return 0; }

  // From the line.
  virtual void Ring() = 0;
  virtual void Connect(bool answered) = 0;  // answered: this end took the call
  virtual void Drop() = 0;                  // the line went dead
  virtual void Busy() = 0;
  virtual void NoAnswer() = 0;
  // The end has finished its call by itself (a terminal after DCN).
  virtual bool Finished() const { return false; }
  virtual void AddResults(CallReport&) const {}

 protected:
  void Log(const std::string& text) { events_.Log(*this, text); }
  LineEvents& events_;

 private:
  std::string name_;
};

}  // namespace qc::linesim
