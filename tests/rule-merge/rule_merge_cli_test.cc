// Command-line tests: the built rule-merge run in a scratch working directory holding
// a tmp/, with standard output, standard error and exit status compared exactly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "file_text.h"
#include "json_check.h"
#include "process.h"
#include "rule_objects.h"

namespace {

ProcessResult rule_merge(const ScratchDir& dir, std::vector<std::string> args = {},
                         RunOptions options = {}) {
  args.insert(args.begin(), RULE_MERGE_BINARY);
  options.cwd = dir.path;
  return run_process(args, options);
}

void expect_result(const ProcessResult& r, const std::string& out, const std::string& err,
                   int status) {
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.status, status);
}

TEST(RuleMergeCli, DefaultDocumentWithoutRules) {
  ScratchDir dir;
  expect_result(rule_merge(dir), R"({"enabled":false,"rule":[]})", "", 0);  // no tmp/
  dir.make_dir("tmp");
  expect_result(rule_merge(dir), R"({"enabled":false,"rule":[]})", "", 0);
  expect_result(rule_merge(dir, {""}), R"({"enabled":false,"rule":[]})", "", 0);
  dir.write("tmp/comments", "# only\n# comments\n\n");
  dir.write("tmp/empty", "");
  expect_result(rule_merge(dir), R"({"enabled":false,"rule":[]})", "", 0);
}

TEST(RuleMergeCli, TmpThatIsNotADirectoryGivesNoRules) {
  ScratchDir dir;
  dir.write("tmp", "alert tcp any any -> any any\n");
  expect_result(rule_merge(dir), R"({"enabled":false,"rule":[]})", "", 0);
}

TEST(RuleMergeCli, MergesTheShippedExample) {
  RunOptions options;
  options.cwd = EXAMPLES_DIR;
  ProcessResult r = run_process({RULE_MERGE_BINARY}, options);
  expect_result(r, read_file(EXAMPLES_DIR "/expected-output.json"), "", 0);
  EXPECT_TRUE(json_valid(r.out));
}

TEST(RuleMergeCli, FaultsWriteOneMessageAndNoOutput) {
  ScratchDir dir;
  dir.write("tmp/a", "r\n");
  struct Case {
    std::string document;
    std::string message;
  };
  const Case cases[] = {
      {R"({"a":1}})", "level goes below zero at 7\n"},
      {R"({"a":{})", "level remained 1\n"},
      {R"({"a":"a\\"b"})", "unexpected character b at 10\n"},
      {R"("a":1)", "no enclosing object at 3\n"},
      {"{},{}", "no enclosing object at 3\n"},
      {"{\"a\":\"x", "impaired quotes at 6\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    expect_result(rule_merge(dir, {c.document}), "", c.message, 1);
  }
}

TEST(RuleMergeCli, DocumentWithoutRuleArrayWritesNothing) {
  ScratchDir dir;
  dir.write("tmp/a", "r\n");
  expect_result(rule_merge(dir, {R"({"a":1})"}), "", "", 0);
  expect_result(rule_merge(dir, {R"({"cfg":{"name":"x","rule":[]}})"}), "", "", 0);
}

TEST(RuleMergeCli, LeadingCommaFollowsTheArray) {
  ScratchDir dir;
  dir.write("tmp/a", "r1\nr2\n");
  const std::string rules = rule_object("", "r1") + "," + rule_object("", "r2");
  struct Case {
    std::string document;
    std::string expected;
  };
  const Case cases[] = {
      {R"({"cfg":{"name":"x"},"rule":[]})", R"({"cfg":{"name":"x"},"rule":[)" + rules + "]}"},
      {R"({"rule":[{"a":1}]})", R"({"rule":[{"a":1},)" + rules + "]}"},
      {R"({"rule":[1]})", R"({"rule":[1,)" + rules + "]}"},
      {R"({"rule":[ 1 ]})", R"({"rule":[ 1 ,)" + rules + "]}"},
      {"{\"rule\":[\n]}", "{\"rule\":[\n" + rules + "]}"},
      {R"({"enabled":false,"rule":[{"name":"a","raw":"x"}]})",
       R"({"enabled":false,"rule":[{"name":"a","raw":"x"},)" + rules + "]}"},
      {R"({"cfg":{"rule":[]}})", R"({"cfg":{"rule":[)" + rules + "]}}"},
      {R"({"rule":[],"x":[]})", R"({"rule":[],"x":[)" + rules + "]}"},
      {R"({"p":"C:\\","rule":[]})", R"({"p":"C:\\","rule":[)" + rules + "]}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    ProcessResult r = rule_merge(dir, {c.document});
    expect_result(r, c.expected, "", 0);
    EXPECT_TRUE(json_valid(r.out));
  }
}

TEST(RuleMergeCli, WalksTmpInByteOrderDirectoriesFirst) {
  ScratchDir dir;
  dir.write("tmp/b.rules", "b\n");
  dir.write("tmp/a.rules", "# named\na\n");
  dir.write("tmp/a/inner", "a/inner\n");
  dir.write("tmp/a/deeper/x", "a/deeper/x\n");
  dir.write("tmp/C", "C\n");
  dir.write("tmp/\xc3\xa9", "e-acute\n");
  // A new file clears the pending name: the comment at the end of C names nothing.
  dir.write("tmp/B", "# dangling name\n");
  std::string expected = "{\"enabled\":false,\"rule\":[" + rule_object("", "C") + "," +
                         rule_object("", "a/deeper/x") + "," + rule_object("", "a/inner") + "," +
                         rule_object("named", "a") + "," + rule_object("", "b") + "," +
                         rule_object("", "e-acute") + "]}";
  expect_result(rule_merge(dir), expected, "", 0);
}

TEST(RuleMergeCli, ListsLinksAndSpecialFilesSafely) {
  ScratchDir dir;
  dir.write("outside/target.rules", "linked\n");
  dir.make_dir("tmp/sub");
  dir.write("tmp/sub/x", "x\n");
  const std::string tmp = dir.path + "/tmp/";
  ASSERT_EQ(symlink("../outside/target.rules", (tmp + "file-link").c_str()), 0);
  ASSERT_EQ(symlink("../outside", (tmp + "dir-link").c_str()), 0);  // listed, not entered
  ASSERT_EQ(symlink("sub", (tmp + "sub-link").c_str()), 0);
  ASSERT_EQ(symlink("missing", (tmp + "dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop", (tmp + "loop").c_str()), 0);
  ASSERT_EQ(mkfifo((tmp + "fifo").c_str(), 0644), 0);  // opening it would wait forever
  int listening = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // Bound by a name relative to tmp/, as the scratch folder's path may not fit sun_path.
  std::memcpy(address.sun_path, "socket", sizeof "socket");
  int original = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(chdir(tmp.c_str()), 0);
  int bound = bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ASSERT_EQ(fchdir(original), 0);
  close(original);
  ASSERT_EQ(bound, 0);
  ASSERT_EQ(symlink("fifo", (tmp + "fifo-link").c_str()), 0);
  std::string expected = "{\"enabled\":false,\"rule\":[" + rule_object("", "linked") + "," +
                         rule_object("", "x") + "]}";
  expect_result(rule_merge(dir), expected, "failed to open tmp/dangling\nfailed to open tmp/loop\n",
                2);
  close(listening);
}

TEST(RuleMergeCli, ReportsUnreadableEntriesAndGoesOn) {
  std::string unavailable = permission_tests_unavailable();
  if (!unavailable.empty()) GTEST_SKIP() << unavailable;
  ScratchDir dir;
  dir.write("tmp/a", "a\n");
  dir.write("tmp/locked/hidden", "hidden\n");
  dir.write("tmp/secret", "secret\n");
  dir.write("tmp/shut/inside", "inside\n");  // readable, but cannot be entered
  dir.write("tmp/z", "z\n");
  ASSERT_EQ(chmod((dir.path + "/tmp/secret").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir.path + "/tmp/locked").c_str(), 0), 0);
  ASSERT_EQ(chmod((dir.path + "/tmp/shut").c_str(), 0444), 0);
  RunOptions options;
  options.drop_root = true;
  ProcessResult r = rule_merge(dir, {}, options);
  std::string expected =
      "{\"enabled\":false,\"rule\":[" + rule_object("", "a") + "," + rule_object("", "z") + "]}";
  expect_result(r, expected,
                "failed to read tmp/locked\nfailed to open tmp/secret\nfailed to read tmp/shut\n",
                2);
  // tmp/ itself cannot be listed: the document is still written, without rules.
  ASSERT_EQ(chmod((dir.path + "/tmp").c_str(), 0), 0);
  expect_result(rule_merge(dir, {}, options), R"({"enabled":false,"rule":[]})",
                "failed to read tmp/\n", 2);
}

TEST(RuleMergeCli, PathsWithUnusualBytes) {
  ScratchDir dir;
  dir.write("tmp/with space/new\nline", "r\n");
  dir.write("tmp/bad\xff\xfe", "s\n");
  std::string expected =
      "{\"enabled\":false,\"rule\":[" + rule_object("", "s") + "," + rule_object("", "r") + "]}";
  expect_result(rule_merge(dir), expected, "", 0);
  ASSERT_EQ(symlink("nowhere", (dir.path + "/tmp/with space/bro\nken").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", (dir.path + "/tmp/with space/bro\\nken").c_str()), 0);
  // A name cannot forge a line of its own in a message, nor pass for another name: a
  // backslash is shown doubled.
  ProcessResult r = rule_merge(dir);
  EXPECT_EQ(r.err,
            "failed to open tmp/with space/bro\\nken\nfailed to open tmp/with space/bro\\\\nken\n");
  EXPECT_EQ(r.status, 2);
}

TEST(RuleMergeCli, WalksDirectoriesDeeperThanAnyPathLimit) {
  ScratchDir dir;
  dir.make_dir("tmp");
  // 1500 levels of "level/" make a path of 9000 bytes, beyond PATH_MAX.
  int original = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(chdir((dir.path + "/tmp").c_str()), 0);
  constexpr int kDepth = 1500;
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(mkdir("level", 0755), 0);
    ASSERT_EQ(chdir("level"), 0);
  }
  { std::ofstream("deep.rules") << "# at the bottom\ndeep\n"; }
  ASSERT_EQ(fchdir(original), 0);
  dir.write("tmp/z", "z\n");
  std::string expected = "{\"enabled\":false,\"rule\":[" + rule_object("at the bottom", "deep") +
                         "," + rule_object("", "z") + "]}";
  expect_result(rule_merge(dir), expected, "", 0);
  // Remove the chain from the bottom up; the paths are too long to name whole.
  ASSERT_EQ(chdir((dir.path + "/tmp").c_str()), 0);
  for (int i = 0; i < kDepth; ++i) ASSERT_EQ(chdir("level"), 0);
  unlink("deep.rules");
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(chdir(".."), 0);
    ASSERT_EQ(rmdir("level"), 0);
  }
  ASSERT_EQ(fchdir(original), 0);
  close(original);
}

TEST(RuleMergeCli, ManyFiles) {
  ScratchDir dir;
  constexpr int kFiles = 20000;
  for (int i = 0; i < kFiles; ++i) dir.write("tmp/f" + std::to_string(100000 + i), "r\n");
  ProcessResult r = rule_merge(dir);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::string one = rule_object("", "r");
  EXPECT_EQ(r.out.size(), std::string(R"({"enabled":false,"rule":[]})").size() +
                              kFiles * one.size() + kFiles - 1);
  EXPECT_TRUE(json_valid(r.out));
}

TEST(RuleMergeCli, WriteErrorIsAFailure) {
  ScratchDir dir;
  dir.write("tmp/a", std::string(100000, 'r') + "\n");
  RunOptions options;
  options.stdout_path = "/dev/full";
  expect_result(rule_merge(dir, {}, options), "", "write error\n", 1);
  expect_result(rule_merge(dir, {"--version"}, options), "", "write error\n", 1);
}

TEST(RuleMergeCli, GigabyteLineIsMergedInLittleMemory) {
#ifdef RULE_TOOLS_SANITIZED
  GTEST_SKIP() << "an address-space limit cannot be set under the sanitizers";
#else
  ScratchDir dir;
  dir.write("tmp/a", "before\n");
  // A sparse file: a line of one gigabyte that takes no room on disk. Its first block is
  // text, so the zero bytes after it do not make it a binary file.
  dir.write("tmp/b", "alert " + std::string(4096, 'x'));
  ASSERT_EQ(truncate((dir.path + "/tmp/b").c_str(), 1000000000), 0);
  {
    std::ofstream tail(dir.path + "/tmp/b", std::ios::binary | std::ios::app);
    tail << "\nafter\n";
  }
  RunOptions options;
  options.address_space_limit = 64ULL << 20;
  options.stdout_path = "/dev/null";  // six gigabytes of escaped zero bytes
  expect_result(rule_merge(dir, {}, options), "", "", 0);
#endif
}

TEST(RuleMergeCli, OutputUnderTmpIsNotReadBack) {
  ScratchDir dir;
  dir.write("tmp/a", "a\n");
  dir.write("tmp/merged.json", "");
  dir.write("tmp/z", "z\n");
  RunOptions options;
  options.stdout_path = dir.path + "/tmp/merged.json";
  expect_result(rule_merge(dir, {}, options), "", "", 0);
  EXPECT_EQ(read_file(options.stdout_path), "{\"enabled\":false,\"rule\":[" + rule_object("", "a") +
                                                "," + rule_object("", "z") + "]}");
}

TEST(RuleMergeCli, BindMountCycleIsReportedOnce) {
  ScratchDir dir;
  dir.write("tmp/a", "a\n");
  dir.make_dir("tmp/loop");
  std::string loop = dir.path + "/tmp/loop";
  if (mount((dir.path + "/tmp").c_str(), loop.c_str(), nullptr, MS_BIND, nullptr) != 0) {
    GTEST_SKIP() << "no bind mount here: " << std::strerror(errno);
  }
  ProcessResult r = rule_merge(dir);
  umount2(loop.c_str(), MNT_DETACH);
  expect_result(r, "{\"enabled\":false,\"rule\":[" + rule_object("", "a") + "]}",
                "failed to read tmp/loop\n", 2);
}

TEST(RuleMergeCli, ReadErrorAfterOpening) {
  ScratchDir dir;
  dir.write("tmp/a", "a\n");
  // Opens like any file, but reading its first page fails.
  ASSERT_EQ(symlink("/proc/self/mem", (dir.path + "/tmp/mem").c_str()), 0);
  dir.write("tmp/z", "z\n");
  expect_result(
      rule_merge(dir),
      "{\"enabled\":false,\"rule\":[" + rule_object("", "a") + "," + rule_object("", "z") + "]}",
      "failed to read tmp/mem\n", 2);
}

mode_t file_mode(const std::string& path) {
  struct stat st;
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(RuleMergeCli, OutputFileIsReplacedByACompleteMerge) {
  ScratchDir dir;
  dir.write("tmp/a", "a\n");
  const std::string merged = "{\"enabled\":false,\"rule\":[" + rule_object("", "a") + "]}";
  mode_t mask = umask(0);
  umask(mask);
  // A new file: 0644 less the umask.
  expect_result(rule_merge(dir, {"-o", "out.json"}), "", "", 0);
  EXPECT_EQ(read_file(dir.path + "/out.json"), merged);
  EXPECT_EQ(file_mode(dir.path + "/out.json"), 0644 & ~mask);
  // An existing file keeps its mode; the options may follow the document.
  dir.write("kept.json", "old");
  ASSERT_EQ(chmod((dir.path + "/kept.json").c_str(), 0600), 0);
  expect_result(rule_merge(dir, {"{\"rule\":[]}", "--output", "kept.json"}), "", "", 0);
  EXPECT_EQ(read_file(dir.path + "/kept.json"), "{\"rule\":[" + rule_object("", "a") + "]}");
  EXPECT_EQ(file_mode(dir.path + "/kept.json"), 0600u);
  // A symbolic link stays a link to the file it names.
  ASSERT_EQ(symlink("kept.json", (dir.path + "/link.json").c_str()), 0);
  expect_result(rule_merge(dir, {"--output=link.json"}), "", "", 0);
  EXPECT_EQ(read_file(dir.path + "/kept.json"), merged);
  struct stat st;
  ASSERT_EQ(lstat((dir.path + "/link.json").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  // The file and its temporary file are not read back, even under tmp/.
  dir.write("tmp/out.json", "old rule\n");
  expect_result(rule_merge(dir, {"-o", "tmp/out.json"}), "", "", 0);
  EXPECT_EQ(read_file(dir.path + "/tmp/out.json"), merged);
  EXPECT_EQ(listing(dir.path),
            (std::vector<std::string>{"kept.json", "link.json", "out.json", "tmp"}));
  EXPECT_EQ(listing(dir.path + "/tmp"), (std::vector<std::string>{"a", "out.json"}));
}

TEST(RuleMergeCli, OutputFileIsLeftAsItWasWhenTheMergeIsNotComplete) {
  struct Case {
    std::string name;
    std::vector<std::string> args;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {"refused", {"-o", "out.json", "{\"a\":1}}"}, "level goes below zero at 7\n", 1},
      {"no rule array", {"-o", "out.json", "{\"a\":1}"}, "no rule array in the document\n", 1},
      {"dangling link", {"-o", "out.json"}, "failed to open tmp/gone\n", 2},
      {"read error", {"-o", "out.json"}, "failed to read tmp/mem\n", 2},
      {"directory", {"-o", "out.json"}, "failed to read tmp/shut\n", 2},
      {"no directory", {"-o", "missing/out.json"}, "failed to write missing/out.json\n", 1},
      {"not a file", {"-o", "tmp"}, "failed to write tmp\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.write("tmp/a", "a\n");
    dir.write("out.json", "{\"old\":true}\n");
    if (c.name == "dangling link") {
      ASSERT_EQ(symlink("nowhere", (dir.path + "/tmp/gone").c_str()), 0);
    }
    if (c.name == "read error") {
      ASSERT_EQ(symlink("/proc/self/mem", (dir.path + "/tmp/mem").c_str()), 0);
    }
    RunOptions options;
    if (c.name == "directory") {
      std::string unavailable = permission_tests_unavailable();
      if (!unavailable.empty()) {
        std::cout << "skipped: " << unavailable << "\n";
        continue;
      }
      dir.make_dir("tmp/shut");
      ASSERT_EQ(chmod((dir.path + "/tmp/shut").c_str(), 0), 0);
      ASSERT_EQ(chmod(dir.path.c_str(), 0777), 0);  // the temporary file is made here
      options.drop_root = true;
    }
    expect_result(rule_merge(dir, c.args, options), "", c.err, c.status);
    EXPECT_EQ(read_file(dir.path + "/out.json"), "{\"old\":true}\n");
    std::vector<std::string> expected = {"out.json", "tmp"};
    EXPECT_EQ(listing(dir.path), expected);
  }
}

TEST(RuleMergeCli, Arguments) {
  ScratchDir dir;
  dir.write("tmp/a", "a\n");
  const std::string merged = "{\"enabled\":false,\"rule\":[" + rule_object("", "a") + "]}";
  const std::string usage = "usage: rule-merge [-o file] [--] [document]\n";
  struct Case {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
  };
  const Case cases[] = {
      {{"--", R"({"rule":[]})"}, R"({"rule":[)" + rule_object("", "a") + "]}", "", 0},
      {{"--"}, merged, "", 0},
      {{"--", ""}, merged, "", 0},
      // After `--` even an option is the document.
      {{"--", "--help"}, "", "unexpected character h at 2\n", 1},
      // Only the first document counts.
      {{R"({"rule":[]})", R"({"x":[]})"}, R"({"rule":[)" + rule_object("", "a") + "]}", "", 0},
      {{"--bogus"}, "", "unknown option --bogus\n", 1},
      {{"-x", "--help"}, "", "unknown option -x\n", 1},
      {{R"({"rule":[]})", "-O"}, "", "unknown option -O\n", 1},
      {{"--a\nb"}, "", "unknown option --a\\nb\n", 1},
      {{"-o"}, "", usage, 1},
      {{"-o", ""}, "", usage, 1},
      {{"--output"}, "", usage, 1},
      {{"--output="}, "", usage, 1},
      // Not options: a lone dash and a negative number are documents without a rule array.
      {{"-"}, "", "", 0},
      {{"-1"}, "", "", 0},
      // A document saved with CRLF line ends: the message stays on one line.
      {{"{\"rule\":[]}\r\n"}, "", "unexpected character \\r at 11\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    expect_result(rule_merge(dir, c.args), c.out, c.err, c.status);
  }
}

TEST(RuleMergeCli, HelpAndVersion) {
  ScratchDir dir;
  for (const char* option : {"-h", "--help"}) {
    ProcessResult r = rule_merge(dir, {option});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(r.out.starts_with("usage: rule-merge [-n] [-o file] [--] [document]\n")) << r.out;
  }
  expect_result(rule_merge(dir, {"--version"}), "rule-merge " RULE_TOOLS_VERSION "\n", "", 0);
  // Options may follow the document.
  EXPECT_EQ(rule_merge(dir, {R"({"rule":[]})", "--help"}).out.substr(0, 6), "usage:");
}

// The manual's recipe, run twice with --new-only, leaves the file as the first run left
// it; within a run, a raw text met before (in the array, or on an earlier line) is not
// inserted again, and the name above it goes with it.
TEST(RuleMergeCli, NewOnlyRunTwiceAddsNothing) {
  ScratchDir dir;
  dir.write("tmp/a",
            "# ssh\nalert \"x\" \\ \t\x01\xc3\xa9\nold\n# dup\nalert \"x\" \\ \t\x01\xc3\xa9\n");
  dir.write("tmp/b", "new\nnew\n# last\nfinal ");
  dir.write("config.json", R"({"enabled":true,"rule":[{"name":"o","raw":"\u006fld"}]})");
  const std::string first = R"({"enabled":true,"rule":[{"name":"o","raw":"\u006fld"},)" +
                            rule_object("ssh", "alert \\\"x\\\" \\\\ \\t\\u0001\xc3\xa9") + "," +
                            rule_object("", "new") + "," + rule_object("last", "final") + "]}";
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    expect_result(
        rule_merge(dir, {"-n", "-o", "config.json", read_file(dir.path + "/config.json")}), "", "",
        0);
    EXPECT_EQ(read_file(dir.path + "/config.json"), first);
  }
  // Without it, every rule line goes in.
  ProcessResult all = rule_merge(dir, {R"({"rule":[]})"});
  EXPECT_EQ(std::count(all.out.begin(), all.out.end(), '{'), 7);
  expect_result(rule_merge(dir, {"--new-only", R"({"rule":[{"raw":"new"},{"raw":"old"}]})"}),
                R"({"rule":[{"raw":"new"},{"raw":"old"},)" +
                    rule_object("ssh", "alert \\\"x\\\" \\\\ \\t\\u0001\xc3\xa9") + "," +
                    rule_object("last", "final") + "]}",
                "", 0);
}

// Another run's output under tmp/, finished or left behind by a run that was killed, is
// never merged: the output's name and its temporary files' leftovers are passed over.
TEST(RuleMergeCli, OutputsOfOtherRunsAreNotMerged) {
  ScratchDir dir;
  for (int i = 0; i < 20; ++i) {
    dir.write("tmp/r" + std::to_string(i), std::string(100000, 'r') + "\n");
  }
  const std::string expected = rule_merge(dir).out;
  dir.write("tmp/.out.json.AbC123", "{\"left\":\"behind\"}\n");
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ProcessResult runs[2];
    std::thread other([&] { runs[1] = rule_merge(dir, {"-o", "tmp/out.json"}); });
    runs[0] = rule_merge(dir, {"-o", "tmp/out.json"});
    other.join();
    for (const ProcessResult& r : runs) expect_result(r, "", "", 0);
    EXPECT_TRUE(read_file(dir.path + "/tmp/out.json") == expected);
  }
  std::vector<std::string> names = listing(dir.path + "/tmp");
  ASSERT_EQ(names.size(), 22u);  // the leftover stays: it may be another run's
  EXPECT_EQ(names.front(), ".out.json.AbC123");
}

// A file whose fstat fails once it is open is reported, not passed over; when the
// output's cannot be had, nothing under tmp/ is read, as it could be the output.
TEST(RuleMergeCli, FailedFstatIsReported) {
#ifdef RULE_TOOLS_SANITIZED
  GTEST_SKIP() << "LeakSanitizer does not work under strace";
#endif
  if (std::getenv("RULE_TOOLS_TEST_WRAPPER")) {
    GTEST_SKIP() << "strace cannot trace under the test wrapper (valgrind)";
  }
  std::string strace = "/usr/bin/strace";
  if (access(strace.c_str(), X_OK) != 0 ||
      run_process({strace, "-o", "/dev/null", "true"}).status) {
    SKIP_UNLESS_CI("strace is not installed (Debian package strace), or may not trace here");
  }
  ScratchDir dir;
  dir.write("tmp/a", "a\n");
  dir.write("tmp/b", "b\n");
  dir.write("out.json", "{\"old\":true}\n");
  // Every fstat of the file at `path` fails.
  auto failing_fstat = [&](const std::string& path, std::vector<std::string> args,
                           RunOptions options = {}) {
    std::vector<std::string> argv = {strace, "-f", "-o", "/dev/null", "-P", dir.path + path};
    for (const char* a : {"-e", "trace=fstat,newfstatat", "-e", "inject=fstat,newfstatat:error=EIO",
                          RULE_MERGE_BINARY}) {
      argv.push_back(a);
    }
    argv.insert(argv.end(), args.begin(), args.end());
    options.cwd = dir.path;
    return run_process(argv, options);
  };
  expect_result(failing_fstat("/tmp/b", {}),
                "{\"enabled\":false,\"rule\":[" + rule_object("", "a") + "]}",
                "failed to read tmp/b\n", 2);
  RunOptions to_file;
  to_file.stdout_path = dir.path + "/tmp/out";
  expect_result(failing_fstat("/tmp/out", {}, to_file), "", "failed to read tmp/\n", 2);
  EXPECT_EQ(read_file(dir.path + "/tmp/out"), "{\"enabled\":false,\"rule\":[]}");
  expect_result(failing_fstat("", {"-o", "out.json"}), "", "failed to read tmp/\n", 2);
  EXPECT_EQ(read_file(dir.path + "/out.json"), "{\"old\":true}\n");
}

// A file under tmp/ that is not text is skipped and told, status 2; the rest is merged,
// with -o too. A zero byte after the first block, or bytes above 0x7f, are text. (The
// rule collector's test tells every kind of archive and compressed file.)
TEST(RuleMergeCli, FilesThatAreNotTextAreSkipped) {
  std::string tar(1024, '\0');
  tar.replace(0, 13, "rules/a.rules");
  tar.replace(257, 6, std::string("ustar\0", 6));
  struct Case {
    std::string name;
    std::string content;
    std::string rules;  // of the file, when it is merged
  };
  const Case cases[] = {
      {"archive", tar, ""},
      {"gzip", "\x1f\x8b\x08rules", ""},
      {"zero byte in the first block", std::string("r1\n\0\n", 5), ""},
      {"zero byte later", std::string(4096, '\n') + std::string("r\0z\n", 4),
       "," + rule_object("", "r\\u0000z")},
      {"Latin-1 and UTF-8", "# caf\xe9\ncaf\xe9 \xc3\xa9\n",
       "," + rule_object("caf\\u00e9", "caf\\u00e9 \xc3\xa9")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.write("tmp/a", "a\n");
    dir.write("tmp/x", c.content);
    const std::string merged = "{\"rule\":[" + rule_object("", "a") + c.rules + "]}";
    const std::string err = c.rules.empty() ? "skipped binary file tmp/x\n" : "";
    const int status = c.rules.empty() ? 2 : 0;
    ProcessResult r = rule_merge(dir, {"{\"rule\":[]}"});
    expect_result(r, merged, err, status);
    EXPECT_TRUE(utf8_valid(r.out));
    expect_result(rule_merge(dir, {"-o", "out.json", "{\"rule\":[]}"}), "", err, status);
    EXPECT_EQ(read_file(dir.path + "/out.json"), merged);
  }
}

// A rule set downloaded as a tarball and unpacked in place, the archive left beside the
// rule files.
TEST(RuleMergeCli, TarballUnpackedInPlace) {
  const std::string tar = "/usr/bin/tar";
  if (access(tar.c_str(), X_OK) != 0 || access("/usr/bin/gzip", X_OK) != 0) {
    SKIP_UNLESS_CI("tar or gzip is not installed");
  }
  ScratchDir dir;
  dir.write("rules/emerging.rules", "# ssh\nalert tcp any any -> any 22\n");
  dir.write("rules/local.rules", "drop \"caf\xe9\"\n");
  dir.make_dir("tmp");
  RunOptions options;
  options.cwd = dir.path;
  options.wrapped = false;
  ASSERT_EQ(run_process({tar, "czf", "tmp/rules.tar.gz", "rules"}, options).status, 0);
  options.cwd = dir.path + "/tmp";
  ASSERT_EQ(run_process({tar, "xzf", "rules.tar.gz"}, options).status, 0);
  ProcessResult r = rule_merge(dir);
  expect_result(r,
                "{\"enabled\":false,\"rule\":[" +
                    rule_object("ssh", "alert tcp any any -> any 22") + "," +
                    rule_object("", "drop \\\"caf\\u00e9\\\"") + "]}",
                "skipped binary file tmp/rules.tar.gz\n", 2);
  EXPECT_TRUE(utf8_valid(r.out));
  EXPECT_TRUE(json_valid(r.out));
}

// The manual's recipe goes on working whatever the rule lines hold: under -n a rule whose
// written raw the scanner could not read back is left out and told. A member spelled
// with an escape is the member JSON means.
TEST(RuleMergeCli, NewOnlyRecipeKeepsWorking) {
  ScratchDir dir;
  dir.write("tmp/a", std::string(4096, '\\') + "\nok\n" + std::string(1407, '\x01') + "\n");
  dir.write("config.json", R"({"rule":[{"r\u0061w":"old"}]})");
  dir.write("tmp/b", "old\n");
  const std::string merged = R"({"rule":[{"r\u0061w":"old"},)" + rule_object("", "ok") + "]}";
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    expect_result(
        rule_merge(dir, {"-n", "-o", "config.json", read_file(dir.path + "/config.json")}), "",
        "too long rule for -n in tmp/a\n", 2);
    EXPECT_EQ(read_file(dir.path + "/config.json"), merged);
  }
}

// Two runs write the same output at once while tmp/ holds a link to it: neither merges
// the other's document.
TEST(RuleMergeCli, ConcurrentRunsDoNotMergeEachOthersOutput) {
  ScratchDir dir;
  for (int i = 0; i < 20; ++i) {
    dir.write("tmp/r" + std::to_string(i), std::string(100000, 'r') + "\n");
  }
  const std::string expected = rule_merge(dir).out;
  dir.write("out.json", "{\"old\":true}\n");
  // Named to be walked last, when the other run may have renamed its output already.
  ASSERT_EQ(symlink("../out.json", (dir.path + "/tmp/zz-link").c_str()), 0);
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ProcessResult runs[2];
    std::thread other([&] { runs[1] = rule_merge(dir, {"-o", "out.json"}); });
    runs[0] = rule_merge(dir, {"-o", "out.json"});
    other.join();
    for (const ProcessResult& r : runs) expect_result(r, "", "", 0);
    EXPECT_TRUE(read_file(dir.path + "/out.json") == expected);
  }
}

}  // namespace
