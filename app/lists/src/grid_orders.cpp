#include "app/grid_orders.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "app/ini_file.h"
#include "app/text_fields.h"

namespace qc {

bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  for (const auto& line : lines) out << line << "\r\n";
  out.flush();
  return static_cast<bool>(out);
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  lines = SplitLines(text.str());
  return true;
}

void ApplyFieldOrder(std::vector<std::string>& fields, const std::vector<std::string>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string name = lines[i];
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    auto it = std::find_if(fields.begin(), fields.end(),
                           [&](const std::string& f) { return EqualsIgnoreCase(f, name); });
    if (it == fields.end() || i >= fields.size()) continue;
    std::string field = *it;
    fields.erase(it);
    fields.insert(fields.begin() + static_cast<std::ptrdiff_t>(i), field);
  }
}

std::vector<int> ParseColumnWidths(const std::vector<std::string>& lines) {
  std::vector<int> widths;
  widths.reserve(lines.size());
  for (const auto& line : lines) {
    int value = 0;
    widths.push_back(ParseIniInteger(line, value) && value >= 0 ? value : -1);
  }
  return widths;
}

}  // namespace qc
