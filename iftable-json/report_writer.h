// Writes the one-line JSON report of a walk that has been read, and runs the whole
// conversion from a walk on a stream to the report on another.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include "walk_reader.h"

inline constexpr std::string_view kDefaultDescrPrefix = "en";

// What is read and what is reported.
struct ConvertOptions {
  std::string prefix{column_table[0].oid};  // lines read, in the iso. form
  bool ifx = false;  // the interface extension table is read and reported too
  std::string_view descr_prefix = kDefaultDescrPrefix;  // rows written: ifDescr begins so
  std::size_t max_rows = kDefaultMaxRows;
};

// Writes the report for `state` to `out`, stamped with `now` in local time: an array per
// column (with `options.ifx`, those of ifXTable after those of ifTable) holding the rows
// whose ifDescr begins with `options.descr_prefix`, then the timestamp.
void write_report(FILE* out, const WalkState& state, const ConvertOptions& options,
                  std::time_t now);

// Reads the walk from `in` and writes the report to `out`, stamped with `now`. Returns
// false, with nothing written to `out`, after writing one message to `err`.
bool convert_walk(FILE* in, FILE* out, FILE* err, const ConvertOptions& options, std::time_t now);
