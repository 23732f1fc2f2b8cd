// Tests for the rule collector's line handling: naming, escaping, leading blanks,
// whole lines of any length, and the JSON the objects form.
#include "rule_collector.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "json_check.h"

namespace {

// What one run of the collector over a file wrote, and whether it read the file whole.
struct Collected {
  std::string out;
  bool whole = false;
};

Collected collect_with(const std::string& content, bool needs_comma, ReadAt read_at,
                       RuleSet* seen = nullptr) {
  FILE* file = std::tmpfile();
  std::fwrite(content.data(), 1, content.size(), file);
  std::fflush(file);
  char* buffer = nullptr;
  std::size_t size = 0;
  FILE* out = open_memstream(&buffer, &size);
  RuleWriter writer = make_rule_writer(out, needs_comma);
  Collected result;
  result.whole = collect_file_rules(fileno(file), writer, read_at, seen);
  std::fclose(out);
  std::fclose(file);
  result.out.assign(buffer, size);
  std::free(buffer);
  return result;
}

// Runs the collector over `content` as one file and returns what it wrote.
std::string collect(const std::string& content, bool needs_comma = false) {
  Collected result = collect_with(content, needs_comma, pread);
  EXPECT_TRUE(result.whole);
  return result.out;
}

std::string rule(std::string_view name, std::string_view raw) {
  return "{\"name\":\"" + std::string(name) + "\",\"enabled\":false,\"raw\":\"" + std::string(raw) +
         "\"}";
}

TEST(RuleCollector, TurnsLinesIntoNamedRuleObjects) {
  struct Case {
    std::string file;
    std::string expected;
  };
  const Case cases[] = {
      {"# ssh\nalert tcp any any -> any 22\nalert udp any any -> any 53\n",
       rule("ssh", "alert tcp any any -> any 22") + "," + rule("", "alert udp any any -> any 53")},
      // Leading blanks stay in raw though they are skipped to classify the line.
      {"  drop \"x\"\n", rule("", "  drop \\\"x\\\"")},
      {"#\t  name here\nr\n", rule("name here", "r")},
      // A blank line, or another rule, clears the pending name; the last comment wins.
      {"# a\n\nr1\n# b\n# c\nr2\nr3\n",
       rule("", "r1") + "," + rule("c", "r2") + "," + rule("", "r3")},
      {"# a\n  \t \nr\n", rule("", "r")},
      {"   # indented comment\nr\n", rule("indented comment", "r")},
      {"#\nr\n", rule("", "r")},
      // Exactly one final newline or space goes; a carriage return stays, escaped.
      {"r  \n", rule("", "r  ")},
      {"r  ", rule("", "r ")},
      {"r ", rule("", "r")},
      {"r", rule("", "r")},
      {"r\r\n", rule("", "r\\r")},
      {"# n\r\nr\r\n", rule("n\\r", "r\\r")},
      {"\r\n", rule("", "\\r")},
      // Backslashes are escaped before quotes.
      {"a\\\"b\n", rule("", "a\\\\\\\"b")},
      {"# q\"\\\nr\n", rule("q\\\"\\\\", "r")},
      // Bytes below 0x20 become JSON escapes; bytes from 0x20 up are written as read.
      {std::string("a\x01\x08\x0c\x1f\x7f\xff", 7) + std::string(1, '\0') + "z\n",
       rule("", "a\\u0001\\b\\f\\u001f\x7f\xff\\u0000z")},
      {"\tr\tx\n", rule("", "\\tr\\tx")},
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
  EXPECT_FALSE(collect_file_rules(fd, writer));
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
      {9, 4096, rule("one", "r1")},
      // A line counts once its newline is read: "r2" alone is no line.
      {11, 4096, rule("one", "r1")},
      {12, 4096, rule("one", "r1") + "," + rule("", "r2")},
      {12, 1, rule("one", "r1") + "," + rule("", "r2")},
      {file.size() - 1, 3, rule("one", "r1") + "," + rule("", "r2")},
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
  EXPECT_EQ(result.out, rule("", "r") + "," + rule("", std::string((1 << 19) + 1, 'x')));
}

TEST(RuleCollector, FileCutShortBetweenTheTwoReadsOfALongLineStaysValidJson) {
  // With --new-only a long line is read once to its newline at 1 MiB, then cut before it
  // is read again to be written.
  const std::string long_line(1 << 20, 'x');
  flaky = {1000, std::size_t{1} << 30, true, 1 << 20};
  RuleSet seen;
  Collected result = collect_with(long_line + "\n", true, flaky_read, &seen);
  EXPECT_FALSE(result.whole);
  EXPECT_TRUE(flaky.cut);
  EXPECT_TRUE(json_valid("[0" + result.out + "]")) << result.out.substr(0, 100);
}

TEST(RuleCollector, CommentNameLimitIsMeasuredEscaped) {
  std::string fits(997, 'n');
  fits += '"';  // 999 characters once escaped
  std::string too_long(998, 'n');
  too_long += '\\';  // 1000 characters once escaped
  EXPECT_EQ(collect("# " + fits + "\nr\n"), rule(std::string(997, 'n') + "\\\"", "r"));
  EXPECT_EQ(collect("# " + too_long + "\nr\n"), rule("", "r"));
  EXPECT_EQ(collect("#" + std::string(999, 'n') + "\nr\n"), rule(std::string(999, 'n'), "r"));
  EXPECT_EQ(collect("#" + std::string(1000, 'n') + "\nr\n"), rule("", "r"));
}

TEST(RuleCollector, ReadsAndEscapesLinesOfAnyLengthWhole) {
  std::string line;
  for (int i = 0; i < 60000; ++i) line += "a\"\\";
  std::string escaped;
  for (int i = 0; i < 60000; ++i) escaped += "a\\\"\\\\";
  EXPECT_EQ(collect(line + "\n" + line), rule("", escaped) + "," + rule("", escaped));
}

// The position of the quote that closes the JSON string starting at `start`.
std::size_t string_end(const std::string& json, std::size_t start) {
  std::size_t i = start;
  while (i < json.size() && json[i] != '"') i += json[i] == '\\' ? 2 : 1;
  return i;
}

// Random files, with lines that cross the reader's chunk boundaries, give valid JSON
// whose decoded objects say exactly what the lines say.
TEST(RuleCollector, OutputDecodesToTheLinesRead) {
  std::mt19937 random(20261207);
  const std::string alphabet = std::string("ab #\\\"\t\r\x01\x7f\xc3", 11);
  for (int round = 0; round < 20; ++round) {
    std::string file;
    std::vector<std::pair<std::string, std::string>> expected;  // name, raw
    std::string pending;
    int lines = static_cast<int>(random() % 400);
    for (int l = 0; l < lines; ++l) {
      std::size_t length = random() % 8 == 0 ? random() % 300000 : random() % 40;
      std::string text;
      for (std::size_t k = 0; k < length; ++k) text += alphabet[random() % alphabet.size()];
      bool last = l + 1 == lines;
      bool newline = !last || random() % 2;
      file += text;
      if (newline) file += '\n';
      // What the line must give: one final newline or space removed.
      std::string whole =
          newline ? text
                  : (text.empty() || text.back() != ' ' ? text : text.substr(0, text.size() - 1));
      std::size_t start = whole.find_first_not_of(" \t");
      if (start == std::string::npos) {
        pending.clear();
      } else if (whole[start] == '#') {
        std::size_t name_start = whole.find_first_not_of(" \t", start + 1);
        std::string name = name_start == std::string::npos ? "" : whole.substr(name_start);
        std::size_t escaped_length = name.size();
        for (char ch : name) escaped_length += ch == '"' || ch == '\\';
        pending = escaped_length <= 999 ? name : "";
      } else {
        expected.emplace_back(pending, whole);
        pending.clear();
      }
    }
    std::string out = "[" + collect(file) + "]";
    ASSERT_TRUE(json_valid(out)) << "round " << round;
    std::size_t position = 1;
    for (const auto& [name, raw] : expected) {
      SCOPED_TRACE(round);
      const std::string name_key = "{\"name\":\"";
      const std::string raw_key = "\",\"enabled\":false,\"raw\":\"";
      ASSERT_EQ(out.compare(position, name_key.size(), name_key), 0);
      std::size_t name_start = position + name_key.size();
      std::size_t name_end = string_end(out, name_start);
      ASSERT_EQ(out.compare(name_end, raw_key.size(), raw_key), 0);
      std::size_t raw_start = name_end + raw_key.size();
      std::size_t raw_end = string_end(out, raw_start);
      EXPECT_EQ(json_decode_string(out.substr(name_start, name_end - name_start)), name);
      EXPECT_EQ(json_decode_string(out.substr(raw_start, raw_end - raw_start)), raw);
      ASSERT_EQ(out[raw_end + 1], '}');
      position = raw_end + 2 + (out[raw_end + 2] == ',' ? 1 : 0);
    }
    EXPECT_EQ(position, out.size() - 1);
  }
}

}  // namespace
