// Writes the one-line JSON report of a walk that has been read.
#pragma once

#include <cstdio>
#include <ctime>
#include <string_view>

#include "walk_reader.h"

// Writes the report for `state` to `out`, stamped with `now` in local time: an array per
// column (with `ifx`, those of ifXTable after those of ifTable) holding the rows whose
// ifDescr begins with `descr_prefix`, then the timestamp.
void write_report(FILE* out, const WalkState& state, bool ifx, std::string_view descr_prefix,
                  std::time_t now);
