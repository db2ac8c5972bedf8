#include "header_macros.h"

#include <cctype>

namespace qc {

std::string ShortDateText(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  return std::string(buf, std::strftime(buf, sizeof buf, "%x", &tm));
}

std::string LongTimeText(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[64];
  return std::string(buf, std::strftime(buf, sizeof buf, "%X", &tm));
}

std::string ExpandHeaderMacros(std::string_view line, const HeaderMacroValues& v) {
  std::string out;
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] != '$') {
      out += line[i++];
      continue;
    }
    size_t end = i + 1;
    while (end < line.size() && line[end] != ' ') ++end;
    const char letter = end > i + 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(line[i + 1]))) : 0;
    switch (letter) {
      case 'D': out += ShortDateText(v.now); break;
      case 'T': out += LongTimeText(v.now); break;
      case 'I': out += v.stationId; break;
      case 'F': out += v.sender; break;
      case 'R': out += v.recipient; break;
      case 'S': out += v.title; break;
      case 'P': out += std::to_string(v.page); break;
      case 'N': out += std::to_string(v.totalPages); break;
      default: break;
    }
    i = end;
  }
  return out;
}

}  // namespace qc
