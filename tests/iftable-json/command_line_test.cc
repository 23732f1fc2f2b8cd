// Tests for the command line: options in order, and the messages for those refused.
#include "command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct ArgumentCase {
  std::vector<const char*> args;  // after the program name
  Action action;
  std::string prefix;
  std::string err;  // set when the arguments are refused
  std::size_t max_rows = kDefaultMaxRows;
  bool ifx = false;
  std::string descr_prefix = "en";
};

TEST(CommandLine, TakesArgumentsInOrder) {
  const ArgumentCase cases[] = {
      {{}, Action::kConvert, "iso.3.6.1.2.1.2.2", ""},
      {{"-p", "iso.3"}, Action::kConvert, "iso.3", ""},
      {{"-p", "a", "-p", "b"}, Action::kConvert, "b", ""},
      {{"-p", "-h"}, Action::kConvert, "-h", ""},
      {{"-p", ""}, Action::kConvert, "", ""},
      {{"-h"}, Action::kHelp, "", ""},
      {{"--help"}, Action::kHelp, "", ""},
      {{"--version"}, Action::kVersion, "", ""},
      {{"-h", "-q"}, Action::kHelp, "", ""},
      {{"-p"}, Action::kConvert, "", "unknown -p\n"},
      {{"-q"}, Action::kConvert, "", "unknown -q\n"},
      {{"-p", "a", "-q"}, Action::kConvert, "", "unknown -q\n"},
      {{"-q", "-h"}, Action::kConvert, "", "unknown -q\n"},
      {{"-d"}, Action::kConvert, "", "unknown -d\n"},
      {{"-x", "--descr-prefix"}, Action::kConvert, "", "unknown --descr-prefix\n"},
      {{"--ifx=1"}, Action::kConvert, "", "unknown --ifx=1\n"},
      {{"a\nb"}, Action::kConvert, "", "unknown a\\nb\n"},
      {{"-m", "1\x7f"}, Action::kConvert, "", "bad row limit 1\\x7f\n"},
      // -On prefixes are kept in the iso. form; "iso" is the first component, 1.
      {{"-p", ".1.3.6.1.2.1.2.2"}, Action::kConvert, "iso.3.6.1.2.1.2.2", ""},
      {{"-p", ".1"}, Action::kConvert, "iso", ""},
      {{"-p", ".1.3"}, Action::kConvert, "iso.3", ""},
      {{"-p", ".13.6"}, Action::kConvert, ".13.6", ""},
      {{"-p", "1.3.6"}, Action::kConvert, "1.3.6", ""},
      // Names as snmpwalk prints them with the MIB modules loaded.
      {{"-p", "ifDescr"}, Action::kConvert, "iso.3.6.1.2.1.2.2.1.2", ""},
      {{"-p", "IF-MIB::ifDescr.4"}, Action::kConvert, "iso.3.6.1.2.1.2.2.1.2.4", ""},
      {{"-p", "ifXTable"}, Action::kConvert, "iso.3.6.1.2.1.31.1.1", ""},
      {{"-p", "SNMPv2-SMI::mib-2.2"}, Action::kConvert, "iso.3.6.1.2.1.2", ""},
      {{"-p", ".iso.org.dod"}, Action::kConvert, "iso.3.6", ""},
      {{"-p", "ifDescrs"}, Action::kConvert, "ifDescrs", ""},
      {{"walk.txt"}, Action::kConvert, "", "unknown walk.txt\n"},
      {{""}, Action::kConvert, "", "unknown \n"},
      {{"--p", "x"}, Action::kConvert, "", "unknown --p\n"},
      {{"-m", "64"}, Action::kConvert, "iso.3.6.1.2.1.2.2", "", 64},
      {{"--max-rows", "1"}, Action::kConvert, "iso.3.6.1.2.1.2.2", "", 1},
      {{"-m", "1000000"}, Action::kConvert, "iso.3.6.1.2.1.2.2", "", 1000000},
      {{"-m", "0016"}, Action::kConvert, "iso.3.6.1.2.1.2.2", "", 16},
      {{"-m", "3", "-p", "iso.3", "-m", "40"}, Action::kConvert, "iso.3", "", 40},
      {{"-m", "1000001"}, Action::kConvert, "", "bad row limit 1000001\n"},
      {{"-m", "0"}, Action::kConvert, "", "bad row limit 0\n"},
      {{"-m", "-1"}, Action::kConvert, "", "bad row limit -1\n"},
      {{"--max-rows", "1e3"}, Action::kConvert, "", "bad row limit 1e3\n"},
      {{"-m", ""}, Action::kConvert, "", "bad row limit \n"},
      {{"-m"}, Action::kConvert, "", "unknown -m\n"},
      {{"--max-rows=5"}, Action::kConvert, "", "unknown --max-rows=5\n"},
      {{"-x"}, Action::kConvert, "iso.3.6.1.2.1.2.2", "", 16, true},
      {{"--ifx", "-x"}, Action::kConvert, "iso.3.6.1.2.1.2.2", "", 16, true},
      {{"-d", ""}, Action::kConvert, "iso.3.6.1.2.1.2.2", "", 16, false, ""},
      {{"-d", "eth", "--descr-prefix", "-x"},
       Action::kConvert,
       "iso.3.6.1.2.1.2.2",
       "",
       16,
       false,
       "-x"},
  };
  for (const ArgumentCase& c : cases) {
    std::vector<const char*> argv = {"iftable-json"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string trace;
    for (const char* a : argv) trace += std::string(a) + " ";
    SCOPED_TRACE(trace);
    Fault fault{};
    std::optional<CommandLine> arguments =
        read_command_line(static_cast<int>(argv.size()), argv.data(), fault);
    if (!c.err.empty()) {
      EXPECT_FALSE(arguments);
      EXPECT_EQ(fault.message, c.err);
      EXPECT_EQ(fault.kind, c.err.starts_with("unknown") ? FaultKind::kUnknownArgument
                                                         : FaultKind::kBadRowLimit);
      continue;
    }
    ASSERT_TRUE(arguments);
    EXPECT_EQ(arguments->action, c.action);
    if (c.action == Action::kConvert) {
      EXPECT_EQ(arguments->options.prefix, c.prefix);
      EXPECT_EQ(arguments->options.max_rows, c.max_rows);
      EXPECT_EQ(arguments->options.ifx, c.ifx);
      EXPECT_EQ(arguments->options.descr_prefix, c.descr_prefix);
    }
  }
}

}  // namespace
