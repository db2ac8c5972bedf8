// Windows-1252, the code page of the tables' text, and its conversion to and
// from the UTF-8 the engine's interface speaks.
#pragma once

#include <string>
#include <string_view>

namespace qc {

// Code page mark of byte 29 of a DBF header for Windows-1252.
inline constexpr unsigned char kCodePageMark1252 = 0x03;

// False when `utf8` is not valid UTF-8 or holds a character that Windows-1252
// has no byte for; `badChar` then names the first such character.
bool Utf8ToCp1252(std::string_view utf8, std::string& out, std::string* badChar = nullptr);

std::string Cp1252ToUtf8(std::string_view text);

// Upper and lower case of one Windows-1252 byte (Latin letters, including
// the accented ones and the pairs at 0x8A/0x9A, 0x8C/0x9C, 0x8E/0x9E, 0x9F/0xFF).
unsigned char UpperCp1252(unsigned char c);
unsigned char LowerCp1252(unsigned char c);

}  // namespace qc
