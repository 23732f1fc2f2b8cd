// Message text: control bytes written as escapes, so that one message stays one line.
#include "message_text.h"

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
