// The name tree store: creation, adding nodes with occurrence numbering, values, reading
// and release.
#include <cstring>
#include <new>

#include "tree_storage.h"

namespace nametree {

namespace {

// Where empty names and values point: a value can be empty and still be there.
char kEmptyText[1] = "";

// The last earlier sibling named like `node`, found through the index of its wide
// parent (which the call first builds when the parent has just become wide), or none.
// The index is left pointing at `node`. May throw std::bad_alloc.
TreeNode* index_sibling(NameTree& tree, TreeNode* parent, TreeNode* node) {
  if (parent->child_count == kIndexedWidth) {
    for (TreeNode* child = parent->child; child; child = child->next) {
      tree.sibling_index.insert_or_assign(SiblingKey{parent, child->name_view()}, child);
    }
  }
  auto [entry, added] = tree.sibling_index.try_emplace(SiblingKey{parent, node->name_view()}, node);
  if (added) return nullptr;
  TreeNode* same = entry->second;
  entry->second = node;
  return same;
}

// The nearest earlier sibling named like `node`, walking back from `old_last`.
TreeNode* walk_back_to_sibling(TreeNode* old_last, const TreeNode* node) {
  const std::string_view name = node->name_view();
  for (TreeNode* sibling = old_last; sibling != node; sibling = sibling->prev) {
    if (sibling->name_view() == name) return sibling;
  }
  return nullptr;
}

// Room for one more node at the end of the last block. May throw std::bad_alloc.
TreeNode* next_free_node(NameTree& tree) {
  if (tree.nodes_left == 0) {
    tree.node_blocks.push_back(std::make_unique<TreeNode[]>(kNodeBlockSize));
    tree.nodes_left = kNodeBlockSize;
  }
  return &tree.node_blocks.back()[kNodeBlockSize - tree.nodes_left];
}

constexpr std::uint32_t kMaxChildCount = (std::uint32_t{1} << 31) - 1;

}  // namespace

char* store_text(NameTree& tree, std::string_view text) {
  if (text.empty()) return kEmptyText;
  char* place = nullptr;
  try {
    if (text.size() > kTextBlockSize / 4) {
      tree.text_blocks.push_back(std::make_unique_for_overwrite<char[]>(text.size()));
      place = tree.text_blocks.back().get();  // the block being filled stays as it is
    } else {
      if (tree.text_left < text.size()) {
        tree.text_blocks.push_back(std::make_unique_for_overwrite<char[]>(kTextBlockSize));
        tree.text_free = tree.text_blocks.back().get();
        tree.text_left = kTextBlockSize;
      }
      place = tree.text_free;
      tree.text_free += text.size();
      tree.text_left -= text.size();
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  std::memcpy(place, text.data(), text.size());
  return place;
}

void TreeRelease::operator()(NameTree* tree) const noexcept {
  // Nodes and texts live in blocks: the tree goes without visiting a single node.
  delete tree;
}

TreePtr tree_create() {
  TreePtr tree(new (std::nothrow) NameTree);
  if (!tree || !tree_add_child(*tree, "")) return nullptr;
  return tree;
}

void tree_destroy(TreePtr tree) {
  tree.reset();
}

TreeNode& tree_root(NameTree& tree) {
  return *tree.root;
}

const TreeNode& tree_root(const NameTree& tree) {
  return *tree.root;
}

TreeNode& tree_current(NameTree& tree) {
  return *tree.current;
}

void tree_set_current(NameTree& tree, TreeNode& node) {
  tree.current = &node;
}

bool tree_add_child(NameTree& tree, std::string_view name) {
  TreeNode* node = nullptr;
  TreeNode* same = nullptr;
  bool indexed = false;
  try {
    node = next_free_node(tree);
    const char* stored = store_text(tree, name);
    if (!stored) return false;
    node->name = stored;
    node->name_size = static_cast<std::uint32_t>(name.size());
    if (tree.root && tree.current->child_count >= kIndexedWidth) {
      same = index_sibling(tree, tree.current, node);
      indexed = true;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // The node is taken only now that nothing can fail.
  --tree.nodes_left;
  if (!tree.root) {
    // The future root: no parent, and its own ring.
    node->prev = node;
    tree.root = node;
  } else {
    TreeNode* parent = tree.current;
    node->parent = parent;
    if (parent->child_count < kMaxChildCount) ++parent->child_count;
    if (!parent->child) {
      parent->child = node;
      node->prev = node;
    } else {
      TreeNode* first = parent->child;
      TreeNode* old_last = first->prev;
      first->prev = node;
      old_last->next = node;
      node->prev = old_last;
      // Number the new node after the nearest earlier sibling of the same name.
      if (!indexed) same = walk_back_to_sibling(old_last, node);
      if (same) {
        if (same->occurrence == 0) same->occurrence = 1;
        node->occurrence = same->occurrence + 1;
      }
    }
  }
  tree.current = node;
  return true;
}

bool tree_set_value(NameTree& tree, TreeNode& node, std::string_view value) {
  if (node.value && value.size() <= node.value_size && node.value != kEmptyText) {
    // A later value replaces an earlier one in place when it fits.
    std::memcpy(node.value, value.data(), value.size());
  } else {
    char* stored = store_text(tree, value);
    if (!stored) return false;
    node.value = stored;
  }
  node.value_size = static_cast<std::uint32_t>(value.size());
  return true;
}

void node_set_attribute_mark(TreeNode& node, bool mark) {
  node.attribute_mark = mark;
}

const TreeNode* node_parent(const TreeNode& node) {
  return node.parent;
}

TreeNode* node_parent(TreeNode& node) {
  return node.parent;
}

const TreeNode* node_first_child(const TreeNode& node) {
  return node.child;
}

const TreeNode* node_last_child(const TreeNode& node) {
  return node.child ? node.child->prev : nullptr;
}

const TreeNode* node_next_sibling(const TreeNode& node) {
  return node.next;
}

std::string_view node_name(const TreeNode& node) {
  return node.name_view();
}

std::optional<std::string_view> node_value(const TreeNode& node) {
  if (!node.value) return std::nullopt;
  return std::string_view(node.value, node.value_size);
}

bool node_is_attribute(const TreeNode& node) {
  return node.attribute_mark;
}

std::int32_t node_occurrence(const TreeNode& node) {
  return node.occurrence;
}

}  // namespace nametree
