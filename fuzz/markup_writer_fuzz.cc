// Fuzzes the markup writer with the trees the XML reading builds. Whatever tree the
// reading gives, the writer must take it and write a text, compact and indented, that
// reads back as the same tree. A node chosen by the input's own bytes is then removed,
// and the edited tree must also read back as written: removal leaves a tree numbered as
// a fresh read numbers it.
#include <string>

#include "fuzz_support.h"
#include "nametree/markup_reader.h"
#include "nametree/markup_writer.h"
#include "tree_compare.h"

namespace {

using namespace nametree;

// The next node after `node` in document order below `top`, or none.
TreeNode* next_node(TreeNode* node, TreeNode* top) {
  if (TreeNode* child = node_first_child(*node)) return child;
  for (; node != top; node = node_parent(*node)) {
    if (TreeNode* next = node_next_sibling(*node)) return next;
  }
  return nullptr;
}

ReaderOptions xml_reading() {
  ReaderOptions options;
  options.xml = true;
  return options;
}

// Writes the tree under `root` both ways and reads each text back: the same tree.
void expect_written_and_read_back(const TreeNode& root) {
  for (const bool indent : {false, true}) {
    WriterOptions options;
    options.indent = indent;
    options.declaration = indent;
    std::string text;
    WriteFault fault;
    expect(markup_write_text(text, root, options, &fault),
           "the writer takes every tree the XML reading builds", fault.message);
    if (!node_first_child(root)) continue;  // no element: no document to read
    ParseResult again = markup_parse_text(text, nullptr, xml_reading());
    expect(bool(again.tree), "the written text reads back", again.fault.message + text);
    const std::string difference = tree_difference(&root, &tree_root(*again.tree));
    expect(difference.empty(), "the written text reads back as the same tree",
           difference + "\n" + text);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ParseResult read = markup_parse_text(as_text(data, size), nullptr, xml_reading());
  if (!read.tree) return 0;
  TreeNode& root = tree_root(*read.tree);
  expect_written_and_read_back(root);

  // The node to remove: the one at an index the input's bytes give, counted in document
  // order below the root.
  std::size_t count = 0;
  for (TreeNode* node = node_first_child(root); node; node = next_node(node, &root)) ++count;
  if (count == 0) return 0;
  std::size_t pick = 0;
  for (std::size_t i = 0; i < size; ++i) pick = pick * 31 + data[i];
  pick %= count;
  TreeNode* node = node_first_child(root);
  for (; pick > 0; --pick) node = next_node(node, &root);
  expect(tree_remove_node(*read.tree, *node), "a node below the root can be removed");
  expect(&tree_current(*read.tree) == &root, "the current root stays current");
  expect_written_and_read_back(root);
  return 0;
}
