// The command line of iftable-json: what to do, and the options of the conversion.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string_view>

#include "walk_reader.h"

enum class Action { kConvert, kHelp, kVersion };

struct Arguments {
  Action action = Action::kConvert;
  std::string_view prefix = column_table[0].oid;
  std::size_t max_rows = kDefaultMaxRows;
};

// Reads the command line in order: "-p <prefix>" and "-m"/"--max-rows <rows>" (a later
// one wins), "-h"/"--help" and "--version" (each ends the reading). Returns none after
// writing "unknown %s\n" with the first argument it refuses, or "bad row limit %s\n"
// when the rows are not a whole number from 1 to kLargestMaxRows.
std::optional<Arguments> parse_arguments(int argc, const char* const* argv, FILE* err);

extern const char kUsage[];
