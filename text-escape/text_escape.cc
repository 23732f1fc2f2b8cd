// Text escaping: bytes shown in messages, JSON strings written to a stream.
#include "text_escape.h"

namespace {

bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

// fwrite must not be handed the null pointer of an empty view, even for no bytes.
void put_run(FILE* stream, const char* begin, std::size_t length) {
  if (length > 0) std::fwrite(begin, 1, length, stream);
}

}  // namespace

void append_message_text(std::string& message, std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // start of the run of bytes shown as they are
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (!is_control(c) && c != '\\') continue;
    message.append(text.substr(plain, i - plain));
    plain = i + 1;
    if (c == '\\') {
      message += "\\\\";
    } else if (c == '\n') {
      message += "\\n";
    } else if (c == '\r') {
      message += "\\r";
    } else if (c == '\t') {
      message += "\\t";
    } else {
      const char escape[] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
      message.append(escape, sizeof escape);
    }
  }
  message.append(text.substr(plain));
}

std::size_t json_escaped_size(std::string_view text) {
  std::size_t size = 0;
  const char* end = text.data() + text.size();
  const char* p = text.data();
#if defined(__SSE2__)
  // Sixteen bytes at a time, as json_escape_run finds the special ones.
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i space = _mm_set1_epi8(0x20);
  while (end - p >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i special =
        _mm_or_si128(_mm_cmpgt_epi8(space, bytes),
                     _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask == 0) {
      size += 16;
      p += 16;
      continue;
    }
    if (_mm_movemask_epi8(bytes) != 0) break;  // bytes above 0x7f: one at a time below
    size += 16;
    for (; mask != 0; mask &= mask - 1) {
      size += static_cast<std::size_t>(
                  kJsonEscapes[static_cast<unsigned char>(p[__builtin_ctz(mask)])][7]) -
              1;
    }
    p += 16;
  }
#endif
  while (p < end) {
    auto c = static_cast<unsigned char>(*p);
    if (c < 0x80) {
      std::size_t length = static_cast<std::size_t>(kJsonEscapes[c][7]);
      size += length == 0 ? 1 : length;
      ++p;
      continue;
    }
    int length = utf8_length(p, end);
    if (length > 0) {
      size += static_cast<std::size_t>(length);
      p += length;
    } else {
      size += kMaxJsonEscapeLength;
      ++p;
    }
  }
  return size;
}

std::size_t utf8_valid_prefix(std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
#if defined(__SSE2__)
    // Runs of ASCII sixteen bytes at a time.
    while (end - p >= 16 &&
           _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))) == 0) {
      p += 16;
    }
    if (p == end) break;
#endif
    int length = utf8_length(p, end);
    if (length <= 0) break;
    p += length;
  }
  return static_cast<std::size_t>(p - text.data());
}

void append_utf8_mended(std::string& out, std::string_view text) {
  while (!text.empty()) {
    std::size_t valid = utf8_valid_prefix(text);
    out.append(text.substr(0, valid));
    text.remove_prefix(valid);
    if (text.empty()) break;
    auto c = static_cast<unsigned char>(text[0]);
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
    text.remove_prefix(1);
  }
}

namespace {

// Text is escaped in pieces of this many bytes into a buffer on the stack.
constexpr std::size_t kJsonPiece = 4096;

void put_json_run(FILE* stream, std::string_view text) {
  char escaped[json_escape_room(kJsonPiece)];
  while (!text.empty()) {
    std::string_view piece = text.substr(0, kJsonPiece);
    std::size_t taken = piece.size();
    // A character cut at the piece's end goes with the next piece.
    char* end = piece.size() < text.size() ? json_escape_piece(escaped, piece, taken)
                                           : json_escape_into(escaped, piece);
    text.remove_prefix(taken);
    std::fwrite(escaped, 1, static_cast<std::size_t>(end - escaped), stream);
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
