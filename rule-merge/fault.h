// A fault of rule-merge as a value: what kind of thing went wrong, and the whole message
// line the program writes for it. Modules return faults; main writes them.
#pragma once

#include <string>
#include <string_view>

#include "text_escape.h"

enum class FaultKind {
  kCommandLine,  // an unknown option, or -o without its file
  kDocument,     // the document is refused, or has no rule array where one is needed
  kEntry,        // an entry under tmp/ could not be read, or not to its end
  kSkipped,      // a file under tmp/, or a rule line, left out on purpose
  kWrite,        // the output file cannot be written
  kNoMemory,
};

struct Fault {
  FaultKind kind;
  std::string message;  // the whole line, line feed included, escaped as it is written
};

// A fault whose message is `what`, then `text` shown as messages show it (control bytes
// and backslashes escaped), then `tail` (a line feed when not given).
inline Fault fault_showing(FaultKind kind, std::string_view what, std::string_view text,
                           std::string_view tail = "\n") {
  Fault fault{kind, std::string(what)};
  append_message_text(fault.message, text);
  fault.message += tail;
  return fault;
}
