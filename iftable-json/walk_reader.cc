// Reading the interface-table walk into row slots and cells.
#include "walk_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "oid_forms.h"

namespace {

struct FreeDeleter {
  void operator()(char* p) const {
    std::free(p);
  }
};

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

bool is_space(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

// The row number of a line as its bytes after the OID and the character that follows
// it go by. A row container's row is the run of digits after its next dot; a column's
// is read as atoi reads it (blanks and a sign allowed). Only 1 to 2147483647 is a row
// number: anything else reads as 0.
struct RowReader {
  enum class Stage : std::uint8_t { kDot, kBlanks, kDigits, kDone };
  Stage stage = Stage::kDone;
  std::int64_t value = 0;
};

RowReader row_reader(const ColumnEntry& entry) {
  // Every row container of the table has its row one component after its column number.
  return {entry.kind == EntryKind::kRow ? RowReader::Stage::kDot : RowReader::Stage::kBlanks, 0};
}

void row_feed(RowReader& r, std::string_view bytes) {
  for (char c : bytes) {
    switch (r.stage) {
      case RowReader::Stage::kDot:
        if (c == '.') r.stage = RowReader::Stage::kDigits;
        continue;
      case RowReader::Stage::kBlanks:
        if (is_space(c)) continue;
        r.stage = RowReader::Stage::kDigits;
        if (c == '+') continue;
        if (c == '-') {
          r.stage = RowReader::Stage::kDone;
          return;
        }
        [[fallthrough]];
      case RowReader::Stage::kDigits:
        if (!is_digit(c)) {
          r.stage = RowReader::Stage::kDone;
          return;
        }
        r.value = r.value * 10 + (c - '0');
        if (r.value > std::numeric_limits<std::int32_t>::max()) {
          r.value = 0;
          r.stage = RowReader::Stage::kDone;
        }
        continue;
      case RowReader::Stage::kDone:
        return;
    }
  }
}

constexpr std::size_t longest_oid() {
  std::size_t longest = 0;
  for (const ColumnEntry& entry : column_table) longest = std::max(longest, entry.oid.size());
  return longest;
}
static_assert(longest_oid() == kLongestOid);

// The entry of `column_table` whose row the line names: its column, or else its row
// container; -1 for none. `line` is the whole line or a start of it longer than
// kLongestOid. The interface extension table counts only with `ifx`.
int place_entry(std::string_view line, bool ifx) {
  int found = -1;
  std::size_t end = ifx ? column_table.size() : kFirstIfxEntry;
  for (std::size_t i = 0; i < end; ++i) {
    const ColumnEntry& entry = column_table[i];
    if (entry.kind == EntryKind::kTable || !oid_match(line, entry.oid)) continue;
    found = static_cast<int>(i);
    if (entry.kind == EntryKind::kColumn) break;
  }
  return found;
}

// Where the row reading of `entry` starts in the line: past its OID and the character
// after it. A line in the -On form writes the OID one byte shorter.
std::size_t row_start(std::string_view line, int entry) {
  std::size_t oid_end = column_table[static_cast<std::size_t>(entry)].oid.size();
  return (line.starts_with(kNumericRoot) ? oid_end - 1 : oid_end) + 1;
}

// The slot holding `row`, or a new slot, which then takes it; -1 when `row` would be
// one row more than the limit. Throws std::bad_alloc when a new slot finds no memory.
std::int64_t claim_slot(RowSlots& slots, std::int32_t row) {
  auto found = slots.slot_of.find(row);
  if (found != slots.slot_of.end()) return found->second;
  if (slots.row.size() >= slots.limit) return -1;
  std::uint32_t slot = static_cast<std::uint32_t>(slots.row.size());
  slots.row.push_back(row);
  try {
    slots.slot_of.emplace(row, slot);
  } catch (const std::bad_alloc&) {
    slots.row.pop_back();
    throw;
  }
  return slot;
}

std::string_view piece(std::string_view line, std::uint64_t begin, std::uint64_t end) {
  return line.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

// Adds a further line to the value kept in `text`: a STRING goes on after a newline; the
// pairs of a Hex-STRING go on after one blank, as they stand on one line.
void extend_value(std::string& text, std::string_view line, const LineShape& shape) {
  std::string_view more = piece(line, shape.value_begin, shape.value_end);
  if (shape.kind != LineKind::kHexPart) {
    text += '\n';
  } else {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    text += ' ';
  }
  text += more;
}

// A line's object in the iso. form: `head`, the line's start with its object so written
// and as many bytes after it as telling its scope and entry takes, and `more`, the rest of
// the line after those bytes. A line in a numeric form is its own head.
struct IsoLine {
  std::string_view head;
  std::string_view more;
};

// The bytes after an object that its scope and entry are told by.
std::size_t head_room(const WalkScope& scope) {
  return std::max(scope.prefix.size(), kLongestOid) + 2;
}

// The line `line` (whole, or a start of it longer than kNameWindow + head_room) in the
// iso. form; none when it names no object of the tables, or is not a typed line of the
// walk. The head is kept in `head`. Throws std::bad_alloc when `head` cannot grow.
std::optional<IsoLine> iso_line(std::string_view line, const WalkScope& scope, std::string& head) {
  if (!named_form(line)) return IsoLine{line, {}};
  std::optional<ObjectName> name = read_object_name(line);
  if (!name || !typed_line(line, name->length)) return std::nullopt;
  std::string_view after = line.substr(name->length);
  std::size_t room = std::min(after.size(), head_room(scope));
  head.assign(name->oid);
  head.append(after.substr(0, room));
  return IsoLine{head, after.substr(room)};
}

// The row and column a line within the scope names, as the column table reads them;
// `entry` is -1 where it names no entry of the tables.
struct Place {
  std::int32_t row = 0;
  int column = -1;
  int entry = -1;
};

Place find_place(const IsoLine& line, bool ifx) {
  int entry = place_entry(line.head, ifx);
  if (entry < 0) return {};
  const ColumnEntry& found = column_table[static_cast<std::size_t>(entry)];
  RowReader reader = row_reader(found);
  row_feed(reader, line.head.substr(row_start(line.head, entry)));
  row_feed(reader, line.more);
  bool column = found.kind == EntryKind::kColumn;
  return {static_cast<std::int32_t>(reader.value), column ? entry : -1, entry};
}

Fault no_memory() {
  return {FaultKind::kNoMemory, "No more memory\n"};
}

// The slot of `row` in `slot`, claimed if need be; "Too many rows" or "No more memory"
// where it cannot be.
std::optional<Fault> claim_row(WalkState& state, std::int32_t row, std::int64_t& slot) {
  try {
    slot = claim_slot(state.slots, row);
  } catch (const std::bad_alloc&) {
    return no_memory();
  }
  if (slot >= 0) return std::nullopt;
  return Fault{FaultKind::kTooManyRows, "Too many rows\n"};
}

// Takes a line in a numeric form outside the scope that is no further line of a value,
// where only what it leaves open counts; returns false, having done nothing, for any
// other line.
[[gnu::always_inline]] inline bool pass_line_by(std::string_view line, const WalkScope& scope,
                                                OpenCell& open) {
  if (!surely_walk_line(line, open.what) || named_form(line) || in_scope(line, scope)) {
    return false;
  }
  open = {walk_line_next(line), nullptr};
  return true;
}

}  // namespace

std::optional<Fault> take_line(std::string_view line, const WalkScope& scope, WalkState& state) {
  if (pass_line_by(line, scope, state.open)) return std::nullopt;
  LineShape shape = scan_line(line, state.open.what);
  try {
    if (shape.kind != LineKind::kWalkLine) {
      if (state.open.text) extend_value(*state.open.text, line, shape);
      state.open.what = shape.next;
      if (shape.next == OpenValue::kNone) state.open.text = nullptr;
      return std::nullopt;
    }
    state.open = {shape.next, nullptr};
    std::optional<IsoLine> iso = iso_line(line, scope, state.iso_head);
    if (!iso || !in_scope(iso->head, scope)) return std::nullopt;

    Place place = find_place(*iso, scope.ifx);
    if (place.entry >= 0) state.read_table = true;
    if (place.row <= 0) return std::nullopt;
    std::int64_t slot = 0;
    if (std::optional<Fault> fault = claim_row(state, place.row, slot)) return fault;
    if (place.column < 0 || shape.colon == kNoColon) return std::nullopt;
    std::vector<std::unique_ptr<RowCells>>& cells = state.cells.cells;
    if (cells.size() <= static_cast<std::size_t>(slot)) cells.resize(state.slots.row.size());
    std::unique_ptr<RowCells>& row_cells = cells[static_cast<std::size_t>(slot)];
    if (!row_cells) row_cells = std::make_unique<RowCells>();
    std::size_t column = static_cast<std::size_t>(place.column);
    std::optional<std::string>& cell = row_cells->value[column];
    std::string_view value = piece(line, shape.value_begin, shape.value_end);
    cell = std::string(shape.integer_value ? enumeration_number(value) : value);
    std::uint64_t bit = std::uint64_t{1} << column;
    row_cells->string_values =
        shape.string_value ? row_cells->string_values | bit : row_cells->string_values & ~bit;
    if (shape.next != OpenValue::kNone) state.open.text = &*cell;
  } catch (const std::bad_alloc&) {
    return no_memory();
  }
  return std::nullopt;
}

namespace {

// A line too long for the buffer that is not kept, looked at as it goes by: what it
// leaves open, the row it names, and whether it is a line of the tables.
struct PassingLine {
  LineScanner scanner;
  RowReader row;
  bool read_table = false;
};

// How the line whose first bytes are `start` (and which is longer) can go by without
// being held whole; none when it must be held: when it is a line of a column kept or a
// further line of a value kept, or may yet turn out to be one. Throws std::bad_alloc
// when the head of a named line finds no memory.
std::optional<PassingLine> pass_long_line(std::string_view start, const WalkScope& scope,
                                          const OpenCell& open, std::string& head) {
  PassingLine passing{scan_start(open.what), {}};
  scan_feed(passing.scanner, start);
  // A further line of a STRING is never a line of the walk.
  if (open.what == OpenValue::kString) {
    if (open.text) return std::nullopt;
    return passing;
  }
  if (open.what == OpenValue::kHex && open.text && passing.scanner.hex_part) return std::nullopt;
  // Whether the line is in the scope, and which entry it names, shows in its first bytes.
  if (start.size() <= kNameWindow + head_room(scope)) return std::nullopt;
  if (open.what == OpenValue::kBareString && passing.scanner.look != LineScanner::Look::kWalk) {
    if (open.text) return std::nullopt;
    return passing;
  }
  std::optional<IsoLine> iso = iso_line(start, scope, head);
  if (!iso || !in_scope(iso->head, scope)) return passing;
  int entry = place_entry(iso->head, scope.ifx);
  if (entry < 0) return passing;
  passing.read_table = true;
  const ColumnEntry& found = column_table[static_cast<std::size_t>(entry)];
  passing.row = row_reader(found);
  row_feed(passing.row, iso->head.substr(row_start(iso->head, entry)));
  row_feed(passing.row, iso->more);
  if (found.kind == EntryKind::kColumn) {
    // A column's line is kept unless its row is already known to be none.
    if (passing.row.stage != RowReader::Stage::kDone || passing.row.value > 0) return std::nullopt;
  }
  return passing;
}

// Ends a line that went by: the next line follows what it left open, and its row counts.
std::optional<Fault> finish_passing(const PassingLine& passing, WalkState& state) {
  state.open = {scan_finish(passing.scanner).next, nullptr};
  if (passing.read_table) state.read_table = true;
  std::int64_t slot = 0;
  if (passing.row.value <= 0) return std::nullopt;
  return claim_row(state, static_cast<std::int32_t>(passing.row.value), slot);
}

// True when `bytes` hold a byte other than white space.
bool holds_text(std::string_view bytes) {
  for (char c : bytes) {
    if (c != ' ' && (c < '\t' || c > '\r')) return true;
  }
  return false;
}

}  // namespace

std::optional<Fault> read_walk(FILE* in, const WalkScope& walk_scope, WalkState& state,
                               std::size_t buffer_size) {
  const WalkScope scope = walk_scope;  // a copy the read loop can keep in registers
  std::size_t capacity = std::max<std::size_t>(buffer_size, 2);
  std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::malloc(capacity)));
  if (!buffer) return no_memory();
  std::size_t begin = 0;  // start of the first line not yet taken
  std::size_t end = 0;    // end of the bytes read
  bool at_end = false;
  // A line too long for the buffer that is not kept: looked at as it goes by.
  std::optional<PassingLine> passing;
  for (;;) {
    char* data = buffer.get();
    while (begin < end) {
      const void* newline = std::memchr(data + begin, '\n', end - begin);
      std::size_t next =
          newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1 : end;
      if (passing) {
        std::string_view bytes(data + begin, next - begin);
        scan_feed(passing->scanner, bytes);
        row_feed(passing->row, bytes);
        begin = next;
        if (!newline) break;
        if (std::optional<Fault> fault = finish_passing(*passing, state)) return fault;
        passing.reset();
        continue;
      }
      if (!newline) break;
      std::string_view line(data + begin, next - begin);
      // Most lines go by here; take_line reads the others whole.
      if (!pass_line_by(line, scope, state.open)) {
        if (std::optional<Fault> fault = take_line(line, scope, state)) return fault;
      }
      begin = next;
    }
    if (at_end) {
      // A last line without a newline.
      if (passing) return finish_passing(*passing, state);
      if (begin == end) return std::nullopt;
      return take_line({data + begin, end - begin}, scope, state);
    }

    // Keep the unfinished line at the front; when it fills the buffer, either look at it
    // as it goes by or double the buffer.
    std::size_t kept = end - begin;
    if (begin > 0) {
      std::memmove(data, data + begin, kept);
      begin = 0;
      end = kept;
    }
    if (kept == capacity) {
      try {
        passing = pass_long_line({data, kept}, scope, state.open, state.iso_head);
      } catch (const std::bad_alloc&) {
        return no_memory();
      }
      if (passing) {
        begin = end = 0;
      } else {
        if (capacity > std::numeric_limits<std::size_t>::max() / 2) return no_memory();
        char* grown = static_cast<char*>(std::realloc(data, capacity * 2));
        if (!grown) return no_memory();
        buffer.release();
        buffer.reset(grown);
        data = grown;
        capacity *= 2;
      }
    }
    std::size_t got = std::fread(data + end, 1, capacity - end, in);
    if (!state.seen_text) state.seen_text = holds_text({data + end, got});
    end += got;
    if (got == 0) {
      if (std::ferror(in)) return Fault{FaultKind::kReadError, "read error\n"};
      at_end = true;
    }
  }
}

const std::optional<std::string>* cell_value(const WalkState& state, std::size_t column,
                                             std::size_t slot) {
  const std::vector<std::unique_ptr<RowCells>>& cells = state.cells.cells;
  if (slot >= cells.size() || !cells[slot] || column >= column_table.size()) return nullptr;
  const std::optional<std::string>& value = cells[slot]->value[column];
  return value ? &value : nullptr;
}
