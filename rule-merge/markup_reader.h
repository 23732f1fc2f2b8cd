// The markup reader: a small, forgiving reader that builds a name tree from markup text,
// one character at a time, with its state kept in the tree object so that a whole text
// in memory and a stream read line by line go through the same machinery.
//
// Elements become nodes named by their tag; attributes become children of their element
// carrying the value and the attribute mark; character data, with white space folded,
// becomes the value of the element that holds it (of several runs, the last one wins).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string_view>

#include "name_tree.h"

// Parses a whole text in place (the text is not copied). Returns none at once for an
// empty text, and none after writing one message to `err` for a fault or for elements
// left open at the end ("Incomplete xml\n"). The returned tree holds only its nodes:
// both reading buffers are released.
std::unique_ptr<NameTree> markup_parse_text(std::string_view text, FILE* err);

// Same as markup_parse_text for a stream, read through the tree's read buffer at most
// 255 characters at a time until end of input. A NUL byte ends the piece it was read in.
std::unique_ptr<NameTree> markup_parse_stream(FILE* stream, FILE* err);

// Feeds one character to the reader. Returns false once a fault has been reported to
// the tree's `err`; the tree must then be discarded.
inline bool markup_feed(NameTree& tree, char c);

namespace markup_detail {

// Characters that, outside a comment, only ever join the token: everything but the
// markup characters, white space, and `-` (which may complete a comment opening).
constexpr std::array<bool, 256> make_plain_table() {
  std::array<bool, 256> table{};
  for (int i = 0; i < 256; ++i) table[i] = true;
  for (unsigned char c : std::string_view("<>=\"-\t\n\r ")) table[c] = false;
  return table;
}
inline constexpr std::array<bool, 256> kPlain = make_plain_table();

// Moves a line or column number on. Numbers wrap instead of overflowing on a line of
// more than 2^31 characters.
constexpr std::int32_t advance(std::int32_t number, std::uint32_t by = 1) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + by);
}

// Doubles the token buffer, keeping the token; false after "no more memory".
bool grow_token(NameTree& tree);
// Counts the position and interprets every character the fast path leaves.
bool feed_markup(NameTree& tree, char c);

}  // namespace markup_detail

inline bool markup_feed(NameTree& tree, char c) {
  if (tree.token_position == tree.token_buffer.get() + tree.token_capacity) [[unlikely]] {
    if (!markup_detail::grow_token(tree)) return false;
  }
  if (markup_detail::kPlain[static_cast<unsigned char>(c)] && !tree.in_comment) [[likely]] {
    tree.column = markup_detail::advance(tree.column);
    *tree.token_position++ = c;
    return true;
  }
  return markup_detail::feed_markup(tree, c);
}
