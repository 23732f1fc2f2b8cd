// The report: one array per column for the rows written, then the timestamp.
#include "report_writer.h"

#include "text_escape.h"

void write_report(FILE* out, const WalkState& state, bool ifx, std::string_view descr_prefix,
                  std::time_t now) {
  std::fputc('{', out);
  std::size_t end = ifx ? column_table.size() : kFirstIfxEntry;
  for (std::size_t column = kFirstReportColumn; column < end; ++column) {
    if (column_table[column].kind != EntryKind::kColumn) continue;  // ifXEntry holds no values
    const char* key = column_table[column].key.data();
    std::fprintf(out, "\"%s\":[", key);
    bool first = true;
    for (std::size_t slot = 0; slot < state.slots.row.size(); ++slot) {
      const std::optional<std::string>* descr = cell_value(state, kDescrColumn, slot);
      if (!descr || !(*descr)->starts_with(descr_prefix)) continue;
      if (!first) std::fputc(',', out);
      first = false;
      std::fprintf(out, "{\"inner_index\":%d,\"inner_%s\":\"", static_cast<int>(slot) + 1, key);
      if (const std::optional<std::string>* value = cell_value(state, column, slot)) {
        // A quoted STRING keeps the \" and \\ that snmpwalk writes in it.
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
