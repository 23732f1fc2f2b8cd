// The XML reading of the markup reader: a well-formed XML 1.0 document gives the tree a
// conforming reader gives, and any other input a fault at the character where such a
// reader finds it. The markup reader's entry points hand their input here when
// ReaderOptions::xml is set.
#pragma once

#include <cstdio>
#include <memory>
#include <string_view>

#include "nametree/markup_reader.h"

namespace nametree {

struct XmlReader;  // a read in progress

struct XmlReaderRelease {
  void operator()(XmlReader* reader) const noexcept;
};
using XmlReaderPtr = std::unique_ptr<XmlReader, XmlReaderRelease>;

// Starts a read in pieces; none when memory runs out (the tree's creation having
// failed, "No more memory\n" is then written to `err` when given).
XmlReaderPtr xml_reader_create(FILE* err, ReaderOptions options);

// Feeds the next piece, of any size; false once a fault has been found.
bool xml_feed(XmlReader& reader, std::string_view piece);

// Ends the read: the tree, or the fault that ended it. The reader is spent afterwards.
ParseResult xml_finish(XmlReader& reader);

// Reads a stream to its end, in large blocks.
ParseResult xml_parse_stream(FILE* stream, FILE* err, ReaderOptions options);

// Reads a whole text at once, without copying it.
ParseResult xml_parse_text(std::string_view text, FILE* err, ReaderOptions options);

}  // namespace nametree
