// Fuzzes the walk converter with any bytes as the walk, read as the interface table
// alone and, with --ifx and an empty description prefix, with the interface extension
// table too. The run either stops with "Too many rows" and no report, or keeps no more
// than 16 rows, each cell in a slot that holds a row and a column of the tables read,
// and writes exactly the report a plain reading of the walk gives: one array per column
// under its fixed key, the rows whose description begins with the prefix, their values
// (STRINGs and Hex-STRINGs that go on over further lines taken whole) written as JSON
// strings; lines in the -On form (.1.3.6.1.) read as those in the iso. form. The report
// the converter writes is valid JSON whatever the walk, and reading through a small
// buffer, where long lines are looked at piece by piece, gives the same report.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <tuple>
#include <vector>

#include "convert.h"
#include "fuzz_support.h"
#include "json_check.h"
#include "report_text.h"
#include "walk_reader.h"

namespace {

constexpr std::string_view kPrefix = "iso.3.6.1.2.1.2.2";
constexpr std::string_view kEntry = "iso.3.6.1.2.1.2.2.1";
constexpr std::string_view kIfxEntry = "iso.3.6.1.2.1.31.1.1.1";
constexpr int kIfx = 100;  // added to the column numbers of the extension table

// A column of the report: its number and its key (the keys as report_text.h spells them).
struct Column {
  int number;
  std::string_view key;
};

// The columns of a table whose report members are `members`, numbered from `first` on,
// passing over the number `missing` (a column the report does not hold).
std::vector<Column> numbered(const std::vector<ReportColumn>& members, int first, int missing) {
  std::vector<Column> columns;
  int number = first;
  for (const ReportColumn& member : members) {
    if (number == missing) ++number;
    columns.push_back({number++, member.key});
  }
  return columns;
}

// ifTable's columns by their number after kEntry (ifLastChange, 9, is not reported);
// ifXTable's by theirs after kIfxEntry, plus kIfx.
const std::vector<Column> kColumns = numbered(kReportColumns, 1, 9);
const std::vector<Column> kIfxColumns = numbered(kIfxReportColumns, kIfx + 1, 0);

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
  bool ifx = false;                                    // the extension table is read too
  std::vector<long> rows;                              // in order of first appearance
  std::map<std::pair<int, long>, std::string> values;  // (column number, row) -> value
  std::map<std::pair<int, long>, bool> is_string;      // the value is a STRING's
  bool too_many_rows = false;
  bool seen_text = false;   // a byte other than white space
  bool read_table = false;  // a line of the tables read named one of their entries
  // What the last line left open: none, a STRING without its closing quote, or a
  // Hex-STRING; and the cell that the further lines go to, if it was kept.
  char open = 0;  // 0, 's' or 'h'
  std::optional<std::pair<int, long>> open_cell;
};

bool blank(char c) {
  return c == ' ' || c == '\t';
}

// The offset of the last '"' in `text` that is not the second byte of a backslash pair
// read from the start, or npos.
std::size_t last_unescaped_quote(std::string_view text) {
  std::size_t last = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      last = i;
    }
  }
  return last;
}

// A STRING's text up to its closing quote, when only blanks and CRs follow that quote.
std::string_view cut_at_closing_quote(std::string_view text, bool& closed) {
  std::size_t quote = last_unescaped_quote(text);
  closed = quote != std::string_view::npos;
  if (closed && text.substr(quote + 1).find_first_not_of(" \t\r") == std::string_view::npos) {
    return text.substr(0, quote);
  }
  return text;
}

// Pairs of hex digits between blanks, at least one.
bool hex_pairs_only(std::string_view body) {
  std::size_t pairs = 0;
  std::size_t i = 0;
  auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  while (i < body.size()) {
    if (blank(body[i])) {
      ++i;
      continue;
    }
    if (i + 1 >= body.size() || !hex(body[i]) || !hex(body[i + 1])) return false;
    if (i + 2 < body.size() && !blank(body[i + 2])) return false;
    ++pairs;
    i += 2;
  }
  return pairs > 0;
}

// The row a line names under a row container `entry` whose columns are `columns` (their
// numbers less `offset`), and the column; row 0 for none.
std::pair<long, int> model_place(std::string_view line, std::string_view entry,
                                 const std::vector<Column>& columns, int offset) {
  // Columns hang below the row container: its OID and a dot, then the column number.
  // The row container: the component after the one that follows its OID.
  std::size_t dot = line.find('.', entry.size() + 1);
  long row = dot == std::string_view::npos ? 0 : row_number(line.substr(dot + 1));
  std::string_view rest = line.substr(entry.size() + 1);
  for (const Column& c : columns) {
    if (line[entry.size()] != '.') break;
    std::string number = std::to_string(c.number - offset);
    if (!rest.starts_with(number) || rest.size() == number.size() ||
        (rest[number.size()] != '.' && rest[number.size()] != ' ')) {
      continue;
    }
    // A column: its row is read as atoi reads the text one past the column number.
    std::string_view text = rest.substr(number.size() + 1);
    text.remove_prefix(std::min(text.size(), text.find_first_not_of(" \t\n\v\f\r")));
    if (text.starts_with('-')) return {0, c.number};
    if (text.starts_with('+')) text.remove_prefix(1);
    return {row_number(text), c.number};
  }
  return {row, 0};
}

bool label_byte(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
}

// The OID of a name the interface tables are written with, in the iso. form, or "".
std::string model_name_oid(std::string_view name) {
  static const std::map<std::string, std::string, std::less<>> names = [] {
    std::map<std::string, std::string, std::less<>> m = {
        {"org", "iso.3"},
        {"dod", "iso.3.6"},
        {"internet", "iso.3.6.1"},
        {"mgmt", "iso.3.6.1.2"},
        {"mib-2", "iso.3.6.1.2.1"},
        {"interfaces", "iso.3.6.1.2.1.2"},
        {"ifTable", std::string(kPrefix)},
        {"ifEntry", std::string(kEntry)},
        {"ifLastChange", std::string(kEntry) + ".9"},
        {"ifSpecific", std::string(kEntry) + ".22"},
        {"ifMIB", "iso.3.6.1.2.1.31"},
        {"ifMIBObjects", "iso.3.6.1.2.1.31.1"},
        {"ifXTable", "iso.3.6.1.2.1.31.1.1"},
        {"ifXEntry", std::string(kIfxEntry)}};
    for (std::size_t k = 0; k < kColumns.size(); ++k) {
      m[kReportColumns[k].mib_name] =
          std::string(kEntry) + "." + std::to_string(kColumns[k].number);
    }
    for (std::size_t k = 0; k < kIfxColumns.size(); ++k) {
      m[kIfxReportColumns[k].mib_name] =
          std::string(kIfxEntry) + "." + std::to_string(kIfxColumns[k].number - kIfx);
    }
    return m;
  }();
  auto found = names.find(name);
  return found == names.end() ? "" : found->second;
}

// The line with its object written with names turned into the iso. form, as snmpwalk
// would have printed it with no MIB module loaded; the line itself when it is in a
// numeric form, and "" when it names nothing of the tables or has no typed value.
std::string model_iso_line(std::string_view line) {
  auto letter = [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; };
  bool named = !line.empty() &&
               (line[0] == '.'
                    ? line.size() > 1 && letter(line[1])
                    : letter(line[0]) && !(line.starts_with("iso") &&
                                           (line.size() == 3 || line[3] == '.' || line[3] == ' ')));
  if (!named) return std::string(line);
  std::string_view window = line.substr(0, 256);
  // The labels of the name, each a run of label bytes ended by '.', ' ' or the window's end.
  auto label_at = [&](std::size_t at) -> std::optional<std::size_t> {
    std::size_t end = at;
    while (end < window.size() && label_byte(window[end])) ++end;
    if (end == at || (end < window.size() && window[end] != '.' && window[end] != ' ')) {
      return std::nullopt;
    }
    return end;
  };
  std::string oid;
  std::size_t name_end = 0;
  if (window[0] == '.') {
    std::size_t at = 0;
    while (at + 1 < window.size() && window[at] == '.' &&
           !std::isdigit(static_cast<unsigned char>(window[at + 1]))) {
      std::optional<std::size_t> end = label_at(at + 1);
      if (!end) return "";
      std::string label(window.substr(at + 1, *end - at - 1));
      std::string next = label == "iso" ? "iso" : model_name_oid(label);
      bool child = !oid.empty() && next.size() > oid.size() + 1 && next.starts_with(oid) &&
                   next[oid.size()] == '.' && next.find('.', oid.size() + 1) == std::string::npos;
      if (oid.empty() ? label != "iso" : !child) return "";
      oid = next;
      at = *end;
    }
    if (oid.empty()) return "";
    name_end = at;
  } else {
    std::size_t start = 0;
    std::size_t module = 0;
    while (module < window.size() && label_byte(window[module])) ++module;
    if (window.substr(module).starts_with("::")) start = module + 2;
    std::optional<std::size_t> end = label_at(start);
    if (!end) return "";
    oid = model_name_oid(window.substr(start, *end - start));
    if (oid.empty()) return "";
    name_end = *end;
  }
  // A typed value: "<rest of the object> = TYPE: " or "= \"\"".
  std::size_t space = window.find(' ', name_end);
  if (space == std::string_view::npos || !window.substr(space + 1).starts_with("= ")) return "";
  std::string_view type = window.substr(space + 3);
  std::size_t word = 0;
  while (word < type.size() && label_byte(type[word])) ++word;
  bool typed =
      type.starts_with("\"\"") || (word > 0 && !std::isdigit(static_cast<unsigned char>(type[0])) &&
                                   type.substr(word).starts_with(": "));
  if (!typed) return "";
  return oid + std::string(line.substr(name_end));
}

// True when the line's first blank lies within its first 256 bytes and "= " follows it.
bool model_looks_like_walk_line(std::string_view line) {
  std::size_t blank = line.substr(0, 256).find(' ');
  return blank != std::string_view::npos && line.substr(blank + 1).starts_with("= ");
}

// The number in an enumeration "label(n)", or the value as it is.
std::string model_enumeration(const std::string& value) {
  static const std::regex enumeration(R"(^[A-Za-z][A-Za-z0-9-]*\((-?[0-9]+)\)$)");
  std::smatch match;
  return std::regex_match(value, match, enumeration) ? match[1].str() : value;
}

// Takes one line (with its newline, if any) the way the walk is meant to be read.
void model_line(Model& model, std::string_view line) {
  if (line.find_first_not_of(" \t\n\v\f\r") != std::string_view::npos) model.seen_text = true;
  // Within a STRING that goes on, only the line feed ends a line.
  std::string_view open_body = line.substr(0, line.size() - line.ends_with('\n'));
  std::string_view body = open_body.substr(0, open_body.size() - open_body.ends_with('\r'));
  if (!line.ends_with('\n')) body = line;
  if (model.open == 's') {
    bool closed = false;
    std::string_view text = cut_at_closing_quote(body, closed);
    if (!closed) text = open_body;
    if (model.open_cell) model.values[*model.open_cell] += "\n" + std::string(text);
    if (closed) {
      model.open = 0;
      model.open_cell.reset();
    }
    return;
  }
  if (model.open == 'b' && !model_looks_like_walk_line(line)) {
    if (model.open_cell) model.values[*model.open_cell] += "\n" + std::string(body);
    return;
  }
  if (model.open == 'h' && hex_pairs_only(body)) {
    if (model.open_cell) {
      std::string& value = model.values[*model.open_cell];
      while (!value.empty() && blank(value.back())) value.pop_back();
      value += ' ';
      value += body.substr(body.find_first_not_of(" \t"));
    }
    return;
  }
  model.open = 0;
  model.open_cell.reset();

  std::size_t colon = line.find(": ");
  bool is_string =
      colon != std::string_view::npos && colon >= 8 && line.substr(colon - 8, 8) == "= STRING";
  bool is_hex = colon != std::string_view::npos && colon >= 12 &&
                line.substr(colon - 12, 12) == "= Hex-STRING";
  bool is_integer =
      colon != std::string_view::npos && colon >= 9 && line.substr(colon - 9, 9) == "= INTEGER";
  bool quoted = false;
  std::string value;
  if (colon != std::string_view::npos) {
    std::string_view text = body.substr(std::min(body.size(), colon + 2));
    if (is_string) {
      quoted = text.starts_with('"');
      if (quoted) {
        text.remove_prefix(1);
        bool closed = false;
        text = cut_at_closing_quote(text, closed);
        if (!closed) {
          model.open = 's';
          text = open_body.substr(std::min(open_body.size(), colon + 3));
        }
      } else {
        model.open = 'b';  // goes on over the lines that do not look like walk lines
      }
    } else if (is_hex) {
      model.open = 'h';
    }
    value = text;
    if (is_integer) value = model_enumeration(value);
  } else if (is_string) {
    model.open = 'b';
  }

  // A line with names, or in the -On form, reads as the same line in the iso. form.
  std::string iso_line = model_iso_line(line);
  if (iso_line.starts_with(".1.3.6.1.")) iso_line = "iso" + iso_line.substr(2);
  line = iso_line;
  auto follows = [&](std::string_view oid) {
    return line.size() > oid.size() && line.starts_with(oid) &&
           (line[oid.size()] == '.' || line[oid.size()] == ' ');
  };
  long row = 0;
  int column = 0;
  if (follows(kPrefix) && follows(kEntry)) {
    model.read_table = true;
    std::tie(row, column) = model_place(line, kEntry, kColumns, 0);
  } else if (model.ifx && follows(kIfxEntry)) {
    model.read_table = true;
    std::tie(row, column) = model_place(line, kIfxEntry, kIfxColumns, kIfx);
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
  if (column == 0 || colon == std::string_view::npos) return;
  model.values[{column, row}] = value;
  model.is_string[{column, row}] = is_string && quoted;
  if (model.open) model.open_cell = std::make_pair(column, row);
}

// The inside of a JSON string for `value`: a STRING keeps the backslash pairs that
// snmpwalk writes for '"' and '\' as they are; every other '"' and '\' gets a backslash,
// and a byte that is not part of valid UTF-8 is written \u00XX.
std::string escaped(std::string_view value, bool is_string) {
  std::string text;
  for (std::size_t i = 0; i < value.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
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
    } else if (c == '\\' && is_string && i + 1 < value.size() &&
               (value[i + 1] == '"' || value[i + 1] == '\\')) {
      text += value.substr(i, 2);
      ++i;
    } else if (c == '"' || c == '\\') {
      text += '\\';
      text += static_cast<char>(c);
    } else if (c >= 0x80) {
      // A character of valid UTF-8 as it is; a byte outside it read as Latin-1.
      std::size_t length = 2;
      while (length <= 4 && (i + length > value.size() || !utf8_valid(value.substr(i, length)))) {
        ++length;
      }
      if (length <= 4) {
        text += value.substr(i, length);
        i += length - 1;
      } else {
        std::snprintf(piece, sizeof piece, "\\u%04x", c);
        text += piece;
      }
    } else {
      text += static_cast<char>(c);
    }
  }
  return text;
}

std::string model_report(const Model& model, std::string_view descr_prefix) {
  std::vector<Column> columns = kColumns;
  if (model.ifx) columns.insert(columns.end(), kIfxColumns.begin(), kIfxColumns.end());
  std::string report = "{";
  for (const Column& c : columns) {
    report += '"' + std::string(c.key) + "\":[";
    bool first = true;
    for (std::size_t slot = 0; slot < model.rows.size(); ++slot) {
      long row = model.rows[slot];
      auto descr = model.values.find({2, row});
      if (descr == model.values.end() || !descr->second.starts_with(descr_prefix)) continue;
      if (!first) report += ',';
      first = false;
      auto value = model.values.find({c.number, row});
      report += "{\"inner_index\":" + std::to_string(slot + 1) + ",\"inner_" + std::string(c.key) +
                "\":\"" +
                (value == model.values.end()
                     ? ""
                     : escaped(value->second, model.is_string.at({c.number, row}))) +
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
      expect(!row->value[column] || column_table[column].kind == EntryKind::kColumn,
             "no cell outside the columns");
    }
  }
}

// Converts the walk through a buffer of `buffer` bytes at first; `report` is what was
// written, at time 0. Returns the faults' messages.
std::string convert(std::string_view walk, const ConvertOptions& options, std::size_t buffer,
                    std::string& report, bool& ok) {
  FILE* in = fmemopen(const_cast<char*>(walk.data()), walk.size(), "r");
  if (!in) std::abort();
  Capture out;
  std::vector<Fault> faults = convert_walk(in, out.file, options, 0, buffer);
  std::fclose(in);
  report = out.take();
  std::string messages;
  ok = true;
  for (const Fault& fault : faults) {
    messages += fault.message;
    ok = ok && keeps_report(fault);
  }
  return messages;
}

// The rows and cells the walk leaves, whatever it holds.
void check_state_of(std::string_view walk, const ConvertOptions& options) {
  FILE* in = fmemopen(const_cast<char*>(walk.data()), walk.size(), "r");
  if (!in) std::abort();
  auto state = std::make_unique<WalkState>();
  (void)read_walk(in, {options.prefix, options.ifx}, *state);
  std::fclose(in);
  check_state(*state);
}

// Reads the walk with `options` and checks the run against the model.
void check_walk(std::string_view walk, const ConvertOptions& options) {
  Model model;
  model.ifx = options.ifx;
  for (std::string_view rest = walk; !rest.empty() && !model.too_many_rows;) {
    std::size_t newline = rest.find('\n');
    std::size_t length = newline == std::string_view::npos ? rest.size() : newline + 1;
    model_line(model, rest.substr(0, length));
    rest.remove_prefix(length);
  }

  check_state_of(walk, options);
  std::string report;
  bool ok = false;
  std::string err = convert(walk, options, kReadBuffer, report, ok);
  if (!ok) {
    expect(model.too_many_rows, "the only fault a walk can meet is a seventeenth row", err);
    expect(err == "Too many rows\n", "one message for too many rows", err);
    expect(report.empty(), "no report after a fault", report);
    return;
  }
  expect(!model.too_many_rows, "a seventeenth row ends the run", walk);
  std::string nothing_read =
      model.seen_text && !model.read_table ? "no interface table line in the walk\n" : "";
  expect(err == nothing_read, "a message only when nothing of the tables was read", err);
  expect(json_valid(report), "the report is JSON", report);
  expect(report == model_report(model, options.descr_prefix), "report as the walk says", report);

  // Lines longer than the buffer and not kept are looked at as they go by.
  for (std::size_t buffer : {std::size_t{2}, std::size_t{19}, std::size_t{64}}) {
    std::string small_report;
    bool small_ok = false;
    std::string small_err = convert(walk, options, buffer, small_report, small_ok);
    expect(small_ok && small_err == err, "a small buffer reads too", small_err);
    expect(small_report == report, "a small buffer gives the same report", small_report);
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
  check_walk(walk, {});
  ConvertOptions both;
  both.ifx = true;
  both.descr_prefix = "";
  check_walk(walk, both);
  return 0;
}
