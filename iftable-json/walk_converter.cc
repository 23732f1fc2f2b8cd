// Reading the interface-table walk into row slots and cells, and writing the report.
#include "walk_converter.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "identifier.h"

namespace {

// Large reads keep the cost per line low; the buffer grows only for a longer line.
constexpr std::size_t kInitialBuffer = std::size_t{1} << 18;

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

// The value after the "<oid> = <TYPE>: " that ends at `colon`: the line ending is
// dropped (a CR before the LF too), and a STRING loses its surrounding quotes.
std::string_view value_text(std::string_view line, std::size_t colon) {
  std::string_view value = line.substr(colon + 2);
  if (value.ends_with('\n')) {
    value.remove_suffix(1);
    if (value.ends_with('\r')) value.remove_suffix(1);
  }
  if (colon >= 8 && line.substr(colon - 8, 8) == "= STRING") {
    if (value.starts_with('"')) value.remove_prefix(1);
    if (value.ends_with('"')) value.remove_suffix(1);
  }
  return value;
}

// The number of rows -m allows: a whole decimal number from 1 to kLargestMaxRows.
std::optional<std::size_t> row_limit(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::size_t rows = 0;
  for (char c : text) {
    if (!is_digit(c)) return std::nullopt;
    rows = rows * 10 + static_cast<std::size_t>(c - '0');
    if (rows > kLargestMaxRows) return std::nullopt;
  }
  if (rows == 0) return std::nullopt;
  return rows;
}

bool no_memory(FILE* err) {
  std::fputs("No more memory\n", err);
  return false;
}

// Writes `value` as the inside of a JSON string: bytes below 0x20 become escapes,
// every other byte goes out as read (snmpwalk already escapes '"' and '\').
void write_json_text(FILE* out, std::string_view value) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20) continue;
    std::fwrite(value.data() + start, 1, i - start, out);
    switch (c) {
      case '\b':
        std::fputs("\\b", out);
        break;
      case '\t':
        std::fputs("\\t", out);
        break;
      case '\n':
        std::fputs("\\n", out);
        break;
      case '\f':
        std::fputs("\\f", out);
        break;
      case '\r':
        std::fputs("\\r", out);
        break;
      default:
        std::fprintf(out, "\\u%04x", c);
        break;
    }
    start = i + 1;
  }
  std::fwrite(value.data() + start, 1, value.size() - start, out);
}

}  // namespace

const char kUsage[] =
    "usage: iftable-json [-p <prefix>] [-m <rows>]\n"
    "Reads a walk of the interface table (snmpwalk output, OIDs as iso.3.6.1...) from\n"
    "standard input and writes a JSON report of the interfaces whose description\n"
    "begins with \"en\" to standard output.\n"
    "  -p <prefix>            read only lines whose OID begins with <prefix>\n"
    "                         (default iso.3.6.1.2.1.2.2)\n"
    "  -m, --max-rows <rows>  keep up to <rows> interfaces, 1 to 1000000 (default 16);\n"
    "                         one more ends the run with \"Too many rows\"\n"
    "  -h, --help             show this text\n"
    "  --version              show the version\n"
    "Exit status: 0 when the report was written, 1 when it was not (too many\n"
    "interfaces, no more memory, a read or write error), 255 for an unknown argument\n"
    "or a bad row limit.\n";

bool oid_match(std::string_view line, std::string_view oid) {
  return line.size() > oid.size() && line.starts_with(oid) &&
         (line[oid.size()] == '.' || line[oid.size()] == ' ');
}

bool take_line(std::string_view line, std::string_view prefix, WalkState& state, FILE* err) {
  if (!oid_match(line, prefix)) return true;

  std::int32_t row = 0;
  int column = -1;
  for (std::size_t i = 0; i < column_table.size(); ++i) {
    const ColumnEntry& entry = column_table[i];
    if (!oid_match(line, entry.oid)) continue;
    if (entry.depth > 0) {
      row = entry_row(line, entry);
    } else if (entry.depth < 0) {
      row = column_row(line, entry);
      column = static_cast<int>(i);
      break;
    }
  }
  std::size_t colon = line.find(": ");
  if (row <= 0) return true;

  try {
    std::int64_t slot = claim_slot(state.slots, row);
    if (slot < 0) {
      std::fputs("Too many rows\n", err);
      return false;
    }
    if (column < 0 || colon == std::string_view::npos) return true;
    std::vector<std::unique_ptr<RowCells>>& cells = state.cells.cells;
    if (cells.size() <= static_cast<std::size_t>(slot)) cells.resize(state.slots.row.size());
    std::unique_ptr<RowCells>& row_cells = cells[static_cast<std::size_t>(slot)];
    if (!row_cells) row_cells = std::make_unique<RowCells>();
    row_cells->value[static_cast<std::size_t>(column)] = std::string(value_text(line, colon));
  } catch (const std::bad_alloc&) {
    return no_memory(err);
  }
  return true;
}

bool read_walk(FILE* in, std::string_view prefix, WalkState& state, FILE* err) {
  std::size_t capacity = kInitialBuffer;
  std::unique_ptr<char, FreeDeleter> buffer(static_cast<char*>(std::malloc(capacity)));
  if (!buffer) return no_memory(err);
  std::size_t begin = 0;  // start of the first line not yet taken
  std::size_t end = 0;    // end of the bytes read
  bool at_end = false;
  for (;;) {
    char* data = buffer.get();
    while (begin < end) {
      const void* newline = std::memchr(data + begin, '\n', end - begin);
      if (!newline) break;
      std::size_t next = static_cast<std::size_t>(static_cast<const char*>(newline) - data) + 1;
      if (!take_line({data + begin, next - begin}, prefix, state, err)) return false;
      begin = next;
    }
    if (at_end) {
      // A last line without a newline.
      return begin == end || take_line({data + begin, end - begin}, prefix, state, err);
    }

    // Keep the unfinished line at the front; when it fills the buffer, double the buffer.
    std::size_t kept = end - begin;
    if (begin > 0) {
      std::memmove(data, data + begin, kept);
      begin = 0;
      end = kept;
    }
    if (kept == capacity) {
      if (capacity > std::numeric_limits<std::size_t>::max() / 2) return no_memory(err);
      char* grown = static_cast<char*>(std::realloc(data, capacity * 2));
      if (!grown) return no_memory(err);
      buffer.release();
      buffer.reset(grown);
      data = grown;
      capacity *= 2;
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

void write_report(FILE* out, const WalkState& state, std::time_t now) {
  std::fputc('{', out);
  for (std::size_t column = kFirstReportColumn; column < column_table.size(); ++column) {
    std::string_view name = column_table[column].name;
    std::fprintf(out, "\"%s\":[", make_identifier(name).data());
    bool first = true;
    for (std::size_t slot = 0; slot < state.slots.row.size(); ++slot) {
      const std::optional<std::string>* descr = cell_value(state, kDescrColumn, slot);
      if (!descr || !(*descr)->starts_with("en")) continue;
      if (!first) std::fputc(',', out);
      first = false;
      std::fprintf(out, "{\"inner_index\":%d,\"inner_%s\":\"", static_cast<int>(slot) + 1,
                   make_identifier(name).data());
      if (const std::optional<std::string>* value = cell_value(state, column, slot)) {
        write_json_text(out, **value);
      }
      std::fputs("\"}", out);
    }
    std::fputs("],", out);
  }
  char stamp[32] = "";
  if (const std::tm* local = std::localtime(&now)) {
    std::strftime(stamp, sizeof stamp, "%d.%m.%Y %H:%M:%S", local);
  }
  std::fprintf(out, "\"timestamp\": \"%s\"}", stamp);
}

bool convert_walk(FILE* in, FILE* out, FILE* err, std::string_view prefix, std::size_t max_rows) {
  std::unique_ptr<WalkState> state(new (std::nothrow) WalkState);
  if (!state) return no_memory(err);
  state->slots.limit = max_rows;
  if (!read_walk(in, prefix, *state, err)) return false;
  write_report(out, *state, std::time(nullptr));
  return true;
}

std::optional<Arguments> parse_arguments(int argc, const char* const* argv, FILE* err) {
  Arguments arguments;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-p" && i + 1 < argc) {
      arguments.prefix = argv[++i];
    } else if ((arg == "-m" || arg == "--max-rows") && i + 1 < argc) {
      std::optional<std::size_t> rows = row_limit(argv[++i]);
      if (!rows) {
        std::fprintf(err, "bad row limit %s\n", argv[i]);
        return std::nullopt;
      }
      arguments.max_rows = *rows;
    } else if (arg == "-h" || arg == "--help") {
      arguments.action = Action::kHelp;
      return arguments;
    } else if (arg == "--version") {
      arguments.action = Action::kVersion;
      return arguments;
    } else {
      std::fprintf(err, "unknown %s\n", argv[i]);
      return std::nullopt;
    }
  }
  return arguments;
}
