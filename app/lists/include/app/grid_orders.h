// The outgoing grid's layout files: Out.gco holds the data-set's field names
// in their present order, one a line; Out.gcs the pixel widths of the grid's
// columns from column 0 (the row indicator) on, one decimal number a line.
#pragma once

#include <string>
#include <vector>

namespace qc {

// Writes one line per entry ("\r\n" line ends, as the files always had).
// False when the file cannot be written.
bool WriteTextLines(const std::string& path, const std::vector<std::string>& lines);
// False when the file does not exist or cannot be read.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines);

// For each line i, moves the field named there (letter case ignored) to
// position i; a line naming no field, or a position past the end, is skipped.
void ApplyFieldOrder(std::vector<std::string>& fields, const std::vector<std::string>& lines);

// The width of each line; -1 for a line that is not a whole number of at
// least 0 (such a column keeps its width).
std::vector<int> ParseColumnWidths(const std::vector<std::string>& lines);

}  // namespace qc
