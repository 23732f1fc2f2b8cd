// Tests for the walk reader in-process: row slots, value extraction, the row limit, the
// forms snmpwalk writes lines in, and reading through the growable buffer.
#include "walk_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "command_line.h"
#include "conversion.h"
#include "file_text.h"
#include "json_check.h"
#include "process.h"
#include "report_text.h"

namespace {

TEST(OidMatch, NeedsADotOrSpaceAfterTheOid) {
  struct Case {
    std::string_view line;
    std::string_view oid;
    bool expected;
  } cases[] = {
      {"iso.3.6.1.2.1.2.2.1.1.3 = INTEGER: 3", "iso.3.6.1.2.1.2.2.1.1", true},
      {"iso.3.6.1.2.1.2.2.1.10.3 = Counter32: 0", "iso.3.6.1.2.1.2.2.1.1", false},
      {"iso.3.6.1.2.1.2.2.1.1 = INTEGER: 3", "iso.3.6.1.2.1.2.2.1.1", true},
      {"iso.3.6.1.2.1.2.2.1.1", "iso.3.6.1.2.1.2.2.1.1", false},
      {"iso.3.6.1.2.1.2.2.1.1\n", "iso.3.6.1.2.1.2.2.1.1", false},
      {"iso.3.6.1.2.1.2.2.1", "iso.3.6.1.2.1.2.2.1.1", false},
      // The -On form is compared as if its ".1" were "iso".
      {".1.3.6.1.2.1.2.2.1.1.3 = INTEGER: 3", "iso.3.6.1.2.1.2.2.1.1", true},
      {".1.3.6.1.2.1.2.2.1.10.3 = Counter32: 0", "iso.3.6.1.2.1.2.2.1.1", false},
      {".1.3.6.1.2.1.2.2.1.1 = INTEGER: 3", "iso.3.6.1.2.1.2.2.1.1", true},
      {".1.3.6.1.2 = INTEGER: 3", "iso", true},
      {".1.3.6.1.2 = INTEGER: 3", "is", false},
      {".1.3.6.1.2 = INTEGER: 3", "", false},
      {".1.3.6.1.2 = INTEGER: 3", ".1.3.6.1.2", false},  // prefixes come in the iso. form
      {".1.3.6.2.1.2.2.1.1.3 = INTEGER: 3", "iso.3.6.2", false},
      {"iso.3.6.1.2.1.2.2.1.1.3 = INTEGER: 3", ".1.3.6.1.2.1.2.2.1.1", false},
      {"iso.3.6.1.2.1.2.20.1 = INTEGER: 3", "iso.3.6.1.2.1.2.2", false},
      {"", "iso.3.6.1.2.1.2.2", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(oid_match(c.line, c.oid), c.expected);
  }
}

TEST(WalkReader, RowWithoutDescriptionIsNeverWritten) {
  Converted result = convert(line(1, "1", "INTEGER: 1") + line(4, "1", "INTEGER: 1500") +
                             line(1, "2", "INTEGER: 2") + descr(2, "en1"));
  EXPECT_EQ(result.out, report({{2, {{"ifIndex", "2"}, {"ifDescr", "en1"}}}}));
}

TEST(WalkReader, NumbersRowsByFirstAppearance) {
  Converted result = convert(descr(7, "en7") + descr(2, "en2") + line(4, "2", "INTEGER: 1400") +
                             line(4, "7", "INTEGER: 9000"));
  EXPECT_EQ(result.out, report({{1, {{"ifDescr", "en7"}, {"ifMtu", "9000"}}},
                                {2, {{"ifDescr", "en2"}, {"ifMtu", "1400"}}}}));
}

TEST(WalkReader, LaterValueReplacesEarlier) {
  Converted result = convert(descr(3, "eth0") + descr(3, "en3"));
  EXPECT_EQ(result.out, report({{1, {{"ifDescr", "en3"}}}}));
}

// The limit is 16 rows unless -m sets another; one row more discards the report.
TEST(WalkReader, AcceptsRowsUpToTheLimitAndRefusesOneMore) {
  for (std::size_t limit : {std::size_t{1}, std::size_t{16}, std::size_t{40}, std::size_t{300}}) {
    SCOPED_TRACE(limit);
    std::string walk;
    std::vector<ReportRow> rows;
    for (int row = 1; row <= static_cast<int>(limit); ++row) {
      walk += descr(row * 10, "en" + std::to_string(row));
      rows.push_back({row, {{"ifDescr", "en" + std::to_string(row)}}});
    }
    Converted full = convert(walk, kTable, limit);
    EXPECT_TRUE(full.ok);
    EXPECT_EQ(full.out, report(rows));

    // A row already held is no new row; row 5 is new to every walk above.
    Converted again = convert(walk + descr(10, "en-again"), kTable, limit);
    EXPECT_TRUE(again.ok);
    Converted over = convert(walk + descr(5, "en-over"), kTable, limit);
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.err, "Too many rows\n");
    EXPECT_EQ(over.out, "");
  }
}

// ifLastChange (.9) and ifSpecific (.22) keep no value, but their rows take slots.
TEST(WalkReader, ColumnsOutsideTheTableStillClaimSlots) {
  for (int column : {9, 22}) {
    SCOPED_TRACE(column);
    std::string walk;
    for (int row = 1; row <= 16; ++row) walk += line(column, std::to_string(row), "INTEGER: 0");
    Converted full = convert(walk);
    EXPECT_TRUE(full.ok);
    EXPECT_EQ(full.out, report({}));
    Converted over = convert(walk + descr(17, "en17"));
    EXPECT_EQ(over.err, "Too many rows\n");
    EXPECT_EQ(over.out, "");

    Converted second = convert(line(column, "5", "Timeticks: (0) 0:00:00.00") + descr(3, "en3"));
    EXPECT_EQ(second.out, report({{2, {{"ifDescr", "en3"}}}}));
  }
}

TEST(WalkReader, PrefixOptionKeepsOnlyMatchingLines) {
  std::string walk = line(1, "2", "INTEGER: 2") + descr(1, "lo") + descr(2, "enp0s3") +
                     line(4, "2", "INTEGER: 1500");
  Converted result = convert(walk, "iso.3.6.1.2.1.2.2.1.2");
  EXPECT_EQ(result.out, report({{2, {{"ifDescr", "enp0s3"}}}}));
}

TEST(WalkReader, IgnoresLinesOutsideThePrefix) {
  Converted result = convert(
      "iso.3.6.1.2.1.2.1.0 = INTEGER: 2\n"
      ".1.3.6.1.2.1.2.1.0 = INTEGER: 2\n"
      "1.3.6.1.2.1.2.2.1.2.1 = STRING: \"en0\"\n"
      ".1.3.6.2.1.2.2.1.2.1 = STRING: \"en0\"\n"
      "IF-MIB::ifDescr[1] = STRING: en0\n"
      "IF-MIB::ifDescr.1 = en0\n"
      "iso.3.6.1.2.1.2.20.1.2.1 = STRING: \"en0\"\n"
      "iso.3.6.1.2.1.2.2\n"
      "iso.3.6.1.2.1.31.1.1.1.1.1 = STRING: \"en0\"\n"
      "  iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"en0\"\n");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.out, report({}));
}

// The value is the text after ": " less the line ending; a STRING also loses a leading
// and a trailing quote where present. Nothing is cut from a last line without newline.
TEST(WalkReader, TakesValuesWhole) {
  struct Case {
    std::string rest;  // what follows "<oid> = " on the ifType line of row 1
    std::string value;
  } cases[] = {
      {"STRING: \"enp0s3\"\n", "enp0s3"},
      {"STRING: \"enp0s3\"", "enp0s3"},
      {"STRING: \"enp0s3\"\r\n", "enp0s3"},
      {"STRING: \n", "\\n"},  // the empty line after goes on with a STRING without quotes
      {"STRING: ", ""},
      {"STRING: unquoted", "unquoted"},
      {"STRING: \"", ""},
      {"STRING: \"\"\n", ""},
      {"STRING: \"a \\\"b\\\"\"\n", "a \\\"b\\\""},
      {"STRING: unquoted\n", "unquoted\\n"},
      {"STRING: \"open\n", "open\\n"},  // the value goes on over the empty last line
      {"STRING: \"x: y\"\n", "x: y"},
      {"Hex-STRING: 08 00 27 AA BB CC \n", "08 00 27 AA BB CC "},
      {"Gauge32: 1000000000", "1000000000"},
      {"INTEGER: 1500\r\n", "1500"},
      {"INTEGER: 1500\n\n", "1500"},
      {"OCTET-STRING: \"q\"\n", "\\\"q\\\""},
      {"\"\"\n", ""},  // no ": ", nothing stored
      {"Timeticks: (5) 0:00:00.05\n", "(5) 0:00:00.05"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rest);
    Converted result = convert(descr(1, "en0") + line(3, "1", c.rest));
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.out, report({{1, {{"ifDescr", "en0"}, {"ifType", c.value}}}}));
  }
}

// Edited, pasted and mutated walks: whenever the converter ends well, its report is JSON,
// and reading through a small buffer (long lines looked at piece by piece) agrees.
TEST(WalkReader, MutatedWalksGiveJsonOrAMessage) {
  const std::string walks[] = {
      read_file(std::string(IFTABLE_TEST_DATA) + "/snmpwalk-interfaces.txt"),
      read_file(std::string(IFTABLE_TEST_DATA) + "/snmpwalk-over-lines.txt"),
      read_file(std::string(EXAMPLES_DIR) + "/walk.txt"),
  };
  const char inserts[] = {'"', '\\', '\r', '\n', ' ', '\t', ':', '\0', 'A', '\xe2', '.', '='};
  std::uint32_t seed = 2024;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  int reports = 0;
  for (int run = 0; run < 600; ++run) {
    std::string walk = walks[static_cast<std::size_t>(run) % std::size(walks)];
    ASSERT_FALSE(walk.empty());
    for (std::uint32_t edits = 1 + next() % 6; edits > 0; --edits) {
      std::size_t at = next() % walk.size();
      switch (next() % 4) {
        case 0:
          walk.insert(at, 1, inserts[next() % std::size(inserts)]);
          break;
        case 1:
          walk.erase(at, 1 + next() % 3);
          break;
        case 2:
          walk[at] = inserts[next() % std::size(inserts)];
          break;
        default:  // a line pasted again somewhere else
          std::size_t start =
              walk.rfind('\n', at) == std::string::npos ? 0 : walk.rfind('\n', at) + 1;
          std::size_t end = walk.find('\n', at);
          std::string copied =
              walk.substr(start, end == std::string::npos ? std::string::npos : end + 1 - start);
          walk.insert(next() % walk.size(), copied);
          break;
      }
      if (walk.empty()) walk = "\n";
    }
    SCOPED_TRACE(walk);
    Converted result = convert(walk);
    if (!result.ok) {
      EXPECT_EQ(result.err, "Too many rows\n");
      continue;
    }
    ++reports;
    EXPECT_TRUE(json_valid(result.out)) << result.out;
    EXPECT_EQ(convert(walk, kTable, kDefaultMaxRows, 23).out, result.out);
  }
  EXPECT_GT(reports, 500);
}

// A value that spans lines is one value, as snmpwalk writes it: a STRING goes on up to
// the line that closes it, joined with newlines; lines of hex pairs after a Hex-STRING
// are joined with one blank. No line inside a value is read as a line of the walk.
TEST(WalkReader, ValuesOverLinesStringsAndHexStringsAreTakenWhole) {
  struct Case {
    std::string name;
    std::string walk;
    std::vector<ReportRow> rows;
  } cases[] = {
      {"a description holding a newline and what looks like a walk line",
       descr(1, "enp0s3 first\niso.3.6.1.2.1.2.2.1.2.9 = STRING: en-x") + descr(2, "en2"),
       {{1, {{"ifDescr", "enp0s3 first\\niso.3.6.1.2.1.2.2.1.2.9 = STRING: en-x"}}},
        {2, {{"ifDescr", "en2"}}}}},
      {"empty lines, quotes and a closing quote on a line of its own",
       descr(1, "en\n\n\\\" \\\\\n") + line(4, "1", "INTEGER: 1500"),
       {{1, {{"ifDescr", "en\\n\\n\\\" \\\\\\n"}, {"ifMtu", "1500"}}}}},
      {"a carriage return before a newline inside a STRING is the value's",
       descr(1, "en\r\nx") + line(4, "1", "INTEGER: 1500"),
       {{1, {{"ifDescr", "en\\r\\nx"}, {"ifMtu", "1500"}}}}},
      {"a STRING still open at the end of the input",
       descr(1, "en1") + line(3, "1", "STRING: \"a\nb\n"),
       {{1, {{"ifDescr", "en1"}, {"ifType", "a\\nb\\n"}}}}},
      {"a STRING of another column, and one outside the prefix, hold walk-like lines",
       "iso.3.6.1.2.1.1.1.0 = STRING: \"Linux\n"
       "iso.3.6.1.2.1.2.2.1.2.5 = STRING: \\\"en-outside\\\"\"\n" +
           line(3, "1", "STRING: \"x\niso.3.6.1.2.1.2.2.1.2.6 = STRING: en-inside\"") +
           descr(1, "en1"),
       {{1, {{"ifDescr", "en1"}, {"ifType", "x\\niso.3.6.1.2.1.2.2.1.2.6 = STRING: en-inside"}}}}},
      {"a Hex-STRING of 37 bytes over three lines",
       descr(3, "en3") +
           line(6, "3",
                "Hex-STRING: 65 6E 70 33 73 30 66 31 20 E2 80 93 20 45 74 68 \n"
                "65 72 6E 65 74 20 43 6F 6E 74 72 6F 6C 6C 65 72 \n"
                "20 53 46 50 2B ") +
           line(4, "3", "INTEGER: 1500"),
       {{1,
         {{"ifDescr", "en3"},
          {"ifPhysAddress",
           "65 6E 70 33 73 30 66 31 20 E2 80 93 20 45 74 68 65 72 6E 65 74 20 43 6F 6E 74 72 6F "
           "6C 6C 65 72 20 53 46 50 2B "},
          {"ifMtu", "1500"}}}}},
      {"hex lines with CRLF endings, blanks at the start and lower case",
       descr(3, "en3") + line(6, "3", "Hex-STRING: 00 11 \r\n  aa bb\t\r\ncc\r"),
       {{1, {{"ifDescr", "en3"}, {"ifPhysAddress", "00 11 aa bb cc"}}}}},
      {"lines that are not only hex pairs end the Hex-STRING",
       descr(3, "en3") + line(6, "3", "Hex-STRING: 00 11 \n0 1\n22 33") +
           line(6, "3", "\"\"\n222 3"),
       {{1, {{"ifDescr", "en3"}, {"ifPhysAddress", "00 11 "}}}}},
      {"hex pairs after another type are no part of it",
       descr(3, "en3") + line(4, "3", "INTEGER: 1500\n00 11") + line(6, "3", "STRING: \"a\"\nAA"),
       {{1, {{"ifDescr", "en3"}, {"ifMtu", "1500"}, {"ifPhysAddress", "a"}}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Converted result = convert(c.walk);
    EXPECT_TRUE(result.ok) << result.err;
    EXPECT_EQ(result.out, report(c.rows));
    // The same through a buffer smaller than most lines.
    EXPECT_EQ(convert(c.walk, kTable, kDefaultMaxRows, 19).out, result.out);
  }
}

TEST(WalkReader, ValuesOverLinesLinesInsideAValueClaimNoRow) {
  std::string walk;
  for (int row = 1; row <= 16; ++row) walk += descr(row, "en" + std::to_string(row));
  walk += descr(
      1, "en1\niso.3.6.1.2.1.2.2.1.2.17 = STRING: en17\niso.3.6.1.2.1.2.2.1.1.18 = INTEGER: 18");
  Converted result = convert(walk);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.err, "");
}

TEST(WalkReader, CarriageReturnLineEndingsGiveTheSameReport) {
  std::string lf = read_file(std::string(IFTABLE_TEST_DATA) + "/snmpwalk-interfaces.txt");
  ASSERT_FALSE(lf.empty());
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  Converted expected = convert(lf);
  EXPECT_EQ(convert(crlf).out, expected.out);
  EXPECT_EQ(expected.out,
            read_file(std::string(IFTABLE_TEST_DATA) + "/snmpwalk-interfaces.report") + kStamp);
}

// A row component must be a decimal number from 1 to 2147483647; anything else claims
// no slot and stores nothing, both where ifEntry reads it and where a column reads it.
TEST(WalkReader, RowNumbersOutsideTheRangeAreNoRows) {
  struct Case {
    std::string component;
    bool row;
  } cases[] = {
      {"1", true},
      {"2147483647", true},
      {"007", true},
      {"2147483648", false},
      {"4294967297", false},  // would wrap to row 1
      {"99999999999999999999", false},
      {"0", false},
      {"-1", false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.component);
    // The column reading: ifDescr itself.
    Converted by_column = convert(descr(1, "en1") + line(4, c.component, "INTEGER: 9000") +
                                  line(2, c.component, "STRING: \"en-odd\""));
    std::vector<ReportRow> rows = {{1, {{"ifDescr", "en1"}}}};
    if (c.row && c.component != "1")
      rows.push_back({2, {{"ifDescr", "en-odd"}, {"ifMtu", "9000"}}});
    if (c.component == "1") rows = {{1, {{"ifDescr", "en-odd"}, {"ifMtu", "9000"}}}};
    EXPECT_EQ(by_column.out, report(rows));

    // The ifEntry reading alone: ifLastChange keeps no value but claims a slot.
    Converted by_entry =
        convert(line(9, c.component, "Timeticks: (0) 0:00:00.00") + descr(3, "en3"));
    EXPECT_EQ(by_entry.out, report({{c.row ? 2 : 1, {{"ifDescr", "en3"}}}}));
  }
}

TEST(WalkReader, ReadsLongLinesWhole) {
  for (std::size_t length : {std::size_t{5000}, std::size_t{3} << 20}) {
    SCOPED_TRACE(length);
    std::string name = "en" + std::string(length, 'x');
    Converted result = convert(descr(1, name) + line(4, "1", "INTEGER: 1500"));
    EXPECT_EQ(result.out, report({{1, {{"ifDescr", name}, {"ifMtu", "1500"}}}}));
  }
}

// Many lines of every length outside the prefix, so lines straddle each refill of
// the buffer, with the rows at the very end.
TEST(WalkReader, KeepsLinesWholeAcrossRefills) {
  std::string walk;
  for (int i = 0; walk.size() < (std::size_t{3} << 20); ++i) {
    walk += "iso.3.6.1.2.1.4.20.1.1." + std::to_string(i) + " = STRING: \"" +
            std::string(static_cast<std::size_t>(i % 997), 'p') + "\"\n";
    if (i % 1000 == 0) walk += line(4, "5", "INTEGER: " + std::to_string(i));
  }
  walk += descr(5, "en5");
  Converted result = convert(walk);
  std::string last_mtu = walk.substr(walk.rfind("INTEGER: ") + 9);
  last_mtu = last_mtu.substr(0, last_mtu.find('\n'));
  EXPECT_EQ(result.out, report({{1, {{"ifDescr", "en5"}, {"ifMtu", last_mtu}}}}));
}

TEST(WalkReader, ReportsAReadError) {
  ScratchDir dir;
  FILE* in = std::fopen(dir.path.c_str(), "r");  // reading a directory fails
  ASSERT_NE(in, nullptr);
  auto state = std::make_unique<WalkState>();
  std::optional<Fault> fault = read_walk(in, {}, *state);
  ASSERT_TRUE(fault);
  EXPECT_EQ(fault->kind, FaultKind::kReadError);
  EXPECT_EQ(fault->message, "read error\n");
  std::fclose(in);
}

// Lines built from the pieces a walk is made of, in random order: every input gets a
// report or the row-limit message, and (under the sanitizers) no invalid access.
TEST(WalkReader, SurvivesScrambledLines) {
  const std::string pieces[] = {"iso.3.6.1.2.1.2.2",
                                ".1",
                                ".2",
                                ".9",
                                ".10",
                                ".",
                                " ",
                                "= STRING",
                                ": ",
                                "\"",
                                "\n",
                                "\r",
                                "en",
                                "-",
                                "2147483648",
                                "7",
                                "\t",
                                "0",
                                "\\",
                                "= ",
                                ":",
                                "+"};
  std::uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  for (int run = 0; run < 300; ++run) {
    std::string walk;
    std::size_t count = next() % 200;
    for (std::size_t i = 0; i < count; ++i) {
      if (next() % 3 == 0) walk += "iso.3.6.1.2.1.2.2.1";
      walk += pieces[next() % std::size(pieces)];
    }
    Converted result = convert(walk);
    if (result.ok) {
      EXPECT_TRUE(result.err.empty() || result.err == "no interface table line in the walk\n");
      EXPECT_TRUE(result.out.ends_with(kStamp));
    } else {
      EXPECT_EQ(result.err, "Too many rows\n");
    }
  }
}

// A walk printed with -On reads as the same walk printed in the iso. form, under a prefix
// written in either form.
TEST(WalkReader, NumericOidsGiveTheReportOfTheIsoForm) {
  const std::string walk = line(1, "3", "INTEGER: 3") + descr(3, "en \\\"3\\\"") +
                           line(6, "3", "Hex-STRING: 08 00 27 AA BB CC") +
                           line(9, "5", "Timeticks: (1) 0:00:00.01") + descr(2, "en2\nmore") +
                           ifx_line(1, "3", "STRING: \"enp0s3\"") +
                           ifx_line(6, "3", "Counter64: 18446744073709551615") +
                           ifx_line(18, "3", "\"\"") + ifx_line(20, "6", "INTEGER: 1");
  std::string numeric;
  for (std::size_t at = 0; at < walk.size();) {
    std::size_t end = walk.find('\n', at) + 1;
    std::string one = walk.substr(at, end - at);
    numeric += one.starts_with("iso.") ? ".1." + one.substr(4) : one;
    at = end;
  }
  ASSERT_NE(numeric.find(".1.3.6.1.2.1.31.1.1.1.1.3 = "), std::string::npos);
  for (bool ifx : {false, true}) {
    for (std::string_view prefix : {"iso.3.6.1.2.1.2.2", "iso.3.6.1.2.1.2.2.1.2", "iso.3.6.1.2.1",
                                    "iso", "iso.3.6.1.2.1.31", "iso.3.6.1.2.1.2.2.1.20"}) {
      SCOPED_TRACE(std::string(prefix) + (ifx ? " --ifx" : ""));
      ConvertOptions options = ifx_options("");
      options.ifx = ifx;
      options.prefix = prefix;
      Converted iso = convert_with(walk, options);
      Converted on = convert_with(numeric, options);
      EXPECT_TRUE(on.ok);
      EXPECT_EQ(on.out, iso.out);
      EXPECT_EQ(convert_with(numeric, options, 7).out, iso.out);  // long lines go by too
      // The two forms mixed in one walk name the same interfaces.
      EXPECT_EQ(convert_with(walk + numeric, options).out, iso.out);
    }
  }
  ConvertOptions options;
  options.prefix = "iso.3.6.1.2.1.2.2.1.2";
  EXPECT_EQ(convert_with(numeric, options).out,
            report({{1, {{"ifDescr", "en \\\"3\\\""}}}, {2, {{"ifDescr", "en2\\nmore"}}}}));
}

// Both tables into one run: their rows are the same interfaces, and the ifXTable arrays
// follow the ifTable arrays.
TEST(WalkReader, IfxReportsBothTablesByInterface) {
  const std::string walk =
      descr(4, "eth0") + line(10, "4", "Counter32: 1") + descr(1, "lo") +
      ifx_line(1, "1", "STRING: \"lo\"") + ifx_line(1, "4", "STRING: \"eth0\"") +
      ifx_line(6, "4", "Counter64: 27208408") + ifx_line(15, "4", "Gauge32: 0") +
      ifx_line(17, "4", "INTEGER: true(1)") + ifx_line(18, "4", "\"\"") +
      ifx_line(19, "4", "Timeticks: (0) 0:00:00.00") +
      ifx_line(18, "9", "STRING: \"uplink \\\"a\\\"\nto core\"");
  std::vector<ReportRow> rows = {{1,
                                  {{"ifDescr", "eth0"},
                                   {"ifInOctets", "1"},
                                   {"ifName", "eth0"},
                                   {"ifHCInOctets", "27208408"},
                                   {"ifHighSpeed", "0"},
                                   {"ifConnectorPresent", "1"},
                                   {"ifCounterDiscontinuityTime", "(0) 0:00:00.00"}}},
                                 {2, {{"ifDescr", "lo"}, {"ifName", "lo"}}}};
  EXPECT_EQ(convert_with(walk, ifx_options("")).out, report(rows, true));
  // Row 9 has no description, so it is not written, but it is the third interface.
  ConvertOptions limited = ifx_options("");
  limited.max_rows = 2;
  EXPECT_EQ(convert_with(walk, limited).err, "Too many rows\n");

  // Without --ifx, nothing of ifXTable is read, even under a prefix that holds it.
  ConvertOptions plain;
  plain.descr_prefix = "";
  plain.prefix = "iso.3.6.1.2.1";
  plain.max_rows = 2;
  Converted without = convert_with(walk, plain);
  EXPECT_TRUE(without.ok);
  EXPECT_EQ(without.out,
            report({{1, {{"ifDescr", "eth0"}, {"ifInOctets", "1"}}}, {2, {{"ifDescr", "lo"}}}}));
}

// ifXTable lines count interfaces as ifTable lines do: by column, and through ifXEntry
// for a column that is not kept; outside the table they count for nothing.
TEST(WalkReader, IfxLinesClaimRowsAsIfTableLinesDo) {
  struct Case {
    std::string line;
    bool claims;  // row 5, ahead of the description of row 3
  } cases[] = {
      {ifx_line(1, "5", "STRING: \"x\""), true},
      {ifx_line(19, "5", "Timeticks: (0) 0:00:00.00"), true},
      {ifx_line(20, "5", "INTEGER: 0"), true},  // a column beyond the table's
      {ifx_line(0, "5", "INTEGER: 0"), true},
      {"iso.3.6.1.2.1.31.1.1.1.1. 5 = STRING: \"x\"\n", true},  // read as atoi reads it
      {"iso.3.6.1.2.1.31.1.1.1 = INTEGER: 1.5\n", true},        // ifXEntry: after the next dot
      {"iso.3.6.1.2.1.31.1.1.1.1.0 = STRING: \"x\"\n", false},
      {"iso.3.6.1.2.1.31.1.1.1.1.2147483648 = STRING: \"x\"\n", false},
      {"iso.3.6.1.2.1.31.1.1.2.1.5 = INTEGER: 0\n", false},  // ifStackTable
      {"iso.3.6.1.2.1.31.1.1 = INTEGER: 5\n", false},
      {"iso.3.6.1.2.1.31.1.1.10.1.5 = INTEGER: 0\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    for (std::size_t buffer : {kReadBuffer, std::size_t{2}}) {
      Converted result = convert_with(c.line + descr(3, "en3"), ifx_options(), buffer);
      EXPECT_EQ(result.out, report({{c.claims ? 2 : 1, {{"ifDescr", "en3"}}}}, true));
    }
  }
}

// A line that no kept column takes, and that is longer than the buffer, goes by in
// pieces; its row is read as it goes, whatever its length or where the pieces are cut.
TEST(WalkReader, LongLinesNotKeptStillClaimTheirRows) {
  const std::string tails[] = {"0", "\"", std::string(300, 'x'), std::string(5000, '"')};
  const std::string heads[] = {
      "iso.3.6.1.2.1.2.2.1.9.5 = Timeticks: (5) ",
      "iso.3.6.1.2.1.2.2.1.22.5 = OID: ",
      "iso.3.6.1.2.1.2.2.1.23. +5 = STRING: \"",
      "iso.3.6.1.2.1.2.2.1.9.0000000000000000000000000000000000000005 = INTEGER: ",
      "iso.3.6.1.2.1.2.2.1.9" + std::string(100, ' ') + "5 = INTEGER: ",  // row in the value
      ".1.3.6.1.2.1.2.2.1.22.5 = OID: .0.0",
      "iso.3.6.1.2.1.31.1.1.1.20.5 = INTEGER: ",
  };
  for (const std::string& head : heads) {
    for (const std::string& tail : tails) {
      std::string walk = head + tail + "\n" + descr(3, "en3");
      SCOPED_TRACE(walk.substr(0, 120));
      Converted whole = convert_with(walk, ifx_options());
      for (std::size_t buffer : {std::size_t{2}, std::size_t{33}, std::size_t{64}}) {
        EXPECT_EQ(convert_with(walk, ifx_options(), buffer).out, whole.out);
      }
    }
  }
  EXPECT_EQ(convert_with(heads[0] + "\n" + descr(3, "en3"), ifx_options(), 2).out,
            report({{2, {{"ifDescr", "en3"}}}}, true));
  // The last line of the input needs no line feed; its row is the seventeenth.
  std::string walk;
  for (int row = 1; row <= 16; ++row) walk += descr(row, "en");
  Converted over =
      convert(walk + "iso.3.6.1.2.1.2.2.1.22.17 = OID: " + std::string(500, 'x'), kTable, 16, 64);
  EXPECT_EQ(over.err, "Too many rows\n");
}

// One line in each form snmpwalk prints with the MIB modules loaded reads as the same line
// in the iso. form: the value it stores, and the row it names.
TEST(WalkReader, ReadsEveryFormOfALine) {
  struct Case {
    std::string line;
    std::string column;  // the IF-MIB name of the column the value goes to
    std::string value;   // as written in the report
  } cases[] = {
      {"IF-MIB::ifMtu.5 = INTEGER: 1500", "ifMtu", "1500"},
      {"RFC1213-MIB::ifMtu.5 = INTEGER: 1500", "ifMtu", "1500"},
      {"ifMtu.5 = INTEGER: 1500", "ifMtu", "1500"},
      {".iso.org.dod.internet.mgmt.mib-2.interfaces.ifTable.ifEntry.ifMtu.5 = INTEGER: 1500",
       "ifMtu", "1500"},
      {"SNMPv2-SMI::mib-2.2.2.1.4.5 = INTEGER: 1500", "ifMtu", "1500"},
      {".iso.org.dod.internet.mgmt.mib-2.2.2.1.4.5 = INTEGER: 1500", "ifMtu", "1500"},
      {"IF-MIB::ifTable.1.4.5 = INTEGER: 1500", "ifMtu", "1500"},
      {"IF-MIB::ifName.5 = STRING: eth0", "ifName", "eth0"},
      {".iso.org.dod.internet.mgmt.mib-2.ifMIB.ifMIBObjects.ifXTable.ifXEntry.ifName.5 = "
       "STRING: eth0",
       "ifName", "eth0"},
      {"RFC1213-MIB::mib-2.31.1.1.1.1.5 = STRING: \"eth0\"", "ifName", "eth0"},
      // Enumerations give their number, in every form.
      {"IF-MIB::ifType.5 = INTEGER: ethernetCsmacd(6)", "ifType", "6"},
      {".1.3.6.1.2.1.2.2.1.7.5 = INTEGER: up(1)", "ifAdminStatus", "1"},
      {"iso.3.6.1.2.1.31.1.1.1.16.5 = INTEGER: false(2)", "ifPromiscuousMode", "2"},
      {"IF-MIB::ifType.5 = Gauge32: up(1)", "ifType", "up(1)"},  // only an INTEGER
      // A STRING without quotes is the line, escaped as any text; empty, it is empty.
      {"IF-MIB::ifAlias.5 = STRING: uplink \"a\" \\ b", "ifAlias", "uplink \\\"a\\\" \\\\ b"},
      {"IF-MIB::ifAlias.5 = STRING: ", "ifAlias", ""},
      {"IF-MIB::ifPhysAddress.5 = STRING: 2:fc:0:0:0:1", "ifPhysAddress", "2:fc:0:0:0:1"},
      {"IF-MIB::ifAlias.5 = \"\"", "ifAlias", ""},
      // Forms that are not read: no type (-OQ), the index in brackets (-OX). (The fuzz
      // target's model reads every other name, and path, that is none of the tables.)
      {"IF-MIB::ifMtu.5 = 1500", "", ""},
      {"IF-MIB::ifMtu[5] = INTEGER: 1500", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Converted result = convert_with(c.line + "\n" + descr(5, "en5"), ifx_options());
    std::map<std::string, std::string> values = {{"ifDescr", "en5"}};
    if (!c.column.empty()) values[c.column] = c.value;
    EXPECT_EQ(result.out, report({{1, values}}, true));
    EXPECT_EQ(result.err, "");
  }
}

// The scope and -p are the line's object in the iso. form, however it was written, and
// -p may be a name.
TEST(WalkReader, PrefixIsComparedWithTheIsoForm) {
  const std::string walk =
      "IF-MIB::ifDescr.1 = STRING: en1\n"
      "ifMtu.1 = INTEGER: 1500\n"
      "SNMPv2-SMI::mib-2.31.1.1.1.1.1 = STRING: \"eth0\"\n";
  struct Case {
    std::string prefix;  // as given to -p
    std::map<std::string, std::string> values;
  } cases[] = {
      // Each way of writing -p is turned into the iso. form as the command line's test shows.
      {"iso.3.6.1.2.1.2.2.1.2", {{"ifDescr", "en1"}}},
      {"ifDescr", {{"ifDescr", "en1"}}},
      {"ifTable", {{"ifDescr", "en1"}, {"ifMtu", "1500"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix);
    const char* argv[] = {"iftable-json", "-x", "-p", c.prefix.c_str()};
    Fault fault{};
    std::optional<CommandLine> command_line = read_command_line(4, argv, fault);
    ASSERT_TRUE(command_line);
    std::map<std::string, std::string> values = c.values;
    values["ifName"] = "eth0";  // -x reads ifXTable whatever the prefix
    EXPECT_EQ(convert_with(walk, command_line->options).out, report({{1, values}}, true));
  }
}

// Recorded from the agent holding, as ifDescr of lo, en "q" \, a line feed and "next é",
// and as its ifAlias, "up", a line feed and a text that looks like a walk line. With
// IF-MIB loaded snmpwalk writes both without quotes and the line feed raw: the first reads
// whole, the second cannot be told from two lines and names a fifth interface. Without
// the modules the first is a Hex-STRING and the second is quoted: both read whole.
TEST(WalkReader, RecordedValuesOverLinesWithAndWithoutTheModules) {
  struct Case {
    std::string walk;
    std::string descr;  // of the first interface
    std::string alias;
    std::string fifth;  // the description of a fifth interface, if the walk names one
  } cases[] = {
      {"snmpwalk-lines-if-mib.txt", "en \\\"q\\\" \\\\\\nnext \xC3\xA9", "up",
       ",{\"inner_index\":5,\"inner_camel_if_descr\":\"en-x\"}"},
      {"snmpwalk-lines-numeric.txt", "65 6E 20 22 71 22 20 5C 0A 6E 65 78 74 20 C3 A9 ",
       "up\\nIF-MIB::ifDescr.9 = STRING: en-x", ""},
  };
  for (const Case& c : cases) {
    for (std::size_t buffer : {kReadBuffer, std::size_t{2}}) {
      SCOPED_TRACE(c.walk + " " + std::to_string(buffer));
      Converted result = convert_with(read_file(std::string(IFTABLE_TEST_DATA) + "/" + c.walk),
                                      ifx_options(""), buffer);
      EXPECT_EQ(result.err, "");
      EXPECT_TRUE(json_valid(result.out));
      for (const std::string& piece :
           {"\"camel_if_descr\":[{\"inner_index\":1,\"inner_camel_if_descr\":\"" + c.descr + "\"},",
            "\"camel_if_alias\":[{\"inner_index\":1,\"inner_camel_if_alias\":\"" + c.alias + "\"},",
            "{\"inner_index\":4,\"inner_camel_if_descr\":\"eth0\"}" + c.fifth + "],"}) {
        EXPECT_NE(result.out.find(piece), std::string::npos) << piece;
      }
    }
  }
}

// A walk of which nothing was read as a line of the tables says so, and the report is
// written as always; an input of white space alone says nothing.
TEST(WalkReader, SaysWhenNothingWasRead) {
  struct Case {
    std::string walk;
    bool said;
  } cases[] = {
      {"", false},
      {" \n\t\r\n\n", false},
      {"IF-MIB::ifDescr.1 = eth0\n", true},                    // -OQ
      {"IF-MIB::ifDescr[1] = STRING: eth0\n", true},           // -OX
      {"IF-MIB::ifDescr.1 eth0\n", true},                      // -Oq
      {"STRING: eth0\n", true},                                // -Ov
      {"iso.3.6.1.2.1.1.1.0 = STRING: \"Linux\"\n", true},     // another table
      {"iso.3.6.1.2.1.2.2.1.2.0 = STRING: \"en0\"\n", false},  // a line of the table, row 0
      {"iso.3.6.1.2.1.2.2.1.9.1 = Timeticks: (0) 0:00:00.00\n", false},
      {"IF-MIB::ifDescr.1 = STRING: eth0\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.walk);
    for (std::size_t buffer : {kReadBuffer, std::size_t{2}}) {
      Converted result = convert(c.walk, kTable, kDefaultMaxRows, buffer);
      EXPECT_TRUE(result.ok);
      EXPECT_EQ(result.err, c.said ? "no interface table line in the walk\n" : "");
      EXPECT_TRUE(result.out.ends_with(kStamp));
    }
  }
}

}  // namespace
