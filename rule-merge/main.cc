// rule-merge: merges the rule lines of the files under tmp/ into a JSON configuration.
#include <cstdio>
#include <optional>

#include "command_line.h"
#include "merge_driver.h"

namespace {

// Standard output is checked once, at the end: a full disk must not look like success.
int finish(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fputs("write error\n", stderr);
    return 1;
  }
  return status;
}

int exit_status(MergeOutcome outcome) {
  switch (outcome) {
    case MergeOutcome::kMerged:
      return 0;
    case MergeOutcome::kIncomplete:
      return 2;
    case MergeOutcome::kFailed:
      break;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  static char output_buffer[1 << 16];  // rule objects stream out in large writes
  std::setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
  std::optional<CommandLine> line = read_command_line(argc, argv, stderr);
  if (!line) return 1;
  if (line->action == CommandLine::kHelp) {
    std::fputs(kHelpText, stdout);
    return finish(0);
  }
  if (line->action == CommandLine::kVersion) {
    std::fputs("rule-merge " RULE_TOOLS_VERSION "\n", stdout);
    return finish(0);
  }
  std::string_view document = line->document.empty() ? kDefaultDocument : line->document;
  if (line->output) {
    return finish(exit_status(merge_into_file(document, *line->output, stderr, line->new_only)));
  }
  return finish(exit_status(merge_document(document, stdout, stderr, line->new_only)));
}
