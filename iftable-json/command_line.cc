// The command line: options in order, the usage text.
#include "command_line.h"

#include <string>
#include <string_view>

#include "oid_forms.h"
#include "text_escape.h"

namespace {

// "<what> <argument>\n", the argument escaped so that the message stays one line.
Fault refusal(FaultKind kind, const char* what, std::string_view argument) {
  Fault fault{kind, std::string(what) + " "};
  append_message_text(fault.message, argument);
  fault.message += '\n';
  return fault;
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
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

// A prefix written in snmpwalk's -On form (.1.3.6.1...) or with a name in the iso. form
// the lines are compared in: "iso" is the name of the first component, 1.
std::string iso_form(std::string_view prefix) {
  if (prefix == ".1" || prefix.starts_with(".1.")) return "iso" + std::string(prefix.substr(2));
  if (named_form(prefix)) {
    if (std::optional<ObjectName> name = read_object_name(prefix)) {
      return std::string(name->oid) + std::string(prefix.substr(name->length));
    }
  }
  return std::string(prefix);
}

}  // namespace

const char kHelpText[] =
    "usage: iftable-json [-x] [-d <prefix>] [-p <prefix>] [-m <rows>]\n"
    "Reads a walk of the interface table (snmpwalk output, OIDs as iso.3.6.1...,\n"
    ".1.3.6.1... or names such as IF-MIB::ifDescr.2) from standard input and writes\n"
    "a JSON report of the interfaces whose description begins with \"en\" to\n"
    "standard output.\n"
    "  -x, --ifx              read and report the interface extension table too\n"
    "                         (ifXTable: ifName, the 64-bit counters, ifAlias...)\n"
    "  -d, --descr-prefix <prefix>\n"
    "                         report the interfaces whose description begins with\n"
    "                         <prefix> (default en; '' reports every interface with one)\n"
    "  -p <prefix>            read only lines whose OID begins with <prefix>\n"
    "                         (default iso.3.6.1.2.1.2.2, also written\n"
    "                         .1.3.6.1.2.1.2.2 or ifTable)\n"
    "  -m, --max-rows <rows>  keep up to <rows> interfaces, 1 to 1000000 (default 16);\n"
    "                         one more ends the run with \"Too many rows\"\n"
    "  -h, --help             show this text\n"
    "  --version              show the version\n"
    "Exit status: 0 when the report was written, 1 when it was not (too many\n"
    "interfaces, no more memory, a read or write error), 255 for an unknown argument\n"
    "or a bad row limit.\n";

std::optional<CommandLine> read_command_line(int argc, const char* const* argv, Fault& fault) {
  CommandLine arguments;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-p" && i + 1 < argc) {
      arguments.options.prefix = iso_form(argv[++i]);
    } else if (arg == "-x" || arg == "--ifx") {
      arguments.options.ifx = true;
    } else if ((arg == "-d" || arg == "--descr-prefix") && i + 1 < argc) {
      arguments.options.descr_prefix = argv[++i];
    } else if ((arg == "-m" || arg == "--max-rows") && i + 1 < argc) {
      std::optional<std::size_t> rows = row_limit(argv[++i]);
      if (!rows) {
        fault = refusal(FaultKind::kBadRowLimit, "bad row limit", argv[i]);
        return std::nullopt;
      }
      arguments.options.max_rows = *rows;
    } else if (arg == "-h" || arg == "--help") {
      arguments.action = Action::kHelp;
      return arguments;
    } else if (arg == "--version") {
      arguments.action = Action::kVersion;
      return arguments;
    } else {
      fault = refusal(FaultKind::kUnknownArgument, "unknown", argv[i]);
      return std::nullopt;
    }
  }
  return arguments;
}
