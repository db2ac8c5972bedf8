#include "command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "control/errors.h"

namespace qc::qcfax {

std::string SynopsisOf(const std::string& command);  // main.cpp

int Fail(const std::string& what, int code) {
  std::string text = ErrorText(code);
  if (text.empty()) text = "error " + std::to_string(code);
  std::fprintf(stderr, "qcfax: %s: %s\n", what.c_str(), text.c_str());
  return kExitFailed;
}

int FailText(const std::string& message) {
  std::fprintf(stderr, "qcfax: %s\n", message.c_str());
  return kExitFailed;
}

int Usage(const std::string& command) {
  std::fprintf(stderr, "usage: qcfax %s %s\n", command.c_str(), SynopsisOf(command).c_str());
  return kExitUsage;
}

bool ParseCount(const std::string& text, unsigned long max, unsigned long& value) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  const unsigned long v = std::strtoul(text.c_str(), nullptr, 10);
  if (v < 1 || v > max) return false;
  value = v;
  return true;
}

ParsedArgs ParseArgs(const Args& args, const std::vector<std::string>& withValue) {
  ParsedArgs p;
  bool operandsOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (operandsOnly || a.size() < 3 || a.compare(0, 2, "--") != 0) {
      p.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      operandsOnly = true;
      continue;
    }
    const size_t eq = a.find('=');
    std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    std::string value;
    bool needs = false;
    for (const auto& w : withValue) needs = needs || w == name;
    if (eq != std::string::npos) {
      value = a.substr(eq + 1);
    } else if (needs) {
      if (i + 1 >= args.size()) {
        p.error = "option --" + name + " needs a value";
        return p;
      }
      value = args[++i];
    }
    p.options.emplace_back(std::move(name), std::move(value));
  }
  return p;
}

}  // namespace qc::qcfax
