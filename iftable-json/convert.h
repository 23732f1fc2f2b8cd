// The whole conversion: a walk read from one stream, its report written to another.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "fault.h"
#include "walk_reader.h"

inline constexpr std::string_view kDefaultDescrPrefix = "en";

// What is read and what is reported.
struct ConvertOptions {
  std::string prefix{column_table[0].oid};  // lines read, in the iso. form
  bool ifx = false;  // the interface extension table is read and reported too
  std::string_view descr_prefix = kDefaultDescrPrefix;  // rows written: ifDescr begins so
  std::size_t max_rows = kDefaultMaxRows;
};

// Reads the walk from `in`, through a buffer of `buffer_size` bytes at first, and writes
// the report to `out`, stamped with `now`. Returns the faults met, in order: none, or
// one that ended the run with nothing written to `out` ("Too many rows", "No more
// memory", "read error"), or "no interface table line in the walk" (kNothingRead) when
// the input held text but no line of the tables read, after which the report is written.
std::vector<Fault> convert_walk(FILE* in, FILE* out, const ConvertOptions& options, std::time_t now,
                                std::size_t buffer_size = kReadBuffer);
