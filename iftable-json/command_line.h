// The command line of iftable-json: what to do, and the options of the conversion.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string_view>

#include "report_writer.h"

enum class Action { kConvert, kHelp, kVersion };

struct Arguments {
  Action action = Action::kConvert;
  ConvertOptions options;
};

// Reads the command line in order: "-x"/"--ifx", "-d"/"--descr-prefix <prefix>", "-p
// <prefix>" (in either OID form; kept in the iso. form) and "-m"/"--max-rows <rows>" (a
// later one wins), "-h"/"--help" and "--version" (each ends the reading). Returns none
// after writing "unknown <argument>\n" with the first argument it refuses, or "bad row
// limit <rows>\n" when the rows are not a whole number from 1 to kLargestMaxRows (the
// argument shown with control bytes escaped).
std::optional<Arguments> parse_arguments(int argc, const char* const* argv, FILE* err);

extern const char kUsage[];
