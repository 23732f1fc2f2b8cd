// Derives the report's member names from IF-MIB object names: lower case with
// underscores, plus a prefix telling what kind of name it was.
#pragma once

#include <array>
#include <string_view>

// Words that cannot serve as identifiers in the consumers of the report; a name
// equal to one of them gets the "rsrvd_" prefix.
inline constexpr std::array<std::string_view, 52> reserved_words = {
    "abstract", "as",          "async",  "await",  "become", "box",    "break",    "const",
    "continue", "crate",       "do",     "dyn",    "else",   "enum",   "extern",   "false",
    "final",    "fn",          "for",    "if",     "impl",   "in",     "let",      "loop",
    "macro",    "macro_rules", "match",  "mod",    "move",   "mut",    "override", "priv",
    "pub",      "ref",         "return", "self",   "static", "struct", "super",    "trait",
    "true",     "try",         "type",   "typeof", "union",  "unsafe", "unsized",  "use",
    "virtual",  "where",       "while",  "yield",
};

// The conversion stops once the result holds this many characters; an upper-case
// letter met just below the bound still adds its two characters.
inline constexpr std::size_t kIdentifierBound = 253;

// Returns the key derived from `name`:
//   "rsrvd_" when the name is a reserved word;
//   then, for a name without '-': "undescore_" when it holds a '_', otherwise
//   "camel_" when it holds an upper-case letter (A-Z);
//   then the name with '-' turned into '_' and each upper-case letter into '_'
//   and its lower-case form, cut off at kIdentifierBound characters.
// The result lives in one process-wide buffer (NUL-terminated, at most 254
// characters) that the next call overwrites: use it before calling again.
std::string_view make_identifier(std::string_view name);
