// Fuzzes the rule collector with any bytes as one rule file. The rule objects must read
// as JSON inside a rule array, whether or not they are the array's first elements, and
// each object's name and raw text, decoded, must be what the file's lines say: a rule
// line is everything but its final newline or space; its name is the comment line right
// above it, less the `#` and the blanks after it, unless that name escaped is longer
// than 999 characters. When reading fails part-way, exactly the rules of the lines read
// up to their newline are written. With --new-only's set, each raw text is written once,
// the first time it comes, unless it is written longer than the scanner takes back. The
// lines are read after a first block of text; the input alone is read too, to tell
// whether it is a binary file.
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

// The first block of every file the checks read: comment lines, so that no byte of the
// input makes the file binary.
const std::string kTextBlock = [] {
  std::string block;
  while (block.size() < kFirstBlock) block += "#\n";
  return block;
}();

// True when the bytes begin as a binary file does: a zero byte in the first block, or
// the magic bytes of an archive or a compressed file.
bool looks_binary(std::string_view file) {
  std::string_view block = file.substr(0, kFirstBlock);
  constexpr std::string_view kMagics[] = {"\x1f\x8b",
                                          std::string_view("\xfd"
                                                           "7zXZ\0",
                                                           6),
                                          "\x28\xb5\x2f\xfd",
                                          "PK\x03\x04",
                                          "PK\x05\x06",
                                          "PK\x07\x08"};
  bool bzip2 = block.size() >= 10 && block.starts_with("BZh") && block[3] >= '1' &&
               block[3] <= '9' &&
               (block.substr(4, 6) == "1AY&SY" || block.substr(4, 6) == "\x17\x72\x45\x38\x50\x90");
  return block.find('\0') != std::string_view::npos || bzip2 ||
         (block.size() >= 262 && block.substr(257, 5) == "ustar") ||
         std::any_of(std::begin(kMagics), std::end(kMagics),
                     [&](std::string_view magic) { return block.starts_with(magic); });
}

void put_file(std::string_view file) {
  if (ftruncate(rule_file, 0) != 0) std::abort();
  if (!file.empty() &&
      pwrite(rule_file, file.data(), file.size(), 0) != static_cast<ssize_t>(file.size())) {
    std::abort();
  }
}

// The lengths of the raw texts in `out` as written, escapes included.
std::vector<std::size_t> written_raw_lengths(std::string_view out) {
  std::vector<std::size_t> lengths;
  constexpr std::string_view kRawHead = "\",\"enabled\":false,\"raw\":\"";
  for (std::size_t at = out.find(kRawHead); at != std::string_view::npos;
       at = out.find(kRawHead, at)) {
    at += kRawHead.size();
    std::size_t end = at;
    while (out[end] != '"') end += out[end] == '\\' ? 2 : 1;
    lengths.push_back(end - at);
    at = end;
  }
  return lengths;
}

std::string collect(std::string_view file, bool needs_comma) {
  Capture out;
  RuleWriter writer = make_rule_writer(out.file, needs_comma);
  expect(collect_file_rules(rule_file, writer).whole, "a whole file reads whole", file);
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
  std::string_view input = as_text(data, size);
  {
    put_file(input);
    Capture out;
    RuleWriter writer = make_rule_writer(out.file, false);
    FileRules read = collect_file_rules(rule_file, writer);
    std::string written = out.take();
    expect(read.binary == looks_binary(input), "a binary file is told by its first block", input);
    expect(!read.binary || written.empty(), "nothing of a binary file is merged", written);
  }
  const std::string text = kTextBlock + std::string(input);
  std::string_view file = text;
  put_file(file);

  std::string first = collect(file, false);
  std::string later = collect(file, true);
  expect(later == (first.empty() ? "" : "," + first), "a later rule differs only by its comma",
         later);
  expect(json_valid(R"({"enabled":false,"rule":[)" + first + "]}"), "first rules read as JSON",
         first);
  expect(json_valid(R"({"rule":[{"name":"a"})" + later + "]}"), "later rules read as JSON", later);
  expect(utf8_valid(first), "rules are UTF-8", first);

  std::vector<Rule> all = rules_of_lines(file);
  expect_same_rules(written_rules(first), all, first);

  {
    Capture out;
    RuleWriter writer = make_rule_writer(out.file, false);
    RuleSet seen;
    FileRules read = collect_file_rules(rule_file, writer, pread, &seen);
    expect(read.whole, "a whole file reads whole", file);
    std::string unique = out.take();
    std::vector<std::size_t> lengths = written_raw_lengths(first);
    expect(lengths.size() == all.size(), "one written raw per rule", first);
    std::vector<Rule> expected;
    std::set<std::string> raws;
    bool long_rules = false;
    for (std::size_t i = 0; i < all.size(); ++i) {
      if (lengths[i] > kMaxNewOnlyRaw) {
        long_rules = true;
      } else if (raws.insert(all[i].second).second) {
        expected.push_back(std::move(all[i]));
      }
    }
    expect(read.long_rules == long_rules, "rules too long to read back are told", unique);
    expect_same_rules(written_rules(unique), expected, unique);
  }

  // A read error part-way: only the lines read whole, up to their newline, are written.
  if (size > 0) {
    failure_offset = kTextBlock.size() + std::size_t{data[0]} * size / 256;
    most_per_read = 1 + data[size - 1] % 64;
    Capture out;
    RuleWriter writer = make_rule_writer(out.file, false);
    expect(!collect_file_rules(rule_file, writer, failing_read).whole, "a read error is told");
    std::string partial = out.take();
    expect_same_rules(written_rules(partial), rules_before(file, failure_offset), partial);
  }
  return 0;
}
