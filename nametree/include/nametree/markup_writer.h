// The markup writer: writes a name tree, or the subtree under one node, as XML. Elements
// become tags, attribute-marked children attributes of their element's start tag, and an
// element's value its character data, escaped where XML needs it. Whatever tree the XML
// reading (ReaderOptions::xml) builds, it reads the written text back as the same tree.
//
// Trees the XML reading cannot build are written as follows, or refused:
// - attributes after an element child are written in the start tag all the same, so they
//   read back before the elements (numbered again where they share a name with one);
// - an element's value is written before its element children, so text that lay between
//   them reads back as one run, as the XML reading joins it anyway;
// - an empty value reads back as no value, as XML has no empty text (a value of white
//   space alone starts with a character reference, so that it is not taken for the white
//   space between tags); an attribute without a value is written, and read back, with
//   the empty value;
// - the root's element children are written one after the other: none gives no element
//   at all, and more than one a text the XML reading refuses ("second root element");
// - refused, with nothing written: a name that is not an XML name (the empty name
//   included), a value holding anything but UTF-8 of XML characters (control characters
//   but tab, line feed and carriage return; surrogates; U+FFFE, U+FFFF), two attributes
//   of one name in one element, an attribute or a value of the root, a node below an
//   attribute, and an attribute node given to be written on its own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "nametree/export.h"
#include "nametree/name_tree.h"

namespace nametree {

struct WriterOptions {
  // Each element on a line of its own, its children indented two spaces a level deeper,
  // every line ended by a newline. An element with a value and element children is
  // written whole on one line, as white space added inside it would join its text.
  bool indent = false;
  // The XML declaration first: `<?xml version="1.0" encoding="UTF-8"?>`, and a newline
  // with `indent`.
  bool declaration = false;
};

enum class WriteFaultKind : std::uint8_t {
  kNone,
  kNotXmlName,         // "name \"%s\" is not an XML name\n"
  kNotXmlText,         // "value of \"%s\" is not XML text at byte %zu\n"
  kRepeatedAttribute,  // "attribute \"%s\" is given twice\n"
  // "attribute \"%s\" is outside any element\n", "text is outside any element\n"
  kOutsideElement,
  kBelowAttribute,  // "node \"%s\" is below an attribute\n"
  kWriteError,      // "write error: %s\n" with the system's reason
  kNoMemory,        // "No more memory\n"
};

// A short stable name for each kind ("not-xml-name"), for logs and tests.
NAMETREE_API const char* write_fault_kind_name(WriteFaultKind kind);

struct WriteFault {
  WriteFaultKind kind = WriteFaultKind::kNone;
  const TreeNode* node = nullptr;  // the node refused; none for kWriteError and kNoMemory
  // Whole, with its newline; a name in it is cut at 64 bytes, with bytes outside
  // printable ASCII and UTF-8 written as \xHH, and `"` and `\` after a backslash.
  std::string message;
};

// Writes `node` as an element with everything below it, or, when `node` is the root,
// the root's element children: the whole document. The tree is checked first: a tree
// refused is not written at all. The stream is flushed at the end, so that a write error
// shows. Returns true when every byte was written; otherwise false, and `fault` (when
// given) says why: the refused node, or the stream's error, after which part of the text
// may have been written.
NAMETREE_API bool markup_write_stream(FILE* out, const TreeNode& node, WriterOptions options = {},
                                      WriteFault* fault = nullptr);

// The same, appending to `out`; `out` is as it was when the tree is refused or memory
// runs out.
NAMETREE_API bool markup_write_text(std::string& out, const TreeNode& node,
                                    WriterOptions options = {}, WriteFault* fault = nullptr);

}  // namespace nametree
