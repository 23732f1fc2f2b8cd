// iftable-json: reads an interface-table walk on standard input and writes the JSON report.
#include <cstdio>
#include <ctime>

#include "command_line.h"
#include "report_writer.h"

int main(int argc, char** argv) {
  std::optional<Arguments> arguments = parse_arguments(argc, argv, stderr);
  if (!arguments) return 255;

  bool ok = true;
  switch (arguments->action) {
    case Action::kHelp:
      std::fputs(kUsage, stdout);
      break;
    case Action::kVersion:
      std::fputs("iftable-json " RULE_TOOLS_VERSION "\n", stdout);
      break;
    case Action::kConvert:
      ok = convert_walk(stdin, stdout, stderr, arguments->options, std::time(nullptr));
      break;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("write error\n", stderr);
    return 1;
  }
  return ok ? 0 : 1;
}
