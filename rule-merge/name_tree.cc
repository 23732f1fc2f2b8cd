// The name tree store: creation, adding nodes with occurrence numbering, release.
#include "name_tree.h"

#include <new>

NameTree::~NameTree() {
  node_free_chain(root);
}

std::unique_ptr<NameTree> tree_create(FILE* err) {
  std::unique_ptr<NameTree> tree(new (std::nothrow) NameTree);
  if (tree) {
    tree->err = err;
    tree->read_buffer.reset(new (std::nothrow) char[kReadBufferSize]);
    tree->token_buffer.reset(new (std::nothrow) char[kTokenStartSize]);
  }
  if (!tree || !tree->read_buffer || !tree->token_buffer) {
    std::fputs("No more memory\n", err);
    return nullptr;
  }
  tree->token_position = tree->token_buffer.get();
  if (!tree_add_child(*tree, "")) return nullptr;
  tree->root = tree->current;
  return tree;
}

namespace {

// The last earlier sibling named like `node`, found through the index of its wide
// parent (which the call first builds when the parent has just become wide), or none.
// The index is left pointing at `node`. May throw std::bad_alloc.
TreeNode* index_sibling(NameTree& tree, TreeNode* parent, TreeNode* node) {
  if (parent->child_count == kIndexedWidth) {
    for (TreeNode* child = parent->child; child; child = child->next) {
      tree.sibling_index.insert_or_assign(SiblingKey{parent, child->name}, child);
    }
  }
  auto [entry, added] = tree.sibling_index.try_emplace(SiblingKey{parent, node->name}, node);
  if (added) return nullptr;
  TreeNode* same = entry->second;
  entry->second = node;
  return same;
}

// The nearest earlier sibling named like `node`, walking back from `old_last`.
TreeNode* walk_back_to_sibling(TreeNode* old_last, const TreeNode* node) {
  for (TreeNode* sibling = old_last; sibling != node; sibling = sibling->prev) {
    if (sibling->name == node->name) return sibling;
  }
  return nullptr;
}

}  // namespace

bool tree_add_child(NameTree& tree, std::string_view name) {
  TreeNode* node = nullptr;
  TreeNode* same = nullptr;
  bool indexed = false;
  try {
    if (tree.nodes_left == 0) {
      auto block = std::make_unique<TreeNode[]>(kNodeBlockSize);
      tree.node_blocks.push_back(std::move(block));
      tree.nodes_left = kNodeBlockSize;
    }
    // The next free node; it is taken only once nothing below can fail.
    node = &tree.node_blocks.back()[kNodeBlockSize - tree.nodes_left];
    node->name.assign(name);
    if (tree.root && tree.current->child_count >= kIndexedWidth) {
      same = index_sibling(tree, tree.current, node);
      indexed = true;
    }
  } catch (const std::bad_alloc&) {
    std::fprintf(tree.err, "no more memory at %d:%d\n", tree.line, tree.column);
    return false;
  }
  --tree.nodes_left;
  if (!tree.root) {
    // The future root: no parent, and its own ring.
    node->prev = node;
  } else {
    TreeNode* parent = tree.current;
    node->parent = parent;
    if (parent->child_count < UINT32_MAX) ++parent->child_count;
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

void tree_destroy(std::unique_ptr<NameTree> tree) {
  tree.reset();
}

void node_free_chain(TreeNode* node) {
  // Walk down to a leaf, free it, and continue with its next sibling or climb back
  // to its parent. Only the nodes' own links are used, so no stack grows with depth.
  TreeNode* stop = node ? node->parent : nullptr;
  while (node) {
    if (node->child) {
      node = node->child;
      continue;
    }
    TreeNode* after = node->next;
    TreeNode* parent = node->parent;
    node->name = std::string();
    node->value.reset();
    node->next = nullptr;
    if (after) {
      node = after;
    } else if (parent != stop) {
      parent->child = nullptr;  // all its children are gone
      node = parent;
    } else {
      node = nullptr;
    }
  }
}
