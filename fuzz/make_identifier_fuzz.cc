// Fuzzes make_identifier with any name. The result holds at most 254 characters, is
// terminated in its buffer, and is what the derivation gives: the "rsrvd_" prefix for a
// reserved word, "undescore_" or "camel_" for a name without `-` that holds an `_` or an
// upper-case letter, then the name with `-` as `_` and each upper-case letter as `_` and
// its lower case, stopped once 253 characters are reached.
#include <algorithm>
#include <string>

#include "fuzz_support.h"
#include "identifier.h"

namespace {

constexpr std::string_view kReserved[] = {
    "abstract", "as",          "async",  "await",  "become", "box",    "break",    "const",
    "continue", "crate",       "do",     "dyn",    "else",   "enum",   "extern",   "false",
    "final",    "fn",          "for",    "if",     "impl",   "in",     "let",      "loop",
    "macro",    "macro_rules", "match",  "mod",    "move",   "mut",    "override", "priv",
    "pub",      "ref",         "return", "self",   "static", "struct", "super",    "trait",
    "true",     "try",         "type",   "typeof", "union",  "unsafe", "unsized",  "use",
    "virtual",  "where",       "while",  "yield",
};
static_assert(std::size(kReserved) == 52);

std::string derive(std::string_view name) {
  std::string result;
  if (std::find(std::begin(kReserved), std::end(kReserved), name) != std::end(kReserved))
    result = "rsrvd_";
  bool upper = std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
  if (name.find('-') == std::string_view::npos) {
    if (name.find('_') != std::string_view::npos) {
      result += "undescore_";
    } else if (upper) {
      result += "camel_";
    }
  }
  for (char c : name) {
    if (result.size() >= 253) break;
    if (c == '-') {
      result += '_';
    } else if (c >= 'A' && c <= 'Z') {
      result += '_';
      result += static_cast<char>(c + ('a' - 'A'));
    } else {
      result += c;
    }
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view name = as_text(data, size);
  std::string_view result = make_identifier(name);
  expect(result.size() <= 254, "at most 254 characters", result);
  expect(result.data()[result.size()] == '\0', "the result is terminated");
  expect(result == derive(name), "the derivation rules", result);
  expect(std::none_of(result.begin(), result.end(),
                      [](char c) { return c == '-' || (c >= 'A' && c <= 'Z'); }),
         "no '-' or upper-case letter is left");
  return 0;
}
