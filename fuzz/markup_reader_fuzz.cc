// Fuzzes the markup reader with any bytes. The text and the stream entry points must
// give the same tree for the same bytes, or both fail with the same one message; every
// tree they give must hold together: parent links, the sibling ring, and occurrence
// numbers that count same-named siblings in order.
#include <cstdlib>
#include <string>
#include <unordered_map>

#include "fuzz_support.h"
#include "markup_reader.h"

namespace {

// Moves to the next node in pre-order below `top`, through the nodes' own links.
const TreeNode* next_node(const TreeNode* node, const TreeNode* top) {
  if (node->child) return node->child;
  while (node != top) {
    if (node->next) return node->next;
    node = node->parent;
  }
  return nullptr;
}

// Checks the children of `node`: their parent and ring links, and their numbering.
void check_children(const TreeNode* node) {
  const TreeNode* first = node->child;
  if (!first) return;
  std::unordered_map<std::string_view, int> count;
  const TreeNode* last = nullptr;
  for (const TreeNode* c = first; c; c = c->next) {
    expect(c->parent == node, "a child points at its parent", c->name);
    expect(c == first || c->prev == last, "prev runs backwards", c->name);
    ++count[c->name];
    last = c;
  }
  expect(first->prev == last, "the first child's prev is the last child", first->name);
  std::unordered_map<std::string_view, int> seen;
  for (const TreeNode* c = first; c; c = c->next) {
    int expected = count[c->name] == 1 ? 0 : ++seen[c->name];
    expect(c->occurrence == expected, "occurrence counts same-named siblings", c->name);
  }
}

void check_tree(const NameTree& tree) {
  expect(tree.root && !tree.root->parent && tree.root->prev == tree.root && tree.root->name.empty(),
         "the root stands alone, unnamed");
  expect(tree.current == tree.root, "a finished parse is back at the root");
  expect(!tree.token_buffer && !tree.read_buffer && tree.token_capacity == 0,
         "a finished parse keeps only nodes");
  for (const TreeNode* node = tree.root; node; node = next_node(node, tree.root))
    check_children(node);
}

void expect_same_trees(const NameTree& a, const NameTree& b) {
  const TreeNode* x = a.root;
  const TreeNode* y = b.root;
  while (x && y) {
    expect(x->name == y->name, "same names", x->name + " / " + y->name);
    expect(x->value == y->value, "same values",
           x->value.value_or("(none)") + " / " + y->value.value_or("(none)"));
    expect(x->attribute_mark == y->attribute_mark, "same attribute marks", x->name);
    expect(x->occurrence == y->occurrence, "same occurrences", x->name);
    expect(!x->child == !y->child, "same children", x->name);
    expect(!x->next == !y->next, "same siblings", x->name);
    x = next_node(x, a.root);
    y = next_node(y, b.root);
  }
  expect(!x && !y, "same number of nodes");
}

// A message with its position: `<text> at <line>:<column>\n`.
bool positioned(std::string_view err, std::string_view text) {
  if (!err.starts_with(text) || !err.ends_with('\n')) return false;
  std::string_view rest = err.substr(text.size());
  if (!rest.starts_with(" at ")) return false;
  rest = rest.substr(4, rest.size() - 5);
  std::size_t colon = rest.find(':');
  return colon != std::string_view::npos && whole_number(rest.substr(0, colon)) &&
         whole_number(rest.substr(colon + 1));
}

void check_message(std::string_view err) {
  if (err == "Incomplete xml\n" || positioned(err, "tag is already opened") ||
      positioned(err, "tag is not yet opened")) {
    return;
  }
  for (std::string_view kind : {" is closed at zero level", " is not properly paired"}) {
    std::size_t at = err.find(kind);
    if (err.starts_with("tag ") && at != std::string_view::npos && positioned(err.substr(at), kind))
      return;
  }
  fail("one of the reader's messages", err);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw = as_text(data, size);
  {
    // The text entry point takes NUL bytes like any other character.
    Capture err;
    std::unique_ptr<NameTree> tree = markup_parse_text(raw, err.file);
    std::string message = err.take();
    if (tree) {
      expect(message.empty(), "a tree comes without a message", message);
      check_tree(*tree);
    } else if (!raw.empty()) {
      check_message(message);
    }
  }

  // A NUL ends the piece the stream reads it in, so the two are compared without them.
  std::string text;
  for (char c : raw) {
    if (c != '\0') text += c;
  }
  Capture text_err, stream_err;
  std::unique_ptr<NameTree> from_text = markup_parse_text(text, text_err.file);
  FILE* stream = fmemopen(text.data(), text.size(), "r");
  if (!stream) std::abort();
  std::unique_ptr<NameTree> from_stream = markup_parse_stream(stream, stream_err.file);
  std::fclose(stream);
  std::string text_message = text_err.take();
  std::string stream_message = stream_err.take();

  if (text.empty()) {
    // An empty text is no document; an empty stream is a document with nothing in it.
    expect(!from_text && text_message.empty(), "an empty text gives nothing");
    expect(from_stream && !from_stream->root->child && stream_message.empty(),
           "an empty stream gives a bare root");
    return 0;
  }
  expect(text_message == stream_message, "text and stream say the same",
         text_message + " / " + stream_message);
  expect(!from_text == !from_stream, "text and stream both give a tree or both fail");
  if (from_text) {
    expect_same_trees(*from_text, *from_stream);
  } else {
    check_message(text_message);
  }
  return 0;
}
