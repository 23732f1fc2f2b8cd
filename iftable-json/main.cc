// iftable-json: reads an interface-table walk on standard input and writes the JSON report.
#include <cstdio>
#include <ctime>
#include <vector>

#include "command_line.h"
#include "convert.h"
#include "fault.h"

namespace {

// Writes the faults' messages to standard error; returns the exit status they call for.
int report_faults(const std::vector<Fault>& faults) {
  int status = 0;
  for (const Fault& fault : faults) {
    std::fwrite(fault.message.data(), 1, fault.message.size(), stderr);
    if (fault.kind == FaultKind::kUnknownArgument || fault.kind == FaultKind::kBadRowLimit) {
      status = 255;
    } else if (!keeps_report(fault) && status == 0) {
      status = 1;
    }
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Fault refused{};
  std::optional<CommandLine> command_line = read_command_line(argc, argv, refused);
  if (!command_line) return report_faults({refused});

  int status = 0;
  switch (command_line->action) {
    case Action::kHelp:
      std::fputs(kHelpText, stdout);
      break;
    case Action::kVersion:
      std::fputs("iftable-json " RULE_TOOLS_VERSION "\n", stdout);
      break;
    case Action::kConvert:
      status =
          report_faults(convert_walk(stdin, stdout, command_line->options, std::time(nullptr)));
      break;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("write error\n", stderr);
    return 1;
  }
  return status;
}
