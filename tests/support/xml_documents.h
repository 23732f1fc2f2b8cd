// Random well-formed XML documents: namespaces, entity and character references, CDATA
// sections, comments, processing instructions, mixed content, both quote kinds, line
// ends of every kind and characters past ASCII.
#pragma once

#include <cstdint>
#include <random>
#include <string>

struct XmlDocumentGenerator {
  std::mt19937 random;
  std::string document();
};
