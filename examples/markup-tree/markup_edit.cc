// markup-edit: reads an XML file, applies edits given on the command line in order, and
// writes the document back, indented, to standard output. Edits:
//
//   -PATH         removes the node PATH leads to, with everything below it
//   -PATH/*NAME   removes every element named NAME below the node PATH leads to
//   PATH=VALUE    sets the value of the node PATH leads to; where the last step, NAME or
//                 @NAME, leads nowhere, it is added as the last element, or as an
//                 attribute, of the node the rest of PATH leads to
//
// A path is as nametree's find() takes it: `config/server[2]/port`, `config/server/@id`.
// A file the reader refuses, an edit that leads nowhere and a tree the writer refuses
// give a message and exit status 1.
//
// usage: markup-edit <file> [edit]...
#include <nametree/markup_reader.h>
#include <nametree/markup_writer.h>

#include <cstdio>
#include <string>
#include <string_view>

namespace {

using nametree::TreeNode;

// The node the part of `path` before its last step leads to from `root`, and that step.
TreeNode* parent_of(TreeNode& root, std::string_view path, std::string_view& step) {
  const std::size_t slash = path.rfind('/');
  step = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
  if (slash == std::string_view::npos) return &root;
  return nametree::find(root, path.substr(0, slash));
}

bool remove_nodes(nametree::NameTree& tree, std::string_view path) {
  TreeNode& root = nametree::tree_root(tree);
  std::string_view step;
  TreeNode* parent = parent_of(root, path, step);
  if (parent && step.substr(0, 1) == "*") {
    // Every element of that name, in one walk through the children: the loop steps past
    // a child before it goes.
    const std::string_view name = step.substr(1);
    for (auto at = nametree::node_children(*parent).begin();
         at != nametree::MutableChildIterator{};) {
      TreeNode& child = *at++;
      if (!nametree::node_is_attribute(child) && nametree::node_name(child) == name) {
        nametree::tree_remove_node(tree, child);
      }
    }
    return true;
  }
  TreeNode* node = nametree::find(root, path);
  return node && nametree::tree_remove_node(tree, *node);
}

bool set_value(nametree::NameTree& tree, std::string_view path, std::string_view value) {
  TreeNode& root = nametree::tree_root(tree);
  TreeNode* node = nametree::find(root, path);
  if (!node) {
    std::string_view step;
    TreeNode* parent = parent_of(root, path, step);
    const bool attribute = step.substr(0, 1) == "@";
    if (attribute) step.remove_prefix(1);
    if (!parent || step.empty() || step.find('[') != std::string_view::npos) return false;
    node = nametree::tree_append_child(tree, *parent, step);
    if (!node) return false;
    nametree::node_set_attribute_mark(*node, attribute);
  }
  return nametree::tree_set_value(tree, *node, value);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("usage: markup-edit <file> [edit]...\n", stderr);
    return 2;
  }
  FILE* in = std::fopen(argv[1], "rb");
  if (!in) {
    std::perror(argv[1]);
    return 2;
  }
  nametree::ReaderOptions options;
  options.xml = true;
  nametree::ParseResult result = nametree::markup_parse_stream(in, nullptr, options);
  std::fclose(in);
  if (!result.tree) {
    std::fprintf(stderr, "%s:%d:%d: %s", argv[1], result.fault.line, result.fault.column,
                 result.fault.message.c_str());
    return 1;
  }
  for (int i = 2; i < argc; ++i) {
    const std::string_view edit = argv[i];
    const std::size_t equals = edit.find('=');
    const bool done = edit.substr(0, 1) == "-" ? remove_nodes(*result.tree, edit.substr(1))
                      : equals != std::string_view::npos
                          ? set_value(*result.tree, edit.substr(0, equals), edit.substr(equals + 1))
                          : false;
    if (!done) {
      std::fprintf(stderr, "%s: cannot apply %s\n", argv[1], argv[i]);
      return 1;
    }
  }
  nametree::WriterOptions written;
  written.indent = true;
  written.declaration = true;
  nametree::WriteFault fault;
  if (!nametree::markup_write_stream(stdout, nametree::tree_root(*result.tree), written, &fault)) {
    std::fprintf(stderr, "%s: %s", argv[1], fault.message.c_str());
    return 1;
  }
  return 0;
}
