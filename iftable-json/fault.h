// What went wrong in a run of iftable-json, as a value: the modules return it and the
// program writes it, so that each message is written in one place.
#pragma once

#include <string>

enum class FaultKind {
  kUnknownArgument,  // "unknown <argument>\n": status 255, nothing read
  kBadRowLimit,      // "bad row limit <rows>\n": status 255, nothing read
  kTooManyRows,      // "Too many rows\n": no report
  kNoMemory,         // "No more memory\n": no report
  kReadError,        // "read error\n": no report
  kNothingRead,      // the input held text but no line of the tables: the report is written
};

struct Fault {
  FaultKind kind;
  std::string message;  // the whole line, newline included, escaped as it is written
};

// Whether the run goes on to write its report after `fault`.
inline bool keeps_report(const Fault& fault) {
  return fault.kind == FaultKind::kNothingRead;
}
