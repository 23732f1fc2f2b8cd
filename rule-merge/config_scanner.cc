// The configuration scanner: a single pass over the document with a level stack of the
// last member name read at each nesting level and the tree node made for it.
#include "config_scanner.h"

#include <algorithm>
#include <array>
#include <new>
#include <string>
#include <vector>

#include "json_string.h"
#include "text_escape.h"

using nametree::TreeNode;

namespace {

constexpr int kMaxLevels = 20;              // the top level and at most 19 nested objects
constexpr std::size_t kMaxNameLength = 39;  // longest member name kept on the level stack
constexpr std::size_t kMaxNumberLength = 50;

struct LevelEntry {
  std::string name;          // the last member name read at this level
  TreeNode* node = nullptr;  // the tree node made for that name
  bool raw = false;          // with `find_raws`: that name means `raw` in JSON
};

// A `raw` member whose value is one string: the string's text between its quotes, as
// written, and the level of the object that holds the member.
struct RawMember {
  std::size_t begin = 0;
  std::size_t end = 0;
  int level = 0;
};

struct Scanner {
  std::string_view text;
  std::size_t cursor = 0;
  std::vector<Fault>* faults = nullptr;
  std::array<LevelEntry, kMaxLevels> levels;
  int level = 0;
  std::string token;               // the last string, number or literal read
  char previous_structural = ' ';  // the last of { } , : handled
  ScanResult result;
  // Kept only with `find_raws`, for the raws already in the rule array:
  bool find_raws = false;
  bool token_is_string = false;
  std::size_t string_begin = 0;  // the last string's text, between its quotes
  std::size_t string_end = 0;
  std::size_t colon = 0;  // the last `:`
  // The `[` still open at levels 1 and 2.
  std::array<std::vector<std::size_t>, 2> open_brackets;
  std::vector<RawMember> raws;
  std::size_t rule_array_open = 0;
  int insertion_level = 0;
};

// Adds the fault "<what> at <offset>"; returns false, as the scan stops there.
bool refuse(Scanner& s, std::string_view what, std::size_t offset) {
  s.faults->push_back(
      {FaultKind::kDocument, std::string(what) + " at " + std::to_string(offset) + "\n"});
  return false;
}

// Adds the fault "<what><text> at <offset>", the text shown as messages show it.
bool refuse_showing(Scanner& s, std::string_view what, std::string_view text, std::size_t offset) {
  s.faults->push_back(
      fault_showing(FaultKind::kDocument, what, text, " at " + std::to_string(offset) + "\n"));
  return false;
}

// Adds a node named `name` under the node of the enclosing level and records it at
// this level. When the node cannot be added, the level keeps the enclosing node.
// An object opened without a member name before it (`{{"a":1}}`) has no node of its
// own; its members then hang under the nearest enclosing level that has one.
void add_member_node(Scanner& s, const std::string& name) {
  int parent_level = s.level - 1;
  while (!s.levels[static_cast<std::size_t>(parent_level)].node) --parent_level;
  TreeNode* parent = s.levels[static_cast<std::size_t>(parent_level)].node;
  TreeNode* node = nametree::tree_append_child(*s.result.tree, *parent, name);
  if (!node) s.faults->push_back({FaultKind::kNoMemory, "no more memory at 1:0\n"});
  s.levels[static_cast<std::size_t>(s.level)].node = node ? node : parent;
}

// Reads a string token; the cursor stands on the opening quote. A quote preceded by an
// odd run of backslashes is escaped and does not end the string. In the token `\"`
// becomes `"` and `\\` becomes `\`; every other escape stays as written. The text is
// read in segments that end at each escaped quote, each checked against the room left
// in the token buffer.
bool read_string(Scanner& s) {
  s.token.clear();
  std::size_t segment = s.cursor + 1;
  std::size_t i = segment;
  std::size_t backslashes = 0;
  for (;; ++i) {
    if (i == s.text.size()) return refuse(s, "impaired quotes", segment);
    char c = s.text[i];
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      bool escaped = backslashes % 2 == 1;
      std::size_t length = i - segment;
      std::size_t room = kTokenBufferSize - s.token.size();
      // The final segment must also leave room for the terminator.
      if (length > room || (!escaped && length == room)) {
        return refuse(s, "too long string value", segment);
      }
      // Copy the segment, decoding the two escapes that stand for themselves.
      for (std::size_t k = segment; k < i; ++k) {
        char d = s.text[k];
        if (d == '\\' && k + 1 < i && s.text[k + 1] == '\\') {
          s.token += '\\';
          ++k;
        } else if (d == '\\' && k + 1 == i) {
          s.token += '"';  // the backslash of the escaped quote
        } else {
          s.token += d;
        }
      }
      if (!escaped) break;
      segment = i + 1;
    }
    backslashes = 0;
  }
  s.token_is_string = true;
  s.string_begin = s.cursor + 1;
  s.string_end = i;
  s.cursor = i + 1;
  return true;
}

// Reads a number token: an optional `-`, then every digit or `.` that follows.
bool read_number(Scanner& s) {
  s.token.clear();
  s.token_is_string = false;
  std::size_t i = s.cursor;
  if (s.text[i] == '-') {
    s.token += '-';
    ++i;
  }
  while (i < s.text.size() && ((s.text[i] >= '0' && s.text[i] <= '9') || s.text[i] == '.')) {
    if (s.token.size() == kMaxNumberLength) return refuse(s, "too long integer value", i);
    s.token += s.text[i];
    ++i;
  }
  s.cursor = i;
  return true;
}

bool scan_open_object(Scanner& s) {
  if (s.level > kMaxLevels - 2) return refuse(s, "level goes above 20", s.cursor);
  if (s.previous_structural == ',') {
    // A further object of an array: a fresh sibling carrying the array member's name.
    if (s.level == 0) return refuse(s, "no enclosing object", s.cursor);
    add_member_node(s, s.levels[static_cast<std::size_t>(s.level)].name);
  }
  ++s.level;
  s.previous_structural = '{';
  ++s.cursor;
  return true;
}

bool only_blanks(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; });
}

// Keeps a `raw` member of an object at level 2 or 3 whose whole value is one string.
void note_raw(Scanner& s) {
  if (!s.token_is_string || (s.level != 2 && s.level != 3) ||
      !s.levels[static_cast<std::size_t>(s.level)].raw || s.string_begin <= s.colon ||
      !only_blanks(s.text.substr(s.colon + 1, s.string_begin - 1 - (s.colon + 1))) ||
      !only_blanks(s.text.substr(s.string_end + 1, s.cursor - (s.string_end + 1)))) {
    return;
  }
  s.raws.push_back({s.string_begin, s.string_end, s.level});
}

bool scan_member_end(Scanner& s, char c) {
  if (s.previous_structural == ':') {
    if (s.find_raws) note_raw(s);
    LevelEntry& entry = s.levels[static_cast<std::size_t>(s.level)];
    if (!s.token.empty() && !nametree::tree_set_value(*s.result.tree, *entry.node, s.token)) {
      throw std::bad_alloc();
    }
    // A `name` member at the second level: the rule array already holds named rules.
    if (s.level == 2 && nametree::node_name(*entry.node) == "name") s.result.first_rule = false;
  }
  if (c == '}') {
    --s.level;
    if (s.level < 0) return refuse(s, "level goes below zero", s.cursor);
    s.token.clear();
  }
  s.previous_structural = c;
  ++s.cursor;
  return true;
}

bool scan_name(Scanner& s) {
  if (s.token.size() > kMaxNameLength)
    return refuse_showing(s, "too long name ", s.token, s.cursor);
  if (s.level == 0) return refuse(s, "no enclosing object", s.cursor);
  LevelEntry& entry = s.levels[static_cast<std::size_t>(s.level)];
  entry.name = s.token;
  if (s.find_raws) {
    // The name as JSON reads it: "r\u0061w" is `raw` too.
    std::string meant;
    entry.raw =
        s.token_is_string &&
        decode_json_string(s.text.substr(s.string_begin, s.string_end - s.string_begin), meant) &&
        meant == "raw";
  }
  add_member_node(s, s.token);
  s.token.clear();
  s.token_is_string = false;
  s.colon = s.cursor;
  s.previous_structural = ':';
  ++s.cursor;
  return true;
}

bool scan_literal(Scanner& s) {
  constexpr std::string_view kLiterals[] = {"null", "true", "false"};
  std::string_view rest = s.text.substr(s.cursor);
  for (std::string_view word : kLiterals) {
    if (rest.starts_with(word)) {
      s.token.assign(word);
      s.token_is_string = false;
      s.cursor += word.size();
      return true;
    }
  }
  return false;
}

// Follows the brackets at levels 1 and 2, to know where the rule array opens. Returns
// where the array a `]` closes was opened; a `]` that closes nothing opens an empty
// array where it stands.
std::size_t note_bracket(Scanner& s, char c) {
  if (s.level != 1 && s.level != 2) return s.cursor;
  std::vector<std::size_t>& open = s.open_brackets[static_cast<std::size_t>(s.level - 1)];
  if (c == '[') {
    open.push_back(s.cursor);
    return s.cursor;
  }
  if (open.empty()) return s.cursor;
  std::size_t opened = open.back();
  open.pop_back();
  return opened;
}

bool scan_character(Scanner& s) {
  char c = s.text[s.cursor];
  switch (c) {
    case '[':
    case ']': {
      std::size_t opened = s.find_raws ? note_bracket(s, c) : 0;
      if (c == ']' && (s.level == 1 || (s.level == 2 && s.result.first_rule))) {
        s.result.insertion_point = s.cursor;  // the last qualifying bracket wins
        s.insertion_level = s.level;
        s.rule_array_open = opened;
      }
      ++s.cursor;
      return true;
    }
    case '{':
      return scan_open_object(s);
    case '"':
      return read_string(s);
    case '}':
    case ',':
      return scan_member_end(s, c);
    case ':':
      return scan_name(s);
    case '-':
    case '0':
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9':
      return read_number(s);
    default:
      break;
  }
  if (scan_literal(s)) return true;
  if (c == ' ' || c == '\n') {
    ++s.cursor;
    return true;
  }
  // A tab or a carriage return is shown escaped, so the message stays one line.
  return refuse_showing(s, "unexpected character ", std::string_view(&c, 1), s.cursor);
}

}  // namespace

std::optional<ScanResult> scan_config(std::string_view document, std::vector<Fault>& faults,
                                      bool find_raws) {
  Scanner s;
  s.text = document;
  s.faults = &faults;
  s.find_raws = find_raws;
  s.result.tree = nametree::tree_create();
  if (!s.result.tree) {
    faults.push_back({FaultKind::kNoMemory, "No more memory\n"});
    return std::nullopt;
  }
  s.levels[0].node = &nametree::tree_root(*s.result.tree);
  s.token.reserve(kTokenBufferSize);
  while (s.cursor < s.text.size()) {
    if (!scan_character(s)) return std::nullopt;
  }
  if (s.level > 0) {
    faults.push_back({FaultKind::kDocument, "level remained " + std::to_string(s.level) + "\n"});
    return std::nullopt;
  }
  if (s.result.insertion_point) {
    std::string decoded;
    for (const RawMember& raw : s.raws) {
      // A string with an escape JSON does not have cannot equal a rule line's raw.
      if (raw.level == s.insertion_level + 1 && raw.begin > s.rule_array_open &&
          raw.end < *s.result.insertion_point &&
          decode_json_string(document.substr(raw.begin, raw.end - raw.begin), decoded)) {
        s.result.rule_raws.push_back(decoded);
      }
    }
  }
  return std::move(s.result);
}

bool value_precedes(std::string_view document, std::size_t insertion_point) {
  std::size_t i = insertion_point;
  while (i > 0 && (document[i - 1] == ' ' || document[i - 1] == '\n')) --i;
  if (i == 0) return false;
  char c = document[i - 1];
  return c != '[' && c != '{' && c != ',' && c != ':';
}
