// The layout of the name tree, known only inside the library. Nodes are 40 bytes, made
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

// Low bits of a node's links, free because nodes are aligned to 8 bytes and stored names
// to 4.
constexpr std::uintptr_t kParentLink = 1;     // in `link`: it leads to the parent
constexpr std::uintptr_t kAttributeMark = 1;  // in `name_and_marks`: made from an attribute
// In `name_and_marks`: a wide parent, whose last child, and its children's names, are
// found through the tree's indexes instead of by walking its children.
constexpr std::uintptr_t kWideMark = 2;
constexpr std::uintptr_t kMarks = kAttributeMark | kWideMark;

struct TreeNode {
  TreeNode* child = nullptr;  // the first child
  // The next sibling in insertion order; after the last child, the parent, with
  // kParentLink set; after the root, nothing. A node that is the last child of its
  // parent (as every node on the path from the root to the node being read is) so
  // finds its parent in one step.
  std::uintptr_t link = 0;
  // The name, stored once per tree for all nodes of that name at an address that is a
  // multiple of 4, with its length in the four bytes before it; and the marks.
  std::uintptr_t name_and_marks = 0;
  char* value = nullptr;  // none until a value is set
  std::uint32_t value_size = 0;
  // 0 while no sibling shares the name; otherwise the node's number among the
  // same-named siblings, counting from 1.
  std::int32_t occurrence = 0;

  TreeNode* next() const {
    return link & kParentLink ? nullptr : reinterpret_cast<TreeNode*>(link);
  }
  TreeNode* parent() const {
    const TreeNode* last = this;
    while (last->link && !(last->link & kParentLink))
      last = reinterpret_cast<TreeNode*>(last->link);
    return reinterpret_cast<TreeNode*>(last->link & ~kParentLink);
  }
  const char* name() const {
    return reinterpret_cast<const char*>(name_and_marks & ~kMarks);
  }
  std::string_view name_view() const {
    std::uint32_t size;
    std::memcpy(&size, name() - sizeof size, sizeof size);
    return {name(), size};
  }
  bool wide() const {
    return name_and_marks & kWideMark;
  }
};
static_assert(sizeof(TreeNode) <= 40, "a node is five words");
static_assert(alignof(TreeNode) >= 2, "the low bit of a node's address is free");

// The longest value or name a tree holds.
constexpr std::size_t kMaxValueSize = UINT32_MAX;

// Parents with this many children become wide, so that a million siblings cost a
// million steps, not 10^12, while a narrow parent needs no index at all.
constexpr std::uint32_t kIndexedWidth = 32;

struct SiblingKey {
  const TreeNode* parent;
  const char* name;  // names are stored once per tree: the same name, the same address
  bool operator==(const SiblingKey&) const = default;
};

struct SiblingKeyHash {
  std::size_t operator()(const SiblingKey& key) const {
    return std::hash<const void*>()(key.parent) * 31 + std::hash<const void*>()(key.name);
  }
};

// Nodes and texts are kept in blocks that grow as the tree does: each block is twice the
// size of the one before, up to kMaxBlockSize, so that a large tree takes few blocks and a
// small one little memory. A block of kMappedBlockSize or more is mapped from the system on
// its own, at a huge-page boundary and with huge pages asked for where the kernel gives
// them: a tree of 100 MB then costs the process some fifty page faults instead of 25,000.
constexpr std::size_t kFirstNodeBlock = 1024;                      // nodes in the first block
constexpr std::size_t kFirstTextBlockSize = std::size_t{1} << 16;  // bytes
constexpr std::size_t kMappedBlockSize = std::size_t{2} << 20;     // one huge page on x86-64
constexpr std::size_t kMaxBlockSize = std::size_t{32} << 20;
// A text longer than this gets a block of its own, so that at most this much of a block
// is left unused when the next text does not fit.
constexpr std::size_t kLongText = std::size_t{1} << 14;

// Releases a block the way it was made: from the heap, or mapped (when `mapped_size` is
// not 0).
struct BlockRelease {
  std::size_t mapped_size = 0;
  void operator()(std::byte* block) const noexcept;
};
using StorageBlock = std::unique_ptr<std::byte[], BlockRelease>;

// Where the reader found a node: its line and column, both from 1.
struct StoredPosition {
  std::int32_t line;
  std::int32_t column;
};

struct NameTree {
  TreeNode* root = nullptr;
  TreeNode* current = nullptr;  // the node under which the next node is added
  // Raw storage, each node made only when it is taken: a block is not cleared first.
  std::vector<StorageBlock> node_blocks;
  TreeNode* node_free = nullptr;  // the next unused node of the last block
  std::size_t nodes_left = 0;     // unused nodes at the end of the last block
  // The size in bytes of the next block.
  std::size_t next_node_block = kFirstNodeBlock * sizeof(TreeNode);
  std::vector<StorageBlock> text_blocks;
  char* text_free = nullptr;  // where the next copied text goes in the last block
  std::size_t text_left = 0;
  std::size_t next_text_block = kFirstTextBlockSize;
  // Every distinct name, in an open-addressing table whose size is a power of two, at
  // most half full; a free slot holds none.
  std::vector<const char*> name_slots;
  std::size_t name_count = 0;
  // For each wide parent, its last child; and for each wide parent and child name, the
  // last child of that name.
  std::unordered_map<const TreeNode*, TreeNode*> last_children;
  std::unordered_map<SiblingKey, TreeNode*, SiblingKeyHash> sibling_index;
  // Where each node started in the text it was read from, when the reader was asked to
  // keep that; kept apart from the nodes, so that they do not grow for it.
  std::unordered_map<const TreeNode*, StoredPosition> positions;
};

}  // namespace nametree
