// The markup writer: a check of the whole tree, then one walk that writes it, both in
// loops over the nodes' own links.
#include "nametree/markup_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "tree_storage.h"
#include "xml_text.h"

namespace nametree {

namespace {

constexpr std::array<const char*, 8> kWriteFaultKindNames = {
    "none",
    "not-xml-name",
    "not-xml-text",
    "repeated-attribute",
    "outside-element",
    "below-attribute",
    "write-error",
    "no-memory",
};
static_assert(kWriteFaultKindNames.size() ==
                  static_cast<std::size_t>(WriteFaultKind::kNoMemory) + 1,
              "one name per kind");

// Bytes of a stream's text gathered before they go to the stream.
constexpr std::size_t kStreamChunk = std::size_t{64} << 10;
// The longest part of a name that a message quotes.
constexpr std::size_t kQuotedName = 64;

bool is_attribute(const TreeNode& node) {
  return node.name_and_marks & kAttributeMark;
}

std::string_view value_of(const TreeNode& node) {
  return node.value ? std::string_view(node.value, node.value_size) : std::string_view();
}

// The first element among `node` and the siblings after it.
const TreeNode* element_from(const TreeNode* node) {
  while (node && is_attribute(*node)) node = node->next();
  return node;
}

// `name` for a message: cut, and with control bytes, `"` and `\` escaped.
std::string quoted(std::string_view name) {
  std::string out;
  for (const char c : name.substr(0, kQuotedName)) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    } else {
      out += c;
    }
  }
  if (name.size() > kQuotedName) out += "...";
  return out;
}

WriteFault refusal(WriteFaultKind kind, const TreeNode* node, std::string message) {
  return {kind, node, std::move(message)};
}

// Checks one node that is not the root: its name, its value, and for an element the names
// of its attributes. `names` is scratch room.
WriteFault check_node(const TreeNode& node, std::vector<const char*>& names) {
  const std::string_view name = node.name_view();
  if (!is_xml_name(name)) {
    return refusal(WriteFaultKind::kNotXmlName, &node,
                   "name \"" + quoted(name) + "\" is not an XML name\n");
  }
  const std::size_t bad = first_non_xml_character(value_of(node));
  if (bad != std::string_view::npos) {
    // Formatted here rather than by std::to_string, whose table of digits a shared
    // library would export.
    char offset[24];
    std::snprintf(offset, sizeof offset, "%zu", bad);
    return refusal(WriteFaultKind::kNotXmlText, &node,
                   "value of \"" + quoted(name) + "\" is not XML text at byte " + offset + "\n");
  }
  if (is_attribute(node)) {
    if (node.child) {
      return refusal(WriteFaultKind::kBelowAttribute, node.child,
                     "node \"" + quoted(node.child->name_view()) + "\" is below an attribute\n");
    }
    return {};
  }
  // An attribute numbered 0 has no sibling of its name; the others are compared by their
  // stored names, which are one per tree.
  names.clear();
  for (const TreeNode* child = node.child; child; child = child->next()) {
    if (is_attribute(*child) && child->occurrence != 0) names.push_back(child->name());
  }
  if (names.size() > 1) {
    std::sort(names.begin(), names.end());
    const auto twice = std::adjacent_find(names.begin(), names.end());
    if (twice != names.end()) {
      const TreeNode* child = node.child;
      while (child->name() != *twice || !is_attribute(*child)) child = child->next();
      return refusal(WriteFaultKind::kRepeatedAttribute, child,
                     "attribute \"" + quoted(child->name_view()) + "\" is given twice\n");
    }
  }
  return {};
}

// Checks everything that writing `top` would write. May throw std::bad_alloc.
WriteFault check_tree(const TreeNode& top) {
  if (is_attribute(top)) {
    return refusal(WriteFaultKind::kOutsideElement, &top,
                   "attribute \"" + quoted(top.name_view()) + "\" is outside any element\n");
  }
  const bool whole = !top.parent();
  if (whole) {
    if (top.value)
      return refusal(WriteFaultKind::kOutsideElement, &top, "text is outside any element\n");
    for (const TreeNode* child = top.child; child; child = child->next()) {
      if (is_attribute(*child)) {
        return refusal(WriteFaultKind::kOutsideElement, child,
                       "attribute \"" + quoted(child->name_view()) + "\" is outside any element\n");
      }
    }
  }
  std::vector<const char*> names;
  for (const TreeNode* node = whole ? top.child : &top; node;) {
    WriteFault fault = check_node(*node, names);
    if (fault.kind != WriteFaultKind::kNone) return fault;
    if (node->child) {
      node = node->child;
      continue;
    }
    while (node != &top && !node->next()) node = node->parent();
    node = node == &top ? nullptr : node->next();
  }
  return {};
}

// Where the text goes: appended to `text`, which for a stream is a buffer emptied into
// the stream a chunk at a time.
struct Output {
  std::string& text;
  FILE* stream = nullptr;
  int error = 0;  // the first errno of the stream, once it has failed

  // Empties the buffer into the stream once it holds a chunk, or at `last` whatever it
  // holds.
  void drain(bool last) {
    if (!stream || (!last && text.size() < kStreamChunk)) return;
    errno = 0;
    if (!error && !text.empty() &&
        std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
      error = errno ? errno : EIO;
    }
    text.clear();
    if (last && !error && (std::fflush(stream) != 0 || std::ferror(stream))) {
      error = errno ? errno : EIO;
    }
  }
};

// Which bytes each escape table replaces: in character data `<`, `&`, `>` (which would
// end a `]]>`), and a carriage return, which reading would make a line feed; in an
// attribute value in double quotes `<`, `&`, `"`, and the white space that reading would
// make a space.
struct Escapes {
  std::array<bool, 256> special{};
  constexpr Escapes(std::string_view bytes) {
    for (const char c : bytes) special[static_cast<unsigned char>(c)] = true;
  }
};
constexpr Escapes kTextEscapes("<&>\r");
constexpr Escapes kAttributeEscapes("<&\"\t\n\r");

void append_escaped(std::string& out, std::string_view text, const Escapes& escapes) {
  std::size_t run = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (!escapes.special[static_cast<unsigned char>(c)]) continue;
    out.append(text, run, at - run);
    run = at + 1;
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      default:
        out += "&#13;";
        break;
    }
  }
  out.append(text, run, text.size() - run);
}

bool is_white(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// An element's value as character data. A value of white space alone starts with a
// character reference: white space written as such between tags is no value.
void append_text(std::string& out, std::string_view text) {
  if (!text.empty() && std::all_of(text.begin(), text.end(), is_white)) {
    constexpr std::string_view kReferences[] = {"&#32;", "&#9;", "&#10;", "&#13;"};
    out += kReferences[std::string_view(" \t\n\r").find(text.front())];
    text.remove_prefix(1);
  }
  append_escaped(out, text, kTextEscapes);
}

// `<name` and the attributes, all of them, wherever they stand among the children.
void append_start_tag(std::string& out, const TreeNode& element) {
  out += '<';
  out += element.name_view();
  for (const TreeNode* child = element.child; child; child = child->next()) {
    if (!is_attribute(*child)) continue;
    out += ' ';
    out += child->name_view();
    out += "=\"";
    append_escaped(out, value_of(*child), kAttributeEscapes);
    out += '"';
  }
}

void append_end_tag(std::string& out, const TreeNode& element) {
  out += "</";
  out += element.name_view();
  out += '>';
}

// Writes what check_tree has passed, without recursion. `depth` is the level below `top`
// (0 for `top`, or for the root's children when writing the whole tree); from
// `compact_from` down, elements are written without indentation, as text inside them
// would be changed by it. May throw std::bad_alloc.
void write_tree(Output& output, const TreeNode& top, const WriterOptions& options) {
  constexpr std::size_t kNone = SIZE_MAX;
  std::string& out = output.text;
  const bool whole = !top.parent();
  if (options.declaration) {
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    if (options.indent) out += '\n';
  }
  std::size_t depth = 0;
  std::size_t compact_from = kNone;
  const TreeNode* node = whole ? element_from(top.child) : &top;
  while (node && !output.error) {
    const bool lined = options.indent && compact_from == kNone;
    if (lined) out.append(2 * depth, ' ');
    append_start_tag(out, *node);
    const TreeNode* first = element_from(node->child);
    if (!first && !node->value) {
      out += "/>";
    } else {
      out += '>';
      append_text(out, value_of(*node));
      if (first) {
        if (lined && node->value) {
          compact_from = depth;
        } else if (lined) {
          out += '\n';
        }
        node = first;
        ++depth;
        continue;
      }
      append_end_tag(out, *node);
    }
    if (lined) out += '\n';
    output.drain(false);
    // On to the next element: a sibling, else the end tags of the elements climbed out of.
    for (;;) {
      if (node == &top) {
        node = nullptr;
        break;
      }
      if (const TreeNode* next = element_from(node->next())) {
        node = next;
        break;
      }
      node = node->parent();
      if (node == &top && whole) {
        node = nullptr;
        break;
      }
      --depth;
      if (compact_from == kNone && options.indent) out.append(2 * depth, ' ');
      append_end_tag(out, *node);
      if (compact_from == depth) compact_from = kNone;
      if (compact_from == kNone && options.indent) out += '\n';
      output.drain(false);
    }
  }
}

void give(WriteFault* fault, WriteFault found) {
  if (fault) *fault = std::move(found);
}

}  // namespace

const char* write_fault_kind_name(WriteFaultKind kind) {
  const auto index = static_cast<std::size_t>(kind);
  return index < kWriteFaultKindNames.size() ? kWriteFaultKindNames[index] : "unknown";
}

bool markup_write_stream(FILE* out, const TreeNode& node, WriterOptions options,
                         WriteFault* fault) {
  try {
    WriteFault found = check_tree(node);
    if (found.kind != WriteFaultKind::kNone) {
      give(fault, std::move(found));
      return false;
    }
    std::string buffer;
    buffer.reserve(kStreamChunk + kStreamChunk / 4);
    Output output{buffer, out};
    write_tree(output, node, options);
    output.drain(true);
    if (output.error) {
      give(fault, {WriteFaultKind::kWriteError, nullptr,
                   std::string("write error: ") + std::strerror(output.error) + "\n"});
      return false;
    }
  } catch (const std::bad_alloc&) {
    give(fault, {WriteFaultKind::kNoMemory, nullptr, "No more memory\n"});
    return false;
  }
  give(fault, {});
  return true;
}

bool markup_write_text(std::string& out, const TreeNode& node, WriterOptions options,
                       WriteFault* fault) {
  const std::size_t size_before = out.size();
  try {
    WriteFault found = check_tree(node);
    if (found.kind != WriteFaultKind::kNone) {
      give(fault, std::move(found));
      return false;
    }
    Output output{out};
    write_tree(output, node, options);
  } catch (const std::bad_alloc&) {
    out.resize(size_before);
    give(fault, {WriteFaultKind::kNoMemory, nullptr, "No more memory\n"});
    return false;
  }
  give(fault, {});
  return true;
}

}  // namespace nametree
