// Text escaping shared by both programs: bytes written into a one-line message so that
// they can neither break the line nor move the cursor, and bytes written inside a JSON
// string so that the document stays valid whatever they are.
#pragma once

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

// Appends `text` to `message` as a one-line message shows it: each byte below 0x20 and
// 0x7f as \n, \r, \t or \xHH (two lower-case hex digits), a backslash as \\, every other
// byte as it is. So no two texts are shown alike, and none can break the line.
void append_message_text(std::string& message, std::string_view text);

// The longest text a byte becomes inside a JSON string: \u00XX.
inline constexpr std::size_t kMaxJsonEscapeLength = 6;

// The room json_escape_into needs for `size` bytes of text (escapes are copied eight
// bytes at a time, so two bytes more than the longest escapes).
constexpr std::size_t json_escape_room(std::size_t size) {
  return kMaxJsonEscapeLength * size + 2;
}

// The JSON kernel is defined here, inline, so that a writer that escapes many short
// pieces (rule-merge's rule writer) pays no call for each.

// In the length place of kJsonEscapes: a byte from 0x80 on, which may begin a character
// of several bytes, or be none.
inline constexpr char kNotAscii = 8;

// For every byte below 0x80, the text that stands for it inside a JSON string (at most
// six bytes) and, in the last place, its length; a length of 0 means the byte is written
// as read.
inline constexpr std::array<std::array<char, 8>, 256> kJsonEscapes = [] {
  std::array<std::array<char, 8>, 256> table{};
  for (int b = 0x80; b < 0x100; ++b) table[static_cast<std::size_t>(b)][7] = kNotAscii;
  constexpr char kHex[] = "0123456789abcdef";
  for (int b = 0; b < 0x20; ++b) {
    table[static_cast<std::size_t>(b)] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 15], 0, 6};
  }
  table['\b'] = {'\\', 'b', 0, 0, 0, 0, 0, 2};
  table['\t'] = {'\\', 't', 0, 0, 0, 0, 0, 2};
  table['\n'] = {'\\', 'n', 0, 0, 0, 0, 0, 2};
  table['\f'] = {'\\', 'f', 0, 0, 0, 0, 0, 2};
  table['\r'] = {'\\', 'r', 0, 0, 0, 0, 0, 2};
  table['"'] = {'\\', '"', 0, 0, 0, 0, 0, 2};
  table['\\'] = {'\\', '\\', 0, 0, 0, 0, 0, 2};
  return table;
}();

// Writes the byte `c`, below 0x80, as the inside of a JSON string.
inline char* json_put_byte(char* out, char c) {
  const std::array<char, 8>& escape = kJsonEscapes[static_cast<unsigned char>(c)];
  if (escape[7] == 0) {
    *out = c;
    return out + 1;
  }
  std::memcpy(out, escape.data(), 8);
  return out + escape[7];
}

// The length of the UTF-8 character that begins at `p`, before `end`: 1 to 4 for a whole
// valid one (no overlong form, surrogate or code above 0x10ffff); 0 when the bytes there
// begin no valid character; -1 when `end` comes inside one that is valid so far.
inline int utf8_length(const char* p, const char* end) {
  auto lead = static_cast<unsigned char>(*p);
  if (lead < 0x80) return 1;
  int length = 0;
  unsigned char low = 0x80;  // the range of the byte after the lead
  unsigned char high = 0xbf;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3;
    if (lead == 0xe0) low = 0xa0;   // no overlong form
    if (lead == 0xed) high = 0x9f;  // no surrogate
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4;
    if (lead == 0xf0) low = 0x90;   // no overlong form
    if (lead == 0xf4) high = 0x8f;  // nothing above 0x10ffff
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (p + i == end) return -1;
    auto c = static_cast<unsigned char>(p[i]);
    if (c < low || c > high) return 0;
    low = 0x80;
    high = 0xbf;
  }
  return length;
}

// Writes the character at `p` as the inside of a JSON string and steps past it. A byte
// that is not part of valid UTF-8 is read as Latin-1 and written \u00XX. When `end` comes
// inside a character that is valid so far, it is written so only with `whole`; without
// it nothing is written and false is returned, as the rest may come with the next piece.
inline bool json_put_char(char*& out, const char*& p, const char* end, bool whole) {
  auto c = static_cast<unsigned char>(*p);
  if (c < 0x80) {
    out = json_put_byte(out, *p++);
    return true;
  }
  int length = utf8_length(p, end);
  if (length < 0 && !whole) return false;
  if (length > 0) {
    std::memcpy(out, p, static_cast<std::size_t>(length));
    out += length;
    p += length;
    return true;
  }
  constexpr char kHex[] = "0123456789abcdef";
  const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
  std::memcpy(out, escape, sizeof escape);
  out += sizeof escape;
  ++p;
  return true;
}

// Writes the text from `p` to `end` as the inside of a JSON string at `out`, which has
// json_escape_room bytes for it, moves `p` past what it wrote and returns the position
// after the last byte written. Without `whole`, a character that `end` cuts short is left
// for the next piece: `p` then stops at its first byte.
// Most bytes are written as read, so where SSE2 is there the text is taken sixteen bytes
// at a time.
inline char* json_escape_run(char* out, const char*& p, const char* end, bool whole) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  __m128i space = _mm_set1_epi8(0x20);
  // Kept opaque: known as a constant, it would be compared as "not above 0x1f", an
  // instruction more for every sixteen bytes.
  __asm__("" : "+x"(space));
  while (end - p >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Read as signed, the bytes below 0x20 and those from 0x80 on are the ones below 0x20.
    __m128i special =
        _mm_or_si128(_mm_cmpgt_epi8(space, bytes),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
    // Sixteen bytes go out at once; those from the first special byte on are rewritten.
    // The room for six bytes per byte left covers the overshoot.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask == 0) {
      p += 16;
      out += 16;
      continue;
    }
    // Bytes up to the first special one are in place. A lone special byte is escaped and
    // the next sixteen bytes are taken from just after it; where they are many (a run of
    // control bytes), the rest of the sixteen are taken one by one. A byte from 0x80 on
    // begins a character of several bytes, or is none: it is taken alone.
    auto first = static_cast<unsigned>(__builtin_ctz(mask));
    out += first;
    p += first;
    // At most two special bytes (mask with its lowest bit cleared has at most one left):
    // a test of two instructions, where a population count without the processor's own
    // instruction would be a library call.
    const unsigned rest = mask & (mask - 1);
    if ((rest & (rest - 1)) == 0) {
      const std::array<char, 8>& escape = kJsonEscapes[static_cast<unsigned char>(*p)];
      if (escape[7] != kNotAscii) {
        std::memcpy(out, escape.data(), 8);  // a special byte below 0x80 has its escape
        out += escape[7];
        ++p;
        continue;
      }
    }
    if (static_cast<unsigned char>(*p) >= 0x80 || _mm_movemask_epi8(bytes) != 0) {
      if (!json_put_char(out, p, end, whole)) return out;
      continue;
    }
    p -= first;
    for (unsigned k = first; k < 16; ++k) out = json_put_byte(out, p[k]);
    p += 16;
  }
#endif
  while (p < end) {
    const std::array<char, 8>& escape = kJsonEscapes[static_cast<unsigned char>(*p)];
    if (escape[7] == 0) {
      *out++ = *p++;
    } else if (escape[7] != kNotAscii) {
      std::memcpy(out, escape.data(), 8);
      out += escape[7];
      ++p;
    } else if (!json_put_char(out, p, end, whole)) {
      break;
    }
  }
  return out;
}

// Writes `text` as the inside of a JSON string at `out`, which has json_escape_room bytes
// for it, and returns the position after the last byte written: '"' and '\' get a
// backslash, bytes below 0x20 become \b, \t, \n, \f, \r or \u00XX (lower-case hex
// digits), a byte that is not part of valid UTF-8 becomes \u00XX (the byte read as
// Latin-1), and every other byte is written as read. So the string is UTF-8 JSON
// whatever the text, and valid UTF-8 passes unchanged.
inline char* json_escape_into(char* out, std::string_view text) {
  const char* p = text.data();
  return json_escape_run(out, p, p + text.size(), true);
}

// As json_escape_into for a piece of a longer text, except that a character the piece
// cuts short at its end (at most three bytes) is not written: `taken` tells how many
// bytes were, and the rest belongs in front of the next piece.
inline char* json_escape_piece(char* out, std::string_view text, std::size_t& taken) {
  const char* p = text.data();
  out = json_escape_run(out, p, p + text.size(), false);
  taken = static_cast<std::size_t>(p - text.data());
  return out;
}

// The length of `text` written by json_escape_into.
std::size_t json_escaped_size(std::string_view text);

// The length of the longest start of `text` that is valid UTF-8 (whole characters only).
std::size_t utf8_valid_prefix(std::string_view text);

// Appends `text` to `out` as the character it stands for in JSON once written by
// json_escape_into: valid UTF-8 as it is, each byte that is not part of it as its
// Latin-1 character in UTF-8.
void append_utf8_mended(std::string& out, std::string_view text);

// Writes `text` to `stream` as the inside of a JSON string, by the rules of
// json_escape_into.
void put_json_text(FILE* stream, std::string_view text);

// Writes `text` to `stream` as the inside of a JSON string by the same rules, except
// that a backslash followed by '"' or '\' (read from the start, pair by pair) is written
// as it is with the byte after it: the pairs snmpwalk writes inside a STRING value are
// already JSON escapes.
void put_json_text_keeping_pairs(FILE* stream, std::string_view text);
