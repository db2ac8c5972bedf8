// What every qcfax command shares: its arguments and the one-line messages.
#pragma once

#include <string>
#include <vector>

namespace qc::qcfax {

// Exit status: 0 only on success.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The command's arguments (after the command name).
using Args = std::vector<std::string>;

// Prints "qcfax: <what>: <error text of code>" to stderr; returns kExitFailed.
int Fail(const std::string& what, int code);
// Prints "qcfax: <message>" to stderr; returns kExitFailed.
int FailText(const std::string& message);
// Prints "usage: qcfax <command> <synopsis>" to stderr; returns kExitUsage.
int Usage(const std::string& command);

// A whole decimal number in 1..max, or false.
bool ParseCount(const std::string& text, unsigned long max, unsigned long& value);

// Splits options (arguments beginning with "--") from operands; options of
// the form --name=value or --name value (when `withValue` lists the name).
struct ParsedArgs {
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> operands;
  std::string error;  // non-empty when an option lacks its value
};
ParsedArgs ParseArgs(const Args& args, const std::vector<std::string>& withValue = {});

}  // namespace qc::qcfax
