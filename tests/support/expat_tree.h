// The tree a conforming XML reader gives: expat's events turned into a name tree by the
// rules of the markup reader's XML reading. The oracle of the XML reading's tests and of
// the markup fuzz target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "nametree/markup_reader.h"
#include "nametree/name_tree.h"

struct ExpatTree {
  nametree::TreePtr tree;  // none when expat refuses the document
  // Where expat refused it, or ended: line from 1, column from 1.
  std::int32_t line = 0;
  std::int32_t column = 0;
  std::size_t byte = 0;  // the byte of `text` there
  // The document declares entities or attribute defaults, or uses an entity it leaves
  // unread: the XML reading does not use declarations, and gives another tree or a fault.
  bool uses_declarations = false;
  // The document type declaration names an external subset or holds an internal one,
  // which may declare entities that the XML reading takes for unknown ones.
  bool declares_subset = false;
  // Each element's start, in document order.
  std::vector<nametree::NodePosition> element_starts;
};

// Reads `text` as UTF-8 whatever its declaration says, as the XML reading does.
ExpatTree expat_tree(std::string_view text);

// "" when `ours`, the XML reading of `text`, agrees with expat: the same tree where expat
// reads `text`, a fault where it refuses it. Else what differs. Where the XML reading
// departs from expat by design, any outcome agrees: a document that declares what it
// uses, or whose internal subset holds declarations the XML reading does not check, or
// where expat refuses a character past ASCII that is valid UTF-8 (one that XML's fifth
// edition allows in names, and expat's tables, of the earlier editions, do not).
std::string expat_difference(std::string_view text, const nametree::ParseResult& ours);
