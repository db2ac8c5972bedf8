// The modem side of a fax call for tests: bytes from the host go in, timed
// bytes for the host come out. Implementations keep no threads of their own;
// the line that carries them (a simulated line, a pseudo-terminal pump)
// supplies the time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qc::test {

class ModemEmulator {
 public:
  virtual ~ModemEmulator() = default;
  // Bytes the host sent, arriving at `nowMs`.
  virtual void FromHost(const uint8_t* data, size_t n, int64_t nowMs) = 0;
  // The bytes for the host that are due by `nowMs`, oldest first.
  virtual std::string TakeOutput(int64_t nowMs) = 0;
  // True while the modem takes more bytes from the host (CTS).
  virtual bool ClearToSend() const { return true; }
  virtual bool Carrier() const { return false; }
  // The host raised or dropped DTR.
  virtual void DtrChanged(bool /*on*/, int64_t /*nowMs*/) {}
};

}  // namespace qc::test
