// The page header line's macros: "$" and the text up to the next blank is
// replaced by the value its letter selects.
#pragma once

#include <ctime>
#include <string>
#include <string_view>

namespace qc {

struct HeaderMacroValues {
  std::string stationId;  // $I
  std::string sender;     // $F
  std::string recipient;  // $R
  std::string title;      // $S
  int page = 0;           // $P
  int totalPages = 0;     // $N
  std::time_t now = 0;    // $D, $T
};

// Values are inserted as they are: a "$" inside a value is not expanded
// again, so expansion always ends.
std::string ExpandHeaderMacros(std::string_view line, const HeaderMacroValues& values);

// The date and time forms used in header lines and the fax history.
std::string ShortDateText(std::time_t t);
std::string LongTimeText(std::time_t t);

}  // namespace qc
