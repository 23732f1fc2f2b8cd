// The name tree: named nodes with optional text values, where repeated names among
// siblings are numbered in order of arrival. The configuration scanner and the markup
// reader both record into it; the tree object also carries the markup reader's state.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct TreeNode {
  std::string name;                  // the root's name is the empty string
  std::optional<std::string> value;  // none until a reader sets one
  // Children form a forward list through `next` in insertion order. `prev` runs
  // backwards and closes into a ring: the first child's `prev` is the last child.
  // An only child, and the root, point `prev` at themselves.
  TreeNode* prev = nullptr;
  TreeNode* next = nullptr;
  TreeNode* child = nullptr;
  TreeNode* parent = nullptr;       // none only for the root
  std::uint8_t attribute_mark = 0;  // 1 when made from a markup attribute
  // 0 while no sibling shares the name; otherwise the node's number among the
  // same-named siblings, counting from 1.
  std::int32_t occurrence = 0;
  std::uint32_t child_count = 0;  // saturates; tells when the children get an index
};

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

constexpr std::int32_t kReadBufferSize = 256;  // one markup stream line, terminator included
constexpr std::int32_t kTokenStartSize = 256;  // the markup token buffer doubles from here

// Nodes are made in blocks of this many: one allocation, and one release, for many.
constexpr std::size_t kNodeBlockSize = 1024;

struct NameTree {
  NameTree() = default;
  NameTree(const NameTree&) = delete;
  NameTree& operator=(const NameTree&) = delete;
  // Releases every node without recursion, whatever the depth or width of the tree.
  ~NameTree();

  TreeNode* root = nullptr;
  TreeNode* current = nullptr;  // the node under which the next node is added
  // The storage of every node, released with the tree.
  std::vector<std::unique_ptr<TreeNode[]>> node_blocks;
  std::size_t nodes_left = 0;  // unused nodes at the end of the last block
  // For each wide parent and child name, the last child of that name.
  std::unordered_map<SiblingKey, TreeNode*, SiblingKeyHash> sibling_index;
  FILE* err = nullptr;  // where this tree and its readers report faults

  // Markup reader state; created here, used only by the markup reader.
  std::unique_ptr<char[]> read_buffer;
  std::int32_t read_buffer_size = kReadBufferSize;
  std::unique_ptr<char[]> token_buffer;
  char* token_position = nullptr;  // where the next token character goes
  std::int32_t token_capacity = kTokenStartSize;
  std::int32_t line = 1;
  std::int32_t column = 0;
  bool in_tag = false;
  bool in_attributes = false;
  bool in_value = false;
  bool in_comment = false;
};

// Creates a tree holding only its root (which is current), reporting to `err`.
// Returns none after writing "No more memory" (or the add failure's message).
std::unique_ptr<NameTree> tree_create(FILE* err);

// Adds a node named `name` under the current node and makes it current.
// Returns false only when memory runs out; the tree is then unchanged.
bool tree_add_child(NameTree& tree, std::string_view name);

// Releases a tree; accepts none.
void tree_destroy(std::unique_ptr<NameTree> tree);

// Releases the names and values of `node`, every sibling after it through `next`, and
// all their descendants, and unlinks them; their storage goes with the tree's blocks.
// Iterative: the stack never grows with the depth of the tree.
void node_free_chain(TreeNode* node);
