// Test support: an iterative JSON checker, so that deep input cannot exhaust the stack.
#include "json_check.h"

#include <vector>

namespace {

struct Cursor {
  std::string_view text;
  std::size_t i = 0;
  bool at_end() const {
    return i >= text.size();
  }
  char peek() const {
    return at_end() ? '\0' : text[i];
  }
};

void skip_space(Cursor& c) {
  while (!c.at_end() &&
         (c.peek() == ' ' || c.peek() == '\t' || c.peek() == '\n' || c.peek() == '\r'))
    ++c.i;
}

bool is_hex(char h) {
  return (h >= '0' && h <= '9') || (h >= 'a' && h <= 'f') || (h >= 'A' && h <= 'F');
}

bool string_token(Cursor& c) {
  if (c.peek() != '"') return false;
  ++c.i;
  while (!c.at_end()) {
    unsigned char ch = static_cast<unsigned char>(c.text[c.i]);
    if (ch == '"') {
      ++c.i;
      return true;
    }
    if (ch < 0x20) return false;
    if (ch == '\\') {
      ++c.i;
      if (c.at_end()) return false;
      char e = c.text[c.i];
      if (e == 'u') {
        for (int k = 1; k <= 4; ++k) {
          if (c.i + static_cast<std::size_t>(k) >= c.text.size() ||
              !is_hex(c.text[c.i + static_cast<std::size_t>(k)]))
            return false;
        }
        c.i += 4;
      } else if (std::string_view("\"\\/bfnrt").find(e) == std::string_view::npos) {
        return false;
      }
    }
    ++c.i;
  }
  return false;
}

bool digits(Cursor& c) {
  std::size_t start = c.i;
  while (!c.at_end() && c.peek() >= '0' && c.peek() <= '9') ++c.i;
  return c.i > start;
}

bool number_token(Cursor& c) {
  if (c.peek() == '-') ++c.i;
  if (c.peek() == '0') {
    ++c.i;
  } else if (!digits(c)) {
    return false;
  }
  if (c.peek() == '.') {
    ++c.i;
    if (!digits(c)) return false;
  }
  if (c.peek() == 'e' || c.peek() == 'E') {
    ++c.i;
    if (c.peek() == '+' || c.peek() == '-') ++c.i;
    if (!digits(c)) return false;
  }
  return true;
}

bool scalar(Cursor& c) {
  char p = c.peek();
  if (p == '"') return string_token(c);
  for (std::string_view word : {"true", "false", "null"}) {
    if (c.text.substr(c.i).starts_with(word)) {
      c.i += word.size();
      return true;
    }
  }
  return number_token(c);
}

void append_utf8(std::string& out, unsigned long code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xc0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xe0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  }
}

}  // namespace

bool json_valid(std::string_view text) {
  Cursor c{text};
  std::vector<char> open;  // the closing bracket each open container expects
  skip_space(c);
  for (;;) {
    // Here a value is expected.
    if (c.peek() == '{' || c.peek() == '[') {
      char closing = c.peek() == '{' ? '}' : ']';
      ++c.i;
      skip_space(c);
      if (c.peek() == closing) {
        ++c.i;
      } else {
        open.push_back(closing);
        if (closing == '}') {
          if (!string_token(c)) return false;
          skip_space(c);
          if (c.peek() != ':') return false;
          ++c.i;
          skip_space(c);
        }
        continue;
      }
    } else if (!scalar(c)) {
      return false;
    }
    // A value has ended: close containers or move to the next element.
    for (;;) {
      skip_space(c);
      if (open.empty()) return c.at_end();
      if (c.peek() == open.back()) {
        ++c.i;
        open.pop_back();
        continue;
      }
      if (c.peek() != ',') return false;
      ++c.i;
      skip_space(c);
      if (open.back() == '}') {
        if (!string_token(c)) return false;
        skip_space(c);
        if (c.peek() != ':') return false;
        ++c.i;
        skip_space(c);
      }
      break;
    }
  }
}

std::optional<std::string> json_decode_string(std::string_view inside) {
  std::string quoted = "\"";
  quoted.append(inside);
  quoted += '"';
  Cursor c{quoted};
  if (!string_token(c) || !c.at_end()) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < inside.size(); ++i) {
    if (inside[i] != '\\') {
      out += inside[i];
      continue;
    }
    char e = inside[++i];
    switch (e) {
      case 'b':
        out += '\b';
        break;
      case 't':
        out += '\t';
        break;
      case 'n':
        out += '\n';
        break;
      case 'f':
        out += '\f';
        break;
      case 'r':
        out += '\r';
        break;
      case 'u': {
        unsigned long value = std::stoul(std::string(inside.substr(i + 1, 4)), nullptr, 16);
        i += 4;
        if (value >= 0xd800 && value < 0xdc00 && inside.substr(i + 1, 2) == "\\u") {
          unsigned long low = std::stoul(std::string(inside.substr(i + 3, 4)), nullptr, 16);
          if (low >= 0xdc00 && low < 0xe000) {
            value = 0x10000 + ((value - 0xd800) << 10) + (low - 0xdc00);
            i += 6;
          }
        }
        if (value >= 0xd800 && value < 0xe000) {
          out.append(inside.substr(i - 5, 6));  // a lone surrogate stands for no character
        } else {
          append_utf8(out, value);
        }
        break;
      }
      default:
        out += e;
        break;
    }
  }
  return out;
}

bool utf8_valid(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 0;
    if (length == 0 || c >= 0xf8 || i + length > text.size()) return false;
    unsigned long code = length == 1 ? c : c & (0x7fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = code << 6 | (next & 0x3f);
    }
    constexpr unsigned long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if ((length > 1 && code < kLeast[length]) || code > 0x10ffff ||
        (code >= 0xd800 && code < 0xe000)) {
      return false;
    }
    i += length;
  }
  return true;
}
