// How the library reports a fault: its kind, where it was found, and the one-line
// message that says so. Where a caller passes an error stream, the same message is also
// written to it, as the library has always written it.
#pragma once

#include <cstdint>
#include <string>

#include "nametree/export.h"

namespace nametree {

enum class FaultKind : std::uint8_t {
  kNone,
  kNoInput,            // an empty text or a missing stream: no document, and no message
  kNoMemory,           // "No more memory\n", or "no more memory at L:C\n" while reading
  kTagAlreadyOpened,   // `<` while a tag name is being read
  kTagNotYetOpened,    // `>` outside a tag
  kClosedAtZeroLevel,  // a closing tag with no element open
  kNotProperlyPaired,  // a closing tag that names another element
  kIncomplete,         // elements left open at the end of the input
  kReadError,          // the stream could not be read to its end
  // With ReaderOptions::read_byte_order_mark: the input starts with the byte order mark
  // of UTF-16 or UTF-32, "UTF-16 or UTF-32 byte order mark: only UTF-8 is read\n"
  kNotUtf8,
};

// A short stable name for each kind ("not-properly-paired"), for logs and tests.
NAMETREE_API const char* fault_kind_name(FaultKind kind);

struct Fault {
  FaultKind kind = FaultKind::kNone;
  // The line (from 1) and column (from 1; 0 before a line's first character) of the
  // character that caused the fault. Faults found at the end of the input, and memory
  // running out outside reading, carry the position reached then.
  std::int32_t line = 1;
  std::int32_t column = 0;
  std::string message;  // whole, with its newline; empty only for kNone and kNoInput
};

}  // namespace nametree
