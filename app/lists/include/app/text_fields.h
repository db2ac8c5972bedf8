// Text helpers for values that go into fixed-width table fields.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qc {

// The first `width` characters (code points) of a UTF-8 text; a table field
// holds one byte per character, so widths count characters, not bytes.
std::string CutToWidth(std::string_view utf8, int width);

// Number of code points of a UTF-8 text.
int CharacterCount(std::string_view utf8);

// `bytes` as UTF-8: kept when it already is valid UTF-8, otherwise read as
// Windows-1252, the code page of files written by Windows programs.
std::string AsUtf8(std::string_view bytes);

// Lines of a text file, without their "\n" or "\r\n" terminators; a final
// terminator does not start another line.
std::vector<std::string> SplitLines(std::string_view text);

// "\r" (and "\r\n") as line breaks of a message box text.
std::string MessageLines(std::string_view text);

// Letter case ignored, ASCII only.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool EndsWithIgnoreCase(std::string_view text, std::string_view tail);

}  // namespace qc
