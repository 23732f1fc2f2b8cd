// The rule writer: writes disabled rule objects {"name":…,"enabled":false,"raw":…} into
// a rule array, escaping their text for JSON and separating them with commas.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

struct RuleWriter {
  FILE* out = nullptr;
  // True when a value already stands in the array before the next object, which then
  // needs a leading comma.
  bool needs_comma = false;
  // Objects are gathered here and written out in large pieces.
  std::unique_ptr<char[]> buffer;
  std::size_t used = 0;
  // The first bytes of a character that the last piece of text ended inside.
  char pending[4] = {};
  std::size_t pending_size = 0;
};

// The longest piece of text `write_raw` escapes in one go; longer text is cut into such
// pieces, so the writer's memory is fixed whatever the length of a rule.
constexpr std::size_t kRawPieceSize = std::size_t{1} << 16;

RuleWriter make_rule_writer(FILE* out, bool needs_comma);

// Writes the head of a rule object, up to the opening quote of its raw text. The name is
// given as read and is escaped here.
void begin_rule(RuleWriter& writer, std::string_view name);
// Writes the next piece of the raw text, escaped. A character may be cut between two
// pieces: it is written whole once the next piece completes it.
void write_raw(RuleWriter& writer, std::string_view text);
// Closes the object; every later object takes a leading comma.
void end_rule(RuleWriter& writer);
// Writes out what the writer holds: after it, every object begun is on the stream.
void flush_rules(RuleWriter& writer);
