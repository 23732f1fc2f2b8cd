// markup-tree: prints a markup file's tree as an indented outline, two spaces a level:
// elements by name, with their text after a colon; attributes as name="value". The file
// is read as XML (ReaderOptions::xml): references such as `&amp;` are decoded, CDATA is
// text, and the declaration and comments add nothing. Given a path such as
// `catalog/book[2]/title`, it prints
// only the node the path leads to, with what lies below it. A file the reader refuses
// gives its fault, with line and column, and exit status 1; a path that leads nowhere
// gives status 1 too.
//
// usage: markup-tree <file> [path]
#include <nametree/markup_reader.h>

#include <cstdio>
#include <optional>
#include <string_view>

namespace {

void print(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void print_node(const nametree::TreeNode& node, int depth) {
  for (int i = 0; i < depth; ++i) print("  ");
  print(nametree::node_name(node));
  const std::optional<std::string_view> value = nametree::node_value(node);
  if (nametree::node_is_attribute(node)) {
    print("=\"");
    print(value.value_or(""));
    print("\"");
  } else if (value) {
    print(": ");
    print(*value);
  }
  print("\n");
}

// Prints the nodes below `top`, its children at `depth`, in document order and without
// recursion: down to the first child, else on to the next sibling, else up to the
// nearest ancestor that has one. A node climbed from is the last child of its parent,
// which node_parent reaches in one step, so the walk takes one step per node.
void print_tree(const nametree::TreeNode* top, int depth) {
  const nametree::TreeNode* root = top;
  const nametree::TreeNode* node = nametree::node_first_child(*root);
  while (node) {
    print_node(*node, depth);
    if (const nametree::TreeNode* child = nametree::node_first_child(*node)) {
      node = child;
      ++depth;
      continue;
    }
    while (node != root && !nametree::node_next_sibling(*node)) {
      node = nametree::node_parent(*node);
      --depth;
    }
    node = node == root ? nullptr : nametree::node_next_sibling(*node);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fputs("usage: markup-tree <file> [path]\n", stderr);
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
    std::fprintf(stderr, "%s:%d:%d: %s: %s", argv[1], result.fault.line, result.fault.column,
                 nametree::fault_kind_name(result.fault.kind), result.fault.message.c_str());
    return 1;
  }
  const nametree::TreeNode& root = nametree::tree_root(*result.tree);
  if (argc == 3) {
    const nametree::TreeNode* node = nametree::find(root, argv[2]);
    if (!node) {
      std::fprintf(stderr, "%s: no node at %s\n", argv[1], argv[2]);
      return 1;
    }
    print_node(*node, 0);
    print_tree(node, 1);
  } else {
    print_tree(&root, 0);
  }
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
