// The JSON string decoding: the text of a string as the document writes it, turned into
// the characters it stands for, so that --new-only compares rule texts by meaning.
#pragma once

#include <string>
#include <string_view>

// Decodes the text of a JSON string, as written between its quotes, into `decoded`, in
// UTF-8: the two-character escapes and \uXXXX (a surrogate pair as one character, a lone
// surrogate as its three bytes, which no rule line is written as). A byte of the text
// that is not part of valid UTF-8 stands for its Latin-1 character, as a rule line's byte
// written \u00XX does. False for an escape JSON does not have, or one cut short.
bool decode_json_string(std::string_view text, std::string& decoded);
