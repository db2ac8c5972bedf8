// qcfax info FILE.APF
#include <cstdio>
#include <ctime>

#include "command.h"
#include "faxdoc/apf.h"
#include "faxdoc/unpacker.h"

namespace qc::qcfax {

int Run_info(const Args& args) {
  const ParsedArgs p = ParseArgs(args);
  if (!p.error.empty() || !p.options.empty() || p.operands.size() != 1) return Usage("info");
  const std::string& file = p.operands[0];

  TApfFileHeader header;
  if (const int r = ReadApfHeader(file, header); r != 0) return Fail(file, r);
  char stamp[32] = "none";
  if (header.TimeStamp != 0) {
    const std::time_t t = DosTimeStampToTime(header.TimeStamp);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
  }
  std::printf("station id: \"%s\"\n", header.StationIdText().c_str());
  std::printf("time stamp: %s\n", stamp);
  std::printf("pages: %u\n", header.PageCount);

  // Decode every page as it is stored: no doubling, no compression.
  TFaxUnpackContext context;
  context.SetOptionBits(ufYield | ufDoubleHeight | ufHalfWidth, false);
  const TUnpackLineConsumer ignore = [](const uint8_t*, int) { return 0; };
  for (unsigned n = 1; n <= header.PageCount; ++n) {
    const int r = context.UnpackPageLines(file, n, false, ignore);
    if (r != 0) return Fail(file + " page " + std::to_string(n), r);
    const TApfPageHeader& page = context.PageHeader();
    std::printf("page %u: %s %d %s length=%u lines=%llu badcodes=%llu\n", n, page.IsFine() ? "fine" : "standard",
                page.LineWidth(), page.HasLineRecords() ? "records" : "raw", page.ImageLength,
                static_cast<unsigned long long>(context.DecodeStats().LinesDelivered),
                static_cast<unsigned long long>(context.DecodeStats().BadCodes));
  }
  return kExitOk;
}

}  // namespace qc::qcfax
