// The command line of iftable-json: what to do, and the options of the conversion.
#pragma once

#include <optional>

#include "convert.h"
#include "fault.h"

enum class Action { kConvert, kHelp, kVersion };

struct CommandLine {
  Action action = Action::kConvert;
  ConvertOptions options;
};

// Reads the command line in order: "-x"/"--ifx", "-d"/"--descr-prefix <prefix>", "-p
// <prefix>" (an OID in either numeric form, or a name as snmpwalk prints it, such as
// ifDescr, IF-MIB::ifDescr or ifXTable; kept in the iso. form) and "-m"/"--max-rows
// <rows>" (a later one wins), "-h"/"--help" and "--version" (each ends the reading).
// Returns none, with `fault` set, at the first argument it refuses: "unknown
// <argument>\n", or "bad row limit <rows>\n" when the rows are not a whole number from 1
// to kLargestMaxRows (the argument shown with control bytes escaped).
std::optional<CommandLine> read_command_line(int argc, const char* const* argv, Fault& fault);

extern const char kHelpText[];
