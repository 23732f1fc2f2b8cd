// Tests for the rule collector's line handling: naming, escaping, leading blanks,
// whole lines of any length, and the JSON the objects form.
#include "rule_collector.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "file_text.h"
#include "json_check.h"
#include "rule_objects.h"

namespace {

// What one run of the collector over a file wrote, and whether it read the file whole.
struct Collected {
  std::string out;
  bool whole = false;
  FileRules file;
};

Collected collect_with(const std::string& content, bool needs_comma, ReadAt read_at,
                       RuleSet* seen = nullptr) {
  FILE* file = std::tmpfile();
  std::fwrite(content.data(), 1, content.size(), file);
  std::fflush(file);
  FILE* out = std::tmpfile();
  RuleWriter writer = make_rule_writer(out, needs_comma);
  Collected result;
  result.file = collect_file_rules(fileno(file), writer, read_at, seen);
  result.whole = result.file.whole;
  result.out = stream_text(out);
  std::fclose(out);
  std::fclose(file);
  return result;
}

// Runs the collector over `content` as one file and returns what it wrote.
std::string collect(const std::string& content, bool needs_comma = false) {
  Collected result = collect_with(content, needs_comma, pread);
  EXPECT_TRUE(result.whole);
  return result.out;
}

TEST(RuleCollector, TurnsLinesIntoNamedRuleObjects) {
  struct Case {
    std::string file;
    std::string expected;
  };
  const Case cases[] = {
      {"# ssh\nalert tcp any any -> any 22\nalert udp any any -> any 53\n",
       rule_object("ssh", "alert tcp any any -> any 22") + "," +
           rule_object("", "alert udp any any -> any 53")},
      // Leading blanks stay in raw though they are skipped to classify the line.
      {"  drop \"x\"\n", rule_object("", "  drop \\\"x\\\"")},
      {"#\t  name here\nr\n", rule_object("name here", "r")},
      // A blank line, or another rule, clears the pending name; the last comment wins.
      {"# a\n\nr1\n# b\n# c\nr2\nr3\n",
       rule_object("", "r1") + "," + rule_object("c", "r2") + "," + rule_object("", "r3")},
      {"# a\n  \t \nr\n", rule_object("", "r")},
      {"   # indented comment\nr\n", rule_object("indented comment", "r")},
      {"#\nr\n", rule_object("", "r")},
      // Exactly one final newline or space goes; a carriage return stays, escaped.
      {"r  \n", rule_object("", "r  ")},
      {"r  ", rule_object("", "r ")},
      {"r ", rule_object("", "r")},
      {"r", rule_object("", "r")},
      {"r\r\n", rule_object("", "r\\r")},
      {"# n\r\nr\r\n", rule_object("n\\r", "r\\r")},
      {"\r\n", rule_object("", "\\r")},
      // Backslashes are escaped before quotes.
      {"a\\\"b\n", rule_object("", "a\\\\\\\"b")},
      {"# q\"\\\nr\n", rule_object("q\\\"\\\\", "r")},
      // Bytes below 0x20 become JSON escapes; a zero byte past the first block is no sign
      // of a binary file.
      {std::string(kFirstBlock, '\n') + std::string("a\x01\x08\x0c\x1f\x7f\xff", 7) +
           std::string(1, '\0') + "z\n",
       rule_object("", "a\\u0001\\b\\f\\u001f\x7f\\u00ff\\u0000z")},
      // Valid UTF-8 as it is; a byte outside it (Latin-1 text) read as Latin-1.
      {"# caf\xe9\ncaf\xc3\xa9 caf\xe9\n", rule_object("caf\\u00e9", "caf\xc3\xa9 caf\\u00e9")},
      {"\tr\tx\n", rule_object("", "\\tr\\tx")},
      {"", ""},
      {"# only a comment\n\n\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    EXPECT_EQ(collect(c.file), c.expected);
  }
}

TEST(RuleCollector, TellsWhenReadingFails) {
  // A directory opens but cannot be read: the error must not pass for an empty file.
  int fd = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  FILE* out = std::tmpfile();
  RuleWriter writer = make_rule_writer(out, false);
  EXPECT_FALSE(collect_file_rules(fd, writer).whole);
  EXPECT_FALSE(writer.needs_comma);
  std::fclose(out);
  close(fd);
}

// A read call over a real file that gives at most `most` bytes at a time and fails with
// EIO from offset `end` on; or, with `cut_later`, one over a file that is cut to `end`
// bytes once a read at `cut_after` or beyond has been served.
struct FlakyFile {
  std::size_t end = 0;
  std::size_t most = 0;
  bool cut_later = false;
  std::size_t cut_after = 0;
  bool cut = false;
};
FlakyFile flaky;

ssize_t flaky_read(int fd, void* buffer, std::size_t size, off_t offset) {
  auto at = static_cast<std::size_t>(offset);
  bool limited = !flaky.cut_later || flaky.cut;
  if (limited && at >= flaky.end) {
    if (flaky.cut) return 0;
    errno = EIO;
    return -1;
  }
  std::size_t most = std::min(size, flaky.most);
  if (limited) most = std::min(most, flaky.end - at);
  ssize_t n = pread(fd, buffer, most, offset);
  if (flaky.cut_later && at >= flaky.cut_after) flaky.cut = true;
  return n;
}

TEST(RuleCollector, ReadErrorWritesOnlyTheLinesReadWhole) {
  const std::string file = "# one\nr1\nr2\n# three\nr3\n";
  struct Case {
    std::size_t end;
    std::size_t most;
    std::string expected;
  };
  const Case cases[] = {
      {0, 4096, ""},
      {9, 4096, rule_object("one", "r1")},
      // A line counts once its newline is read: "r2" alone is no line.
      {11, 4096, rule_object("one", "r1")},
      {12, 4096, rule_object("one", "r1") + "," + rule_object("", "r2")},
      {12, 1, rule_object("one", "r1") + "," + rule_object("", "r2")},
      {file.size() - 1, 3, rule_object("one", "r1") + "," + rule_object("", "r2")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.end);
    flaky = {c.end, c.most};
    Collected result = collect_with(file, false, flaky_read);
    EXPECT_FALSE(result.whole);
    EXPECT_EQ(result.out, c.expected);
  }
}

TEST(RuleCollector, ReadErrorInALineLongerThanTheBufferClosesItsObject) {
  // The line streams out as it is read; its object ends with the bytes read before the
  // failure, and stays valid JSON.
  const std::string long_line(1 << 20, 'x');
  flaky = {3 + (1 << 19), 1 << 16};
  Collected result = collect_with("r\n" + long_line + "\n", false, flaky_read);
  EXPECT_FALSE(result.whole);
  EXPECT_EQ(result.out,
            rule_object("", "r") + "," + rule_object("", std::string((1 << 19) + 1, 'x')));
}

TEST(RuleCollector, FileCutShortBetweenTheTwoReadsOfALongLineStaysValidJson) {
  // A rule line whose first byte comes after 1 MiB of blanks is read once to its newline,
  // then cut before it is read again to be written.
  const std::string long_line = std::string(1 << 20, ' ') + "x";
  flaky = {1000, std::size_t{1} << 30, true, 1 << 20};
  Collected result = collect_with(long_line + "\n", true, flaky_read);
  EXPECT_FALSE(result.whole);
  EXPECT_TRUE(flaky.cut);
  EXPECT_TRUE(json_valid("[0" + result.out + "]")) << result.out.substr(0, 100);
}

TEST(RuleCollector, CommentNameLimitIsMeasuredEscaped) {
  std::string fits(997, 'n');
  fits += '"';  // 999 characters once escaped
  std::string too_long(998, 'n');
  too_long += '\\';  // 1000 characters once escaped
  EXPECT_EQ(collect("# " + fits + "\nr\n"), rule_object(std::string(997, 'n') + "\\\"", "r"));
  EXPECT_EQ(collect("# " + too_long + "\nr\n"), rule_object("", "r"));
  EXPECT_EQ(collect("#" + std::string(999, 'n') + "\nr\n"),
            rule_object(std::string(999, 'n'), "r"));
  EXPECT_EQ(collect("#" + std::string(1000, 'n') + "\nr\n"), rule_object("", "r"));
}

TEST(RuleCollector, ReadsAndEscapesLinesOfAnyLengthWhole) {
  std::string line;
  for (int i = 0; i < 60000; ++i) line += "a\"\\";
  std::string escaped;
  for (int i = 0; i < 60000; ++i) escaped += "a\\\"\\\\";
  EXPECT_EQ(collect(line + "\n" + line), rule_object("", escaped) + "," + rule_object("", escaped));
}

using Rules = std::vector<RuleObject>;

// The rule objects of the collector's output, decoded; the output must be valid JSON
// made of nothing else.
Rules written_rules(const std::string& written) {
  EXPECT_TRUE(json_valid("[" + written + "]"));
  std::optional<Rules> rules = read_rule_objects(written);
  EXPECT_TRUE(rules) << "output that is no rule object";
  return rules.value_or(Rules{});
}

// Random files, with lines that cross the reader's chunk boundaries, give valid JSON
// whose decoded objects say exactly what the lines say.
TEST(RuleCollector, OutputDecodesToTheLinesRead) {
  std::mt19937 random(20261207);
  const std::string alphabet = std::string("ab #\\\"\t\r\x01\x7f\xc3", 11);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    std::string file;
    int lines = static_cast<int>(random() % 400);
    for (int l = 0; l < lines; ++l) {
      std::size_t length = random() % 8 == 0 ? random() % 300000 : random() % 40;
      for (std::size_t k = 0; k < length; ++k) file += alphabet[random() % alphabet.size()];
      if (l + 1 < lines || random() % 2) file += '\n';
    }
    EXPECT_EQ(written_rules(collect(file)), rules_of_lines(file));
  }
}

constexpr std::size_t kBuffer = std::size_t{1} << 18;  // the collector's read buffer

// A line carried to the front of the buffer, at every offset around a read: short reads
// put a read boundary at every byte of a small file, and lines of about the buffer's
// size start and end around its end. The rules are those of the whole file.
TEST(RuleCollector, CarriedLinesGiveTheWholeFileAnswer) {
  const std::string small = "# n1\nr1 \n\n  #  n2 \nr2\t\n#\n\t r3 \n# n4\nx ";
  for (std::size_t most = 1; most < 10; ++most) {
    SCOPED_TRACE(most);
    flaky = {small.size() + 1, most};
    Collected result = collect_with(small, false, flaky_read);
    EXPECT_TRUE(result.whole);
    EXPECT_EQ(written_rules(result.out), rules_of_lines(small));
  }
  // A rule, a comment whose name comes after the buffer's length of blanks, and a rule
  // whose first byte does.
  const std::function<std::string(std::size_t)> kinds[] = {
      [](std::size_t n) { return "r" + std::string(n - 1, 'a'); },
      [](std::size_t n) { return "#" + std::string(n - 5, ' ') + "name"; },
      [](std::size_t n) { return std::string(n - 1, ' ') + "r"; },
  };
  for (std::size_t lead = kBuffer - 3; lead <= kBuffer + 1; ++lead) {
    for (std::size_t length = kBuffer - 1; length <= kBuffer + 1; ++length) {
      for (const auto& kind : kinds) {
        for (const char* end : {"\nnext\n", " "}) {
          std::string file = "# first\n" + std::string(lead - 9, 'f') + "\n" + kind(length) + end;
          SCOPED_TRACE(testing::Message() << lead << " " << length << " " << file[lead]);
          EXPECT_EQ(written_rules(collect(file)), rules_of_lines(file));
        }
      }
    }
  }
}

// Reads that give fewer bytes than asked and fail at their n-th call.
struct CountedReads {
  int fail_at = 0;
  int calls = 0;
  std::size_t served = 0;  // the end of the bytes read
};
CountedReads counted;

ssize_t counted_read(int fd, void* buffer, std::size_t size, off_t offset) {
  if (++counted.calls == counted.fail_at) {
    errno = EIO;
    return -1;
  }
  ssize_t n = pread(fd, buffer, std::min<std::size_t>(size, 100000), offset);
  if (n > 0) counted.served = static_cast<std::size_t>(offset + n);
  return n;
}

// Whichever read fails, every line that fits the buffer is written whole or not at all:
// the lines read to their newline, and nothing of the one being read.
TEST(RuleCollector, FailedReadAtEachReadCutsNoObject) {
  std::string file;
  for (std::size_t length : {std::size_t{10}, std::size_t{100000}, std::size_t{5}, kBuffer - 1,
                             std::size_t{7}, kBuffer - 2, std::size_t{1}, std::size_t{200000}}) {
    file += "# n\nr" + std::string(length - 1, 'a') + "\n";
  }
  for (int fail_at = 1;; ++fail_at) {
    SCOPED_TRACE(fail_at);
    counted = {fail_at};
    Collected result = collect_with(file, false, counted_read);
    if (result.whole) break;
    std::size_t read_whole = file.rfind('\n', counted.served - 1);
    std::string_view lines = read_whole == std::string::npos || counted.served == 0
                                 ? std::string_view()
                                 : std::string_view(file).substr(0, read_whole + 1);
    EXPECT_EQ(written_rules(result.out), rules_of_lines(lines));
    ASSERT_LT(fail_at, 100);
  }
}

// --new-only: a raw text already in the set, or met earlier, gives no object however it
// is read, and the name above it goes with it. A rule whose written raw would be longer
// than the scanner takes back is left out and told.
TEST(RuleCollector, NewOnlyPassesOverRawsMetBefore) {
  const std::string file = "old\n# n\nnew\nnew\n# m\nold\nx\ncaf\xe9\nlast ";
  const Rules expected = {{"n", "new"}, {"", "x"}, {"", "last"}};
  for (std::size_t most : {kBuffer * 2, std::size_t{3}}) {
    SCOPED_TRACE(most);
    RuleSet seen;
    add_rule(seen, hash_raw("old"));
    add_rule(seen, hash_raw("caf\xc3\xa9"));  // as \u00e9 is read back
    add_rule(seen, hash_raw("last "));        // the final space of the last line goes
    flaky = {file.size() + 1, most};
    Collected result = collect_with(file, false, flaky_read, &seen);
    EXPECT_TRUE(result.whole);
    EXPECT_FALSE(result.file.long_rules);
    EXPECT_EQ(written_rules(result.out), expected);
  }
  struct Case {
    std::string line;
    bool merged;
  };
  const Case cases[] = {
      {std::string(8191, 'a'), true},
      {std::string(8192, 'a'), false},
      {std::string(4095, '\\') + "a", true},  // 8191 bytes written
      {std::string(4096, '\\'), false},
      {std::string(1365, '\x01') + "a", true},  // \u0001 each
      {std::string(1366, '\x01'), false},
      {std::string(1365, '\xe9') + "a", true},
      {std::string(1366, '\xe9'), false},
      {"r" + std::string(kBuffer + 10, 'x'), false},
      {std::string(kBuffer + 3, ' ') + "q", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line.size());
    RuleSet seen;
    Collected result = collect_with("# n\n" + c.line + "\nr\n", false, pread, &seen);
    Rules merged = {{"", "r"}};
    if (c.merged) merged = rules_of_lines("# n\n" + c.line + "\nr\n");
    EXPECT_EQ(result.file.long_rules, !c.merged);
    EXPECT_EQ(written_rules(result.out), merged);
  }
}

// A long line streams out in pieces: a character cut between two pieces is written whole.
TEST(RuleCollector, CharacterCutBetweenTwoReadsIsWrittenWhole) {
  for (std::size_t at = kBuffer - 4; at <= kBuffer; ++at) {
    SCOPED_TRACE(at);
    std::string line = "r" + std::string(at - 1, 'a') + "\xe2\x82\xac\xf0\x9f\x98\x80\xe9" +
                       std::string(kBuffer, 'b');
    flaky = {line.size() + 2, kBuffer / 2 + 1};
    Collected result = collect_with(line + "\n", false, flaky_read);
    EXPECT_EQ(written_rules(result.out), rules_of_lines(line));
  }
}

// A file whose first block holds a zero byte, or that begins as an archive or a
// compressed file does, is not text.
TEST(RuleCollector, TellsBinaryFilesByTheirFirstBlock) {
  std::string tar(600, 'a');
  tar.replace(257, 5, "ustar");
  struct Case {
    std::string head;
    bool binary;
  };
  const Case cases[] = {
      {"alert tcp any any -> any 22\n", false},
      {"caf\xe9 \xc3\xa9 \xff\xfe\n", false},
      {std::string("r\n\0", 3), true},
      {std::string(kFirstBlock - 1, 'a') + std::string(1, '\0'), true},
      {std::string(kFirstBlock, 'a') + std::string(1, '\0'), false},
      {"\x1f\x8b\x08", true},
      {"BZh91AY&SY", true},
      {"BZh9\x17\x72\x45\x38\x50\x90", true},
      {"BZh91AY&SX", false},
      {"BZh is no rule", false},
      {std::string("\xfd"
                   "7zXZ\0",
                   6),
       true},
      {"\x28\xb5\x2f\xfd", true},
      {"PK\x03\x04", true},
      {"PK\x05\x06", true},
      {"PK\x07\x08", true},
      {"PK is no zip", false},
      {tar, true},
      {tar.substr(0, 261), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.head));
    Collected result = collect_with(c.head, false, pread);
    EXPECT_EQ(result.file.binary, c.binary);
    EXPECT_TRUE(result.whole);
    EXPECT_TRUE(!c.binary || result.out.empty());
  }
}

}  // namespace
