// The layout of the name tree, known only inside the library: nodes made in blocks, and
// names and values copied into text blocks owned by the tree, so that a tree of millions
// of nodes costs few allocations to build and few to release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nametree/name_tree.h"

namespace nametree {

struct TreeNode {
  TreeNode* parent = nullptr;  // none only for the root
  TreeNode* child = nullptr;   // the first child
  // Children form a forward list through `next` in insertion order. `prev` runs
  // backwards and closes into a ring: the first child's `prev` is the last child.
  // An only child, and the root, point `prev` at themselves.
  TreeNode* next = nullptr;
  TreeNode* prev = nullptr;
  const char* name = nullptr;  // the root's name is empty
  char* value = nullptr;       // none until a reader sets one
  std::uint32_t name_size = 0;
  std::uint32_t value_size = 0;
  std::int32_t occurrence = 0;
  std::uint32_t child_count : 31 = 0;  // saturates; tells when the children get an index
  std::uint32_t attribute_mark : 1 = 0;

  std::string_view name_view() const {
    return {name, name_size};
  }
};
static_assert(sizeof(TreeNode) <= 64, "a node fits a cache line");

// Parents with at least this many children find a child's same-named predecessor
// through the tree's sibling index instead of walking back through the siblings, so
// that a million differently named siblings cost a million steps, not 10^12.
constexpr std::uint32_t kIndexedWidth = 32;

struct SiblingKey {
  const TreeNode* parent;
  std::string_view name;  // views the node's own name, which never changes
  bool operator==(const SiblingKey&) const = default;
};

struct SiblingKeyHash {
  std::size_t operator()(const SiblingKey& key) const {
    return std::hash<std::string_view>()(key.name) * 31 + std::hash<const void*>()(key.parent);
  }
};

// Nodes are made in blocks of this many: one allocation, and one release, for many.
constexpr std::size_t kNodeBlockSize = 1024;
// Names and values are copied into blocks of this size; a text longer than a quarter of
// a block gets an allocation of its own, so that at most a quarter of a block is wasted.
constexpr std::size_t kTextBlockSize = std::size_t{1} << 16;

struct NameTree {
  TreeNode* root = nullptr;
  TreeNode* current = nullptr;  // the node under which the next node is added
  std::vector<std::unique_ptr<TreeNode[]>> node_blocks;
  std::size_t nodes_left = 0;  // unused nodes at the end of the last block
  std::vector<std::unique_ptr<char[]>> text_blocks;
  char* text_free = nullptr;  // where the next copied text goes in the last block
  std::size_t text_left = 0;
  // For each wide parent and child name, the last child of that name.
  std::unordered_map<SiblingKey, TreeNode*, SiblingKeyHash> sibling_index;
};

// Copies `text` into the tree's text blocks. Returns none when memory runs out.
char* store_text(NameTree& tree, std::string_view text);

}  // namespace nametree
