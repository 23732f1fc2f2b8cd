// Lookups in a name tree: a child element by name and rank, an attribute by name, and a
// path of such steps. Each walks children in a loop; nothing is allocated.
#include <string_view>

#include "tree_storage.h"

namespace nametree {

namespace {

// The first child of `node` named `name` that is an attribute or not, as `attribute`
// says, passing over `skip` such children first.
const TreeNode* child_named(const TreeNode& node, std::string_view name, bool attribute,
                            std::size_t skip) {
  // Names are stored once per tree: once one child has matched, the others of that name
  // share its stored name, and a pointer comparison tells.
  const char* stored = nullptr;
  for (const TreeNode* child = node.child; child; child = child->next()) {
    if (stored ? child->name() != stored : child->name_view() != name) continue;
    stored = child->name();
    if (((child->name_and_marks & kAttributeMark) != 0) != attribute) continue;
    if (skip == 0) return child;
    --skip;
  }
  return nullptr;
}

// Reads the whole number that makes up all of `digits`: at least 1, without leading
// zeros. Returns 0 for anything else, an overflow included.
std::size_t rank(std::string_view digits) {
  if (digits.empty() || digits.front() == '0' || digits.size() > 18) return 0;
  std::size_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::size_t>(c - '0');
  }
  return value;
}

// Whether `name` may stand as a name in a path.
bool path_name(std::string_view name) {
  return !name.empty() && name.front() != '@' && name.find_first_of("[]") == std::string_view::npos;
}

}  // namespace

const TreeNode* node_child(const TreeNode& node, std::string_view name, std::size_t k) {
  if (k == 0) return nullptr;
  return child_named(node, name, false, k - 1);
}

const TreeNode* node_attribute(const TreeNode& node, std::string_view name) {
  return child_named(node, name, true, 0);
}

const TreeNode* find(const TreeNode& node, std::string_view path) {
  const TreeNode* at = &node;
  for (;;) {
    const std::size_t slash = path.find('/');
    std::string_view step = path.substr(0, slash);
    if (step.starts_with('@')) {
      step.remove_prefix(1);
      if (slash != std::string_view::npos || !path_name(step)) return nullptr;
      return node_attribute(*at, step);
    }
    std::size_t k = 1;
    if (step.ends_with(']')) {
      const std::size_t open = step.find('[');
      if (open == std::string_view::npos) return nullptr;
      k = rank(step.substr(open + 1, step.size() - open - 2));
      if (k == 0) return nullptr;
      step = step.substr(0, open);
    }
    if (!path_name(step)) return nullptr;
    at = node_child(*at, step, k);
    if (!at || slash == std::string_view::npos) return at;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace nametree
