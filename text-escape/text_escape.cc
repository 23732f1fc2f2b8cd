// Text escaping: control bytes in messages, JSON strings written to a stream.
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

namespace {

// Text is escaped in pieces of this many bytes into a buffer on the stack.
constexpr std::size_t kJsonPiece = 4096;

void put_json_run(FILE* stream, std::string_view text) {
  char escaped[json_escape_room(kJsonPiece)];
  while (!text.empty()) {
    std::string_view piece = text.substr(0, kJsonPiece);
    text.remove_prefix(piece.size());
    std::fwrite(escaped, 1, static_cast<std::size_t>(json_escape_into(escaped, piece) - escaped),
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
