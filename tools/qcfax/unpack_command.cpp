// qcfax unpack [--double-height] FILE.APF PAGE OUTPUT.pbm
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "command.h"
#include "faxdoc/apf.h"
#include "faxdoc/unpacker.h"

namespace qc::qcfax {

int Run_unpack(const Args& args) {
  const ParsedArgs p = ParseArgs(args);
  bool doubleHeight = false;
  for (const auto& [name, value] : p.options) {
    if (name == "double-height" && value.empty())
      doubleHeight = true;
    else
      return Usage("unpack");
  }
  unsigned long page = 0;
  if (!p.error.empty() || p.operands.size() != 3) return Usage("unpack");
  if (!ParseCount(p.operands[1], 65535, page)) return FailText("page number must be 1..65535: " + p.operands[1]);
  const std::string& file = p.operands[0];
  const std::string& output = p.operands[2];

  // The page's decoded lines at full line width, set bit = black; standard
  // pages doubled only on request, as the unpacker's automatic mode does.
  TFaxUnpackContext context;
  context.SetOptionBits(ufYield | ufDoubleHeight | ufHalfWidth, false);
  if (doubleHeight) context.SetOptionBits(ufDoubleHeight, true);
  std::vector<uint8_t> rows;
  int lineBytes = 0;
  TApfPageHeader header;
  uint64_t offset = 0;
  if (const int r = LocateApfPage(file, static_cast<unsigned>(page), header, offset); r != 0) return Fail(file, r);
  lineBytes = header.LineWidth() / 8;
  const TUnpackLineConsumer keep = [&](const uint8_t* line, int len) {
    const size_t at = rows.size();
    rows.resize(at + lineBytes, 0);
    std::memcpy(rows.data() + at, line, std::min(len, lineBytes));
    return 0;
  };
  if (const int r = context.UnpackPageLines(file, static_cast<unsigned>(page), false, keep); r != 0)
    return Fail(file + " page " + std::to_string(page), r);

  std::FILE* out = std::fopen(output.c_str(), "wb");
  if (!out) return FailText(output + ": " + std::strerror(errno));
  const size_t height = rows.size() / lineBytes;
  bool ok = std::fprintf(out, "P4\n%d %zu\n", lineBytes * 8, height) > 0;
  ok = ok && std::fwrite(rows.data(), 1, rows.size(), out) == rows.size();
  const int err = errno;
  ok = (std::fclose(out) == 0) && ok;
  if (!ok) {
    std::remove(output.c_str());
    return FailText(output + ": " + std::strerror(err ? err : EIO));
  }
  return kExitOk;
}

}  // namespace qc::qcfax
