// Fuzzes the walk converter with any bytes as the walk. The run either stops with
// "Too many rows" and no report, or keeps no more than 16 rows, each cell in a slot that
// holds a row and a column of the table, and writes exactly the report a plain reading
// of the walk gives: one array per column under its fixed key, the rows whose
// description begins with "en", their values with control bytes escaped. With values
// fully escaped, that report is valid JSON.
#include <array>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "json_check.h"
#include "walk_converter.h"

namespace {

constexpr std::string_view kPrefix = "iso.3.6.1.2.1.2.2";
constexpr std::string_view kEntry = "iso.3.6.1.2.1.2.2.1";

// The report's keys, in table order from ifIndex; index is the column number after kEntry.
struct Column {
  int number;
  std::string_view key;
};
constexpr std::array<Column, 20> kColumns = {{
    {1, "camel_if_index"},
    {2, "camel_if_descr"},
    {3, "camel_if_type"},
    {4, "camel_if_mtu"},
    {5, "camel_if_speed"},
    {6, "camel_if_phys_address"},
    {7, "camel_if_admin_status"},
    {8, "camel_if_oper_status"},
    {10, "camel_if_in_octets"},
    {11, "camel_if_in_ucast_pkts"},
    {12, "camel_if_in_n_ucast_pkts"},
    {13, "camel_if_in_discards"},
    {14, "camel_if_in_errors"},
    {15, "camel_if_in_unknown_protos"},
    {16, "camel_if_out_octets"},
    {17, "camel_if_out_ucast_pkts"},
    {18, "camel_if_out_n_ucast_pkts"},
    {19, "camel_if_out_discards"},
    {20, "camel_if_out_errors"},
    {21, "camel_if_out_q_len"},
}};

// A row number: a decimal number from 1 to 2147483647 at the start of `text`, else 0.
long row_number(std::string_view text) {
  long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    value = value * 10 + (c - '0');
    if (value > 2147483647) return 0;
  }
  return value;
}

struct Model {
  std::vector<long> rows;                              // in order of first appearance
  std::map<std::pair<int, long>, std::string> values;  // (column number, row) -> value
  bool too_many_rows = false;
};

// Takes one line (with its newline, if any) the way the walk is meant to be read.
void model_line(Model& model, std::string_view line) {
  auto follows = [&](std::string_view oid) {
    return line.size() > oid.size() && line.starts_with(oid) &&
           (line[oid.size()] == '.' || line[oid.size()] == ' ');
  };
  if (!follows(kPrefix)) return;
  long row = 0;
  int column = 0;
  if (follows(kEntry)) {
    // Columns hang below the row container: its OID and a dot, then the column number.
    // The row container: the component after the one that follows its OID.
    std::size_t dot = line.find('.', kEntry.size() + 1);
    row = dot == std::string_view::npos ? 0 : row_number(line.substr(dot + 1));
    std::string_view rest = line.substr(kEntry.size() + 1);
    for (const Column& c : kColumns) {
      if (line[kEntry.size()] != '.') break;
      std::string number = std::to_string(c.number);
      if (!rest.starts_with(number) || rest.size() == number.size() ||
          (rest[number.size()] != '.' && rest[number.size()] != ' ')) {
        continue;
      }
      // A column: its row is read as atoi reads the text one past the column number.
      std::string_view text = rest.substr(number.size() + 1);
      text.remove_prefix(std::min(text.size(), text.find_first_not_of(" \t\n\v\f\r")));
      if (text.starts_with('-')) {
        row = 0;
      } else {
        if (text.starts_with('+')) text.remove_prefix(1);
        row = row_number(text);
      }
      column = c.number;
      break;
    }
  }
  if (row <= 0) return;
  bool known = false;
  for (long r : model.rows) known |= r == row;
  if (!known) {
    if (model.rows.size() == 16) {
      model.too_many_rows = true;
      return;
    }
    model.rows.push_back(row);
  }
  std::size_t colon = line.find(": ");
  if (column == 0 || colon == std::string_view::npos) return;
  std::string_view value = line.substr(colon + 2);
  if (value.ends_with('\n')) value.remove_suffix(1);
  if (value.ends_with('\r') && line.ends_with('\n')) value.remove_suffix(1);
  if (colon >= 8 && line.substr(colon - 8, 8) == "= STRING") {
    if (value.starts_with('"')) value.remove_prefix(1);
    if (value.ends_with('"')) value.remove_suffix(1);
  }
  model.values[{column, row}] = std::string(value);
}

std::string escaped(std::string_view value, bool fully) {
  std::string text;
  for (unsigned char c : value) {
    char piece[8];
    if (c < 0x20) {
      switch (c) {
        case '\b':
          text += "\\b";
          break;
        case '\t':
          text += "\\t";
          break;
        case '\n':
          text += "\\n";
          break;
        case '\f':
          text += "\\f";
          break;
        case '\r':
          text += "\\r";
          break;
        default:
          std::snprintf(piece, sizeof piece, "\\u%04x", c);
          text += piece;
      }
    } else if (fully && (c == '"' || c == '\\')) {
      text += '\\';
      text += static_cast<char>(c);
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

std::string model_report(const Model& model, bool fully) {
  std::string report = "{";
  for (const Column& c : kColumns) {
    report += '"' + std::string(c.key) + "\":[";
    bool first = true;
    for (std::size_t slot = 0; slot < model.rows.size(); ++slot) {
      long row = model.rows[slot];
      auto descr = model.values.find({2, row});
      if (descr == model.values.end() || !descr->second.starts_with("en")) continue;
      if (!first) report += ',';
      first = false;
      auto value = model.values.find({c.number, row});
      report += "{\"inner_index\":" + std::to_string(slot + 1) + ",\"inner_" + std::string(c.key) +
                "\":\"" + (value == model.values.end() ? "" : escaped(value->second, fully)) +
                "\"}";
    }
    report += "],";
  }
  return report + "\"timestamp\": \"01.01.1970 00:00:00\"}";
}

void check_state(const WalkState& state) {
  const std::vector<std::int32_t>& rows = state.slots.row;
  expect(rows.size() <= kDefaultMaxRows, "no more rows than the limit");
  expect(state.slots.slot_of.size() == rows.size(), "each row holds one slot");
  for (std::size_t slot = 0; slot < rows.size(); ++slot) {
    expect(rows[slot] > 0, "row numbers are positive");
    auto found = state.slots.slot_of.find(rows[slot]);
    expect(found != state.slots.slot_of.end() && found->second == slot, "each row holds one slot");
  }
  const std::vector<std::unique_ptr<RowCells>>& cells = state.cells.cells;
  expect(cells.size() <= rows.size(), "no cells outside the rows");
  for (const std::unique_ptr<RowCells>& row : cells) {
    if (!row) continue;
    for (std::size_t column = 0; column < column_table.size(); ++column) {
      expect(!row->value[column] || column_table[column].depth < 0, "no cell outside the columns");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "UTC0", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view walk = as_text(data, size);
  Model model;
  for (std::string_view rest = walk; !rest.empty() && !model.too_many_rows;) {
    std::size_t newline = rest.find('\n');
    std::size_t length = newline == std::string_view::npos ? rest.size() : newline + 1;
    model_line(model, rest.substr(0, length));
    rest.remove_prefix(length);
  }

  FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "r");
  if (!in) std::abort();
  auto state = std::make_unique<WalkState>();
  Capture err_capture;
  bool ok = read_walk(in, kPrefix, *state, err_capture.file);
  std::fclose(in);
  std::string err = err_capture.take();
  check_state(*state);
  if (!ok) {
    expect(model.too_many_rows, "the only fault a walk can meet is a seventeenth row", err);
    expect(err == "Too many rows\n", "one message for too many rows", err);
    return 0;
  }
  expect(!model.too_many_rows, "a seventeenth row ends the run", walk);
  expect(err.empty(), "a report comes without a message", err);

  Capture out_capture;
  write_report(out_capture.file, *state, 0);
  std::string report = out_capture.take();
  expect(report == model_report(model, false), "report as the walk says", report);
  expect(json_valid(model_report(model, true)), "report is JSON once values are escaped", report);
  return 0;
}
