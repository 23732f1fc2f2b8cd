// Entity and character references in markup text: `&lt;` `&gt;` `&amp;` `&quot;`
// `&apos;`, `&#N;` and `&#xH;`, decoded to the bytes they stand for.
#pragma once

#include <cstddef>

namespace nametree {

// Decodes the references in [text, text + size) in place and returns the new size. A
// character reference becomes its UTF-8 bytes; one that is malformed, or whose number is
// not a Unicode scalar value (0, a surrogate, above 0x10FFFF), stays as written, and so
// does an unknown entity. Decoding never lengthens the text.
std::size_t decode_references(char* text, std::size_t size);

}  // namespace nametree
