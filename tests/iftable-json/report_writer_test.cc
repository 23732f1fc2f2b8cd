// Tests for the report writer in-process: the report's format, which rows are written,
// how values are escaped, and the timestamp.
#include "report_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "conversion.h"
#include "file_text.h"
#include "json_check.h"
#include "report_text.h"

namespace {

TEST(ReportWriter, TimestampIsLocalTime) {
  // Three hours east of UTC (POSIX counts the offset the other way round).
  setenv("TZ", "UTC-3", 1);
  tzset();
  FILE* out = std::tmpfile();
  WalkState state;
  write_report(out, state, false, "en", kNow);
  std::string text = stream_text(out);
  std::fclose(out);
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_TRUE(text.ends_with("\"timestamp\": \"15.11.2023 01:13:20\"}")) << text;
}

TEST(ReportWriter, WorkedExample) {
  Converted result = convert(
      "iso.3.6.1.2.1.2.2.1.1.1 = INTEGER: 1\n"
      "iso.3.6.1.2.1.2.2.1.1.2 = INTEGER: 2\n"
      "iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"lo\"\n"
      "iso.3.6.1.2.1.2.2.1.2.2 = STRING: \"enp0s3\"\n"
      "iso.3.6.1.2.1.2.2.1.4.2 = INTEGER: 1500\n");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(
      result.out,
      "{\"camel_if_index\":[{\"inner_index\":2,\"inner_camel_if_index\":\"2\"}],"
      "\"camel_if_descr\":[{\"inner_index\":2,\"inner_camel_if_descr\":\"enp0s3\"}],"
      "\"camel_if_type\":[{\"inner_index\":2,\"inner_camel_if_type\":\"\"}],"
      "\"camel_if_mtu\":[{\"inner_index\":2,\"inner_camel_if_mtu\":\"1500\"}],"
      "\"camel_if_speed\":[{\"inner_index\":2,\"inner_camel_if_speed\":\"\"}],"
      "\"camel_if_phys_address\":[{\"inner_index\":2,\"inner_camel_if_phys_address\":\"\"}],"
      "\"camel_if_admin_status\":[{\"inner_index\":2,\"inner_camel_if_admin_status\":\"\"}],"
      "\"camel_if_oper_status\":[{\"inner_index\":2,\"inner_camel_if_oper_status\":\"\"}],"
      "\"camel_if_in_octets\":[{\"inner_index\":2,\"inner_camel_if_in_octets\":\"\"}],"
      "\"camel_if_in_ucast_pkts\":[{\"inner_index\":2,\"inner_camel_if_in_ucast_pkts\":\"\"}],"
      "\"camel_if_in_n_ucast_pkts\":[{\"inner_index\":2,\"inner_camel_if_in_n_ucast_pkts\":\"\"}],"
      "\"camel_if_in_discards\":[{\"inner_index\":2,\"inner_camel_if_in_discards\":\"\"}],"
      "\"camel_if_in_errors\":[{\"inner_index\":2,\"inner_camel_if_in_errors\":\"\"}],"
      "\"camel_if_in_unknown_protos\":[{\"inner_index\":2,\"inner_camel_if_in_unknown_protos\":"
      "\"\"}],"
      "\"camel_if_out_octets\":[{\"inner_index\":2,\"inner_camel_if_out_octets\":\"\"}],"
      "\"camel_if_out_ucast_pkts\":[{\"inner_index\":2,\"inner_camel_if_out_ucast_pkts\":\"\"}],"
      "\"camel_if_out_n_ucast_pkts\":[{\"inner_index\":2,\"inner_camel_if_out_n_ucast_pkts\":\"\"}"
      "],"
      "\"camel_if_out_discards\":[{\"inner_index\":2,\"inner_camel_if_out_discards\":\"\"}],"
      "\"camel_if_out_errors\":[{\"inner_index\":2,\"inner_camel_if_out_errors\":\"\"}],"
      "\"camel_if_out_q_len\":[{\"inner_index\":2,\"inner_camel_if_out_q_len\":\"\"}],"
      "\"timestamp\": \"14.11.2023 22:13:20\"}");
}

TEST(ReportWriter, EmptyInputWritesEveryKeyWithAnEmptyArray) {
  Converted result = convert("");
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.out,
            "{\"camel_if_index\":[],\"camel_if_descr\":[],\"camel_if_type\":[],\"camel_if_mtu\":[],"
            "\"camel_if_speed\":[],\"camel_if_phys_address\":[],\"camel_if_admin_status\":[],"
            "\"camel_if_oper_status\":[],\"camel_if_in_octets\":[],\"camel_if_in_ucast_pkts\":[],"
            "\"camel_if_in_n_ucast_pkts\":[],\"camel_if_in_discards\":[],\"camel_if_in_errors\":[],"
            "\"camel_if_in_unknown_protos\":[],\"camel_if_out_octets\":[],"
            "\"camel_if_out_ucast_pkts\":[],\"camel_if_out_n_ucast_pkts\":[],"
            "\"camel_if_out_discards\":[],\"camel_if_out_errors\":[],\"camel_if_out_q_len\":[],"
            "\"timestamp\": \"14.11.2023 22:13:20\"}");
}

TEST(ReportWriter, WritesOnlyRowsWhoseDescriptionBeginsWithEn) {
  struct Case {
    std::string name;
    bool written;
  } cases[] = {
      {"en", true}, {"enp0s3", true}, {"eno1", true},  {"En0", false},
      {"e", false}, {"", false},      {"ten0", false}, {" en0", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Converted result = convert(line(4, "9", "INTEGER: 1500") + descr(9, c.name));
    std::vector<ReportRow> rows;
    if (c.written) rows.push_back({1, {{"ifDescr", c.name}, {"ifMtu", "1500"}}});
    EXPECT_EQ(result.out, report(rows));
  }
}

// Whatever the walk, each value is one valid JSON string: the \" and \\ that snmpwalk
// writes inside a STRING stay as they are, and every other '"' or '\' gets a backslash.
// A STRING's closing quote is its last unescaped one; blanks and CRs after it are dropped.
TEST(ReportWriter, EveryValueIsOneJsonString) {
  struct Case {
    std::string rest;   // what follows "<oid> = " on the ifType line of row 1, newline included
    std::string value;  // as written in the report
  } cases[] = {
      {"STRING: \"enp0s3\" \n", "enp0s3"},
      {"STRING: \"enp0s3\" \t \n", "enp0s3"},
      {"STRING: \"enp0s3\"\r\r\n", "enp0s3"},
      {"STRING: \"enp0s3\" \r \r", "enp0s3"},
      {"STRING: \"a\"b\"\n", "a\\\"b"},
      {"STRING: \"a\" b\n", "a\\\" b"},
      {"STRING: \"a\\\\\"\n", "a\\\\"},
      {"STRING: \"a\\\\\\\"\"\n", "a\\\\\\\""},
      {"STRING: \"a\\b\"\n", "a\\\\b"},
      {"STRING: \"\\\n", "\\\\"},  // open to the end of the input
      {"STRING: ab\\\n", "ab\\\\"},
      // Without quotes snmpwalk escapes nothing: the value is the line, every byte its own.
      {"STRING: ab\\\"\n", "ab\\\\\\\""},
      {"STRING: a\"b\n", "a\\\"b"},
      {"STRING: ab\"\n", "ab\\\""},
      {"INTEGER: 5\\\n", "5\\\\"},
      {"INTEGER: \"5\" \\\" \n", "\\\"5\\\" \\\\\\\" "},
      {"Hex-STRING: \"\\\n", "\\\"\\\\"},
      {"Timeticks: (5) \x01\x7f\n", "(5) \\u0001\x7f"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rest);
    Converted result = convert(descr(1, "en0") + "iso.3.6.1.2.1.2.2.1.3.1 = " + c.rest);
    EXPECT_TRUE(result.ok);
    EXPECT_EQ(result.out, report({{1, {{"ifDescr", "en0"}, {"ifType", c.value}}}}));
    EXPECT_TRUE(json_valid(result.out)) << result.out;
  }
}

TEST(ReportWriter, EscapesControlBytesAndKeepsTheRest) {
  std::string value = std::string("en\t1\x01\x1f\b\f\r|\x7f \xc3\xa9 \\\" \\\\ ") + '\0' + "z";
  Converted result = convert(descr(1, value));
  EXPECT_EQ(
      result.out,
      report(
          {{1, {{"ifDescr", "en\\t1\\u0001\\u001f\\b\\f\\r|\x7f \xc3\xa9 \\\" \\\\ \\u0000z"}}}}));
}

// Interfaces as servers and switches name them; -d chooses which are written.
TEST(ReportWriter, ChoosesTheRowsWritten) {
  const std::string walk = descr(1, "lo") + descr(2, "eth0") + descr(3, "eno1") +
                           descr(4, "bond0") + descr(5, "GigabitEthernet1/0/1") + descr(6, "") +
                           line(1, "7", "INTEGER: 7") + line(2, "8", "\"\"") +
                           line(2, "9", "Hex-STRING: 65 6E ");
  const std::string names[] = {"lo", "eth0", "eno1", "bond0", "GigabitEthernet1/0/1",
                               "",   "",     "",     "65 6E "};
  struct Case {
    std::string prefix;
    std::vector<int> rows;
  } cases[] = {
      {"en", {3}},                  // the default
      {"", {1, 2, 3, 4, 5, 6, 9}},  // every row with a description, an empty one too
      {"e", {2, 3}},
      {"eth", {2}},
      {"eth0", {2}},
      {"eth00", {}},
      {"Gig", {5}},
      {"gig", {}},
      {"65 ", {9}},  // a Hex-STRING is compared as it is written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prefix);
    ConvertOptions options;
    options.descr_prefix = c.prefix;
    std::vector<ReportRow> rows;
    for (int row : c.rows) rows.push_back({row, {{"ifDescr", names[row - 1]}}});
    EXPECT_EQ(convert_with(walk, options).out, report(rows));
  }
}

}  // namespace
