// Command-line tests: the built iftable-json run as a user runs it, with exact
// standard output, standard error and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "command_line.h"
#include "file_text.h"
#include "json_check.h"
#include "process.h"
#include "report_text.h"

namespace {

const std::string kBinary = IFTABLE_JSON_BINARY;
const std::string kData = IFTABLE_TEST_DATA;

ProcessResult run(const std::vector<std::string>& args, const std::string& input = "",
                  const std::string& stdout_path = "") {
  // The program may end before it reads its input (a refused argument): the feeding
  // write must then fail with EPIPE rather than end the test with SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  ScratchDir dir;
  RunOptions options;
  options.input = input;
  options.cwd = dir.path;
  options.stdout_path = stdout_path;
  options.env = {"TZ=UTC"};
  std::vector<std::string> argv = {kBinary};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_process(argv, options);
}

// Checks a whole report: the fixed part exactly, then the timestamp's shape.
void expect_report(const ProcessResult& result, const std::string& head,
                   const std::string& err = "") {
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, err);
  ASSERT_GE(result.out.size(), head.size());
  EXPECT_EQ(result.out.substr(0, head.size()), head);
  EXPECT_TRUE(is_timestamp_tail(std::string_view(result.out).substr(head.size())))
      << result.out.substr(head.size());
}

const char kWorkedExample[] =
    "iso.3.6.1.2.1.2.2.1.1.1 = INTEGER: 1\n"
    "iso.3.6.1.2.1.2.2.1.1.2 = INTEGER: 2\n"
    "iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"lo\"\n"
    "iso.3.6.1.2.1.2.2.1.2.2 = STRING: \"enp0s3\"\n"
    "iso.3.6.1.2.1.2.2.1.4.2 = INTEGER: 1500\n";

TEST(IftableJsonCli, WorkedExample) {
  expect_report(run({}, kWorkedExample),
                report_head({{2, {{"ifIndex", "2"}, {"ifDescr", "enp0s3"}, {"ifMtu", "1500"}}}}));
}

TEST(IftableJsonCli, RecordedSnmpwalk) {
  std::string walk = read_file(kData + "/snmpwalk-interfaces.txt");
  std::string head = read_file(kData + "/snmpwalk-interfaces.report");
  ASSERT_FALSE(walk.empty());
  expect_report(run({}, walk), head);
}

// Recorded from net-snmp's agent holding a description with a newline and a line that
// looks like a walk line, one of 44 bytes that are not all printable (a Hex-STRING over
// three lines), one with quotes, a backslash, a tab and CR LF, and a 20-byte address.
TEST(IftableJsonCli, RecordedSnmpwalkWithValuesOverLines) {
  std::string walk = read_file(kData + "/snmpwalk-over-lines.txt");
  std::string head = read_file(kData + "/snmpwalk-over-lines.report");
  ASSERT_FALSE(walk.empty());
  ProcessResult result = run({}, walk);
  expect_report(result, head);
  EXPECT_TRUE(json_valid(result.out));
}

// Recorded from net-snmp's agent on a host whose interfaces are lo, ifb0, ifb1 and eth0:
// a walk of ifTable and one of ifXTable in one input, printed in the iso. form and with
// -On. (None of the names begins with "en": which rows -d writes, and what -x and -p take,
// the in-process tables show.)
TEST(IftableJsonCli, RecordedWalkOfBothTables) {
  const std::string iso = read_file(kData + "/snmpwalk-ifx.txt");
  const std::string numeric = read_file(kData + "/snmpwalk-ifx-numeric.txt");
  const std::string head = read_file(kData + "/snmpwalk-ifx.report");
  ASSERT_FALSE(iso.empty());
  ASSERT_NE(numeric.find("\n.1.3.6.1.2.1.31.1.1.1.6.4 = Counter64: "), std::string::npos);
  for (const std::string* walk : {&iso, &numeric}) {
    SCOPED_TRACE(walk == &iso ? "iso." : "-On");
    ProcessResult result = run({"--ifx", "-d", ""}, *walk);
    expect_report(result, head);
    EXPECT_TRUE(json_valid(result.out));
  }
}

// Recorded from net-snmp's agent (interfaces lo, ifb0, ifb1 and eth0): both tables walked
// with the IETF MIB modules loaded, in each form snmpwalk prints then. Every form gives the
// report of the numeric walk, but for ifPhysAddress, which IF-MIB's hint prints as
// 2:fc:0:0:0:1; the forms without a type or with the index in brackets are not read, and
// say so.
TEST(IftableJsonCli, RecordedWalkInEveryForm) {
  // Runs under valgrind may take seconds apart: the timestamps are left out too.
  auto without_address = [](std::string report) {
    std::size_t from = report.find("\"camel_if_phys_address\":[");
    std::size_t to = report.find("],", from);
    if (from != std::string::npos && to != std::string::npos) report.erase(from, to - from);
    return report.substr(0, report.rfind("\"timestamp\": "));
  };
  ProcessResult numeric =
      run({"--ifx", "-d", ""}, read_file(kData + "/snmpwalk-forms-numeric.txt"));
  ASSERT_EQ(numeric.status, 0);
  ASSERT_NE(numeric.out.find("\"inner_camel_if_name\":\"eth0\""), std::string::npos);
  for (const char* form : {"if-mib", "os", "of", "oe", "on", "smi", "rfc1213"}) {
    SCOPED_TRACE(form);
    std::string walk = read_file(kData + "/snmpwalk-forms-" + form + ".txt");
    ASSERT_FALSE(walk.empty());
    ProcessResult result = run({"--ifx", "-d", ""}, walk);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(json_valid(result.out));
    EXPECT_EQ(without_address(result.out), without_address(numeric.out));
  }
  for (const char* form : {"oq", "ox"}) {
    SCOPED_TRACE(form);
    ProcessResult result =
        run({"--ifx", "-d", ""}, read_file(kData + "/snmpwalk-forms-" + form + ".txt"));
    expect_report(result, report_head({}, true), "no interface table line in the walk\n");
  }
}

// Walks that were edited or pasted: blanks or CRs after the closing quote, an escaped
// quote at the end of a line (the value goes on), a raw quote and a lone backslash, and
// Latin-1 text, written as its characters so that the report is UTF-8.
TEST(IftableJsonCli, EditedWalksGiveStrictJson) {
  ProcessResult result = run({},
                             "iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"enp0s3\" \n"
                             "iso.3.6.1.2.1.2.2.1.2.2 = STRING: \"enp0s3\"\r\r\n"
                             "iso.3.6.1.2.1.2.2.1.2.3 = STRING: \"en\\\"\n"
                             "iso.3.6.1.2.1.2.2.1.2.4 = STRING: \"en4\"\n"
                             "iso.3.6.1.2.1.2.2.1.2.5 = STRING: \"en \"raw\" \\\n"
                             "iso.3.6.1.2.1.2.2.1.2.6 = STRING: \"en-caf\xe9 \xc3\xa9\"\n");
  expect_report(
      result, report_head({{1, {{"ifDescr", "enp0s3"}}},
                           {2, {{"ifDescr", "enp0s3"}}},
                           {3, {{"ifDescr", "en\\\"\\niso.3.6.1.2.1.2.2.1.2.4 = STRING: \\\"en4"}}},
                           {4, {{"ifDescr", "en \\\"raw\\\" \\\\"}}},
                           {5, {{"ifDescr", "en-caf\\u00e9 \xc3\xa9"}}}}));
  EXPECT_TRUE(json_valid(result.out)) << result.out;
  EXPECT_TRUE(utf8_valid(result.out));
}

TEST(IftableJsonCli, PrefixOption) {
  expect_report(run({"-p", "iso.3.6.1.2.1.2.2.1.2"}, kWorkedExample),
                report_head({{2, {{"ifDescr", "enp0s3"}}}}));
}

TEST(IftableJsonCli, ExampleWalk) {
  ProcessResult result = run({}, read_file(std::string(EXAMPLES_DIR) + "/walk.txt"));
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(
      result.out.find("\"camel_if_descr\":[{\"inner_index\":2,\"inner_camel_if_descr\":"
                      "\"enp0s3\"},{\"inner_index\":3,\"inner_camel_if_descr\":\"enp0s8\"}],"),
      std::string::npos)
      << result.out;
}

TEST(IftableJsonCli, RefusesUnknownArgumentsBeforeReading) {
  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"-q"}, "unknown -q\n"},
      {{"-x", "-d"}, "unknown -d\n"},
      {{"-p"}, "unknown -p\n"},
      {{"-p", "iso.3", "walk.txt"}, "unknown walk.txt\n"},
      {{"--verbose", "-h"}, "unknown --verbose\n"},
      {{"-m"}, "unknown -m\n"},
      {{"-m", "0"}, "bad row limit 0\n"},
      {{"--max-rows", "1000001"}, "bad row limit 1000001\n"},
      {{"-m", "sixteen", "-h"}, "bad row limit sixteen\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    ProcessResult result = run(c.args, kWorkedExample);
    EXPECT_EQ(result.status, 255);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, c.err);
  }
}

TEST(IftableJsonCli, HelpAndVersion) {
  const std::string usage = kHelpText;
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-h"}, usage},
      {{"--help"}, usage},
      {{"-p", "iso.3", "--help", "-q"}, usage},
      {{"--version"}, "iftable-json " RULE_TOOLS_VERSION "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ProcessResult result = run(c.args, kWorkedExample);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
  }
}

// A walk as a container host gives it: many interfaces, few of them "en".
std::string host_walk(int interfaces) {
  std::string walk;
  for (int row = 1; row <= interfaces; ++row) {
    walk += "iso.3.6.1.2.1.2.2.1.1." + std::to_string(row) + " = INTEGER: " + std::to_string(row) +
            "\n";
  }
  for (int row = 1; row <= interfaces; ++row) {
    std::string name = row == 7 ? "enp0s3" : row == 33 ? "ens4" : "veth" + std::to_string(row);
    walk += "iso.3.6.1.2.1.2.2.1.2." + std::to_string(row) + " = STRING: \"" + name + "\"\n";
  }
  return walk;
}

TEST(IftableJsonCli, RowLimit) {
  std::string head = report_head({{7, {{"ifIndex", "7"}, {"ifDescr", "enp0s3"}}},
                                  {33, {{"ifIndex", "33"}, {"ifDescr", "ens4"}}}});
  expect_report(run({"--max-rows", "64"}, host_walk(40)), head);
  expect_report(run({"-m", "40"}, host_walk(40)), head);

  struct Case {
    std::vector<std::string> args;
    int interfaces;
  } over[] = {{{}, 17}, {{}, 40}, {{"-m", "39"}, 40}, {{"-m", "64"}, 65}};
  for (const Case& c : over) {
    SCOPED_TRACE(c.interfaces);
    ProcessResult result = run(c.args, host_walk(c.interfaces));
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Too many rows\n");
  }
}

TEST(IftableJsonCli, WriteErrorEndsWithStatusOne) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"--help"}}) {
    SCOPED_TRACE(args.empty() ? "report" : args[0]);
    ProcessResult result = run(args, kWorkedExample, "/dev/full");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "write error\n");
  }
}

// The table takes memory for the rows a walk uses, not for the rows -m allows.
TEST(IftableJsonCli, LargeRowLimitCostsNothingUntilUsed) {
#ifdef RULE_TOOLS_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve terabytes of address space: no RLIMIT_AS under them";
#endif
  signal(SIGPIPE, SIG_IGN);
  RunOptions options;
  options.input = host_walk(40);
  options.env = {"TZ=UTC"};
  options.address_space_limit = 64 << 20;
  ProcessResult result = run_process({kBinary, "-m", "1000000"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
}

// Runs the program with its address space limited to `limit` bytes, feeding `head`,
// then 'x' bytes (one endless line) until the program stops reading or `most` bytes
// have gone, then `tail`. Returns the exit status (or 128 + signal), standard output
// and standard error.
ProcessResult run_limited(rlim_t limit, const std::string& head, std::size_t most,
                          const std::string& tail = "", const std::vector<std::string>& args = {}) {
  std::vector<char*> argv = {const_cast<char*>(kBinary.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return {};
  }
  pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    rlimit as{limit, limit};
    setrlimit(RLIMIT_AS, &as);
    signal(SIGPIPE, SIG_DFL);
    execv(kBinary.c_str(), argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);

  // The program stops reading when memory runs out: writing then fails with EPIPE.
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  std::string chunk = head;
  std::size_t sent = 0;
  bool tail_sent = false;
  while (sent < most || !tail_sent) {
    if (chunk.empty() && sent >= most) {
      chunk = tail;
      tail_sent = true;
    } else if (chunk.empty()) {
      chunk.assign(std::min<std::size_t>(1 << 20, most - sent), 'x');
    }
    if (chunk.empty()) continue;
    ssize_t k = write(in[1], chunk.data(), chunk.size());
    if (k < 0) {
      if (errno == EINTR) continue;
      break;
    }
    sent += static_cast<std::size_t>(k);
    chunk.erase(0, static_cast<std::size_t>(k));
  }
  close(in[1]);
  signal(SIGPIPE, previous);

  ProcessResult result;
  char buffer[4096];
  for (int fd : {out[0], err[0]}) {
    ssize_t k;
    while ((k = read(fd, buffer, sizeof buffer)) > 0 || (k < 0 && errno == EINTR)) {
      if (k > 0)
        (fd == out[0] ? result.out : result.err).append(buffer, static_cast<std::size_t>(k));
    }
    close(fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TEST(IftableJsonCli, LineBeyondTheMemoryLimitSaysNoMoreMemory) {
#ifdef RULE_TOOLS_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve terabytes of address space: no RLIMIT_AS under them";
#endif
  // 64 MiB of address space; the line would need 1 GiB.
  ProcessResult result =
      run_limited(64 << 20, "iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"en", std::size_t{1} << 30);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "No more memory\n");
}

// A line that is not kept costs no memory however long it is, and the walk after it is
// read as usual: a 1 GB line outside the prefix (of another table, or a value that goes on
// over lines), and within it a line that no kept column takes (ifLastChange, ifSpecific, a
// column the table does not know, pairs after a kept Hex-STRING that stop being pairs).
// A line within the prefix still names its row, 7, which then takes number 1.
TEST(IftableJsonCli, LongLinesNotKeptTakeNoMemory) {
#ifdef RULE_TOOLS_SANITIZED
  GTEST_SKIP() << "the sanitizers reserve terabytes of address space: no RLIMIT_AS under them";
#endif
  const std::string rows =
      "iso.3.6.1.2.1.2.2.1.1.2 = INTEGER: 2\n"
      "iso.3.6.1.2.1.2.2.1.2.2 = STRING: \"enp0s3\"\n";
  struct Case {
    std::string head;
    std::string tail;
    int inner_index;  // of interface 2 in the report
    bool ifx = false;
  } cases[] = {
      {"iso.3.6.1.2.1.4.20.1.1.1 = STRING: \"", "\"\n", 1},          // another table
      {"iso.3.6.1.2.1.1.1.0 = STRING: \"first line\n", "\" \n", 1},  // over two lines
      {"", "\n", 1},                                                 // without a colon
      {"iso.3.6.1.2.1.2.2.1.9.7 = Timeticks: (", ") 0:00:00.07\n", 2},
      {"IF-MIB::ifLastChange.7 = Timeticks: (", ") 0:00:00.07\n", 2},
      // A kept column's line whose index is 0 or missing counts for nothing, in any form.
      {"iso.3.6.1.2.1.2.2.1.2.0 = STRING: \"", "\"\n", 1},
      {"iso.3.6.1.2.1.2.2.1.2 = STRING: \"", "\"\n", 1},
      {"IF-MIB::ifDescr.0 = STRING: ", "\n", 1},
      {"IF-MIB::ifAlias = STRING: ", "\n", 1, true},
      {"iso.3.6.1.2.1.2.2.1.22.7 = OID: iso.", "\n", 2},
      {"iso.3.6.1.2.1.2.2.1.99.7 = STRING: \"", "\"\n", 2},
      {".1.3.6.1.2.1.2.2.1.9.7 = STRING: \"", "\"\n", 2},
      {"iso.3.6.1.2.1.31.1.1.1.20.7 = STRING: \"", "\"\n", 2, true},
      {"iso.3.6.1.2.1.2.2.1.6.7 = Hex-STRING: 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF "
       "\n00 11 ",
       "\n", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head.substr(0, 40));
    ProcessResult result =
        run_limited(64 << 20, c.head, std::size_t{1} << 30, c.tail + rows,
                    c.ifx ? std::vector<std::string>{"--ifx"} : std::vector<std::string>{});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    std::string head =
        report_head({{c.inner_index, {{"ifIndex", "2"}, {"ifDescr", "enp0s3"}}}}, c.ifx);
    EXPECT_TRUE(result.out.starts_with(head)) << result.out.substr(0, 300);
  }
}

}  // namespace
