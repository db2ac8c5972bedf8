#include "fax_port_options.h"

#include <csignal>

#include "serial/port_names.h"

namespace qc::qcfax {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;
void OnInterrupt(int) { gInterrupted = 1; }

}  // namespace

bool SelectPort(TQcComPort& port, const std::string& com, const std::string& device) {
  if (!device.empty()) {
    port.SetDeviceName(device);
    return true;
  }
  unsigned long n = 1;
  if (!com.empty() && !ParseCount(com, kMaxComNumber, n)) {
    FailText("--com takes a port number from 1 to " + std::to_string(kMaxComNumber));
    return false;
  }
  port.SetComNumber(static_cast<int>(n));
  return true;
}

bool ParseFaxClass(const std::string& text, TFaxClass& c) {
  if (text.empty() || text == "auto") c = fcDetect;
  else if (text == "1") c = fcClass1;
  else if (text == "2") c = fcClass2;
  else if (text == "2.0") c = fcClass2_0;
  else return false;
  return true;
}

bool RunUntilFinished(QueuedOwnerLoop& loop, TQcAbstractFax& fax, const bool& finished) {
  gInterrupted = 0;
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
  bool abortSent = false;
  while (!loop.RunUntil([&] { return finished || (gInterrupted && !abortSent); }, std::chrono::hours(24)) ||
         !finished) {
    if (gInterrupted && !abortSent) {
      abortSent = true;
      fax.AbortFax();
    }
  }
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
  return abortSent;
}

}  // namespace qc::qcfax
