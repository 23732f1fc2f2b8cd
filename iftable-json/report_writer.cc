// The report: one array per column for the rows written, then the timestamp.
#include "report_writer.h"

#include <memory>
#include <new>

#include "identifier.h"
#include "text_escape.h"

void write_report(FILE* out, const WalkState& state, const ConvertOptions& options,
                  std::time_t now) {
  std::fputc('{', out);
  std::size_t end = options.ifx ? column_table.size() : kFirstIfxEntry;
  for (std::size_t column = kFirstReportColumn; column < end; ++column) {
    if (column_table[column].depth >= 0) continue;  // ifXEntry holds no values
    std::string_view name = column_table[column].name;
    std::fprintf(out, "\"%s\":[", make_identifier(name).data());
    bool first = true;
    for (std::size_t slot = 0; slot < state.slots.row.size(); ++slot) {
      const std::optional<std::string>* descr = cell_value(state, kDescrColumn, slot);
      if (!descr || !(*descr)->starts_with(options.descr_prefix)) continue;
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

bool convert_walk(FILE* in, FILE* out, FILE* err, const ConvertOptions& options, std::time_t now) {
  std::unique_ptr<WalkState> state(new (std::nothrow) WalkState);
  if (!state) {
    std::fputs("No more memory\n", err);
    return false;
  }
  state->slots.limit = options.max_rows;
  if (!read_walk(in, {options.prefix, options.ifx}, *state, err)) return false;
  write_report(out, *state, options, now);
  return true;
}
