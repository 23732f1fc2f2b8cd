// Generated markup documents for the markup reader's benchmark, well formed so that a
// conforming XML reader takes them too:
//   catalogue  a library catalogue with realistic nesting, attributes, character data and
//              comments;
//   journal    a journal archive with namespaces, entity and character references, mixed
//              content (text and inline elements) and attributes on most elements.
#pragma once

#include <cstddef>
#include <cstdio>

// Writes the catalogue, of about `bytes` bytes (a little more: open elements are closed
// at the end). Returns false when writing fails.
bool write_markup_document(FILE* out, std::size_t bytes);

// Writes the journal archive, of about `bytes` bytes, as above.
bool write_journal_document(FILE* out, std::size_t bytes);
