// Test support: a strict JSON grammar check over bytes, and string decoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// True when `text` is one JSON value (RFC 8259 grammar) with nothing but white space
// around it. Bytes from 0x80 up are accepted in strings as they are: the check is of
// the grammar; utf8_valid checks the encoding.
bool json_valid(std::string_view text);

// Decodes the inside of a JSON string (without its quotes) to UTF-8; none when it is not
// valid. A \uXXXX escape of a lone surrogate is kept as written.
std::optional<std::string> json_decode_string(std::string_view inside);

// True when `text` is valid UTF-8 (RFC 3629: no overlong form, surrogate or code above
// 0x10ffff), as strict JSON readers require of a whole document.
bool utf8_valid(std::string_view text);
