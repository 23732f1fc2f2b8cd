// Reads a walk of the interface table (snmpwalk text in the iso.3.6.1... form) into
// row slots and cells: which interfaces the walk names, and the values of the columns kept.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "line_scan.h"

struct ColumnEntry {
  std::string_view oid;
  std::string_view name;  // the IF-MIB object name, as the standard spells it
  // Only the sign counts: 0 for the table itself (no row number); positive for the
  // row container, whose row number is the depth-th component after its OID;
  // negative for a column, whose row number is the component right after its OID.
  std::int32_t depth;
};

// ifLastChange (.9) and ifSpecific (.22) are left out: their lines still claim a
// row slot through ifEntry, but their values are never kept.
inline constexpr std::array<ColumnEntry, 22> column_table = {{
    {"iso.3.6.1.2.1.2.2", "ifTable", 0},
    {"iso.3.6.1.2.1.2.2.1", "ifEntry", 2},
    {"iso.3.6.1.2.1.2.2.1.1", "ifIndex", -1},
    {"iso.3.6.1.2.1.2.2.1.2", "ifDescr", -1},
    {"iso.3.6.1.2.1.2.2.1.3", "ifType", -1},
    {"iso.3.6.1.2.1.2.2.1.4", "ifMtu", -1},
    {"iso.3.6.1.2.1.2.2.1.5", "ifSpeed", -1},
    {"iso.3.6.1.2.1.2.2.1.6", "ifPhysAddress", -1},
    {"iso.3.6.1.2.1.2.2.1.7", "ifAdminStatus", -1},
    {"iso.3.6.1.2.1.2.2.1.8", "ifOperStatus", -1},
    {"iso.3.6.1.2.1.2.2.1.10", "ifInOctets", -1},
    {"iso.3.6.1.2.1.2.2.1.11", "ifInUcastPkts", -1},
    {"iso.3.6.1.2.1.2.2.1.12", "ifInNUcastPkts", -1},
    {"iso.3.6.1.2.1.2.2.1.13", "ifInDiscards", -1},
    {"iso.3.6.1.2.1.2.2.1.14", "ifInErrors", -1},
    {"iso.3.6.1.2.1.2.2.1.15", "ifInUnknownProtos", -1},
    {"iso.3.6.1.2.1.2.2.1.16", "ifOutOctets", -1},
    {"iso.3.6.1.2.1.2.2.1.17", "ifOutUcastPkts", -1},
    {"iso.3.6.1.2.1.2.2.1.18", "ifOutNUcastPkts", -1},
    {"iso.3.6.1.2.1.2.2.1.19", "ifOutDiscards", -1},
    {"iso.3.6.1.2.1.2.2.1.20", "ifOutErrors", -1},
    {"iso.3.6.1.2.1.2.2.1.21", "ifOutQLen", -1},
}};

inline constexpr int kDescrColumn = 3;                   // ifDescr decides which rows are written
inline constexpr int kFirstReportColumn = 2;             // the report starts at ifIndex
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
// A STRING value keeps the \" and \\ that snmpwalk writes in it, and is written so; in
// any other value every '"' and '\' is written escaped.
struct RowCells {
  std::array<std::optional<std::string>, column_table.size()> value;
  std::uint32_t string_values = 0;  // bit k set: the value in column k is a STRING
};
static_assert(column_table.size() <= 32);

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
};

// The value of cell [column][slot], or none.
const std::optional<std::string>* cell_value(const WalkState& state, std::size_t column,
                                             std::size_t slot);

// True when `line` begins with `oid` and the character right after it is '.' or ' '.
inline bool oid_match(std::string_view line, std::string_view oid) {
  // The character after the OID turns most other lines away before any comparing.
  return line.size() > oid.size() && (line[oid.size()] == '.' || line[oid.size()] == ' ') &&
         line.starts_with(oid);
}

// Takes one line of the walk (with its line ending, if it has one) into `state`: a line
// of the walk, or a further line of the value that the line before left open.
// Returns false after writing "Too many rows\n" or "No more memory\n" to `err`.
bool take_line(std::string_view line, std::string_view prefix, WalkState& state, FILE* err);

// Large reads keep the cost per line low.
inline constexpr std::size_t kReadBuffer = std::size_t{1} << 18;

// Reads the walk from `in` to its end, line by line. A line that is kept (one within
// the prefix, or a further line of a value kept) is held whole in a buffer that starts
// at `buffer_size` bytes and doubles as needed; a longer line that is not kept is
// looked at piece by piece as it is read and never held whole. Returns false after
// writing one message to `err` ("No more memory\n", "Too many rows\n" or "read error\n").
bool read_walk(FILE* in, std::string_view prefix, WalkState& state, FILE* err,
               std::size_t buffer_size = kReadBuffer);
