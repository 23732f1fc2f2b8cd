// What XML 1.0 allows in names and in text, for bytes taken as UTF-8: the writer refuses
// what no XML reader would read back.
#pragma once

#include <cstddef>
#include <string_view>

namespace nametree {

// Whether `name` is an XML name (the Name production of XML 1.0, fifth edition): a
// letter, `_` or `:` (or a character of the ranges XML lists) first, then also digits,
// `-`, `.` and combining marks. The empty name is none.
bool is_xml_name(std::string_view name);

// The offset of the first byte of `text` that does not start an XML character (Char:
// tab, line feed, carriage return, and U+0020 to U+10FFFF less the surrogates, U+FFFE and
// U+FFFF) in well-formed UTF-8; npos when there is none.
std::size_t first_non_xml_character(std::string_view text);

}  // namespace nametree
