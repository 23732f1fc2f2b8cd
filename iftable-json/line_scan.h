// How snmpwalk's lines carry values: where a line's value begins and ends, and which
// lines go on with the value of the line before them. snmpwalk writes a STRING that
// holds a newline over several lines inside its quotes, and a Hex-STRING of more than
// 16 bytes over several lines of hex pairs; those lines are parts of one value, never
// lines of the walk of their own. A STRING printed without quotes (a DisplayString with
// the MIB modules loaded) goes on over the lines that do not look like lines of the walk.
//
// A line is read by feeding its bytes in pieces of any size, so that a line of any
// length can be looked at without being held whole.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

// What a line leaves open for the next one.
enum class OpenValue : std::uint8_t {
  kNone,
  kString,      // a quoted STRING whose closing quote has not come yet
  kHex,         // a Hex-STRING: lines of hex pairs that follow belong to it
  kBareString,  // a STRING without quotes: lines that do not look like walk lines follow it
};

enum class LineKind : std::uint8_t {
  kWalkLine,    // "<oid> = <TYPE>: <value>", or any other text
  kStringPart,  // a further line of a STRING value
  kHexPart,     // a further line of a Hex-STRING value
  kBarePart,    // a further line of a STRING written without quotes
};

inline constexpr std::uint64_t kNoColon = std::numeric_limits<std::uint64_t>::max();

// Where things are in one line, as offsets from its start.
struct LineShape {
  LineKind kind = LineKind::kWalkLine;
  std::uint64_t colon = kNoColon;  // a walk line's first ": ", or kNoColon
  // A walk line whose value is a quoted STRING, in which snmpwalk writes '"' and '\' as
  // \" and \\.
  bool string_value = false;
  bool integer_value = false;  // a walk line whose value is an INTEGER
  // The value, for a walk line with a colon and for a part; the line ending is never in it.
  // A STRING's quotes are left out, and so are blanks and carriage returns after the
  // closing one; a hex part starts at its first pair.
  std::uint64_t value_begin = 0;
  std::uint64_t value_end = 0;
  OpenValue next = OpenValue::kNone;  // what the line leaves open for the next one
};

// The reading of one line so far.
struct LineScanner {
  OpenValue before = OpenValue::kNone;
  std::uint64_t size = 0;  // bytes fed
  char last = 0;           // the last two bytes fed, to find the line ending
  char second_last = 0;

  // Whether the line can still be a further line of a Hex-STRING.
  bool hex_part = false;
  std::uint8_t hex_digits = 0;  // in the pair being read
  bool hex_seen_pair = false;
  bool hex_seen_cr = false;
  std::uint64_t hex_first = kNoColon;  // offset of the first pair

  // Whether the line looks like a line of the walk: its first blank, within the first
  // kWalkLookWindow bytes, followed by "= ". Followed only after a STRING without quotes.
  enum class Look : std::uint8_t { kBlank, kEquals, kSpace, kWalk, kPart };
  Look look = Look::kWalk;

  // A walk line: the header up to the first ": ", then the value.
  enum class Stage : std::uint8_t { kHeader, kValueFirst, kValue, kDone };
  Stage stage = Stage::kHeader;
  bool colon_pending = false;  // the last byte fed was a ':' still in the header
  char tail[13] = {};          // the header's last bytes fed, oldest first (a type and ':')
  std::uint8_t tail_size = 0;
  std::uint64_t colon = kNoColon;
  bool string_value = false;
  bool integer_value = false;
  bool hex_value = false;
  bool quoted = false;
  bool track_quotes = false;  // a quoted STRING, or a further line of one
  std::uint64_t text_begin = 0;

  // Unescaped quotes in a STRING value: a '"' after an even run of backslashes.
  bool odd_backslashes = false;
  std::uint64_t last_quote = kNoColon;
  bool only_blanks_after_quote = false;
};

// Where the first blank of a line must lie for the line to look like a line of the walk.
inline constexpr std::uint64_t kWalkLookWindow = 256;

// True when the first blank of the whole line `line` lies within kWalkLookWindow bytes
// and "= " follows it: the shape of "<oid> = ...".
inline bool looks_like_walk_line(std::string_view line) {
  std::size_t blank = line.substr(0, kWalkLookWindow).find(' ');
  return blank != std::string_view::npos && line.substr(blank + 1).starts_with("= ");
}

// Starts the reading of a line that follows one leaving `before` open.
LineScanner scan_start(OpenValue before);

// Takes the next bytes of the line, its line feed included when it has one.
void scan_feed(LineScanner& scanner, std::string_view bytes);

// The shape of the line whose bytes have all been fed.
LineShape scan_finish(const LineScanner& scanner);

// The shape of a whole line.
LineShape scan_line(std::string_view line, OpenValue before);

// Whether a whole line that follows one leaving `before` open is a line of the walk of
// its own, as its first byte already shows; false when only a closer look can tell.
inline bool surely_walk_line(std::string_view line, OpenValue before) {
  if (before == OpenValue::kNone) return true;
  if (before == OpenValue::kBareString) return looks_like_walk_line(line);
  // A further line of a Hex-STRING starts with a hex digit, a blank or its line ending.
  if (before != OpenValue::kHex || line.empty()) return false;
  char c = line[0];
  bool hex_digit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
  return !hex_digit && c != ' ' && c != '\t' && c != '\r' && c != '\n';
}

// What a whole line of the walk leaves open, as scan_line(line, OpenValue::kNone).next
// finds it, read only up to its first ": " and, in a quoted STRING, up to its first
// unescaped quote: the cheap reading for the many lines that are not kept.
OpenValue walk_line_next(std::string_view line);

// The number of an enumeration that snmpwalk writes with its label, "label(n)"; any
// other value as it is.
std::string_view enumeration_number(std::string_view value);
