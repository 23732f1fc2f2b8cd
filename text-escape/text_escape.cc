// Text escaping: control bytes in messages, and JSON strings sixteen bytes at a time
// where SSE2 is there.
#include "text_escape.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <array>
#include <cstring>

namespace {

bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

// fwrite must not be handed the null pointer of an empty view, even for no bytes.
void put_run(FILE* stream, const char* begin, std::size_t length) {
  if (length > 0) std::fwrite(begin, 1, length, stream);
}

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
char* json_escape_kernel(char* out, std::string_view text) {
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

void put_message_text(FILE* stream, std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // start of the run of bytes written as they are
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (!is_control(c)) continue;
    put_run(stream, text.data() + plain, i - plain);
    plain = i + 1;
    if (c == '\n') {
      std::fputs("\\n", stream);
    } else if (c == '\r') {
      std::fputs("\\r", stream);
    } else if (c == '\t') {
      std::fputs("\\t", stream);
    } else {
      const char escape[] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
      std::fwrite(escape, 1, sizeof escape, stream);
    }
  }
  put_run(stream, text.data() + plain, text.size() - plain);
}

char* json_escape_into(char* out, std::string_view text) {
  return json_escape_kernel(out, text);
}

namespace {

// Text is escaped in pieces of this many bytes into a buffer on the stack.
constexpr std::size_t kJsonPiece = 4096;

void put_json_run(FILE* stream, std::string_view text) {
  char escaped[json_escape_room(kJsonPiece)];
  while (!text.empty()) {
    std::string_view piece = text.substr(0, kJsonPiece);
    text.remove_prefix(piece.size());
    std::fwrite(escaped, 1, static_cast<std::size_t>(json_escape_kernel(escaped, piece) - escaped),
                stream);
  }
}

}  // namespace

void put_json_text(FILE* stream, std::string_view text) {
  put_json_run(stream, text);
}

void put_json_text_keeping_pairs(FILE* stream, std::string_view text) {
  std::size_t plain = 0;  // start of the text not yet written
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') continue;
    if (i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
      put_json_run(stream, text.substr(plain, i - plain));
      put_run(stream, text.data() + i, 2);
      plain = ++i + 1;
    }
  }
  put_json_run(stream, text.substr(plain));
}
