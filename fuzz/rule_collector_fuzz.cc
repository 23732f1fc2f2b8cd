// Fuzzes the rule collector with any bytes as one rule file. The rule objects must read
// as JSON inside a rule array, whether or not they are the array's first elements, and
// each object's name and raw text, decoded, must be what the file's lines say: a rule
// line is everything but its final newline or space; its name is the comment line right
// above it, less the `#` and the blanks after it, unless that name escaped is longer
// than 999 characters.
#include <sys/mman.h>
#include <unistd.h>

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

std::string collect(std::string_view file, bool first_rule) {
  if (lseek(rule_file, 0, SEEK_SET) != 0) std::abort();
  Capture out;
  bool after = collect_file_rules(rule_file, first_rule, out.file);
  std::string written = out.take();
  expect(after == (first_rule && written.empty()),
         "the flag returned tells whether a rule was written", file);
  return written;
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

  std::string first = collect(file, true);
  std::string later = collect(file, false);
  expect(later == (first.empty() ? "" : "," + first), "a later rule differs only by its comma",
         later);
  expect(json_valid(R"({"enabled":false,"rule":[)" + first + "]}"), "first rules read as JSON",
         first);
  expect(json_valid(R"({"rule":[{"name":"a"})" + later + "]}"), "later rules read as JSON", later);

  std::vector<Rule> expected = expected_rules(file);
  std::vector<Rule> written = written_rules(first);
  expect(written.size() == expected.size(), "one object per rule line", first);
  for (std::size_t i = 0; i < written.size(); ++i) {
    expect(written[i].raw == expected[i].raw, "raw is the rule line", written[i].raw);
    expect(written[i].name == expected[i].name, "name is the comment above", written[i].name);
  }
  return 0;
}
