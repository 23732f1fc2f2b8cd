// Tests for reading rule-merge's command line.
#include "command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Read {
  std::optional<CommandLine> line;
  std::string err;
};

Read read(std::vector<const char*> args) {
  args.insert(args.begin(), "rule-merge");
  std::vector<Fault> faults;
  Read r;
  r.line = read_command_line(static_cast<int>(args.size()), args.data(), faults);
  for (const Fault& fault : faults) {
    EXPECT_EQ(fault.kind, FaultKind::kCommandLine);
    r.err += fault.message;
  }
  return r;
}

TEST(CommandLine, FindsTheDocumentAndTheOutputFile) {
  struct Case {
    std::vector<const char*> args;
    std::string document;
    std::string output;  // empty: none
  };
  const Case cases[] = {
      {{}, "", ""},
      {{"{}"}, "{}", ""},
      {{"-o", "f", "{}"}, "{}", "f"},
      {{"{}", "-o", "f"}, "{}", "f"},
      {{"--output", "f"}, "", "f"},
      {{"--output=f=g"}, "", "f=g"},
      {{"-o", "-x"}, "", "-x"},  // the file name is taken as it stands
      {{"-o", "a", "-o", "b"}, "", "b"},
      {{"--", "-o"}, "-o", ""},
      {{"{}", "--", "-o"}, "{}", ""},
      {{"-", "{}"}, "-", ""},
      {{"-1"}, "-1", ""},
      {{"", "{}"}, "", ""},  // an empty first document is the default one
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Read r = read(c.args);
    ASSERT_TRUE(r.line);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.line->action, CommandLine::kMerge);
    EXPECT_EQ(r.line->document, c.document);
    EXPECT_EQ(r.line->output.value_or(""), c.output);
  }
}

TEST(CommandLine, HelpAndVersionEndTheReading) {
  EXPECT_EQ(read({"-h", "--bogus"}).line->action, CommandLine::kHelp);
  EXPECT_EQ(read({"{}", "--help"}).line->action, CommandLine::kHelp);
  EXPECT_EQ(read({"--version", "-o"}).line->action, CommandLine::kVersion);
  EXPECT_EQ(read({"--", "--help"}).line->action, CommandLine::kMerge);
}

TEST(CommandLine, RefusesWhatItDoesNotKnow) {
  const std::string usage = "usage: rule-merge [-o file] [--] [document]\n";
  struct Case {
    std::vector<const char*> args;
    std::string err;
  };
  const Case cases[] = {
      {{"-x"}, "unknown option -x\n"},
      {{"--x"}, "unknown option --x\n"},
      {{"---"}, "unknown option ---\n"},
      {{"--out", "f"}, "unknown option --out\n"},
      {{"-of"}, "unknown option -of\n"},
      {{"--\x1b[2J"}, "unknown option --\\x1b[2J\n"},
      {{"--a\\nb"}, "unknown option --a\\\\nb\n"},
      {{"-o"}, usage},
      {{"-o", ""}, usage},
      {{"--output"}, usage},
      {{"--output="}, usage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Read r = read(c.args);
    EXPECT_FALSE(r.line);
    EXPECT_EQ(r.err, c.err);
  }
}

}  // namespace
