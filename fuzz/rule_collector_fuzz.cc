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

namespace {

int rule_file = -1;

struct Rule {
  std::string name;
  std::string raw;
};

std::vector<Rule> expected_rules(std::string_view file) {
  std::vector<Rule> rules;
  std::string name;
  while (!file.empty()) {
    std::size_t newline = file.find('\n');
    std::size_t length = newline == std::string_view::npos ? file.size() : newline + 1;
    std::string_view line = file.substr(0, length);
    file.remove_prefix(length);
    if (line.ends_with('\n') || line.ends_with(' ')) line.remove_suffix(1);
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string_view::npos) {
      name.clear();
    } else if (line[start] == '#') {
      std::string_view comment = line.substr(start + 1);
      comment.remove_prefix(std::min(comment.size(), comment.find_first_not_of(" \t")));
      std::size_t escaped = comment.size();
      for (char c : comment) escaped += c == '\\' || c == '"';
      name = escaped <= 999 ? std::string(comment) : std::string();
    } else {
      rules.push_back({name, std::string(line)});
      name.clear();
    }
  }
  return rules;
}

// Reads the JSON string that starts at `at` (just past its opening quote) and decodes it.
std::string read_string(std::string_view out, std::size_t& at) {
  std::size_t end = at;
  while (end < out.size() && out[end] != '"') end += out[end] == '\\' ? 2 : 1;
  expect(end < out.size(), "string is closed", out);
  std::optional<std::string> decoded = json_decode_string(out.substr(at, end - at));
  expect(decoded.has_value(), "string decodes", out.substr(at, end - at));
  at = end + 1;
  return *decoded;
}

void expect_literal(std::string_view out, std::size_t& at, std::string_view literal) {
  expect(out.substr(at, literal.size()) == literal, "rule object has its fixed parts",
         out.substr(at, 200));
  at += literal.size();
}

std::vector<Rule> written_rules(std::string_view out) {
  std::vector<Rule> rules;
  std::size_t at = 0;
  while (at < out.size()) {
    if (!rules.empty()) expect_literal(out, at, ",");
    Rule rule;
    expect_literal(out, at, "{\"name\":\"");
    rule.name = read_string(out, at);
    expect_literal(out, at, ",\"enabled\":false,\"raw\":\"");
    rule.raw = read_string(out, at);
    expect_literal(out, at, "}");
    rules.push_back(std::move(rule));
  }
  return rules;
}

void expect_same_rules(const std::vector<Rule>& written, const std::vector<Rule>& expected,
                       std::string_view out) {
  expect(written.size() == expected.size(), "one object per rule line", out);
  for (std::size_t i = 0; i < written.size(); ++i) {
    expect(written[i].raw == expected[i].raw, "raw is the rule line", written[i].raw);
    expect(written[i].name == expected[i].name, "name is the comment above", written[i].name);
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
  return expected_rules(file.substr(0, last_newline + 1));
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

  expect_same_rules(written_rules(first), expected_rules(file), first);

  {
    Capture out;
    RuleWriter writer = make_rule_writer(out.file, false);
    RuleSet seen;
    expect(collect_file_rules(rule_file, writer, pread, &seen), "a whole file reads whole", file);
    std::string unique = out.take();
    std::vector<Rule> expected;
    std::set<std::string> raws;
    for (Rule& rule : expected_rules(file)) {
      if (raws.insert(rule.raw).second) expected.push_back(std::move(rule));
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
