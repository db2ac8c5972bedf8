// qcfax: Quillcast's fax documents from the command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "command.h"

namespace qc::qcfax {

// The commands: name, arguments, what it does. Command `name` is the function
// Run_name(args) in name_command.cpp; adding a command is one line here.
#define QCFAX_COMMANDS(X)                                                                     \
  X(info, "FILE.APF", "the file header and one line per page")                                \
  X(convert, "[--fine] [--wide] [--left-margin N] [--top-margin N] [--type text|tiff|pcx|dcx|bmp|pbm] INPUT OUTPUT.APF", \
    "a text or image file as an APF file")                                                    \
  X(unpack, "[--double-height] FILE.APF PAGE OUTPUT.pbm", "a page's decoded lines as a PBM")  \
  X(send,                                                                                     \
    "[--com N | --device PATH] [--class auto|1|2|2.0] [--bps RATE] [--station ID] [--header TEXT] " \
    "[--cover FILE] [--attempts N] [--retry-wait S] [--dial-wait S] [--prefix P] [--pulse] "   \
    "[--blind] [--init STR] [--trace FILE] NUMBER FILE.APF",                                   \
    "send a fax through the modem, one line per status change")                               \
  X(receive, "[--com N | --device PATH] [--class auto|1|2|2.0] [--rings N] [--station ID] [--dir DIR] [--one] [--trace FILE]", \
    "wait for calls and store each fax received, one line per status change and per file") \
  X(classes, "[--com N | --device PATH]", "the fax classes the modem reports")

#define QCFAX_DECLARE(name, synopsis, help) int Run_##name(const Args& args);
QCFAX_COMMANDS(QCFAX_DECLARE)
#undef QCFAX_DECLARE

namespace {

struct Command {
  const char* name;
  const char* synopsis;
  const char* help;
  int (*run)(const Args&);
};

#define QCFAX_ENTRY(name, synopsis, help) {#name, synopsis, help, Run_##name},
constexpr Command kCommands[] = {QCFAX_COMMANDS(QCFAX_ENTRY)};
#undef QCFAX_ENTRY

void PrintUsage(std::FILE* to) {
  std::fprintf(to, "usage: qcfax COMMAND ARGUMENTS\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(to, "  %s %s\n      %s\n", c.name, c.synopsis, c.help);
}

}  // namespace

std::string SynopsisOf(const std::string& command) {
  for (const Command& c : kCommands)
    if (command == c.name) return c.synopsis;
  return "";
}

}  // namespace qc::qcfax

int main(int argc, char** argv) {
  using namespace qc::qcfax;
  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintUsage(stdout);
    return kExitOk;
  }
  for (const Command& c : kCommands)
    if (name == c.name) {
      try {
        return c.run(Args(argv + 2, argv + argc));
      } catch (const std::exception& e) {
        return FailText(e.what());
      }
    }
  std::fprintf(stderr, "qcfax: unknown command '%s'\n", name.c_str());
  PrintUsage(stderr);
  return kExitUsage;
}
