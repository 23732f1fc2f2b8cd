// Reading the interface-table walk into row slots and cells.
#include "walk_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

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

// The value of the run of digits at the start of `text`, or 0 when there is none
// or it is not a row number (zero, or above the signed 32-bit range).
std::int32_t row_from_digits(std::string_view text) {
  std::int64_t value = 0;
  for (char c : text) {
    if (!is_digit(c)) break;
    value = value * 10 + (c - '0');
    if (value > std::numeric_limits<std::int32_t>::max()) return 0;
  }
  return static_cast<std::int32_t>(value);
}

// The row container's reading: the component `depth` - 1 dots on from the one
// that follows its OID.
std::int32_t entry_row(std::string_view line, const ColumnEntry& entry) {
  std::size_t dot = entry.oid.size();
  for (std::int32_t move = 1; move < entry.depth; ++move) {
    dot = line.find('.', dot + 1);
    if (dot == std::string_view::npos) return 0;
  }
  return row_from_digits(line.substr(dot + 1));
}

// A column's reading, as atoi reads the text after the OID and the character that
// follows it (blanks and a sign allowed); only 1 to 2147483647 is a row number.
std::int32_t column_row(std::string_view line, const ColumnEntry& entry) {
  std::string_view text = line.substr(entry.oid.size() + 1);
  std::size_t i = 0;
  while (i < text.size() && is_space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (negative) return 0;
  return row_from_digits(text.substr(i));
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
  if (shape.kind == LineKind::kStringPart) {
    text += '\n';
  } else {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.pop_back();
    text += ' ';
  }
  text += more;
}

// The row and column a line within the prefix names, as the column table reads them.
struct Place {
  std::int32_t row = 0;
  int column = -1;
};

Place find_place(std::string_view line) {
  Place place;
  for (std::size_t i = 0; i < column_table.size(); ++i) {
    const ColumnEntry& entry = column_table[i];
    if (!oid_match(line, entry.oid)) continue;
    if (entry.depth > 0) {
      place.row = entry_row(line, entry);
    } else if (entry.depth < 0) {
      place.row = column_row(line, entry);
      place.column = static_cast<int>(i);
      break;
    }
  }
  return place;
}

bool no_memory(FILE* err) {
  std::fputs("No more memory\n", err);
  return false;
}

// Takes a line outside the prefix that is no further line of a value, where only what
// it leaves open counts; returns false, having done nothing, for any other line.
bool pass_line_by(std::string_view line, std::string_view prefix, OpenCell& open) {
  if (!surely_walk_line(line, open.what) || oid_match(line, prefix)) return false;
  open = {walk_line_next(line), nullptr};
  return true;
}

}  // namespace

bool take_line(std::string_view line, std::string_view prefix, WalkState& state, FILE* err) {
  if (pass_line_by(line, prefix, state.open)) return true;
  LineShape shape = scan_line(line, state.open.what);
  try {
    if (shape.kind != LineKind::kWalkLine) {
      if (state.open.text) extend_value(*state.open.text, line, shape);
      state.open.what = shape.next;
      if (shape.next == OpenValue::kNone) state.open.text = nullptr;
      return true;
    }
    state.open = {shape.next, nullptr};
    if (!oid_match(line, prefix)) return true;

    Place place = find_place(line);
    if (place.row <= 0) return true;
    std::int64_t slot = claim_slot(state.slots, place.row);
    if (slot < 0) {
      std::fputs("Too many rows\n", err);
      return false;
    }
    if (place.column < 0 || shape.colon == kNoColon) return true;
    std::vector<std::unique_ptr<RowCells>>& cells = state.cells.cells;
    if (cells.size() <= static_cast<std::size_t>(slot)) cells.resize(state.slots.row.size());
    std::unique_ptr<RowCells>& row_cells = cells[static_cast<std::size_t>(slot)];
    if (!row_cells) row_cells = std::make_unique<RowCells>();
    std::size_t column = static_cast<std::size_t>(place.column);
    std::optional<std::string>& cell = row_cells->value[column];
    cell = std::string(piece(line, shape.value_begin, shape.value_end));
    std::uint32_t bit = std::uint32_t{1} << column;
    row_cells->string_values =
        shape.string_value ? row_cells->string_values | bit : row_cells->string_values & ~bit;
    if (shape.next != OpenValue::kNone) state.open.text = &*cell;
  } catch (const std::bad_alloc&) {
    return no_memory(err);
  }
  return true;
}

namespace {

// True when the line that begins with `start` (and is longer) need not be held whole:
// it is no line of the walk within the prefix, nor a further line of a value kept.
bool can_pass_by(std::string_view start, std::string_view prefix, const OpenCell& open) {
  if (open.what == OpenValue::kString) return open.text == nullptr;
  if (open.what == OpenValue::kHex && open.text) {
    LineScanner scanner = scan_start(OpenValue::kHex);
    scan_feed(scanner, start);
    if (scanner.hex_part) return false;
  }
  return start.size() > prefix.size() && !oid_match(start, prefix);
}

}  // namespace

bool read_walk(FILE* in, std::string_view prefix, WalkState& state, FILE* err,
               std::size_t buffer_size) {
  std::size_t capacity = std::max<std::size_t>(buffer_size, 2);
  std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::malloc(capacity)));
  if (!buffer) return no_memory(err);
  std::size_t begin = 0;  // start of the first line not yet taken
  std::size_t end = 0;    // end of the bytes read
  bool at_end = false;
  // A line too long for the buffer that is not kept: looked at as it goes by.
  std::optional<LineScanner> passing;
  for (;;) {
    char* data = buffer.get();
    while (begin < end) {
      const void* newline = std::memchr(data + begin, '\n', end - begin);
      std::size_t next =
          newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1 : end;
      if (passing) {
        scan_feed(*passing, {data + begin, next - begin});
        begin = next;
        if (!newline) break;
        state.open = {scan_finish(*passing).next, nullptr};
        passing.reset();
        continue;
      }
      if (!newline) break;
      std::string_view line(data + begin, next - begin);
      // Most lines go by here; take_line reads the others whole.
      if (!pass_line_by(line, prefix, state.open) && !take_line(line, prefix, state, err)) {
        return false;
      }
      begin = next;
    }
    if (at_end) {
      // A last line without a newline.
      if (passing || begin == end) return true;
      return take_line({data + begin, end - begin}, prefix, state, err);
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
      if (can_pass_by({data, kept}, prefix, state.open)) {
        passing = scan_start(state.open.what);
        scan_feed(*passing, {data, kept});
        begin = end = 0;
      } else {
        if (capacity > std::numeric_limits<std::size_t>::max() / 2) return no_memory(err);
        char* grown = static_cast<char*>(std::realloc(data, capacity * 2));
        if (!grown) return no_memory(err);
        buffer.release();
        buffer.reset(grown);
        data = grown;
        capacity *= 2;
      }
    }
    std::size_t got = std::fread(data + end, 1, capacity - end, in);
    end += got;
    if (got == 0) {
      if (std::ferror(in)) {
        std::fputs("read error\n", err);
        return false;
      }
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
