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

bool tree_add_child(NameTree& tree, std::string_view name) {
  TreeNode* node = nullptr;
  try {
    node = new TreeNode;
    node->name.assign(name);
  } catch (const std::bad_alloc&) {
    delete node;
    std::fprintf(tree.err, "no more memory at %d:%d\n", tree.line, tree.column);
    return false;
  }
  if (!tree.root) {
    // The future root: no parent, and its own ring.
    node->prev = node;
  } else {
    TreeNode* parent = tree.current;
    node->parent = parent;
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
      for (TreeNode* sibling = old_last; sibling != node; sibling = sibling->prev) {
        if (sibling->name == node->name) {
          if (sibling->occurrence == 0) sibling->occurrence = 1;
          node->occurrence = sibling->occurrence + 1;
          break;
        }
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
    delete node;
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
