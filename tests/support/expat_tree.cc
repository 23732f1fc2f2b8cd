// Builds the name tree of a document from expat's events: elements and their attributes
// as they are given, and an element's value from its runs of character data, joined,
// less the runs of white space alone written between markup.
#include "expat_tree.h"

#include <expat.h>

#include <algorithm>
#include <string>

#include "tree_compare.h"

namespace {

struct Builder {
  XML_Parser parser = nullptr;
  std::string_view text;
  ExpatTree* out = nullptr;
  nametree::TreeNode* current = nullptr;
  // Per open element, its character data so far; and the run being read.
  std::vector<std::string> values;
  std::string run;
  bool run_content = false;  // the run holds a reference, a CDATA section or more than white space
  bool in_cdata = false;
};

void end_run(Builder& b) {
  if (!b.values.empty() && b.run_content) b.values.back() += b.run;
  b.run.clear();
  b.run_content = false;
}

void on_start(void* data, const XML_Char* name, const XML_Char** attributes) {
  Builder& b = *static_cast<Builder*>(data);
  end_run(b);
  b.out->element_starts.push_back(
      {static_cast<std::int32_t>(XML_GetCurrentLineNumber(b.parser)),
       static_cast<std::int32_t>(XML_GetCurrentColumnNumber(b.parser)) + 1});
  nametree::NameTree& tree = *b.out->tree;
  nametree::TreeNode* element = nametree::tree_append_child(tree, *b.current, name);
  const int specified = XML_GetSpecifiedAttributeCount(b.parser);
  for (int i = 0; i < specified; i += 2) {
    nametree::TreeNode* attribute = nametree::tree_append_child(tree, *element, attributes[i]);
    nametree::tree_set_value(tree, *attribute, attributes[i + 1]);
    nametree::node_set_attribute_mark(*attribute, true);
  }
  if (attributes[specified]) b.out->uses_declarations = true;  // defaulted attributes
  b.current = element;
  b.values.emplace_back();
}

void on_end(void* data, const XML_Char*) {
  Builder& b = *static_cast<Builder*>(data);
  end_run(b);
  if (!b.values.back().empty()) nametree::tree_set_value(*b.out->tree, *b.current, b.values.back());
  b.values.pop_back();
  b.current = nametree::node_parent(*b.current);
}

void on_text(void* data, const XML_Char* s, int length) {
  Builder& b = *static_cast<Builder*>(data);
  const std::string_view piece(s, static_cast<std::size_t>(length));
  b.run += piece;
  if (b.in_cdata) {
    b.run_content = true;
    return;
  }
  // A reference is given as an event of its own, whose source starts with `&`.
  const XML_Index at = XML_GetCurrentByteIndex(b.parser);
  if (at >= 0 && static_cast<std::size_t>(at) < b.text.size() &&
      b.text[static_cast<std::size_t>(at)] == '&') {
    b.run_content = true;
    return;
  }
  if (piece.find_first_not_of(" \t\r\n") != std::string_view::npos) b.run_content = true;
}

void on_cdata_start(void* data) {
  Builder& b = *static_cast<Builder*>(data);
  end_run(b);
  b.in_cdata = true;
}

void on_cdata_end(void* data) {
  Builder& b = *static_cast<Builder*>(data);
  end_run(b);
  b.in_cdata = false;
}

void on_comment(void* data, const XML_Char*) {
  end_run(*static_cast<Builder*>(data));
}

void on_instruction(void* data, const XML_Char*, const XML_Char*) {
  end_run(*static_cast<Builder*>(data));
}

void on_entity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
               const XML_Char*, const XML_Char*, const XML_Char*) {
  static_cast<Builder*>(data)->out->uses_declarations = true;
}

void on_attribute_list(void* data, const XML_Char*, const XML_Char*, const XML_Char*,
                       const XML_Char*, int) {
  // Values of declared types other than CDATA are normalized further, and defaults added.
  static_cast<Builder*>(data)->out->uses_declarations = true;
}

void on_doctype(void* data, const XML_Char*, const XML_Char* system_id, const XML_Char* public_id,
                int internal_subset) {
  if (system_id || public_id || internal_subset) {
    static_cast<Builder*>(data)->out->declares_subset = true;
  }
}

void on_skipped(void* data, const XML_Char*, int) {
  static_cast<Builder*>(data)->out->uses_declarations = true;
}

}  // namespace

ExpatTree expat_tree(std::string_view text) {
  ExpatTree out;
  out.tree = nametree::tree_create();
  Builder b;
  b.parser = XML_ParserCreate("UTF-8");
  b.text = text;
  b.out = &out;
  b.current = &nametree::tree_root(*out.tree);
  XML_SetUserData(b.parser, &b);
  XML_SetElementHandler(b.parser, on_start, on_end);
  XML_SetCharacterDataHandler(b.parser, on_text);
  XML_SetCdataSectionHandler(b.parser, on_cdata_start, on_cdata_end);
  XML_SetCommentHandler(b.parser, on_comment);
  XML_SetProcessingInstructionHandler(b.parser, on_instruction);
  XML_SetEntityDeclHandler(b.parser, on_entity);
  XML_SetAttlistDeclHandler(b.parser, on_attribute_list);
  XML_SetSkippedEntityHandler(b.parser, on_skipped);
  XML_SetStartDoctypeDeclHandler(b.parser, on_doctype);
  const bool parsed =
      XML_Parse(b.parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
  out.line = static_cast<std::int32_t>(XML_GetCurrentLineNumber(b.parser));
  out.column = static_cast<std::int32_t>(XML_GetCurrentColumnNumber(b.parser)) + 1;
  out.byte = static_cast<std::size_t>(std::max<XML_Index>(XML_GetCurrentByteIndex(b.parser), 0));
  if (!parsed) out.tree.reset();
  XML_ParserFree(b.parser);
  return out;
}

namespace {

// Whether `text` has a document type declaration with an internal subset.
bool has_internal_subset(std::string_view text) {
  std::size_t at = text.find("<!DOCTYPE");
  char quote = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (quote) {
      quote = c == quote ? 0 : quote;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[' || c == '>') {
      return c == '[';
    }
  }
  return false;
}

// Whether the bytes at `at` are one character past ASCII, encoded as UTF-8 should be.
bool valid_character_past_ascii(std::string_view text, std::size_t at) {
  if (at >= text.size()) return false;
  const auto c = static_cast<unsigned char>(text[at]);
  const std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
  if (length == 0 || c > 0xF4 || at + length > text.size()) return false;
  std::uint32_t code = c & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return false;
    code = code << 6 | (next & 0x3F);
  }
  const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  return code >= least[length] && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) &&
         code != 0xFFFE && code != 0xFFFF;
}

}  // namespace

std::string expat_difference(std::string_view text, const nametree::ParseResult& ours) {
  const ExpatTree expected = expat_tree(text);
  if (!expected.tree) {
    if (!ours.tree || has_internal_subset(text) ||
        valid_character_past_ascii(text, expected.byte)) {
      return "";
    }
    return "expat refuses it at " + std::to_string(expected.line) + ":" +
           std::to_string(expected.column) + ", the XML reading does not";
  }
  if (expected.uses_declarations) return "";
  if (!ours.tree) {
    if (ours.fault.kind == nametree::FaultKind::kUnknownEntity && expected.declares_subset)
      return "";
    return "expat reads it, the XML reading gives " + ours.fault.message;
  }
  return tree_difference(&nametree::tree_root(*ours.tree), &nametree::tree_root(*expected.tree));
}
