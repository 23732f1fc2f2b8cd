// Test support: a strict JSON grammar check over bytes, and string decoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// True when `text` is one JSON value (RFC 8259 grammar) with nothing but white space
// around it. Bytes from 0x80 up are accepted in strings as they are: the programs
// write such bytes as read, so the check is of the grammar, not of the encoding.
bool json_valid(std::string_view text);

// Decodes the inside of a JSON string (without its quotes); none when it is not valid.
// \uXXXX escapes below 0x80 decode to one byte; others are kept as written.
std::optional<std::string> json_decode_string(std::string_view inside);
