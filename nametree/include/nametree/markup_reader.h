// The markup reader: builds a name tree from markup text, read as XML (the xml option) or by
// the small forgiving reading that is the default. In both, elements become nodes named by
// their tag and attributes become children of their element carrying the value and the
// attribute mark. By default, character data with white space folded becomes the value of
// the element that holds it (of several runs, the last one wins); the XML reading joins
// every run, as ReaderOptions::xml says.
//
// The same bytes give the same tree and the same fault whether they come as one text,
// from a stream, or fed in pieces cut anywhere, with two exceptions: an empty text is no
// document while an empty stream is a bare root, and a NUL byte in a stream drops the rest
// of the line piece it is read in (see markup_parse_stream). With the XML reading
// (ReaderOptions::xml) a NUL byte is read as any other, and refused, and an empty stream
// or reader gives the fault kNoRootElement.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "nametree/export.h"
#include "nametree/fault.h"
#include "nametree/name_tree.h"

namespace nametree {

// How the reader takes its input. The default reads every byte as written, as the
// reader always has; the options serve markup as XML writers write it.
struct ReaderOptions {
  // Entity and character references in character data and attribute values become the
  // bytes they stand for: `&lt;` `&gt;` `&amp;` `&quot;` `&apos;`, and `&#N;` and
  // `&#xH;` as UTF-8. A reference that is unknown, malformed, or not of a Unicode
  // scalar value (0, a surrogate, above 0x10FFFF) stays as written. Names are not
  // decoded.
  bool decode_references = false;
  // A byte order mark at the start of the input: UTF-8's is skipped (and not counted in
  // columns); UTF-16's or UTF-32's is the fault kNotUtf8, never a tree.
  bool read_byte_order_mark = false;
  // The XML reading: a well-formed XML 1.0 document gives the tree a conforming XML
  // reader gives, and a document that is not well-formed gives a fault at the character
  // where such a reader finds it. Attribute values in either quote, with no escape but
  // references; an element's value is all its character data, CDATA sections included,
  // with line ends made line feeds; white space alone between tags is no value; the
  // declaration, comments, processing instructions and the document type declaration
  // add nothing. It implies decode_references and read_byte_order_mark. See nametree(3)
  // for what it accepts that XML does not.
  bool xml = false;
  // With the XML reading: each node keeps the line and column where it starts (an
  // element's `<`, an attribute's name), for node_position. Lines and columns count from
  // 1; a column counts characters, and a carriage return, a line feed or the pair of
  // them ends a line.
  bool keep_positions = false;
};

struct NodePosition {
  std::int32_t line = 0;
  std::int32_t column = 0;
};

// Where `node` of `tree` started, when the tree was read with keep_positions; none for
// any other node or tree.
NAMETREE_API std::optional<NodePosition> node_position(const NameTree& tree, const TreeNode& node);

// What a read gave: a tree, or none and the fault that ended the read.
struct ParseResult {
  TreePtr tree;
  Fault fault;
};

// Reads a whole text. An empty text gives no tree, fault kNoInput and no message.
// When `err` is given, a fault's message is written to it.
NAMETREE_API ParseResult markup_parse_text(std::string_view text, FILE* err = nullptr,
                                           ReaderOptions options = {});

// Reads a stream to its end, in pieces of at most 255 characters that end at each
// newline; a NUL byte ends the piece it is read in. With the option, a byte order mark
// is looked for in the stream's first bytes, before any piece is cut. An empty stream
// gives a bare root. A stream that cannot be read to its end gives kReadError; a missing
// stream gives no tree and no message, like an empty text.
NAMETREE_API ParseResult markup_parse_stream(FILE* stream, FILE* err = nullptr,
                                             ReaderOptions options = {});

struct MarkupReader;  // a read in progress: the tree so far and the reader's state

struct ReaderRelease {
  NAMETREE_API void operator()(MarkupReader* reader) const noexcept;
};
using ReaderPtr = std::unique_ptr<MarkupReader, ReaderRelease>;

// Starts a read in pieces. Returns none when memory runs out, after writing
// "No more memory\n" to `err` when given.
NAMETREE_API ReaderPtr markup_reader_create(FILE* err = nullptr, ReaderOptions options = {});

// Feeds the next piece, of any size. Returns false once a fault has been found; further
// pieces are then ignored and markup_finish gives the fault.
NAMETREE_API bool markup_feed(MarkupReader& reader, std::string_view piece);

// Ends the read: the tree, or the fault that ended it ("Incomplete xml\n" when elements
// are left open). Text after the last tag, and a tag, value or comment left open, are
// dropped without a fault. The reader is spent afterwards.
NAMETREE_API ParseResult markup_finish(MarkupReader& reader);

}  // namespace nametree
