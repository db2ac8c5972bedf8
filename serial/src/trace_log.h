// The trace of bytes sent and received and the dispatch log of a port, as
// bounded in-memory records turned into text when they are written out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "serial/com_port.h"

namespace qc {

constexpr size_t kTraceColumns = 78;
constexpr std::string_view kTransmitLabel = "Transmit: ";
constexpr std::string_view kReceiveLabel = "Receive: ";
constexpr std::string_view kLogHeader = "Time      Type      SubType       Data  OtherData";

// The last `capacity` bytes that crossed the port, each with its direction.
class TraceRecord {
 public:
  void SetCapacity(size_t entries);
  void Add(bool transmit, const uint8_t* data, size_t len);
  void Clear() { entries_.clear(); }
  bool Empty() const { return entries_.empty(); }
  size_t Size() const { return entries_.size(); }
  // A label line starts each run of one direction; printable ASCII as is,
  // every other byte as [XX]; no line longer than 78 columns and no [XX]
  // split across lines.
  std::string Format() const;

 private:
  // Bit 8 set = transmitted.
  std::deque<uint16_t> entries_;
  size_t capacity_ = 32000;
};

// The last `capacity` events of the dispatcher.
class DispatchLog {
 public:
  void SetCapacity(size_t entries);
  void Add(int64_t elapsedMs, std::string_view type, std::string_view subType, long data,
           std::string_view otherData = {});
  void Clear() { lines_.clear(); }
  bool Empty() const { return lines_.empty(); }
  size_t Size() const { return lines_.size(); }
  // The header line, then one line per event: time in seconds with three
  // decimals (10 columns), type (10), subtype (14), data (6), other data.
  std::string Format() const;

 private:
  std::deque<std::string> lines_;
  size_t capacity_ = 10000;
};

// Writes `text` to `path`, replacing or appending; ecOK or a file-layer code.
int WriteTextFile(const std::string& path, const std::string& text, bool append);

}  // namespace qc
