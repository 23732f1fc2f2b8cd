// The rule writer: JSON escaping, sixteen bytes at a time where SSE2 is there, and the
// comma that separates objects.
#include "rule_writer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstring>

namespace {

// For every byte, the text that stands for it inside a JSON string (at most six bytes)
// and, in the last place, its length; a length of 0 means the byte is written as read.
constexpr std::array<std::array<char, 8>, 256> kEscapes = [] {
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

constexpr std::size_t kMaxEscapeLength = 6;  // \u00XX
// Room for one piece of text escaped (escapes are copied eight bytes at a time, so two
// bytes more), and for the many short rule objects written between two writes.
constexpr std::size_t kBufferSize = kMaxEscapeLength * kRawPieceSize + 2;

constexpr std::string_view kNameHead = "{\"name\":\"";
constexpr std::string_view kRawHead = "\",\"enabled\":false,\"raw\":\"";
constexpr std::string_view kTail = "\"}";

char* put_byte(char* out, char c) {
  const std::array<char, 8>& escape = kEscapes[static_cast<unsigned char>(c)];
  if (escape[7] == 0) {
    *out = c;
    return out + 1;
  }
  std::memcpy(out, escape.data(), 8);
  return out + escape[7];
}

// Writes `text` escaped at `out`, which has room for six bytes per byte of text and two
// more, and returns the position after the last byte written. Most bytes are written as
// read, so where SSE2 is there the text is taken sixteen bytes at a time.
char* escape_into(char* out, std::string_view text) {
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
    if (__builtin_popcount(mask) <= 2) {
      p += first;
      out = put_byte(out, *p++);
      continue;
    }
    for (unsigned k = first; k < 16; ++k) out = put_byte(out, p[k]);
    p += 16;
  }
#endif
  for (; p < end; ++p) out = put_byte(out, *p);
  return out;
}

}  // namespace

RuleWriter make_rule_writer(FILE* out, bool needs_comma) {
  RuleWriter writer;
  writer.out = out;
  writer.needs_comma = needs_comma;
  writer.buffer.reset(new char[kBufferSize]);
  return writer;
}

namespace {

// Makes room for `size` more bytes in the buffer, writing out what it holds if need be.
char* room_for(RuleWriter& writer, std::size_t size) {
  if (kBufferSize - writer.used < size) flush_rules(writer);
  return writer.buffer.get() + writer.used;
}

void append(RuleWriter& writer, std::string_view text) {
  std::memcpy(room_for(writer, text.size()), text.data(), text.size());
  writer.used += text.size();
}

}  // namespace

void begin_rule(RuleWriter& writer, std::string_view name) {
  if (writer.needs_comma) append(writer, ",");
  append(writer, kNameHead);
  write_raw(writer, name);
  append(writer, kRawHead);
}

void write_raw(RuleWriter& writer, std::string_view text) {
  while (!text.empty()) {
    std::string_view piece = text.substr(0, kRawPieceSize);
    text.remove_prefix(piece.size());
    char* start = room_for(writer, kMaxEscapeLength * piece.size() + 2);
    writer.used += static_cast<std::size_t>(escape_into(start, piece) - start);
  }
}

void end_rule(RuleWriter& writer) {
  append(writer, kTail);
  writer.needs_comma = true;
}

void flush_rules(RuleWriter& writer) {
  std::fwrite(writer.buffer.get(), 1, writer.used, writer.out);
  writer.used = 0;
}
