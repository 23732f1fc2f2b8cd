// Message text: bytes from paths, member names and documents written into a one-line
// message so that they can neither break the line nor move the cursor.
#pragma once

#include <cstdio>
#include <string_view>

// Writes `text` to `stream`, each byte below 0x20 and 0x7f as \n, \r, \t or \xHH (two
// lower-case hex digits), every other byte as it is.
void put_message_text(FILE* stream, std::string_view text);
