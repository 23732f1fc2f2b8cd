// The manual pages against the programs: they lint clean and render, and they name the
// options, exit statuses and messages that --help and the programs really have.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "file_text.h"
#include "process.h"

namespace {

struct Program {
  std::string name;
  std::string binary;
};

const std::vector<Program>& programs() {
  static const std::vector<Program> list = {{"rule-merge", RULE_MERGE_BINARY},
                                            {"iftable-json", IFTABLE_JSON_BINARY}};
  return list;
}

std::string page_path(const std::string& name) {
  return std::string(MAN_DIR) + "/" + name + ".1";
}

// Every manual page, the library's included.
std::vector<std::string> all_pages() {
  std::vector<std::string> pages;
  for (const Program& program : programs()) pages.push_back(page_path(program.name));
  pages.push_back(std::string(MAN_DIR) + "/nametree.3");
  return pages;
}

// The arguments of a macro line, split at blanks outside double quotes.
std::vector<std::string> macro_arguments(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t i = line.find(' ');
  while (i != std::string_view::npos && i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == line.size()) break;
    std::string argument;
    if (line[i] == '"') {
      ++i;
      while (i < line.size() && line[i] != '"') argument += line[i++];
      ++i;
    } else {
      while (i < line.size() && line[i] != ' ') argument += line[i++];
    }
    arguments.push_back(argument);
  }
  return arguments;
}

// Text as printed: font changes dropped, the escapes used in the pages decoded.
std::string unescape(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      plain += text[i];
      continue;
    }
    char next = text[++i];
    if (next == 'f') {
      ++i;  // \fB, \fI, \fR, \fP
    } else if (next == '(') {
      std::string_view name = text.substr(i + 1, 2);
      plain += name == "dq" ? "\"" : name == "aq" ? "'" : "?";
      i += 2;
    } else if (next == 'e') {
      plain += '\\';
    } else if (next != '&') {
      plain += next;  // \- and the like
    }
  }
  return plain;
}

// One roff line as printed text: a macro's arguments joined (with blanks for .B and .I,
// without for the alternating font macros), plain text as it stands.
std::string plain_line(std::string_view line) {
  if (line.empty() || line[0] != '.') return unescape(line);
  std::string macro(line.substr(
      1, line.find(' ') == std::string_view::npos ? std::string_view::npos : line.find(' ') - 1));
  std::string joined;
  for (const std::string& argument : macro_arguments(line)) {
    if (!joined.empty() && macro.size() == 1) joined += ' ';
    joined += argument;
  }
  return unescape(joined);
}

// The lines of the section headed `title`, up to the next heading.
std::vector<std::string> section(const std::string& page, const std::string& title) {
  std::vector<std::string> lines;
  std::istringstream in(page);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    if (line.starts_with(".SH ")) {
      std::vector<std::string> heading = macro_arguments(line);
      inside = heading.size() == 1 && heading[0] == title;
      continue;
    }
    if (inside) lines.push_back(line);
  }
  return lines;
}

// The tag lines of a section's .TP entries, as roff.
std::vector<std::string> tags(const std::vector<std::string>& lines) {
  std::vector<std::string> found;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i] == ".TP") found.push_back(lines[i + 1]);
  }
  return found;
}

// A message tag as a pattern: bold text stands for itself, italic text for any text.
std::regex message_pattern(const std::string& tag) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  std::vector<std::string> arguments = macro_arguments(tag);
  bool alternating = tag.starts_with(".BI ");
  std::string pattern;
  for (std::size_t k = 0; k < arguments.size(); ++k) {
    if (alternating && k % 2 == 1) {
      pattern += ".+";
    } else {
      if (!alternating && k > 0) pattern += ' ';
      pattern += std::regex_replace(unescape(arguments[k]), special, R"(\$&)");
    }
  }
  return std::regex(pattern);
}

std::set<std::string> options_in(const std::string& text) {
  static const std::regex option(R"((?:^|[\s\[|,])(--?[A-Za-z][-A-Za-z]*))");
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
    found.insert((*it)[1]);
  }
  return found;
}

std::set<int> numbers_in(const std::string& text) {
  static const std::regex number(R"(\b\d+\b)");
  std::set<int> found;
  for (std::sregex_iterator it(text.begin(), text.end(), number), end; it != end; ++it) {
    found.insert(std::stoi((*it)[0]));
  }
  return found;
}

std::set<int> page_exit_statuses(const std::string& name) {
  std::set<int> statuses;
  for (const std::string& tag : tags(section(read_file(page_path(name)), "EXIT STATUS"))) {
    statuses.insert(std::stoi(plain_line(tag)));
  }
  return statuses;
}

TEST(ManPage, LintsCleanWithGroff) {
  std::string groff = find_program("groff");
  if (groff.empty()) SKIP_UNLESS_CI("groff is not installed (Debian package groff-base)");
  for (const std::string& page : all_pages()) {
    SCOPED_TRACE(page);
    ProcessResult result = run_process({groff, "-man", "-ww", "-z", page});
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(ManPage, LintsCleanWithMandoc) {
  std::string mandoc = find_program("mandoc");
  if (mandoc.empty()) SKIP_UNLESS_CI("mandoc is not installed (Debian package mandoc)");
  for (const std::string& page : all_pages()) {
    SCOPED_TRACE(page);
    ProcessResult result = run_process({mandoc, "-T", "lint", page});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(ManPage, RendersWithMan) {
  std::string man = find_program("man");
  if (man.empty()) SKIP_UNLESS_CI("man is not installed (Debian package man-db)");
  for (const Program& program : programs()) {
    SCOPED_TRACE(program.name);
    RunOptions options;
    options.env = {"MANWIDTH=80", "MANPAGER=cat", "PAGER=cat", "LC_ALL=C.UTF-8"};
    ProcessResult result = run_process({man, "-l", page_path(program.name)}, options);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    std::string title;
    for (char c : program.name) title += static_cast<char>(std::toupper(c));
    title += "(1)";
    std::string first_line = result.out.substr(0, result.out.find('\n'));
    EXPECT_TRUE(first_line.starts_with(title) && first_line.ends_with(title)) << first_line;
    // Justification may widen the blanks of the NAME line.
    EXPECT_TRUE(std::regex_search(result.out, std::regex("\nNAME\n +" + program.name + " +- ")));
  }
}

TEST(ManPage, NamesTheOptionsOfHelp) {
  for (const Program& program : programs()) {
    SCOPED_TRACE(program.name);
    ProcessResult help = run_process({program.binary, "--help"});
    ASSERT_EQ(help.status, 0);
    std::set<std::string> help_options = options_in(help.out);
    EXPECT_TRUE(help_options.contains("--help"));

    std::string page = read_file(page_path(program.name));
    std::string described;
    for (const std::string& tag : tags(section(page, "OPTIONS")))
      described += plain_line(tag) + "\n";
    EXPECT_EQ(options_in(described), help_options);

    std::string synopsis;
    for (const std::string& line : section(page, "SYNOPSIS")) synopsis += plain_line(line) + " ";
    EXPECT_EQ(options_in(synopsis), help_options);
  }
}

TEST(ManPage, NamesTheExitStatusesOfHelp) {
  for (const Program& program : programs()) {
    SCOPED_TRACE(program.name);
    ProcessResult help = run_process({program.binary, "--help"});
    ASSERT_EQ(help.status, 0);
    std::size_t start = help.out.find("Exit status");
    if (start == std::string::npos) continue;  // this --help names no status
    std::string paragraph = help.out.substr(start, help.out.find("\n\n", start) - start);
    EXPECT_EQ(numbers_in(paragraph), page_exit_statuses(program.name)) << paragraph;
  }
}

// One run of a program: what it must write on standard error and the status it ends with.
struct Fault {
  std::string program;
  std::vector<std::string> arguments;
  std::string input;
  std::string err;
  int status;
  std::string stdout_path = "";
  std::string link_target = "";  // when set, tmp/gone is a symbolic link to it
};

std::vector<Fault> faults() {
  std::string rm = "rule-merge";
  std::string ij = "iftable-json";
  std::string walk17;
  for (int row = 1; row <= 17; ++row) {
    walk17 += "iso.3.6.1.2.1.2.2.1.1." + std::to_string(row) + " = INTEGER: 1\n";
  }
  return {
      {rm, {}, "", "", 0},
      {rm, {"--help"}, "", "", 0},
      {rm, {std::string(20, '{')}, "", "level goes above 20 at 19\n", 1},
      {rm, {"{\"a\":\"" + std::string(8192, 'x') + "\"}"}, "", "too long string value at 6\n", 1},
      {rm, {"{\"a"}, "", "impaired quotes at 2\n", 1},
      {rm, {"{\"a\":1}}"}, "", "level goes below zero at 7\n", 1},
      {rm,
       {"{\"" + std::string(40, 'n') + "\":1}"},
       "",
       "too long name " + std::string(40, 'n') + " at 43\n",
       1},
      {rm, {"{\"a\":" + std::string(51, '1') + "}"}, "", "too long integer value at 55\n", 1},
      {rm, {"{\"a\":\"a\\\\\"b\"}"}, "", "unexpected character b at 10\n", 1},
      {rm, {"{\"a\":{}"}, "", "level remained 1\n", 1},
      {rm, {"\"a\":1"}, "", "no enclosing object at 3\n", 1},
      {rm, {}, "", "failed to open tmp/gone\n", 2, "", "nowhere"},
      // Opens like a file, but its first page cannot be read.
      {rm, {}, "", "failed to read tmp/gone\n", 2, "", "/proc/self/mem"},
      {rm, {}, "", "skipped binary file tmp/gone\n", 2, "", "/proc/self/exe"},
      {rm, {"--bogus"}, "", "unknown option --bogus\n", 1},
      {rm, {"-o"}, "", "usage: rule-merge [-o file] [--] [document]\n", 1},
      {rm, {"-o", "out.json", "{\"a\":1}"}, "", "no rule array in the document\n", 1},
      {rm, {"-o", "missing/out.json"}, "", "failed to write missing/out.json\n", 1},
      {rm, {}, "", "write error\n", 1, "/dev/full"},
      {ij, {}, "", "", 0},
      {ij, {"--version"}, "", "", 0},
      {ij, {"-q"}, "", "unknown -q\n", 255},
      {ij, {"-p"}, "", "unknown -p\n", 255},
      {ij, {"-m", "0"}, "", "bad row limit 0\n", 255},
      {ij, {}, walk17, "Too many rows\n", 1},
      {ij, {}, "IF-MIB::ifDescr.1 = eth0\n", "no interface table line in the walk\n", 0},
      {ij, {}, "", "write error\n", 1, "/dev/full"},
  };
}

// Messages that only a failing machine gives (memory, a broken standard input); their
// own suites reach them.
// Not run here; rule-merge's own tests give "too long rule for -n in" (it needs a rule file).
const std::set<std::string> kNotRunHere = {"No more memory", "no more memory at line:column",
                                           "read error", "too long rule for -n in path"};

TEST(ManPage, ListsEveryMessageAndStatusTheProgramGives) {
  std::vector<Fault> cases = faults();
  for (const Program& program : programs()) {
    SCOPED_TRACE(program.name);
    std::string page = read_file(page_path(program.name));
    std::vector<std::string> messages = tags(section(page, "DIAGNOSTICS"));
    std::set<int> statuses = page_exit_statuses(program.name);
    std::set<std::string> messages_seen;
    std::set<int> statuses_seen;
    for (const Fault& fault : cases) {
      if (fault.program != program.name) continue;
      std::string trace = fault.err;
      for (const std::string& argument : fault.arguments) trace += " " + argument.substr(0, 60);
      SCOPED_TRACE(trace);
      ScratchDir dir;
      if (!fault.link_target.empty()) {
        dir.make_dir("tmp");
        ASSERT_EQ(symlink(fault.link_target.c_str(), (dir.path + "/tmp/gone").c_str()), 0);
      }
      std::vector<std::string> argv = {program.binary};
      argv.insert(argv.end(), fault.arguments.begin(), fault.arguments.end());
      RunOptions options;
      options.cwd = dir.path;
      options.input = fault.input;
      options.stdout_path = fault.stdout_path;
      ProcessResult result = run_process(argv, options);
      EXPECT_EQ(result.err, fault.err);
      EXPECT_EQ(result.status, fault.status);

      EXPECT_TRUE(statuses.contains(result.status)) << "EXIT STATUS lacks " << result.status;
      statuses_seen.insert(result.status);
      if (fault.err.empty()) continue;
      std::string message = fault.err.substr(0, fault.err.size() - 1);
      bool listed = false;
      for (const std::string& tag : messages) {
        if (std::regex_match(message, message_pattern(tag))) {
          listed = true;
          messages_seen.insert(plain_line(tag));
        }
      }
      EXPECT_TRUE(listed) << "DIAGNOSTICS lacks " << message;
    }
    // Nothing listed that the program never gives.
    EXPECT_EQ(statuses_seen, statuses);
    for (const std::string& tag : messages) {
      std::string text = plain_line(tag);
      EXPECT_TRUE(messages_seen.contains(text) || kNotRunHere.contains(text))
          << "no case gives the listed message " << text;
    }
  }
}

TEST(Install, PutsProgramsLibraryAndPagesInPlace) {
  ScratchDir prefix;
  ProcessResult result =
      run_process({CMAKE_COMMAND, "--install", BUILD_DIR, "--prefix", prefix.path});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::string lib = LIBDIR;
  for (const std::string& file : std::vector<std::string>{
           "bin/rule-merge", "bin/iftable-json", "share/man/man1/rule-merge.1.gz",
           "share/man/man1/iftable-json.1.gz", "share/man/man3/nametree.3.gz",
           "include/nametree/name_tree.h", "include/nametree/markup_reader.h",
           "include/nametree/fault.h", "include/nametree/markup_writer.h", lib + "/libnametree.a",
           lib + "/libnametree.so", lib + "/libnametree.so.1", lib + "/pkgconfig/nametree.pc",
           "share/doc/rule-tools/copyright", "share/doc/libnametree-dev/copyright",
           lib + "/cmake/NameTree/NameTreeConfig.cmake",
           lib + "/cmake/NameTree/NameTreeConfigVersion.cmake",
           lib + "/cmake/NameTree/NameTreeTargets.cmake"}) {
    SCOPED_TRACE(file);
    struct stat st;
    ASSERT_EQ(stat((prefix.path + "/" + file).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    if (file.starts_with("bin/")) {
      EXPECT_TRUE(st.st_mode & S_IXUSR);
    }
  }
}

}  // namespace
