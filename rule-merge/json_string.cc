// The JSON string decoding: runs of plain text between escapes, each escape replaced by
// the UTF-8 of the character it stands for.
#include "json_string.h"

#include "text_escape.h"

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits of a \u escape at `at`, or -1.
long read_hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  long value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    int digit = hex_value(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

void put_utf8(std::string& out, unsigned long code) {
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

bool decode_json_string(std::string_view text, std::string& decoded) {
  decoded.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t backslash = text.find('\\', i);
    if (backslash == std::string_view::npos) backslash = text.size();
    append_utf8_mended(decoded, text.substr(i, backslash - i));
    i = backslash;
    if (i == text.size()) break;
    if (i + 1 == text.size()) return false;
    char e = text[i + 1];
    i += 2;
    constexpr std::string_view kEscaped = "\"\\/bfnrt";
    constexpr std::string_view kMeant = "\"\\/\b\f\n\r\t";
    if (std::size_t k = kEscaped.find(e); k != std::string_view::npos) {
      decoded += kMeant[k];
      continue;
    }
    if (e != 'u') return false;
    long code = read_hex4(text, i);
    if (code < 0) return false;
    i += 4;
    if (code >= 0xd800 && code < 0xdc00 && i + 1 < text.size() && text[i] == '\\' &&
        text[i + 1] == 'u') {
      long low = read_hex4(text, i + 2);
      if (low >= 0xdc00 && low < 0xe000) {
        code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
        i += 6;
      }
    }
    put_utf8(decoded, static_cast<unsigned long>(code));
  }
  return true;
}
