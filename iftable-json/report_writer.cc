// The report: one array per column for the rows written, then the timestamp.
#include "report_writer.h"

#include <memory>
#include <new>

#include "identifier.h"

namespace {

// Writes `value` as the inside of a JSON string: bytes below 0x20 become escapes, and
// '"' and '\' get a backslash, except the \" and \\ that snmpwalk writes inside a
// STRING value (`string_value`), which stay as they are. Every other byte goes out as read.
void write_json_text(FILE* out, std::string_view value, bool string_value) {
  std::size_t start = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    std::fwrite(value.data() + start, 1, i - start, out);
    start = i + 1;
    switch (c) {
      case '"':
        std::fputs("\\\"", out);
        continue;
      case '\\':
        if (string_value && i + 1 < value.size() && (value[i + 1] == '"' || value[i + 1] == '\\')) {
          std::fputc('\\', out);
          std::fputc(value[++i], out);
          start = i + 1;
        } else {
          std::fputs("\\\\", out);
        }
        continue;
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
  }
  std::fwrite(value.data() + start, 1, value.size() - start, out);
}

}  // namespace

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
        write_json_text(out, **value, state.cells.cells[slot]->string_values >> column & 1);
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

bool convert_walk(FILE* in, FILE* out, FILE* err, std::string_view prefix, std::size_t max_rows,
                  std::time_t now) {
  std::unique_ptr<WalkState> state(new (std::nothrow) WalkState);
  if (!state) {
    std::fputs("No more memory\n", err);
    return false;
  }
  state->slots.limit = max_rows;
  if (!read_walk(in, prefix, *state, err)) return false;
  write_report(out, *state, now);
  return true;
}
