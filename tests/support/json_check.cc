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
        unsigned value =
            static_cast<unsigned>(std::stoul(std::string(inside.substr(i + 1, 4)), nullptr, 16));
        if (value < 0x80) {
          out += static_cast<char>(value);
        } else {
          out.append(inside.substr(i - 1, 6));
        }
        i += 4;
        break;
      }
      default:
        out += e;
        break;
    }
  }
  return out;
}
