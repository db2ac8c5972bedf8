#include "trace_log.h"

#include <cerrno>
#include <cstdio>

#include "control/error_codes.h"

namespace qc {

namespace {

constexpr uint16_t kTransmitBit = 0x100;

bool Printable(uint8_t b) { return b >= 32 && b <= 126; }

void Pad(std::string& out, std::string_view field, size_t width) {
  out += field;
  if (field.size() < width) {
    out.append(width - field.size(), ' ');
  } else {
    out += ' ';
  }
}

}  // namespace

void TraceRecord::SetCapacity(size_t entries) {
  capacity_ = entries;
  while (entries_.size() > capacity_) entries_.pop_front();
}

void TraceRecord::Add(bool transmit, const uint8_t* data, size_t len) {
  if (capacity_ == 0) return;
  const uint16_t dir = transmit ? kTransmitBit : 0;
  for (size_t i = 0; i < len; ++i) {
    if (entries_.size() == capacity_) entries_.pop_front();
    entries_.push_back(static_cast<uint16_t>(dir | data[i]));
  }
}

std::string TraceRecord::Format() const {
  std::string out;
  size_t column = 0;
  int direction = -1;
  char hex[8];
  for (uint16_t e : entries_) {
    const int dir = (e & kTransmitBit) ? 1 : 0;
    if (dir != direction) {
      if (direction != -1) out += '\n';
      const std::string_view label = dir ? kTransmitLabel : kReceiveLabel;
      out += label;
      column = label.size();
      direction = dir;
    }
    const uint8_t b = static_cast<uint8_t>(e & 0xFF);
    std::string_view token;
    if (Printable(b)) {
      hex[0] = static_cast<char>(b);
      token = std::string_view(hex, 1);
    } else {
      std::snprintf(hex, sizeof hex, "[%02X]", b);
      token = std::string_view(hex, 4);
    }
    if (column + token.size() > kTraceColumns) {
      out += '\n';
      column = 0;
    }
    out += token;
    column += token.size();
  }
  if (direction != -1) out += '\n';
  return out;
}

void DispatchLog::SetCapacity(size_t entries) {
  capacity_ = entries;
  while (lines_.size() > capacity_) lines_.pop_front();
}

void DispatchLog::Add(int64_t elapsedMs, std::string_view type, std::string_view subType, long data,
                      std::string_view otherData) {
  if (capacity_ == 0) return;
  char time[32];
  std::snprintf(time, sizeof time, "%lld.%03lld", static_cast<long long>(elapsedMs / 1000),
                static_cast<long long>(elapsedMs % 1000));
  const std::string dataText = std::to_string(data);
  std::string line;
  Pad(line, time, 10);
  Pad(line, type, 10);
  Pad(line, subType, 14);
  Pad(line, dataText, 6);
  line += otherData;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (lines_.size() == capacity_) lines_.pop_front();
  lines_.push_back(std::move(line));
}

std::string DispatchLog::Format() const {
  std::string out(kLogHeader);
  out += '\n';
  for (const std::string& line : lines_) {
    out += line;
    out += '\n';
  }
  return out;
}

int WriteTextFile(const std::string& path, const std::string& text, bool append) {
  std::FILE* f = std::fopen(path.c_str(), append ? "ab" : "wb");
  if (!f) {
    switch (errno) {
      case ENOENT: return ecPathNotFound;
      case EACCES:
      case EPERM:
      case EROFS: return ecAccessDenied;
      case EMFILE:
      case ENFILE: return ecTooManyFiles;
      default: return ecDeviceWrite;
    }
  }
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  return ok && closed ? ecOK : ecDeviceWrite;
}

}  // namespace qc
