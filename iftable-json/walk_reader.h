// Reads a walk of the interface table, and of the interface extension table if asked
// (snmpwalk text with OIDs in the iso.3.6.1... or the .1.3.6.1... form, or with the names
// of the MIB modules), into row slots and cells: which interfaces the walk names, and the
// values of the columns kept.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "fault.h"
#include "if_mib_columns.h"
#include "line_scan.h"

inline constexpr std::size_t kDefaultMaxRows = 16;       // interfaces kept unless -m says otherwise
inline constexpr std::size_t kLargestMaxRows = 1000000;  // the most -m accepts

// Row numbers in order of first appearance: slot k holds the k-th distinct row met.
// Slots are taken one by one as rows appear, so their memory follows the rows used,
// whatever the limit.
struct RowSlots {
  std::vector<std::int32_t> row;
  std::unordered_map<std::int32_t, std::uint32_t> slot_of;  // row number -> slot
  std::size_t limit = kDefaultMaxRows;                      // a row beyond it ends the reading
};

// The values of one row by column index of `column_table`, none where the walk gave none.
// A quoted STRING value keeps the \" and \\ that snmpwalk writes in it, and is written
// so; in any other value every '"' and '\' is written escaped.
struct RowCells {
  std::array<std::optional<std::string>, column_table.size()> value;
  std::uint64_t string_values = 0;  // bit k set: the value in column k is a quoted STRING
};
static_assert(column_table.size() <= 64);

// cells[slot]: the values of the row in that slot, made when the first one is stored.
struct CellMatrix {
  std::vector<std::unique_ptr<RowCells>> cells;
};

// The value that the next lines of the walk may go on with, and its text where it is kept.
struct OpenCell {
  OpenValue what = OpenValue::kNone;
  std::string* text = nullptr;
};

struct WalkState {
  RowSlots slots;
  CellMatrix cells;
  OpenCell open;
  bool seen_text = false;   // the input held a byte other than white space
  bool read_table = false;  // a line of the tables read named one of their entries
  std::string iso_head;     // the start of the last named line, in the iso. form
};

// The value of cell [column][slot], or none.
const std::optional<std::string>* cell_value(const WalkState& state, std::size_t column,
                                             std::size_t slot);

// The start of a line in snmpwalk's -On form, read as if it were "iso.3.6.1.".
inline constexpr std::string_view kNumericRoot = ".1.3.6.1.";

// True when `line` begins with `oid` (in the iso. form) and the character right after
// it is '.' or ' '. A line that begins with kNumericRoot is compared as if its ".1"
// were "iso".
inline bool oid_match(std::string_view line, std::string_view oid) {
  if (!line.empty() && line[0] == '.' && line.starts_with(kNumericRoot)) {
    if (!oid.starts_with("iso")) return false;
    line.remove_prefix(2);
    oid.remove_prefix(3);
  }
  // The character after the OID turns most other lines away before any comparing.
  return line.size() > oid.size() && (line[oid.size()] == '.' || line[oid.size()] == ' ') &&
         std::memcmp(line.data(), oid.data(), oid.size()) == 0;
}

// Which lines of the walk are read: those under the prefix (in the iso. form), and with
// `ifx` those of the interface extension table too.
struct WalkScope {
  std::string_view prefix = column_table[0].oid;
  bool ifx = false;
};

inline bool in_scope(std::string_view line, const WalkScope& scope) {
  return oid_match(line, scope.prefix) ||
         (scope.ifx && oid_match(line, column_table[kFirstIfxEntry].oid));
}

// Takes one line of the walk (with its line ending, if it has one) into `state`: a line
// of the walk, or a further line of the value that the line before left open. A line
// whose object is written with names is read as the same line in the iso. form.
// Returns "Too many rows\n" or "No more memory\n", or none.
std::optional<Fault> take_line(std::string_view line, const WalkScope& scope, WalkState& state);

// Large reads keep the cost per line low.
inline constexpr std::size_t kReadBuffer = std::size_t{1} << 18;

// Reads the walk from `in` to its end, line by line. A line that is kept (one of a
// column kept with a row, or a further line of a value kept, or one that may be such a
// line) is held whole in a buffer that starts at `buffer_size` bytes and doubles as
// needed; a longer line that is not kept is looked at piece by piece as it is read and
// never held whole. Returns the fault that ended the reading ("No more memory\n", "Too
// many rows\n" or "read error\n"), or none.
std::optional<Fault> read_walk(FILE* in, const WalkScope& scope, WalkState& state,
                               std::size_t buffer_size = kReadBuffer);
