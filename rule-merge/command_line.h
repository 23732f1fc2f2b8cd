// The command line of rule-merge: options, the document, and the help text.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "fault.h"

struct CommandLine {
  enum Action { kMerge, kHelp, kVersion };
  Action action = kMerge;
  std::string_view document;               // empty: the default document
  std::optional<std::string_view> output;  // -o FILE
  bool new_only = false;                   // -n: no rule whose raw text is there already
};

// The text -h and --help print.
extern const char kHelpText[];

// Reads the arguments after the program's name. Options may stand anywhere before `--`;
// the first other argument (or the one after `--`) is the document, and any further
// ones are ignored. -h, --help and --version end the reading. On a fault adds it to
// `faults` ("unknown option <argument>", or the usage line when -o lacks its file, of
// kind kCommandLine) and returns none.
std::optional<CommandLine> read_command_line(int argc, const char* const* argv,
                                             std::vector<Fault>& faults);
