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
  // The XML reading's faults (ReaderOptions::xml), each at the character where a
  // conforming XML reader finds it, or at the end of the input:
  kNotWellFormed,          // markup XML's grammar does not allow: a name expected, and the like
  kBadCharacter,           // a byte that is not UTF-8, or a character XML does not allow
  kUnclosedElement,        // "element NAME is not closed" at the end of the input
  kNoRootElement,          // the input ends with no element read
  kSecondRoot,             // an element after the root element
  kTextOutsideRoot,        // character data or a reference before or after the root element
  kAttributeWithoutValue,  // an attribute name with no `=` after it
  kUnquotedValue,          // an attribute value without quotes
  kDuplicateAttribute,     // an attribute given twice in one tag
  kLessThanInValue,        // `<` in an attribute value
  kBadReference,           // `&` that starts no reference
  kUnknownEntity,          // a reference to an entity that is not one of XML's five
  kBadCharacterReference,  // a reference to a character XML does not allow
  kUnclosedComment,        // these five at the `<` that opened what the input leaves open,
  kUnclosedCdata,          // but for a CDATA section: at the end of the input
  kUnclosedInstruction,
  kUnclosedTag,
  kUnclosedDeclaration,   // a document type declaration
  kMisplacedDeclaration,  // an XML declaration not at the start, or a document type
                          // declaration not before the root element
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
