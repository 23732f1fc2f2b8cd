// Reads a walk of the interface table, and of the interface extension table if asked
// (snmpwalk text with OIDs in the iso.3.6.1... or the .1.3.6.1... form), into row slots
// and cells: which interfaces the walk names, and the values of the columns kept.
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
// row slot through ifEntry, but their values are never kept. The interface extension
// table (ifXTable) follows from kFirstIfxEntry on: its rows are the same interfaces.
inline constexpr std::array<ColumnEntry, 42> column_table = {{
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
    {"iso.3.6.1.2.1.31.1.1.1", "ifXEntry", 2},
    {"iso.3.6.1.2.1.31.1.1.1.1", "ifName", -1},
    {"iso.3.6.1.2.1.31.1.1.1.2", "ifInMulticastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.3", "ifInBroadcastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.4", "ifOutMulticastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.5", "ifOutBroadcastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.6", "ifHCInOctets", -1},
    {"iso.3.6.1.2.1.31.1.1.1.7", "ifHCInUcastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.8", "ifHCInMulticastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.9", "ifHCInBroadcastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.10", "ifHCOutOctets", -1},
    {"iso.3.6.1.2.1.31.1.1.1.11", "ifHCOutUcastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.12", "ifHCOutMulticastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.13", "ifHCOutBroadcastPkts", -1},
    {"iso.3.6.1.2.1.31.1.1.1.14", "ifLinkUpDownTrapEnable", -1},
    {"iso.3.6.1.2.1.31.1.1.1.15", "ifHighSpeed", -1},
    {"iso.3.6.1.2.1.31.1.1.1.16", "ifPromiscuousMode", -1},
    {"iso.3.6.1.2.1.31.1.1.1.17", "ifConnectorPresent", -1},
    {"iso.3.6.1.2.1.31.1.1.1.18", "ifAlias", -1},
    {"iso.3.6.1.2.1.31.1.1.1.19", "ifCounterDiscontinuityTime", -1},
}};

inline constexpr int kDescrColumn = 3;        // ifDescr decides which rows are written
inline constexpr int kFirstReportColumn = 2;  // the report starts at ifIndex
inline constexpr int kFirstIfxEntry = 22;     // ifXEntry and its columns
static_assert(column_table[kFirstIfxEntry].name == "ifXEntry");
// The longest OID of the table: a line whose first bytes are longer names its column.
inline constexpr std::size_t kLongestOid = 25;
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
  std::uint64_t string_values = 0;  // bit k set: the value in column k is a STRING
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
// of the walk, or a further line of the value that the line before left open.
// Returns false after writing "Too many rows\n" or "No more memory\n" to `err`.
bool take_line(std::string_view line, const WalkScope& scope, WalkState& state, FILE* err);

// Large reads keep the cost per line low.
inline constexpr std::size_t kReadBuffer = std::size_t{1} << 18;

// Reads the walk from `in` to its end, line by line. A line that is kept (one of a
// column kept, or a further line of a value kept, or one that may be such a line) is
// held whole in a buffer that starts at `buffer_size` bytes and doubles as needed; a
// longer line that is not kept is looked at piece by piece as it is read and never held
// whole. Returns false after writing one message to `err` ("No more memory\n", "Too
// many rows\n" or "read error\n").
bool read_walk(FILE* in, const WalkScope& scope, WalkState& state, FILE* err,
               std::size_t buffer_size = kReadBuffer);
