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
#include <string_view>

// Writes `text` to `stream`, each byte below 0x20 and 0x7f as \n, \r, \t or \xHH (two
// lower-case hex digits), every other byte as it is.
void put_message_text(FILE* stream, std::string_view text);

// The longest text a byte becomes inside a JSON string: \u00XX.
inline constexpr std::size_t kMaxJsonEscapeLength = 6;

// The room json_escape_into needs for `size` bytes of text (escapes are copied eight
// bytes at a time, so two bytes more than the longest escapes).
constexpr std::size_t json_escape_room(std::size_t size) {
  return kMaxJsonEscapeLength * size + 2;
}

// The JSON kernel is defined here, inline, so that a writer that escapes many short
// pieces (rule-merge's rule writer) pays no call for each.

// For every byte, the text that stands for it inside a JSON string (at most six bytes)
// and, in the last place, its length; a length of 0 means the byte is written as read.
inline constexpr std::array<std::array<char, 8>, 256> kJsonEscapes = [] {
  std::array<std::array<char, 8>, 256> table{};
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

inline char* json_put_byte(char* out, char c) {
  const std::array<char, 8>& escape = kJsonEscapes[static_cast<unsigned char>(c)];
  if (escape[7] == 0) {
    *out = c;
    return out + 1;
  }
  std::memcpy(out, escape.data(), 8);
  return out + escape[7];
}

// Writes `text` as the inside of a JSON string at `out`, which has json_escape_room
// bytes for it, and returns the position after the last byte written: '"' and '\' get
// a backslash, bytes below 0x20 become \b, \t, \n, \f, \r or \u00XX (lower-case hex
// digits), and every other byte is written as read.
// Most bytes are written as read, so where SSE2 is there the text is taken sixteen bytes
// at a time.
inline char* json_escape_into(char* out, std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1f);
  while (end - p >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, last_control), bytes);
    __m128i special = _mm_or_si128(
        control, _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
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
    // control bytes), the rest of the sixteen are taken one by one.
    auto first = static_cast<unsigned>(__builtin_ctz(mask));
    out += first;
    // At most two special bytes (mask with its lowest bit cleared has at most one left):
    // a test of two instructions, where a population count without the processor's own
    // instruction would be a library call.
    const unsigned rest = mask & (mask - 1);
    if ((rest & (rest - 1)) == 0) {
      p += first;
      out = json_put_byte(out, *p++);
      continue;
    }
    for (unsigned k = first; k < 16; ++k) out = json_put_byte(out, p[k]);
    p += 16;
  }
#endif
  for (; p < end; ++p) out = json_put_byte(out, *p);
  return out;
}

// Writes `text` to `stream` as the inside of a JSON string, by the rules of
// json_escape_into.
void put_json_text(FILE* stream, std::string_view text);

// Writes `text` to `stream` as the inside of a JSON string by the same rules, except
// that a backslash followed by '"' or '\' (read from the start, pair by pair) is written
// as it is with the byte after it: the pairs snmpwalk writes inside a STRING value are
// already JSON escapes.
void put_json_text_keeping_pairs(FILE* stream, std::string_view text);
