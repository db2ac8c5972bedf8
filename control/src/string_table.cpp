#include "control/strings.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <string_view>

namespace qc {
namespace {

struct StringEntry {
  int number;
  std::string_view text;
};

constexpr StringEntry kRawStrings[] = {
#include "strings/error_messages.inc"
#include "strings/status_texts.inc"
};

// Sorted by number at compile time so lookups are a binary search.
constexpr auto kStrings = [] {
  std::array<StringEntry, std::size(kRawStrings)> table{};
  std::copy(std::begin(kRawStrings), std::end(kRawStrings), table.begin());
  std::sort(table.begin(), table.end(),
            [](const StringEntry& a, const StringEntry& b) { return a.number < b.number; });
  return table;
}();

}  // namespace

std::string LoadResString(int number) {
  auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), number,
                             [](const StringEntry& e, int n) { return e.number < n; });
  if (it == std::end(kStrings) || it->number != number) return {};
  return std::string(it->text);
}

}  // namespace qc
