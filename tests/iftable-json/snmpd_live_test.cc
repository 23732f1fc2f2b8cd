// Integration with the real peer: net-snmp's agent snmpd serves this machine's
// interface tables on a loopback port, snmpwalk walks them, and iftable-json must
// report exactly the agent's interfaces: those whose description begins with "en",
// or with --ifx -d '' every interface with both tables.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "json_check.h"
#include "process.h"
#include "report_text.h"
#include "walk_reader.h"

namespace {

const std::string kBinary = IFTABLE_JSON_BINARY;

// A UDP port on 127.0.0.1 that was free a moment ago.
int free_udp_port() {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  close(fd);
  return ntohs(address.sin_port);
}

// snmpd in the foreground, stopped (and reaped) whatever way the test ends.
struct Agent {
  pid_t pid = -1;

  Agent() = default;
  Agent(const Agent&) = delete;
  Agent& operator=(const Agent&) = delete;
  ~Agent() {
    stop();
  }

  bool start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<std::string> env_strings = environment_with(env);
    std::vector<char*> envp;
    for (std::string& e : env_strings) envp.push_back(e.data());
    envp.push_back(nullptr);
    int rc = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) pid = -1;
    return rc == 0;
  }

  bool running() {
    if (pid <= 0) return false;
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      pid = -1;
      return false;
    }
    return true;
  }

  void stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
      int status;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
    pid = -1;
  }
};

// snmpd of its own on a free loopback port, with its configuration, log, state and (empty)
// MIB folder inside a scratch folder, so that nothing of the machine's own agent setup is
// read; snmpwalk and snmpset, run through it, read no configuration and keep no state
// outside that folder either. An empty MIB folder keeps OIDs numeric whatever MIBs the
// host has.
struct LiveAgent {
  ScratchDir dir;
  int port = -1;
  Agent agent;

  // Starts the agent with the configuration lines `config` after its address.
  bool start(const std::string& snmpd, const std::string& config) {
    for (const char* folder : {"mibs", "client-conf", "agent-state", "client-state"}) {
      dir.make_dir(folder);
    }
    port = free_udp_port();
    if (port <= 0) return false;
    dir.write("snmpd.conf", "agentaddress udp:127.0.0.1:" + std::to_string(port) + "\n" + config);
    return agent.start({snmpd, "-f", "-C", "-c", dir.path + "/snmpd.conf", "-Lf",
                        dir.path + "/snmpd.log", "-M", dir.path + "/mibs", "-m", ""},
                       {"SNMP_PERSISTENT_DIR=" + dir.path + "/agent-state"},
                       dir.path + "/snmpd.out");
  }

  // Runs the client `tool` (snmpwalk, snmpset) with `community` and then `args` after the
  // agent's address.
  ProcessResult run(const std::string& tool, const std::string& community,
                    const std::vector<std::string>& options, const std::vector<std::string>& args) {
    std::vector<std::string> argv = {
        tool, "-v2c", "-c", community, "-m", "", "-M", dir.path + "/mibs", "-t", "2", "-r", "3"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("udp:127.0.0.1:" + std::to_string(port));
    argv.insert(argv.end(), args.begin(), args.end());
    RunOptions client;
    client.env = {"SNMPCONFPATH=" + dir.path + "/client-conf",
                  "SNMP_PERSISTENT_DIR=" + dir.path + "/client-state"};
    return run_process(argv, client);
  }

  // The same, tried again while the agent runs and gives nothing: it needs a moment after
  // it starts before it answers.
  ProcessResult first_run(const std::string& tool, const std::string& community,
                          const std::vector<std::string>& args) {
    ProcessResult result;
    for (int attempt = 0; attempt < 20; ++attempt) {
      if (!agent.running()) {
        result.err += "snmpd ended early; see its log in " + dir.path;
        break;
      }
      result = run(tool, community, {}, args);
      if (result.status == 0 && !result.out.empty()) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return result;
  }
};

struct AgentRow {
  std::map<int, std::string> values;  // by column number
};

// Reads snmpwalk's numeric form (-On): "<entry><column>.<index> = TYPE: value", for a
// table's row container `entry` (".1.3.6.1...1."). Returns the rows by interface index,
// in order of first appearance in `order`.
std::map<int, AgentRow> parse_table(const std::string& walk, const std::string& entry,
                                    std::vector<int>& order) {
  std::map<int, AgentRow> rows;
  std::stringstream lines(walk);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(entry, 0) != 0) continue;
    int column = 0, index = 0;
    if (std::sscanf(line.c_str() + entry.size(), "%d.%d", &column, &index) != 2) continue;
    if (std::find(order.begin(), order.end(), index) == order.end()) order.push_back(index);
    std::string value;
    std::size_t colon = line.find(": ");
    if (colon != std::string::npos) {
      value = line.substr(colon + 2);
      if (line.substr(0, colon).ends_with("= STRING") && value.size() >= 2 &&
          value.front() == '"' && value.back() == '"') {
        value = value.substr(1, value.size() - 2);
      }
    }
    rows[index].values[column] = value;
  }
  return rows;
}

// The text of one member of the report, from its key to the "]," that closes it.
std::string member_text(const std::string& report, const std::string& key) {
  std::size_t start = report.find("\"" + key + "\":[");
  if (start == std::string::npos) return "<no member " + key + ">";
  std::size_t end = report.find("],\"", start);
  if (end == std::string::npos) return "<unclosed member " + key + ">";
  return report.substr(start, end + 2 - start);
}

constexpr const char* kNoNetSnmp =
    "net-snmp's snmpd and snmpwalk are not installed (Debian packages snmpd and snmp; .ci/run "
    "installs them)";

TEST(SnmpdLive, ReportMatchesTheAgentsInterfaceTable) {
  std::string snmpd = find_program("snmpd");
  std::string snmpwalk = find_program("snmpwalk");
  if (snmpd.empty() || snmpwalk.empty()) SKIP_UNLESS_CI(kNoNetSnmp);

  // Give the first and last interface descriptions beginning with "en", so rows are written.
  struct if_nameindex* names = if_nameindex();
  ASSERT_NE(names, nullptr);
  std::vector<int> kernel_indexes;
  for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
    kernel_indexes.push_back(static_cast<int>(n->if_index));
  }
  if_freenameindex(names);
  ASSERT_FALSE(kernel_indexes.empty());
  std::sort(kernel_indexes.begin(), kernel_indexes.end());
  std::map<int, std::string> overrides = {{kernel_indexes.front(), "enp0s3-live"}};
  if (kernel_indexes.size() > 1) overrides[kernel_indexes.back()] = "ens4 \\\"live\\\"";

  std::string config = "rocommunity public 127.0.0.1\n";
  for (const auto& [index, name] : overrides) {
    config +=
        "override .1.3.6.1.2.1.2.2.1.2." + std::to_string(index) + " octet_str \"" + name + "\"\n";
  }
  LiveAgent live;
  ASSERT_TRUE(live.start(snmpd, config));
  ProcessResult iso = live.first_run(snmpwalk, "public", {".1.3.6.1.2.1.2.2"});
  ASSERT_EQ(iso.status, 0) << iso.err;
  ASSERT_EQ(iso.out.rfind("iso.3.6.1.2.1.2.2.1.1.", 0), 0u) << iso.out.substr(0, 200);

  // The agent's own list, in the other notation snmpwalk offers.
  ProcessResult numeric = live.run(snmpwalk, "public", {"-On"}, {".1.3.6.1.2.1.2.2"});
  ASSERT_EQ(numeric.status, 0) << numeric.err;
  live.agent.stop();

  std::vector<int> order;
  std::map<int, AgentRow> agent_rows = parse_table(numeric.out, ".1.3.6.1.2.1.2.2.1.", order);
  for (int index : kernel_indexes) {
    EXPECT_TRUE(agent_rows.count(index)) << "interface " << index << " missing from the agent";
  }
  for (const auto& [index, name] : overrides) {
    EXPECT_EQ(agent_rows[index].values[2], name) << "override of interface " << index;
  }

  // Expected rows: the agent's "en" interfaces, numbered by their rank in the table.
  // Columns that do not change between two walks are compared whole.
  const std::map<std::string, int> stable = {{"ifIndex", 1},       {"ifDescr", 2},
                                             {"ifType", 3},        {"ifMtu", 4},
                                             {"ifPhysAddress", 6}, {"ifAdminStatus", 7}};
  std::vector<ReportRow> expected;
  std::vector<ReportRow> descr_only;
  for (std::size_t rank = 0; rank < order.size(); ++rank) {
    AgentRow& row = agent_rows[order[rank]];
    if (!row.values[2].starts_with("en")) continue;
    ReportRow report_row{static_cast<int>(rank) + 1, {}};
    for (const auto& [name, column] : stable) report_row.values[name] = row.values[column];
    expected.push_back(report_row);
    descr_only.push_back({static_cast<int>(rank) + 1, {{"ifDescr", row.values[2]}}});
  }
  ASSERT_GE(expected.size(), overrides.size()) << "rows beginning with en";

  signal(SIGPIPE,
         SIG_IGN);  // should iftable-json stop early, writing its input must not kill the test
  RunOptions tz;
  tz.input = iso.out;
  tz.env = {"TZ=UTC"};
  ProcessResult report = run_process({kBinary}, tz);
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(report.err, "");
  for (const ReportColumn& column : kReportColumns) {
    SCOPED_TRACE(column.key);
    std::string member = member_text(report.out, column.key);
    if (stable.count(column.mib_name)) {
      EXPECT_EQ(member, report_member(column, expected));
    } else {
      // Counters move between walks: compare which rows are written, not their values.
      std::vector<ReportRow> rows;
      for (const ReportRow& r : expected) rows.push_back({r.inner_index, {}});
      std::string shape = report_member(column, rows);
      std::regex any_value(R"(":"[^"]*"\})");
      EXPECT_EQ(std::regex_replace(member, any_value, "\":\"\"}"), shape);
    }
  }
  std::size_t stamp = report.out.find("\"timestamp\": \"");
  ASSERT_NE(stamp, std::string::npos);
  EXPECT_TRUE(is_timestamp_tail(std::string_view(report.out).substr(stamp + 14)));

  // Only ifDescr lines under the prefix option.
  tz.input = iso.out;
  ProcessResult descr = run_process({kBinary, "-p", "iso.3.6.1.2.1.2.2.1.2"}, tz);
  ASSERT_EQ(descr.status, 0) << descr.err;
  EXPECT_EQ(descr.out.substr(0, descr.out.find("\"timestamp\": \"") + 14), report_head(descr_only));
}

// Monitoring's use: both tables walked from the agent, in the iso. form and with -On,
// reported with --ifx -d '': every interface of the host, with the agent's own values,
// its 64-bit counters and its name among them.
TEST(SnmpdLive, ReportsBothTablesOfEveryInterface) {
  std::string snmpd = find_program("snmpd");
  std::string snmpwalk = find_program("snmpwalk");
  if (snmpd.empty() || snmpwalk.empty()) SKIP_UNLESS_CI(kNoNetSnmp);
  std::map<int, std::string> kernel_names;
  struct if_nameindex* names = if_nameindex();
  ASSERT_NE(names, nullptr);
  for (struct if_nameindex* n = names; n->if_index != 0; ++n) {
    kernel_names[static_cast<int>(n->if_index)] = n->if_name;
  }
  if_freenameindex(names);

  LiveAgent live;
  ASSERT_TRUE(live.start(snmpd, "rocommunity public 127.0.0.1\n"));
  ProcessResult first = live.first_run(snmpwalk, "public", {".1.3.6.1.2.1.2.2"});
  ASSERT_EQ(first.status, 0) << first.err;
  std::string walks[2];  // the iso. form, then -On
  for (int form = 0; form < 2; ++form) {
    std::vector<std::string> options;
    if (form == 1) options.push_back("-On");
    for (const char* table : {".1.3.6.1.2.1.2.2", ".1.3.6.1.2.1.31.1.1"}) {
      ProcessResult result = live.run(snmpwalk, "public", options, {table});
      ASSERT_EQ(result.status, 0) << result.err;
      walks[form] += result.out;
    }
  }
  live.agent.stop();
  ASSERT_EQ(walks[0].rfind("iso.3.6.1.2.1.2.2.1.1.", 0), 0u) << walks[0].substr(0, 200);
  ASSERT_EQ(walks[1].rfind(".1.3.6.1.2.1.2.2.1.1.", 0), 0u) << walks[1].substr(0, 200);
  ASSERT_NE(walks[0].find("\niso.3.6.1.2.1.31.1.1.1.6."), std::string::npos) << "no ifHCInOctets";

  signal(SIGPIPE, SIG_IGN);
  const int if_columns[] = {1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
  for (int form = 0; form < 2; ++form) {
    SCOPED_TRACE(form == 0 ? "iso." : "-On");
    // The agent's values, read from the walk in the -On form.
    std::string numeric = walks[form];
    if (form == 0) numeric = std::regex_replace(numeric, std::regex("(^|\n)iso\\."), "$1.1.");
    std::vector<int> order;
    std::map<int, AgentRow> table = parse_table(numeric, ".1.3.6.1.2.1.2.2.1.", order);
    std::map<int, AgentRow> extension = parse_table(numeric, ".1.3.6.1.2.1.31.1.1.1.", order);
    for (const auto& [index, name] : kernel_names) {
      SCOPED_TRACE(name);
      ASSERT_TRUE(table.count(index) && extension.count(index)) << "interface missing";
      // ifDescr is the kernel's name here, but the agent may describe a PCI card by its
      // vendor and model where their names are known; ifName is always the kernel's.
      EXPECT_FALSE(table[index].values[2].empty());
      EXPECT_EQ(extension[index].values[1], name);  // ifName
      EXPECT_TRUE(std::regex_match(extension[index].values[6], std::regex("\\d+")));
    }
    std::vector<ReportRow> expected;
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
      if (!table[order[rank]].values.count(2)) continue;
      ReportRow row{static_cast<int>(rank) + 1, {}};
      for (std::size_t k = 0; k < kReportColumns.size(); ++k) {
        row.values[kReportColumns[k].mib_name] = table[order[rank]].values[if_columns[k]];
      }
      for (std::size_t k = 0; k < kIfxReportColumns.size(); ++k) {
        row.values[kIfxReportColumns[k].mib_name] =
            extension[order[rank]].values[static_cast<int>(k) + 1];
      }
      expected.push_back(row);
    }
    RunOptions run;
    run.input = walks[form];
    run.env = {"TZ=UTC"};
    ProcessResult report = run_process({kBinary, "--ifx", "-d", "", "-m", "1000"}, run);
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_EQ(report.err, "");
    std::string head = report_head(expected, true);
    EXPECT_EQ(report.out.substr(0, head.size()), head);
    EXPECT_TRUE(is_timestamp_tail(std::string_view(report.out).substr(head.size())));
  }
}

// A user's walks with the MIB modules loaded: both tables walked in each form snmpwalk
// prints then, reported with --ifx -d '', give every interface of the host with the
// numeric walk's values, but for ifPhysAddress (IF-MIB's hint prints 2:fc:0:0:0:1) and
// the counters, which move between two walks. The forms that are not read say so.
TEST(SnmpdLive, EveryFormWithTheModulesGivesTheNumericReport) {
  std::string snmpd = find_program("snmpd");
  std::string snmpwalk = find_program("snmpwalk");
  if (snmpd.empty() || snmpwalk.empty()) SKIP_UNLESS_CI(kNoNetSnmp);
  const char* folder = std::getenv("IFTABLE_TEST_MIBS");
  std::string mibs = folder ? folder : "";
  if (mibs.empty() || access((mibs + "/IF-MIB.txt").c_str(), R_OK) != 0) {
    SKIP_UNLESS_CI(
        "no IETF MIB modules: set IFTABLE_TEST_MIBS to a folder holding IF-MIB.txt and the "
        "modules it imports (.ci/run fetches them from the npm package net-snmp)");
  }
  LiveAgent live;
  ASSERT_TRUE(live.start(snmpd, "rocommunity public 127.0.0.1\n"));
  ProcessResult first = live.first_run(snmpwalk, "public", {".1.3.6.1.2.1.2.2.1.1"});
  ASSERT_EQ(first.status, 0) << first.err;
  const std::vector<std::vector<std::string>> forms = {{},  // numeric: no module loaded
                                                       {"-m", "IF-MIB"},
                                                       {"-m", "IF-MIB", "-Os"},
                                                       {"-m", "IF-MIB", "-Of"},
                                                       {"-m", "IF-MIB", "-Oe"},
                                                       {"-m", "IF-MIB", "-On"},
                                                       {"-m", "SNMPv2-SMI"},
                                                       {"-m", "RFC1213-MIB"},
                                                       {"-m", "IF-MIB", "-OQ"},
                                                       {"-m", "IF-MIB", "-OX"}};
  std::vector<std::string> walks;
  for (const std::vector<std::string>& form : forms) {
    std::vector<std::string> options = {"-M", mibs};
    options.insert(options.end(), form.begin(), form.end());
    std::string walk;
    for (const char* table : {".1.3.6.1.2.1.2.2", ".1.3.6.1.2.1.31.1.1"}) {
      ProcessResult result = live.run(snmpwalk, "public", options, {table});
      ASSERT_EQ(result.status, 0) << result.err;
      walk += result.out;
    }
    walks.push_back(walk);
  }
  live.agent.stop();
  ASSERT_EQ(walks[1].rfind("IF-MIB::ifIndex.", 0), 0u) << walks[1].substr(0, 200);
  ASSERT_NE(walks[7].find("RFC1213-MIB::mib-2.31.1.1.1.1."), std::string::npos);

  signal(SIGPIPE, SIG_IGN);
  std::vector<std::string> reports;
  for (std::size_t form = 0; form < forms.size(); ++form) {
    RunOptions run;
    run.input = walks[form];
    run.env = {"TZ=UTC"};
    ProcessResult report = run_process({kBinary, "--ifx", "-d", "", "-m", "1000"}, run);
    ASSERT_EQ(report.status, 0) << report.err;
    bool read = form < 8;
    EXPECT_EQ(report.err, read ? "" : "no interface table line in the walk\n") << form;
    EXPECT_TRUE(json_valid(report.out));
    reports.push_back(report.out);
  }
  // Every form gives the numeric walk's values, which hold every interface (as the test
  // of both tables shows), but for the address's spelling and the counters.
  ASSERT_NE(reports[0].find("\"inner_camel_if_name\":\""), std::string::npos) << reports[0];
  const std::regex moving("ifPhysAddress|Octets|Pkts|Discards|Errors|UnknownProtos");
  std::regex any_value(R"(":"[^"]*"\})");
  for (std::size_t form = 1; form < 8; ++form) {
    SCOPED_TRACE(form);
    for (const std::vector<ReportColumn>* columns : {&kReportColumns, &kIfxReportColumns}) {
      for (const ReportColumn& column : *columns) {
        SCOPED_TRACE(column.key);
        std::string numeric = member_text(reports[0], column.key);
        std::string named = member_text(reports[form], column.key);
        if (std::regex_search(column.mib_name, moving)) {
          numeric = std::regex_replace(numeric, any_value, "\":\"\"}");
          named = std::regex_replace(named, any_value, "\":\"\"}");
        }
        EXPECT_EQ(named, numeric);
      }
    }
  }
}

// The bytes of `text` as snmpset's hex notation, and as snmpwalk writes a Hex-STRING
// on one line (each pair followed by a blank).
std::string hex_notation(std::string_view text, bool spaced) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : text) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
    if (spaced) hex += ' ';
  }
  return hex;
}

// Values that snmpwalk writes over several lines, set on the agent through override -rw
// and snmpset type x: a description holding a newline and a line that looks like a walk
// line; one of 44 bytes that are not all printable (a Hex-STRING over three lines); one
// with quotes, a backslash, a tab and CR LF; a 20-byte address (two lines of hex).
TEST(SnmpdLive, ValuesOverSeveralLinesAreOneValue) {
  std::string snmpd = find_program("snmpd");
  std::string snmpwalk = find_program("snmpwalk");
  std::string snmpset = find_program("snmpset");
  if (snmpd.empty() || snmpwalk.empty() || snmpset.empty()) {
    SKIP_UNLESS_CI(
        "net-snmp's snmpd, snmpwalk and snmpset are not installed (Debian packages snmpd and "
        "snmp; .ci/run installs them)");
  }
  const std::string newline_descr = "en\niso.3.6.1.2.1.2.2.1.2.9 = STRING: en-x";
  const std::string binary_descr = "enp3s0f1 \xE2\x80\x93 Ethernet Controller SFP+ port 2";
  const std::string quoted_descr = "en \"q\" C:\\x\t\r\nend";
  const std::string address =
      std::string("\x00\x02\xC9\xFF\xFE\x5D\x7A\x10\x00\x02\xC9\xFF\xFE", 13) +
      "\x5D\x7A\x11\x00\xAA\xBB\xCC";
  // Rows of their own, beyond the machine's interfaces; the agent lists them after those.
  const std::map<std::string, std::string> values = {
      {".1.3.6.1.2.1.2.2.1.2.1001", newline_descr},
      {".1.3.6.1.2.1.2.2.1.2.1002", binary_descr},
      {".1.3.6.1.2.1.2.2.1.2.1003", quoted_descr},
      {".1.3.6.1.2.1.2.2.1.6.1003", address},
  };

  std::string config = "rwcommunity private 127.0.0.1\nrocommunity public 127.0.0.1\n";
  for (int index : {1001, 1002, 1003}) {
    config += "override .1.3.6.1.2.1.2.2.1.1." + std::to_string(index) + " integer " +
              std::to_string(index) + "\n";
  }
  for (const auto& [oid, value] : values) config += "override -rw " + oid + " octet_str \"-\"\n";
  LiveAgent live;
  ASSERT_TRUE(live.start(snmpd, config));
  std::vector<std::string> set;
  for (const auto& [oid, value] : values) {
    set.insert(set.end(), {oid, "x", hex_notation(value, false)});
  }
  ProcessResult done = live.first_run(snmpset, "private", set);
  ASSERT_EQ(done.status, 0) << done.err;
  ProcessResult walk = live.run(snmpwalk, "public", {}, {".1.3.6.1.2.1.2.2"});
  live.agent.stop();
  ASSERT_EQ(walk.status, 0) << walk.err;

  // snmpwalk really writes these values over several lines.
  EXPECT_NE(walk.out.find("iso.3.6.1.2.1.2.2.1.2.1001 = STRING: \"en\n"
                          "iso.3.6.1.2.1.2.2.1.2.9 = STRING: en-x\"\n"),
            std::string::npos)
      << walk.out;
  EXPECT_NE(
      walk.out.find("iso.3.6.1.2.1.2.2.1.2.1003 = STRING: \"en \\\"q\\\" C:\\\\x\t\r\nend\"\n"),
      std::string::npos);
  std::string binary_hex = hex_notation(binary_descr, true);
  EXPECT_NE(walk.out.find("iso.3.6.1.2.1.2.2.1.2.1002 = Hex-STRING: " + binary_hex.substr(0, 48) +
                          "\n" + binary_hex.substr(48, 48) + "\n" + binary_hex.substr(96) + "\n"),
            std::string::npos);

  // The rows in the walk's order: the ifIndex column lists them all first.
  std::vector<std::string> order;
  std::regex index_line(R"(^iso\.3\.6\.1\.2\.1\.2\.2\.1\.1\.(\d+) = )");
  std::stringstream lines(walk.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (std::regex_search(line, m, index_line)) order.push_back(m[1]);
  }
  auto rank = [&](const std::string& index) {
    return static_cast<int>(std::find(order.begin(), order.end(), index) - order.begin()) + 1;
  };

  signal(SIGPIPE, SIG_IGN);
  RunOptions run;
  run.input = walk.out;
  run.env = {"TZ=UTC"};
  ProcessResult report = run_process({kBinary, "--max-rows", "1000"}, run);
  ASSERT_EQ(report.status, 0) << report.err;
  EXPECT_EQ(report.err, "");
  EXPECT_TRUE(json_valid(report.out)) << report.out;
  std::string descr = member_text(report.out, "camel_if_descr");
  for (const auto& [index, text] :
       {std::pair<std::string, std::string>{"1001", "en\\niso.3.6.1.2.1.2.2.1.2.9 = STRING: en-x"},
        {"1003", "en \\\"q\\\" C:\\\\x\\t\\r\\nend"}}) {
    EXPECT_NE(descr.find("{\"inner_index\":" + std::to_string(rank(index)) +
                         ",\"inner_camel_if_descr\":\"" + text + "\"}"),
              std::string::npos)
        << descr;
  }
  EXPECT_EQ(descr.find("\"en-x\""), std::string::npos) << "a line inside a value made a row";
  EXPECT_NE(member_text(report.out, "camel_if_phys_address")
                .find("{\"inner_index\":" + std::to_string(rank("1003")) +
                      ",\"inner_camel_if_phys_address\":\"" + hex_notation(address, true) + "\"}"),
            std::string::npos)
      << report.out;

  // The Hex-STRING description keeps all its bytes, though its row is not written.
  FILE* in = fmemopen(walk.out.data(), walk.out.size(), "r");
  ASSERT_NE(in, nullptr);
  auto state = std::make_unique<WalkState>();
  state->slots.limit = 1000;
  EXPECT_FALSE(read_walk(in, {}, *state));
  std::fclose(in);
  auto slot = state->slots.slot_of.find(1002);
  ASSERT_NE(slot, state->slots.slot_of.end());
  const std::optional<std::string>* value = cell_value(*state, kDescrColumn, slot->second);
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(**value, binary_hex);
}

}  // namespace
