// Message text: control bytes written as escapes, so that one message stays one line.
#include "message_text.h"

namespace {

bool is_control(unsigned char c) {
  return c < 0x20 || c == 0x7f;
}

}  // namespace

void put_message_text(FILE* stream, std::string_view text) {
  constexpr char kHex[] = "0123456789abcdef";
  std::size_t plain = 0;  // start of the run of bytes written as they are
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto c = static_cast<unsigned char>(text[i]);
    if (!is_control(c)) continue;
    std::fwrite(text.data() + plain, 1, i - plain, stream);
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
  std::fwrite(text.data() + plain, 1, text.size() - plain, stream);
}
