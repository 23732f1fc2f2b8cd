// Text escaping shared by both programs: bytes written into a one-line message so that
// they can neither break the line nor move the cursor, and bytes written inside a JSON
// string so that the document stays valid whatever they are.
#pragma once

#include <cstddef>
#include <cstdio>
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

// Writes `text` as the inside of a JSON string at `out`, which has json_escape_room
// bytes for it, and returns the position after the last byte written: '"' and '\' get
// a backslash, bytes below 0x20 become \b, \t, \n, \f, \r or \u00XX (lower-case hex
// digits), and every other byte is written as read.
char* json_escape_into(char* out, std::string_view text);

// Writes `text` to `stream` as the inside of a JSON string, by the rules of
// json_escape_into.
void put_json_text(FILE* stream, std::string_view text);

// Writes `text` to `stream` as the inside of a JSON string by the same rules, except
// that a backslash followed by '"' or '\' (read from the start, pair by pair) is written
// as it is with the byte after it: the pairs snmpwalk writes inside a STRING value are
// already JSON escapes.
void put_json_text_keeping_pairs(FILE* stream, std::string_view text);
