// Shared body of the converter reader fuzz targets: the first input byte picks
// the conversion settings, the rest is the input file. The whole conversion
// runs (reader, placement, coding) with the coded lines going to the
// line-output event, so no APF file is written.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "faxdoc/converter.h"

namespace qc::fuzz {

// The input file: an anonymous in-memory file, made once per process and
// rewritten per input; the readers open it by its /proc name.
inline int InputFd() {
  static const int fd = [] {
    const int f = ::memfd_create("qc_fuzz_reader", 0);
    if (f < 0) std::abort();
    return f;
  }();
  return fd;
}

inline int ConvertInput(TFaxInputDocumentType type, const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t settings = data[0];
  const int fd = InputFd();
  if (::ftruncate(fd, 0) != 0) std::abort();
  if (size > 1 && ::pwrite(fd, data + 1, size - 1, 0) != static_cast<ssize_t>(size - 1)) std::abort();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);

  TQcFaxConverter c;
  c.SetInputDocumentType(type);
  c.SetDocumentFile(path);
  c.SetResolution(settings & 1 ? frHigh : frNormal);
  c.SetWidth(settings & 2 ? fwWide : fwNormal);
  TFaxCvtOptionSet options = 0;
  if (settings & 4) options |= coDoubleWidth;
  if (settings & 8) options |= coHalfHeight;
  if (settings & 16) options |= coCenterImage;
  c.SetOptions(options);
  c.SetLeftMargin(settings & 32 ? 0 : 50);
  c.SetTopMargin(settings & 64 ? 2 : 0);
  c.SetFontType(settings & 128 ? ffSmall : ffStandard);
  c.SetLinesPerPage(settings & 128 ? 3 : 60);
  // Readers are bounded by their input; this only keeps each run short.
  c.OnStatus = [](TQcFaxConverter&, bool, bool, int pages, int lines, long long done, long long total,
                  bool& abort) {
    if (done < 0 || done > total) std::abort();  // progress never passes the input
    abort = pages > 64 || lines > 100000;
  };
  uint64_t bytes = 0;
  c.OnOutputLine = [&](TQcFaxConverter&, const uint8_t*, int len, bool, bool) {
    if (len <= 0 || len > kFaxEncodeBufferBytes) std::abort();
    bytes += static_cast<uint64_t>(len);
  };
  return c.ConvertStatus();
}

}  // namespace qc::fuzz
