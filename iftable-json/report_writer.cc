// The report: one array per column for the rows written, then the timestamp.
#include "report_writer.h"

#include <memory>
#include <new>

#include "identifier.h"
#include "text_escape.h"

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
        // A STRING keeps the \" and \\ that snmpwalk writes in it.
        if (state.cells.cells[slot]->string_values >> column & 1) {
          put_json_text_keeping_pairs(out, **value);
        } else {
          put_json_text(out, **value);
        }
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
