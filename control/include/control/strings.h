// The program's string table (resources/strings): messages by string number.
#pragma once

#include <string>

namespace qc {

// The text of string `number`, or the empty text when there is none.
std::string LoadResString(int number);

}  // namespace qc
