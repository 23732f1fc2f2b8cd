// Fuzzes the rule collector with any bytes as one rule file. The rule objects must read
// as JSON inside a rule array, whether or not they are the array's first elements, and
// each object's name and raw text, decoded, must be what the file's lines say: a rule
// line is everything but its final newline or space; its name is the comment line right
// above it, less the `#` and the blanks after it, unless that name escaped is longer
// than 999 characters. When reading fails part-way, exactly the rules of the lines read
// up to their newline are written. With --new-only's set, each raw text is written once,
// the first time it comes.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <set>
#include <vector>

#include "fuzz_support.h"
#include "json_check.h"
#include "rule_collector.h"
#include "rule_objects.h"

namespace {

int rule_file = -1;

using Rule = RuleObject;  // name, raw

std::vector<Rule> written_rules(std::string_view out) {
  std::optional<std::vector<Rule>> rules = read_rule_objects(out);
  expect(rules.has_value(), "the output is rule objects and nothing else", out.substr(0, 200));
  return *rules;
}

void expect_same_rules(const std::vector<Rule>& written, const std::vector<Rule>& expected,
                       std::string_view out) {
  expect(written.size() == expected.size(), "one object per rule line", out);
  for (std::size_t i = 0; i < written.size(); ++i) {
    expect(written[i].second == expected[i].second, "raw is the rule line", written[i].second);
    expect(written[i].first == expected[i].first, "name is the comment above", written[i].first);
  }
}

std::string collect(std::string_view file, bool needs_comma) {
  Capture out;
  RuleWriter writer = make_rule_writer(out.file, needs_comma);
  expect(collect_file_rules(rule_file, writer), "a whole file reads whole", file);
  std::string written = out.take();
  expect(writer.needs_comma == (needs_comma || !written.empty()),
         "the writer tells whether a value stands before the next object", file);
  return written;
}

// The file as a read call sees it that fails from `failure_offset` on, giving at most
// `most_per_read` bytes at a time before.
std::size_t failure_offset = 0;
std::size_t most_per_read = 1;

ssize_t failing_read(int fd, void* buffer, std::size_t size, off_t offset) {
  auto at = static_cast<std::size_t>(offset);
  if (at >= failure_offset) {
    errno = EIO;
    return -1;
  }
  return pread(fd, buffer, std::min({size, most_per_read, failure_offset - at}), offset);
}

// The rules of the lines whose newline comes before `end`: what a read failing at `end`
// may write.
std::vector<Rule> rules_before(std::string_view file, std::size_t end) {
  std::size_t last_newline = file.substr(0, end).rfind('\n');
  if (last_newline == std::string_view::npos) return {};
  return rules_of_lines(file.substr(0, last_newline + 1));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rule_file = memfd_create("rules", MFD_CLOEXEC);
  if (rule_file < 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view file = as_text(data, size);
  if (ftruncate(rule_file, 0) != 0) std::abort();
  if (size > 0 && pwrite(rule_file, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

  std::string first = collect(file, false);
  std::string later = collect(file, true);
  expect(later == (first.empty() ? "" : "," + first), "a later rule differs only by its comma",
         later);
  expect(json_valid(R"({"enabled":false,"rule":[)" + first + "]}"), "first rules read as JSON",
         first);
  expect(json_valid(R"({"rule":[{"name":"a"})" + later + "]}"), "later rules read as JSON", later);

  expect_same_rules(written_rules(first), rules_of_lines(file), first);

  {
    Capture out;
    RuleWriter writer = make_rule_writer(out.file, false);
    RuleSet seen;
    expect(collect_file_rules(rule_file, writer, pread, &seen), "a whole file reads whole", file);
    std::string unique = out.take();
    std::vector<Rule> expected;
    std::set<std::string> raws;
    for (Rule& rule : rules_of_lines(file)) {
      if (raws.insert(rule.second).second) expected.push_back(std::move(rule));
    }
    expect_same_rules(written_rules(unique), expected, unique);
  }

  // A read error part-way: only the lines read whole, up to their newline, are written.
  if (size > 0) {
    failure_offset = std::size_t{data[0]} * size / 256;
    most_per_read = 1 + data[size - 1] % 64;
    Capture out;
    RuleWriter writer = make_rule_writer(out.file, false);
    expect(!collect_file_rules(rule_file, writer, failing_read), "a read error is told");
    std::string partial = out.take();
    expect_same_rules(written_rules(partial), rules_before(file, failure_offset), partial);
  }
  return 0;
}
