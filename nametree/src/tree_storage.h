// The layout of the name tree, known only inside the library. Nodes are 48 bytes, made
// in blocks; each distinct name is stored once, and values are copied into text blocks
// owned by the tree. A tree of millions of nodes thus costs few allocations to build and
// to release, and little more memory than its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "nametree/name_tree.h"

namespace nametree {

constexpr std::uint32_t kTopBit = std::uint32_t{1} << 31;

struct TreeNode {
  TreeNode* parent = nullptr;  // none only for the root
  TreeNode* child = nullptr;   // the first child
  TreeNode* next = nullptr;    // the next sibling, in insertion order
  // The name, stored once per tree for all nodes of that name, with its length in the
  // four bytes before it.
  const char* name = nullptr;
  char* value = nullptr;  // none until a value is set
  // The value's length, and in the top bit the attribute mark.
  std::uint32_t value_size_and_mark = 0;
  // 0 while no sibling shares the name; otherwise the node's number among the
  // same-named siblings, counting from 1. The top bit marks a wide parent: its last
  // child, and its children's names, are found through the tree's indexes instead of
  // by walking its children.
  std::uint32_t occurrence_and_wide = 0;

  std::string_view name_view() const {
    std::uint32_t size;
    std::memcpy(&size, name - sizeof size, sizeof size);
    return {name, size};
  }
  std::uint32_t value_size() const {
    return value_size_and_mark & ~kTopBit;
  }
  std::int32_t occurrence() const {
    return static_cast<std::int32_t>(occurrence_and_wide & ~kTopBit);
  }
  bool wide() const {
    return occurrence_and_wide & kTopBit;
  }
};
static_assert(sizeof(TreeNode) <= 48, "a node is six words");

// The longest value a node holds: its length must leave the top bit free.
constexpr std::size_t kMaxValueSize = kTopBit - 1;

// Parents with this many children become wide, so that a million siblings cost a
// million steps, not 10^12, while a narrow parent needs no index at all.
constexpr std::uint32_t kIndexedWidth = 32;

struct SiblingKey {
  const TreeNode* parent;
  const char* name;  // names are stored once per tree: the same name, the same pointer
  bool operator==(const SiblingKey&) const = default;
};

struct SiblingKeyHash {
  std::size_t operator()(const SiblingKey& key) const {
    return std::hash<const void*>()(key.parent) * 31 + std::hash<const void*>()(key.name);
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
  // Every distinct name, in an open-addressing table whose size is a power of two, at
  // most half full; a free slot holds none.
  std::vector<const char*> name_slots;
  std::size_t name_count = 0;
  // For each wide parent, its last child; and for each wide parent and child name, the
  // last child of that name.
  std::unordered_map<const TreeNode*, TreeNode*> last_children;
  std::unordered_map<SiblingKey, TreeNode*, SiblingKeyHash> sibling_index;
};

}  // namespace nametree
