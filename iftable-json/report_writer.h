// Writes the one-line JSON report of a walk that has been read, and runs the whole
// conversion from a walk on a stream to the report on another.
#pragma once

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "walk_reader.h"

// Writes the report for `state` to `out`, stamped with `now` in local time.
void write_report(FILE* out, const WalkState& state, std::time_t now);

// Reads the walk from `in` and writes the report to `out`, stamped with `now`. Returns
// false, with nothing written to `out`, after writing one message to `err`.
bool convert_walk(FILE* in, FILE* out, FILE* err, std::string_view prefix, std::size_t max_rows,
                  std::time_t now);
