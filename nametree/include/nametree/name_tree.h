// The name tree: named nodes with optional text values, where repeated names among
// siblings are numbered in order of arrival. Nodes are added under a movable current
// node, and an added node becomes current, so a reader descends by adding and climbs by
// making the parent current again.
//
// The public headers need C++17; the library itself is built as C++20.
//
// The tree owns every node and every name and value; a node, and the text views taken
// from it, stay valid until the tree is released, except that tree_set_value ends the
// views of the value it replaces. Releasing takes no recursion, however deep or wide the
// tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string_view>

#include "nametree/export.h"

namespace nametree {

struct NameTree;  // the tree object; its layout is the library's own
struct TreeNode;  // one node of a tree

struct TreeRelease {
  NAMETREE_API void operator()(NameTree* tree) const noexcept;
};
// The owner of a tree: releasing it releases every node, name and value.
using TreePtr = std::unique_ptr<NameTree, TreeRelease>;

// Creates a tree holding only its root, which has the empty name and is current.
// Returns none when memory runs out.
NAMETREE_API TreePtr tree_create();

// Releases a tree; accepts none.
NAMETREE_API void tree_destroy(TreePtr tree);

NAMETREE_API TreeNode& tree_root(NameTree& tree);
NAMETREE_API const TreeNode& tree_root(const NameTree& tree);

// The node under which the next node is added.
NAMETREE_API TreeNode& tree_current(NameTree& tree);
// `node` must belong to `tree`.
NAMETREE_API void tree_set_current(NameTree& tree, TreeNode& node);

// Adds a node named `name` as the last child of the current node and makes it current.
// Among its siblings a name used once keeps occurrence 0; a repeated name numbers its
// holders 1, 2, 3 ... in order of arrival. Returns false only when memory runs out; the
// tree is then unchanged, the current node included.
NAMETREE_API bool tree_add_child(NameTree& tree, std::string_view name);

// Gives `node` a copy of `value`, replacing any value it had. Returns false only when
// memory runs out; the node then keeps its old value.
NAMETREE_API bool tree_set_value(NameTree& tree, TreeNode& node, std::string_view value);

// Marks `node` as made from a markup attribute, or clears the mark.
NAMETREE_API void node_set_attribute_mark(TreeNode& node, bool mark);

// Reading a node. The parent is none only for the root; children come in insertion order.
// Nodes hold no link back to their previous sibling, and only the last child of a parent
// links to it: node_parent walks the siblings after the node (one step for the last
// child, as on the way back up a walk through the tree), and node_last_child walks the
// children.
NAMETREE_API const TreeNode* node_parent(const TreeNode& node);
NAMETREE_API TreeNode* node_parent(TreeNode& node);
NAMETREE_API const TreeNode* node_first_child(const TreeNode& node);
NAMETREE_API const TreeNode* node_last_child(const TreeNode& node);
NAMETREE_API const TreeNode* node_next_sibling(const TreeNode& node);
NAMETREE_API std::string_view node_name(const TreeNode& node);
NAMETREE_API std::optional<std::string_view> node_value(
    const TreeNode& node);                                  // none until one is set
NAMETREE_API bool node_is_attribute(const TreeNode& node);  // made from a markup attribute
// 0 while no sibling has the same name; otherwise the node's number among its
// same-named siblings, counting from 1.
NAMETREE_API std::int32_t node_occurrence(const TreeNode& node);

// The children of a node in order, for a range-for loop.
struct ChildIterator {
  using iterator_category = std::forward_iterator_tag;
  using value_type = TreeNode;
  using difference_type = std::ptrdiff_t;
  using pointer = const TreeNode*;
  using reference = const TreeNode&;

  const TreeNode* node = nullptr;

  reference operator*() const {
    return *node;
  }
  ChildIterator& operator++() {
    node = node_next_sibling(*node);
    return *this;
  }
  ChildIterator operator++(int) {
    ChildIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const ChildIterator& other) const {
    return node == other.node;
  }
  bool operator!=(const ChildIterator& other) const {
    return node != other.node;
  }
};

struct ChildRange {
  const TreeNode* first = nullptr;
  ChildIterator begin() const {
    return {first};
  }
  ChildIterator end() const {
    return {};
  }
};

inline ChildRange node_children(const TreeNode& node) {
  return {node_first_child(node)};
}

}  // namespace nametree
