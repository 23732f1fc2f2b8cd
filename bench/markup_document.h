// A generated markup document for the markup reader's benchmark: a library catalogue
// with realistic nesting, attributes, character data and comments, well formed so that
// a conforming XML reader takes it too.
#pragma once

#include <cstddef>
#include <cstdio>

// Writes a document of about `bytes` bytes (a little more: open elements are closed
// at the end). Returns false when writing fails.
bool write_markup_document(FILE* out, std::size_t bytes);
