#include "rule_objects.h"

#include <algorithm>

#include "json_check.h"

std::string rule_object(std::string_view name, std::string_view raw) {
  return "{\"name\":\"" + std::string(name) + "\",\"enabled\":false,\"raw\":\"" + std::string(raw) +
         "\"}";
}

namespace {

// The text as a JSON string written for it stands for: each byte that is not part of
// valid UTF-8 read as Latin-1.
std::string as_written(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t length = 1;
    while (length <= 4 && !utf8_valid(text.substr(i, length))) ++length;
    if (length <= 4 && i + length <= text.size()) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    auto c = static_cast<unsigned char>(text[i++]);
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
  return out;
}

}  // namespace

std::vector<RuleObject> rules_of_lines(std::string_view file) {
  std::vector<RuleObject> rules;
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
      name = escaped <= 999 ? as_written(comment) : std::string();
    } else {
      rules.emplace_back(name, as_written(line));
      name.clear();
    }
  }
  return rules;
}

namespace {

// Passes over `literal` at `at`; false when it is not there.
bool take(std::string_view text, std::size_t& at, std::string_view literal) {
  if (text.substr(at, literal.size()) != literal) return false;
  at += literal.size();
  return true;
}

// Reads the JSON string that starts at `at` (just past its opening quote) and decodes it.
std::optional<std::string> take_string(std::string_view text, std::size_t& at) {
  std::size_t end = at;
  while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
  if (end >= text.size()) return std::nullopt;
  std::optional<std::string> decoded = json_decode_string(text.substr(at, end - at));
  at = end + 1;
  return decoded;
}

}  // namespace

std::optional<std::vector<RuleObject>> read_rule_objects(std::string_view written) {
  std::vector<RuleObject> rules;
  std::size_t at = 0;
  while (at < written.size()) {
    if (!rules.empty() && !take(written, at, ",")) return std::nullopt;
    if (!take(written, at, "{\"name\":\"")) return std::nullopt;
    std::optional<std::string> name = take_string(written, at);
    if (!name || !take(written, at, ",\"enabled\":false,\"raw\":\"")) return std::nullopt;
    std::optional<std::string> raw = take_string(written, at);
    if (!raw || !take(written, at, "}")) return std::nullopt;
    rules.emplace_back(std::move(*name), std::move(*raw));
  }
  return rules;
}
