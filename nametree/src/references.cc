// Decoding of entity and character references, in place.
#include "references.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace nametree {

namespace {

struct Entity {
  std::string_view name;  // between `&` and `;`
  char byte;
};

constexpr Entity kEntities[] = {
    {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''},
};

// The number of a character reference's digits, or none (0) when they are not a
// number of a Unicode scalar value. `hex` says the digits are hexadecimal.
std::uint32_t code_point(std::string_view digits, bool hex) {
  if (digits.empty()) return 0;
  std::uint32_t value = 0;
  for (const char c : digits) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return 0;
    }
    value = value * (hex ? 16 : 10) + digit;
    if (value > 0x10FFFF) return 0;  // checked at every digit, so it cannot wrap
  }
  if (value >= 0xD800 && value <= 0xDFFF) return 0;
  return value;
}

// Writes `value` as UTF-8 at `out`; returns the bytes written.
std::size_t put_utf8(std::uint32_t value, char* out) {
  const auto byte = [](std::uint32_t bits) { return static_cast<char>(bits); };
  if (value < 0x80) {
    out[0] = byte(value);
    return 1;
  }
  if (value < 0x800) {
    out[0] = byte(0xC0 | value >> 6);
    out[1] = byte(0x80 | (value & 0x3F));
    return 2;
  }
  if (value < 0x10000) {
    out[0] = byte(0xE0 | value >> 12);
    out[1] = byte(0x80 | (value >> 6 & 0x3F));
    out[2] = byte(0x80 | (value & 0x3F));
    return 3;
  }
  out[0] = byte(0xF0 | value >> 18);
  out[1] = byte(0x80 | (value >> 12 & 0x3F));
  out[2] = byte(0x80 | (value >> 6 & 0x3F));
  out[3] = byte(0x80 | (value & 0x3F));
  return 4;
}

// Decodes the reference whose body (between `&` and `;`) is `body` to `out`. Returns
// the bytes written, or 0 when it is no reference that is decoded.
std::size_t decode_one(std::string_view body, char* out) {
  if (body.size() >= 2 && body[0] == '#') {
    const bool hex = body[1] == 'x';
    const std::uint32_t value = code_point(body.substr(hex ? 2 : 1), hex);
    return value ? put_utf8(value, out) : 0;
  }
  for (const Entity& entity : kEntities) {
    if (body == entity.name) {
      *out = entity.byte;
      return 1;
    }
  }
  return 0;
}

}  // namespace

std::size_t decode_references(char* text, std::size_t size) {
  char* in = static_cast<char*>(std::memchr(text, '&', size));
  if (!in) return size;
  char* const end = text + size;
  char* out = in;
  while (in != end) {
    if (*in != '&') {
      *out++ = *in++;
      continue;
    }
    // The body runs to the first `;`; a `&` before it ends the search, as it starts a
    // reference of its own. Each byte is thus looked at from one `&` only.
    std::size_t length = 0;
    const char* semicolon = nullptr;
    for (const char* p = in + 1; p != end; ++p, ++length) {
      if (*p == ';') {
        semicolon = p;
        break;
      }
      if (*p == '&') break;
    }
    // Every reference decoded is longer than its bytes, so `out` stays behind `in`.
    const std::size_t written = semicolon ? decode_one(std::string_view(in + 1, length), out) : 0;
    if (written) {
      out += written;
      in += length + 2;
    } else {
      *out++ = *in++;
    }
  }
  return static_cast<std::size_t>(out - text);
}

}  // namespace nametree
