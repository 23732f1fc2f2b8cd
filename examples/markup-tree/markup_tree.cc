// markup-tree: prints a markup file's tree as an indented outline, two spaces a level:
// elements by name, with their text after a colon; attributes as name="value". A file
// the reader refuses gives its fault, with line and column, and exit status 1.
//
// usage: markup-tree <file>
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

// Walks the whole tree in document order without recursion: down to the first child,
// else on to the next sibling, else up to the nearest ancestor that has one.
void print_tree(const nametree::NameTree& tree) {
  const nametree::TreeNode* root = &nametree::tree_root(tree);
  const nametree::TreeNode* node = nametree::node_first_child(*root);
  int depth = 0;
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
  if (argc != 2) {
    std::fputs("usage: markup-tree <file>\n", stderr);
    return 2;
  }
  FILE* in = std::fopen(argv[1], "rb");
  if (!in) {
    std::perror(argv[1]);
    return 2;
  }
  nametree::ParseResult result = nametree::markup_parse_stream(in);
  std::fclose(in);
  if (!result.tree) {
    std::fprintf(stderr, "%s:%d:%d: %s: %s", argv[1], result.fault.line, result.fault.column,
                 nametree::fault_kind_name(result.fault.kind), result.fault.message.c_str());
    return 1;
  }
  print_tree(*result.tree);
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
