// The name tree: named nodes with optional text values, where repeated names among
// siblings are numbered in order of arrival. Nodes are added under an explicit parent
// (tree_append_child), or under a movable current node (tree_add_child), where an added
// node becomes current, so a reader descends by adding and climbs by making the parent
// current again.
//
// The public headers need C++17; the library itself is built as C++20.
//
// The tree owns every node and every name and value; a node, and the text views taken
// from it, stay valid until the tree is released, except that tree_set_value ends the
// views of the value it replaces, and tree_remove_node the nodes it removes. Releasing
// takes no recursion, however deep or wide the tree.
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

// Adds a node named `name` as the last child of `parent`, numbered as tree_add_child
// numbers it, and returns it; the current node stays as it was. Returns none only when
// memory runs out; the tree is then unchanged. `parent` must belong to `tree`.
NAMETREE_API TreeNode* tree_append_child(NameTree& tree, TreeNode& parent, std::string_view name);

// Gives `node` a copy of `value`, replacing any value it had. `value` may be a view of
// any name or value of the tree, the node's own value included. Returns false only when
// memory runs out; the node then keeps its old value.
NAMETREE_API bool tree_set_value(NameTree& tree, TreeNode& node, std::string_view value);

// Marks `node` as made from a markup attribute, or clears the mark.
NAMETREE_API void node_set_attribute_mark(TreeNode& node, bool mark);

// Removes `node` and every node below it from the tree. The siblings that shared its name
// are numbered again as if it had never been added: those after it move down by one, and
// a name left to a single holder gives it occurrence 0. When the current node was `node`
// or below it, the parent of `node` becomes current. Returns false, and changes nothing,
// for the root, which cannot be removed. `node` must belong to `tree`.
//
// The removed nodes, and the views taken from them, must not be used again; their memory
// goes back when the tree is released. Removing takes no recursion: it walks the siblings
// of `node` and, where the current node lies elsewhere, climbs from the current node to
// the root; a tree whose parents have grown wide also visits every removed node.
NAMETREE_API bool tree_remove_node(NameTree& tree, TreeNode& node);

// Reading a node. The parent is none only for the root; children come in insertion order.
// Nodes hold no link back to their previous sibling, and only the last child of a parent
// links to it: node_parent walks the siblings after the node (one step for the last
// child, as on the way back up a walk through the tree), and node_last_child walks the
// children. Every other call here takes one step. A walk through the whole tree that goes
// to the first child, else to the next sibling, else climbs with node_parent from a last
// child, thus takes one step per node.
// Each comes in a const form and in a mutable one, for a tree being edited.
NAMETREE_API const TreeNode* node_parent(const TreeNode& node);
NAMETREE_API TreeNode* node_parent(TreeNode& node);
NAMETREE_API const TreeNode* node_first_child(const TreeNode& node);
NAMETREE_API TreeNode* node_first_child(TreeNode& node);
NAMETREE_API const TreeNode* node_last_child(const TreeNode& node);
NAMETREE_API TreeNode* node_last_child(TreeNode& node);
NAMETREE_API const TreeNode* node_next_sibling(const TreeNode& node);
NAMETREE_API TreeNode* node_next_sibling(TreeNode& node);
NAMETREE_API std::string_view node_name(const TreeNode& node);
NAMETREE_API std::optional<std::string_view> node_value(
    const TreeNode& node);                                  // none until one is set
NAMETREE_API bool node_is_attribute(const TreeNode& node);  // made from a markup attribute
// 0 while no sibling has the same name; otherwise the node's number among its
// same-named siblings, counting from 1.
NAMETREE_API std::int32_t node_occurrence(const TreeNode& node);

// Lookups. None of them allocates or recurses; each walks the children of every node on
// its way, and gives none where there is no such node.
//
// The `k`-th element child of `node` named `name`, counting from 1 and counting elements
// only: attributes of the same name do not count, though they share occurrence numbers
// with the elements. `k` 0 gives none.
NAMETREE_API const TreeNode* node_child(const TreeNode& node, std::string_view name,
                                        std::size_t k = 1);
// The first attribute child of `node` named `name`.
NAMETREE_API const TreeNode* node_attribute(const TreeNode& node, std::string_view name);
// The node that `path` leads to from `node`. A path is steps joined by `/`: a step
// `name` is the first element child of that name, `name[k]` its k-th (k from 1, written
// without leading zeros, as node_child counts), and a last step `@name` the attribute
// of that name: "config/server[2]/port", "config/server/@id". A name in a path holds no
// `/`, `[` or `]` and does not start with `@`. A malformed path (empty, an empty step, a
// leading or trailing `/`, `[0]`, `@` before the last step, anything after `]`) gives
// none.
NAMETREE_API const TreeNode* find(const TreeNode& node, std::string_view path);

inline TreeNode* node_child(TreeNode& node, std::string_view name, std::size_t k = 1) {
  return const_cast<TreeNode*>(node_child(static_cast<const TreeNode&>(node), name, k));
}
inline TreeNode* node_attribute(TreeNode& node, std::string_view name) {
  return const_cast<TreeNode*>(node_attribute(static_cast<const TreeNode&>(node), name));
}
inline TreeNode* find(TreeNode& node, std::string_view path) {
  return const_cast<TreeNode*>(find(static_cast<const TreeNode&>(node), path));
}

// The children of a node in order, for a range-for loop: const nodes from a const node
// (ChildIterator), mutable ones from a mutable node (MutableChildIterator). A child may be
// removed in the loop only after the loop has stepped past it: take its next sibling
// first.
template <typename Node>
struct BasicChildIterator {
  using iterator_category = std::forward_iterator_tag;
  using value_type = TreeNode;
  using difference_type = std::ptrdiff_t;
  using pointer = Node*;
  using reference = Node&;

  Node* node = nullptr;

  reference operator*() const {
    return *node;
  }
  pointer operator->() const {
    return node;
  }
  BasicChildIterator& operator++() {
    node = node_next_sibling(*node);
    return *this;
  }
  BasicChildIterator operator++(int) {
    BasicChildIterator before = *this;
    ++*this;
    return before;
  }
  bool operator==(const BasicChildIterator& other) const {
    return node == other.node;
  }
  bool operator!=(const BasicChildIterator& other) const {
    return node != other.node;
  }
};
using ChildIterator = BasicChildIterator<const TreeNode>;
using MutableChildIterator = BasicChildIterator<TreeNode>;

template <typename Node>
struct BasicChildRange {
  Node* first = nullptr;
  BasicChildIterator<Node> begin() const {
    return {first};
  }
  BasicChildIterator<Node> end() const {
    return {};
  }
};
using ChildRange = BasicChildRange<const TreeNode>;
using MutableChildRange = BasicChildRange<TreeNode>;

inline ChildRange node_children(const TreeNode& node) {
  return {node_first_child(node)};
}
inline MutableChildRange node_children(TreeNode& node) {
  return {node_first_child(node)};
}

}  // namespace nametree
