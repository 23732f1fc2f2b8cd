// Key derivation for the interface report.
#include "identifier.h"

#include <algorithm>

namespace {

// Room for the longest result (254 characters) and its terminator.
char identifier_buffer[256];

bool is_upper(char c) {
  return c >= 'A' && c <= 'Z';
}

}  // namespace

std::string_view make_identifier(std::string_view name) {
  std::size_t length = 0;
  auto append = [&length](std::string_view text) {
    for (char c : text) identifier_buffer[length++] = c;
  };

  if (std::find(reserved_words.begin(), reserved_words.end(), name) != reserved_words.end()) {
    append("rsrvd_");
  }
  if (name.find('-') == std::string_view::npos) {
    if (name.find('_') != std::string_view::npos) {
      append("undescore_");
    } else if (std::any_of(name.begin(), name.end(), is_upper)) {
      append("camel_");
    }
  }
  for (char c : name) {
    if (length >= kIdentifierBound) break;
    if (c == '-') {
      identifier_buffer[length++] = '_';
    } else if (is_upper(c)) {
      identifier_buffer[length++] = '_';
      identifier_buffer[length++] = static_cast<char>(c - 'A' + 'a');
    } else {
      identifier_buffer[length++] = c;
    }
  }
  identifier_buffer[length] = '\0';
  return {identifier_buffer, length};
}
