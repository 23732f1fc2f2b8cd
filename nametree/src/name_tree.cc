// The name tree store: creation, adding nodes with occurrence numbering, values, reading
// and release.
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "tree_storage.h"

namespace nametree {

void BlockRelease::operator()(std::byte* block) const noexcept {
  if (mapped_size > 0) {
    munmap(block, mapped_size);
  } else {
    delete[] block;
  }
}

namespace {

// The size of the growing block that follows one of `size` bytes: twice as large, up to
// kMaxBlockSize.
std::size_t following_block_size(std::size_t size) {
  return std::max(size, std::min(size * 2, kMaxBlockSize));
}

// A block of at least `size` bytes, not cleared; none when memory runs out. `size` is
// raised to all that the block holds. From kMappedBlockSize on, the block is mapped on its
// own in whole huge pages, starting on a huge-page boundary (the mapping is made a huge
// page longer, and trimmed), and huge pages are asked for: where the kernel gives them, a
// page fault then brings in 2 MiB instead of 4 KiB.
StorageBlock make_block(std::size_t& size) {
  if (size < kMappedBlockSize) return StorageBlock(new (std::nothrow) std::byte[size]);
  if (size > SIZE_MAX - 2 * kMappedBlockSize) return nullptr;
  size = (size + kMappedBlockSize - 1) / kMappedBlockSize * kMappedBlockSize;
  const std::size_t span = size + kMappedBlockSize;
  void* const mapped =
      mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kMappedBlockSize - 1) & ~(kMappedBlockSize - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  if (start + span > aligned + size) {
    munmap(reinterpret_cast<void*>(aligned + size), start + span - (aligned + size));
  }
  auto* const block = reinterpret_cast<std::byte*>(aligned);
#ifdef MADV_HUGEPAGE
  madvise(block, size, MADV_HUGEPAGE);  // advice: where refused, small pages serve as well
#endif
  return StorageBlock(block, BlockRelease{size});
}

// Adds the block due next to `blocks` and returns it, with `size` set to all it holds;
// the block after it will be larger. Returns none when memory runs out. May throw
// std::bad_alloc.
std::byte* add_block(std::vector<StorageBlock>& blocks, std::size_t& next_size, std::size_t& size) {
  size = next_size;
  StorageBlock block = make_block(size);
  if (!block) return nullptr;
  blocks.push_back(std::move(block));
  next_size = following_block_size(next_size);
  return blocks.back().get();
}

// Where empty values point: a value can be empty and still be there.
char kEmptyValue[1] = "";

// Copies `size` bytes into the tree's text blocks, `before` bytes after the start of the
// room taken, and returns where they are. Returns none when memory runs out.
char* store_bytes(NameTree& tree, const char* bytes, std::size_t size, std::size_t before) {
  if (before == 0 && size <= tree.text_left && size <= kLongText) {
    // The common case: a value that fits in the block being filled.
    char* const place = tree.text_free;
    tree.text_free += size;
    tree.text_left -= size;
    if (size > 0) std::memcpy(place, bytes, size);
    return place;
  }
  const std::size_t need = before + size;
  char* place = nullptr;
  // Names, stored after their length, start at a multiple of 4 (see TreeNode).
  if (before > 0 && tree.text_left > 0) {
    const std::size_t skip = (4 - reinterpret_cast<std::uintptr_t>(tree.text_free) % 4) % 4;
    const std::size_t skipped = std::min(skip, tree.text_left);
    tree.text_free += skipped;
    tree.text_left -= skipped;
  }
  try {
    if (need > kLongText) {
      // A block of its own, from the heap; the block being filled stays as it is.
      StorageBlock own(new (std::nothrow) std::byte[need]);
      if (!own) return nullptr;
      tree.text_blocks.push_back(std::move(own));
      place = reinterpret_cast<char*>(tree.text_blocks.back().get());
    } else {
      if (tree.text_left < need) {
        std::size_t block_size = 0;
        std::byte* block = add_block(tree.text_blocks, tree.next_text_block, block_size);
        if (!block) return nullptr;
        tree.text_free = reinterpret_cast<char*>(block);
        tree.text_left = block_size;
      }
      place = tree.text_free;
      tree.text_free += need;
      tree.text_left -= need;
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  if (size > 0) std::memcpy(place + before, bytes, size);
  return place + before;
}

std::string_view stored_name(const char* stored) {
  std::uint32_t size;
  std::memcpy(&size, stored - sizeof size, sizeof size);
  return {stored, size};
}

std::uint64_t load8(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::uint32_t load4(const char* bytes) {
  std::uint32_t word;
  std::memcpy(&word, bytes, sizeof word);
  return word;
}

std::uint64_t mix(std::uint64_t hash, std::uint64_t word) {
  hash = (hash ^ word) * 0x9E3779B97F4A7C15;
  return hash ^ (hash >> 29);
}

// Names are short: they are hashed eight bytes a step, the last step taking the last
// eight bytes even where they overlap the step before (and a name of fewer than eight
// bytes its first and last four, or three of its bytes), so that no byte is gathered
// one at a time.
std::size_t name_hash(std::string_view name) {
  const char* const bytes = name.data();
  const std::size_t size = name.size();
  std::uint64_t hash = size;
  if (size >= 8) {
    for (std::size_t at = 0; at + 8 < size; at += 8) hash = mix(hash, load8(bytes + at));
    hash = mix(hash, load8(bytes + size - 8));
  } else if (size >= 4) {
    hash = mix(hash, load4(bytes) | std::uint64_t{load4(bytes + size - 4)} << 32);
  } else if (size > 0) {
    const auto byte = [&](std::size_t at) {
      return std::uint64_t{static_cast<unsigned char>(bytes[at])};
    };
    hash = mix(hash, byte(0) | byte(size / 2) << 8 | byte(size - 1) << 16);
  }
  return static_cast<std::size_t>(hash);
}

// Compared the same way, in steps that may overlap: cheaper than a call.
bool same_name(const char* stored, std::string_view name) {
  std::uint32_t size;
  std::memcpy(&size, stored - sizeof size, sizeof size);
  if (size != name.size()) return false;
  const char* const bytes = name.data();
  if (size >= 8) {
    for (std::size_t at = 0; at + 8 < size; at += 8) {
      if (load8(stored + at) != load8(bytes + at)) return false;
    }
    return load8(stored + size - 8) == load8(bytes + size - 8);
  }
  if (size >= 4) {
    return load4(stored) == load4(bytes) && load4(stored + size - 4) == load4(bytes + size - 4);
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (stored[i] != bytes[i]) return false;
  }
  return true;
}

// The slot of `name` in the name table, or the free slot where it would go.
const char** name_slot(NameTree& tree, std::string_view name) {
  const std::size_t mask = tree.name_slots.size() - 1;
  for (std::size_t i = name_hash(name) & mask;; i = (i + 1) & mask) {
    const char*& slot = tree.name_slots[i];
    if (!slot || same_name(slot, name)) return &slot;
  }
}

// The tree's one copy of `name`, stored now if it is new. Returns none when memory runs
// out. May throw std::bad_alloc.
const char* intern_name(NameTree& tree, std::string_view name) {
  if (name.size() > kMaxValueSize - sizeof(std::uint32_t)) return nullptr;
  if (2 * (tree.name_count + 1) > tree.name_slots.size()) {
    // Double the table and put every name back.
    std::vector<const char*> grown(tree.name_slots.empty() ? 64 : tree.name_slots.size() * 2);
    std::swap(grown, tree.name_slots);
    for (const char* stored : grown) {
      if (stored) *name_slot(tree, stored_name(stored)) = stored;
    }
  }
  const char** slot = name_slot(tree, name);
  if (*slot) return *slot;
  const std::uint32_t size = static_cast<std::uint32_t>(name.size());
  char* stored = store_bytes(tree, name.data(), name.size(), sizeof size);
  if (!stored) return nullptr;
  std::memcpy(stored - sizeof size, &size, sizeof size);
  *slot = stored;
  ++tree.name_count;
  return stored;
}

// Makes `parent` wide: its last child, and the last child of each name, go into the
// tree's indexes. May throw std::bad_alloc; the parent then stays narrow, and the
// entries already made are made again when it next becomes wide.
void make_wide(NameTree& tree, TreeNode* parent, TreeNode* last) {
  for (TreeNode* child = parent->child; child; child = child->next()) {
    tree.sibling_index.insert_or_assign(SiblingKey{parent, child->name()}, child);
  }
  tree.last_children.insert_or_assign(parent, last);
  parent->name_and_marks |= kWideMark;
}

static_assert(alignof(TreeNode) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__,
              "a block's raw storage is aligned for nodes");

// Room for one more node at the end of the last block; none when memory runs out. May
// throw std::bad_alloc.
TreeNode* next_free_node(NameTree& tree) {
  if (tree.nodes_left == 0) {
    std::size_t block_size = 0;
    std::byte* block = add_block(tree.node_blocks, tree.next_node_block, block_size);
    if (!block) return nullptr;
    tree.node_free = reinterpret_cast<TreeNode*>(block);
    tree.nodes_left = block_size / sizeof(TreeNode);
  }
  return tree.node_free;
}

// Adds a node named `name` as the last child of `parent`, or as the root when `parent` is
// none. Returns none when memory runs out; the tree is then unchanged.
TreeNode* append_child(NameTree& tree, TreeNode* parent, std::string_view name);

}  // namespace

void TreeRelease::operator()(NameTree* tree) const noexcept {
  // Nodes and texts live in blocks: the tree goes without visiting a single node.
  delete tree;
}

TreePtr tree_create() {
  TreePtr tree(new (std::nothrow) NameTree);
  if (!tree || !append_child(*tree, nullptr, "")) return nullptr;
  tree->current = tree->root;
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

namespace {

TreeNode* append_child(NameTree& tree, TreeNode* parent, std::string_view name) {
  TreeNode* node = nullptr;
  TreeNode* last = nullptr;  // the parent's last child so far
  TreeNode* same = nullptr;  // its last child named `name`
  try {
    node = next_free_node(tree);
    if (!node) return nullptr;
    const char* stored = intern_name(tree, name);
    if (!stored) return nullptr;
    if (parent && !parent->wide()) {
      std::uint32_t count = 0;
      for (TreeNode* child = parent->child; child; child = child->next()) {
        if (child->name() == stored) same = child;
        last = child;
        ++count;
      }
      if (count >= kIndexedWidth) make_wide(tree, parent, last);
    }
    if (parent && parent->wide()) {
      TreeNode*& last_child = tree.last_children.at(parent);
      auto [by_name, added] = tree.sibling_index.try_emplace(SiblingKey{parent, stored}, node);
      // Nothing below can fail: the indexes may point at the node already.
      same = added ? nullptr : by_name->second;
      by_name->second = node;
      last = last_child;
      last_child = node;
    }
    ::new (static_cast<void*>(node)) TreeNode{};
    node->name_and_marks = reinterpret_cast<std::uintptr_t>(stored);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // The node is taken only now that nothing can fail.
  --tree.nodes_left;
  ++tree.node_free;
  if (!parent) {
    tree.root = node;  // the root has no parent and no siblings
  } else {
    node->link = reinterpret_cast<std::uintptr_t>(parent) | kParentLink;
    if (last) {
      last->link = reinterpret_cast<std::uintptr_t>(node);
    } else {
      parent->child = node;
    }
    // Number the new node after the nearest earlier sibling of the same name.
    if (same) {
      if (same->occurrence == 0) same->occurrence = 1;
      node->occurrence = same->occurrence + 1;
    }
  }
  return node;
}

}  // namespace

bool tree_add_child(NameTree& tree, std::string_view name) {
  TreeNode* node = append_child(tree, tree.current, name);
  if (!node) return false;
  tree.current = node;
  return true;
}

TreeNode* tree_append_child(NameTree& tree, TreeNode& parent, std::string_view name) {
  return append_child(tree, &parent, name);
}

bool tree_set_value(NameTree& tree, TreeNode& node, std::string_view value) {
  if (value.size() > kMaxValueSize) return false;
  const std::uint32_t size = static_cast<std::uint32_t>(value.size());
  if (node.value && size <= node.value_size && node.value != kEmptyValue) {
    // A later value replaces an earlier one in place when it fits. It may be a view of
    // that very value, so the bytes may overlap.
    if (size > 0) std::memmove(node.value, value.data(), size);
  } else if (value.empty()) {
    node.value = kEmptyValue;
  } else {
    char* stored = store_bytes(tree, value.data(), value.size(), 0);
    if (!stored) return false;
    node.value = stored;
  }
  node.value_size = size;
  return true;
}

void node_set_attribute_mark(TreeNode& node, bool mark) {
  node.name_and_marks = (node.name_and_marks & ~kAttributeMark) | (mark ? kAttributeMark : 0);
}

namespace {

// Drops the index entries of the wide parents among `top` and the nodes below it, which
// are being removed: the indexes would otherwise keep them until the tree is released.
void forget_wide_parents(NameTree& tree, const TreeNode* top) {
  for (const TreeNode* node = top; node;) {
    if (node->wide()) {
      tree.last_children.erase(node);
      for (const TreeNode* child = node->child; child; child = child->next()) {
        tree.sibling_index.erase(SiblingKey{node, child->name()});
      }
    }
    if (node->child) {
      node = node->child;
      continue;
    }
    while (node != top && !node->next()) node = node->parent();
    node = node == top ? nullptr : node->next();
  }
}

// Whether `node` is `top` or lies below it.
bool lies_within(const TreeNode* node, const TreeNode* top) {
  for (; node; node = node->parent()) {
    if (node == top) return true;
  }
  return false;
}

}  // namespace

bool tree_remove_node(NameTree& tree, TreeNode& node) {
  TreeNode* const parent = node.parent();
  if (!parent) return false;
  if (tree.current != tree.root && lies_within(tree.current, &node)) tree.current = parent;
  if (!tree.last_children.empty()) forget_wide_parents(tree, &node);

  // One walk through the siblings finds the one before the node and numbers the holders
  // of its name again; a name held once needs the walk only up to the node.
  const char* const name = node.name();
  TreeNode* before = nullptr;       // the sibling before the node
  TreeNode* same_before = nullptr;  // the last sibling of its name before it
  TreeNode* lone = nullptr;         // a holder of its name that stays
  std::uint32_t holders = 0;        // those that stay
  bool after = false;
  for (TreeNode* child = parent->child; child; child = child->next()) {
    if (child == &node) {
      if (node.occurrence == 0) break;
      after = true;
      continue;
    }
    if (!after) before = child;
    if (child->name() != name) continue;
    ++holders;
    lone = child;
    if (after) {
      --child->occurrence;
    } else {
      same_before = child;
    }
  }
  if (holders == 1) lone->occurrence = 0;

  // The node's link leads to its next sibling, or back to the parent from a last child:
  // either is what the sibling before it now needs.
  if (before) {
    before->link = node.link;
  } else {
    parent->child = node.next();
  }
  if (parent->wide()) {
    if (tree.last_children.at(parent) == &node) tree.last_children[parent] = before;
    const auto by_name = tree.sibling_index.find(SiblingKey{parent, name});
    if (by_name != tree.sibling_index.end() && by_name->second == &node) {
      if (same_before) {
        by_name->second = same_before;
      } else {
        tree.sibling_index.erase(by_name);
      }
    }
  }
  node.link = 0;
  return true;
}

const TreeNode* node_parent(const TreeNode& node) {
  return node.parent();
}

TreeNode* node_parent(TreeNode& node) {
  return node.parent();
}

const TreeNode* node_first_child(const TreeNode& node) {
  return node.child;
}

TreeNode* node_first_child(TreeNode& node) {
  return node.child;
}

TreeNode* node_last_child(TreeNode& node) {
  TreeNode* last = node.child;
  while (last && last->next()) last = last->next();
  return last;
}

const TreeNode* node_last_child(const TreeNode& node) {
  return node_last_child(const_cast<TreeNode&>(node));
}

const TreeNode* node_next_sibling(const TreeNode& node) {
  return node.next();
}

TreeNode* node_next_sibling(TreeNode& node) {
  return node.next();
}

std::string_view node_name(const TreeNode& node) {
  return node.name_view();
}

std::optional<std::string_view> node_value(const TreeNode& node) {
  if (!node.value) return std::nullopt;
  return std::string_view(node.value, node.value_size);
}

bool node_is_attribute(const TreeNode& node) {
  return node.name_and_marks & kAttributeMark;
}

std::int32_t node_occurrence(const TreeNode& node) {
  return node.occurrence;
}

}  // namespace nametree
