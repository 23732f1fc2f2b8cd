// Reading the shape of snmpwalk's lines piece by piece.
#include "line_scan.h"

#include <algorithm>
#include <cstring>

namespace {

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// A further line of a Hex-STRING holds only pairs of hex digits between blanks, at
// least one pair, and ends with a line feed, a carriage return and a line feed, or
// the end of the input.
void check_hex_part(LineScanner& s, std::string_view bytes, std::uint64_t base) {
  for (std::size_t i = 0; i < bytes.size() && s.hex_part; ++i) {
    char c = bytes[i];
    if (s.hex_seen_cr && c != '\n') {
      s.hex_part = false;
    } else if (is_hex_digit(c)) {
      if (s.hex_digits == 2) s.hex_part = false;
      if (s.hex_first == kNoColon) s.hex_first = base + i;
      ++s.hex_digits;
    } else if (is_blank(c) || c == '\r' || c == '\n') {
      if (s.hex_digits == 1) s.hex_part = false;
      if (s.hex_digits == 2) s.hex_seen_pair = true;
      s.hex_digits = 0;
      if (c == '\r') s.hex_seen_cr = true;
    } else {
      s.hex_part = false;
    }
  }
}

// Takes the header's bytes into the tail, keeping as many of the last as it holds.
void keep_tail(LineScanner& s, std::string_view bytes) {
  for (char c : bytes.substr(bytes.size() - std::min(bytes.size(), sizeof s.tail))) {
    if (s.tail_size == sizeof s.tail) {
      std::memmove(s.tail, s.tail + 1, sizeof s.tail - 1);
      --s.tail_size;
    }
    s.tail[s.tail_size++] = c;
  }
}

// The first ": " is found at `colon`, and `before` holds the bytes just before its
// colon (up to 12): the type written there decides how the value is read.
void header_found(LineScanner& s, std::uint64_t colon, std::string_view before) {
  s.colon = colon;
  s.string_value = before.ends_with("= STRING");
  s.integer_value = before.ends_with("= INTEGER");
  s.hex_value = before.ends_with("= Hex-STRING");
  s.stage = s.string_value ? LineScanner::Stage::kValueFirst : LineScanner::Stage::kDone;
}

// Looks for the first ": " in the header; returns the index in `bytes` just past it,
// or bytes.size() when the header goes on.
std::size_t find_colon(LineScanner& s, std::string_view bytes, std::uint64_t base) {
  if (s.colon_pending) {
    s.colon_pending = false;
    if (bytes[0] == ' ') {
      header_found(s, base - 1, std::string_view(s.tail, s.tail_size - 1u));
      return 1;
    }
  }
  std::size_t i = 0;
  while (i < bytes.size()) {
    const void* found = std::memchr(bytes.data() + i, ':', bytes.size() - i);
    if (!found) break;
    std::size_t j = static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data());
    if (j + 1 == bytes.size()) {
      s.colon_pending = true;
      break;
    }
    if (bytes[j + 1] == ' ') {
      char before[12];
      std::size_t from_bytes = std::min<std::size_t>(j, sizeof before);
      std::size_t from_tail = std::min<std::size_t>(s.tail_size, sizeof before - from_bytes);
      if (from_tail == 0) {
        header_found(s, base + j, bytes.substr(j - from_bytes, from_bytes));
      } else {
        std::memcpy(before, s.tail + s.tail_size - from_tail, from_tail);
        std::memcpy(before + from_tail, bytes.data() + j - from_bytes, from_bytes);
        header_found(s, base + j, std::string_view(before, from_tail + from_bytes));
      }
      return j + 2;
    }
    i = j + 1;
  }
  keep_tail(s, bytes);
  return bytes.size();
}

// Follows the unescaped quotes of a STRING value through `text`, which starts `base`
// bytes into the line.
void find_quotes(LineScanner& s, std::string_view text, std::uint64_t base) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (!s.only_blanks_after_quote && !s.odd_backslashes) {
      // Only the next quote can change anything; whether it is escaped depends on the
      // run of backslashes just before it, which starts at or after `i`.
      const void* found = std::memchr(text.data() + i, '"', text.size() - i);
      std::size_t quote =
          found ? static_cast<std::size_t>(static_cast<const char*>(found) - text.data())
                : text.size();
      std::size_t run = 0;
      while (quote - run > i && text[quote - run - 1] == '\\') ++run;
      if (!found) {
        s.odd_backslashes = run % 2 == 1;
        return;
      }
      if (run % 2 == 0) {
        s.last_quote = base + quote;
        s.only_blanks_after_quote = true;
      }
      i = quote + 1;
      continue;
    }
    char c = text[i++];
    if (c == '"' && !s.odd_backslashes) {
      s.last_quote = base + i - 1;
      s.only_blanks_after_quote = true;
      continue;
    }
    if (!is_blank(c) && c != '\r' && c != '\n') s.only_blanks_after_quote = false;
    s.odd_backslashes = c == '\\' && !s.odd_backslashes;
  }
}

// Follows the line's start up to its first blank and the two bytes after it.
void follow_look(LineScanner& s, std::string_view bytes, std::uint64_t base) {
  using Look = LineScanner::Look;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    switch (s.look) {
      case Look::kBlank:
        if (c == ' ') {
          s.look = Look::kEquals;
        } else if (base + i + 1 >= kWalkLookWindow) {
          s.look = Look::kPart;
        }
        break;
      case Look::kEquals:
        s.look = c == '=' ? Look::kSpace : Look::kPart;
        break;
      case Look::kSpace:
        s.look = c == ' ' ? Look::kWalk : Look::kPart;
        break;
      case Look::kWalk:
      case Look::kPart:
        return;
    }
  }
}

}  // namespace

LineScanner scan_start(OpenValue before) {
  LineScanner s;
  s.before = before;
  s.hex_part = before == OpenValue::kHex;
  if (before == OpenValue::kString) {
    s.stage = LineScanner::Stage::kValue;
    s.track_quotes = true;
  }
  if (before == OpenValue::kBareString) s.look = LineScanner::Look::kBlank;
  return s;
}

void scan_feed(LineScanner& s, std::string_view bytes) {
  if (bytes.empty()) return;
  const std::uint64_t base = s.size;
  s.size += bytes.size();
  s.second_last = bytes.size() >= 2 ? bytes[bytes.size() - 2] : s.last;
  s.last = bytes.back();
  if (s.hex_part) check_hex_part(s, bytes, base);
  if (s.look != LineScanner::Look::kWalk && s.look != LineScanner::Look::kPart) {
    follow_look(s, bytes, base);
  }

  std::size_t i = 0;
  if (s.stage == LineScanner::Stage::kHeader) {
    i = find_colon(s, bytes, base);
    if (i == bytes.size()) return;
  }
  if (s.stage == LineScanner::Stage::kValueFirst) {
    if (bytes[i] == '"') {
      s.quoted = true;
      s.track_quotes = true;
      ++i;
    }
    s.text_begin = base + i;
    s.stage = LineScanner::Stage::kValue;
  }
  if (s.stage == LineScanner::Stage::kValue && s.track_quotes) {
    find_quotes(s, bytes.substr(i), base + i);
  }
}

LineShape scan_finish(const LineScanner& s) {
  // The line ending is a line feed or a carriage return and a line feed; but where a
  // STRING goes on over the next line, a carriage return before the line feed is part
  // of the value, as snmpwalk writes it.
  std::uint64_t open_end = s.size > 0 && s.last == '\n' ? s.size - 1 : s.size;
  std::uint64_t line_end =
      open_end < s.size && open_end > 0 && s.second_last == '\r' ? open_end - 1 : open_end;
  bool closed = s.last_quote != kNoColon;
  std::uint64_t text_end = !closed ? open_end : s.only_blanks_after_quote ? s.last_quote : line_end;

  LineShape shape;
  if (s.before == OpenValue::kString) {
    shape.kind = LineKind::kStringPart;
    shape.value_end = text_end;
    shape.next = closed ? OpenValue::kNone : OpenValue::kString;
    return shape;
  }
  if (s.before == OpenValue::kBareString && s.look != LineScanner::Look::kWalk) {
    shape.kind = LineKind::kBarePart;
    shape.value_end = line_end;
    shape.next = OpenValue::kBareString;
    return shape;
  }
  bool hex_part = s.hex_part && s.hex_digits != 1 && (s.hex_seen_pair || s.hex_digits == 2) &&
                  (!s.hex_seen_cr || s.last == '\n');
  if (hex_part) {
    shape.kind = LineKind::kHexPart;
    shape.value_begin = s.hex_first;
    shape.value_end = line_end;
    shape.next = OpenValue::kHex;
    return shape;
  }
  if (s.colon == kNoColon) return shape;
  shape.colon = s.colon;
  shape.value_begin = s.colon + 2;
  shape.value_end = line_end;
  shape.integer_value = s.integer_value;
  if (s.string_value) {
    shape.string_value = s.quoted;
    if (s.stage == LineScanner::Stage::kValue) shape.value_begin = s.text_begin;
    if (!s.quoted) {
      shape.next = OpenValue::kBareString;
    } else if (!closed) {
      shape.value_end = open_end;
      shape.next = OpenValue::kString;
    } else if (s.only_blanks_after_quote) {
      shape.value_end = s.last_quote;
    }
  } else if (s.hex_value) {
    shape.next = OpenValue::kHex;
  }
  return shape;
}

LineShape scan_line(std::string_view line, OpenValue before) {
  LineScanner scanner = scan_start(before);
  scan_feed(scanner, line);
  return scan_finish(scanner);
}

OpenValue walk_line_next(std::string_view line) {
  std::size_t colon = 0;
  for (;;) {
    const void* found = std::memchr(line.data() + colon, ':', line.size() - colon);
    if (!found) return OpenValue::kNone;
    colon = static_cast<std::size_t>(static_cast<const char*>(found) - line.data());
    if (colon + 1 < line.size() && line[colon + 1] == ' ') break;
    ++colon;
  }
  std::string_view header = line.substr(0, colon);
  if (header.ends_with("= Hex-STRING")) return OpenValue::kHex;
  if (!header.ends_with("= STRING")) return OpenValue::kNone;
  std::size_t text = colon + 3;  // past the opening quote
  if (text > line.size() || line[text - 1] != '"') return OpenValue::kBareString;
  // The STRING goes on unless a quote after an even run of backslashes closes it.
  for (std::size_t from = text; from < line.size();) {
    const void* found = std::memchr(line.data() + from, '"', line.size() - from);
    if (!found) break;
    std::size_t quote = static_cast<std::size_t>(static_cast<const char*>(found) - line.data());
    std::size_t run = 0;
    while (quote - run > text && line[quote - run - 1] == '\\') ++run;
    if (run % 2 == 0) return OpenValue::kNone;
    from = quote + 1;
  }
  return OpenValue::kString;
}

std::string_view enumeration_number(std::string_view value) {
  std::size_t open = value.find('(');
  if (open == 0 || open == std::string_view::npos || !value.ends_with(')')) return value;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!letter(value[0])) return value;
  for (char c : value.substr(0, open)) {
    if (!letter(c) && !digit(c) && c != '-') return value;
  }
  std::string_view number = value.substr(open + 1, value.size() - open - 2);
  std::string_view digits = number.starts_with('-') ? number.substr(1) : number;
  if (digits.empty()) return value;
  for (char c : digits) {
    if (!digit(c)) return value;
  }
  return number;
}
