// rule-merge: merges the rule lines of the files under tmp/ into a JSON configuration.
#include <cstdio>
#include <optional>
#include <vector>

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

// Writes the faults' messages, in order: modules return faults, and only here are they
// written.
void write_faults(const std::vector<Fault>& faults) {
  for (const Fault& fault : faults) {
    std::fwrite(fault.message.data(), 1, fault.message.size(), stderr);
  }
}

int exit_status(MergeOutcome outcome) {
  switch (outcome) {
    case MergeOutcome::kMerged:
      return 0;
    case MergeOutcome::kSkipped:
    case MergeOutcome::kIncomplete:
      return 2;
    case MergeOutcome::kFailed:
      break;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // The rule writer gathers its objects in large pieces: stdio passes them on without
  // copying them once more.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::vector<Fault> faults;
  std::optional<CommandLine> line = read_command_line(argc, argv, faults);
  if (!line) {
    write_faults(faults);
    return 1;
  }
  if (line->action == CommandLine::kHelp) {
    std::fputs(kHelpText, stdout);
    return finish(0);
  }
  if (line->action == CommandLine::kVersion) {
    std::fputs("rule-merge " RULE_TOOLS_VERSION "\n", stdout);
    return finish(0);
  }
  std::string_view document = line->document.empty() ? kDefaultDocument : line->document;
  MergeResult result = line->output ? merge_into_file(document, *line->output, line->new_only)
                                    : merge_document(document, stdout, line->new_only);
  write_faults(result.faults);
  return finish(exit_status(result.outcome));
}
