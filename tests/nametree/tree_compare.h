// Test helpers for name trees: a compact rendering for exact expectations, and a
// comparison that names the first difference. Both walk the tree through its own
// links, so trees a million levels deep need no more stack than flat ones.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "nametree/name_tree.h"

using nametree::TreeNode;

// Moves to the next node in pre-order within the subtree of `top`, calling `enter` on
// descending into a node's children and `leave` on climbing out of them. Returns none
// at the end of the subtree.
template <typename Enter, typename Leave>
const TreeNode* tree_walk_next(const TreeNode* node, const TreeNode* top, Enter enter,
                               Leave leave) {
  if (const TreeNode* child = nametree::node_first_child(*node)) {
    enter();
    return child;
  }
  while (node != top) {
    if (const TreeNode* next = nametree::node_next_sibling(*node)) return next;
    node = nametree::node_parent(*node);
    leave();
  }
  return nullptr;
}

// One node as `[@]name[#occurrence][="value"]`, then its children in parentheses:
// `<a x="1">t</a>` reads as `(a="t"(@x="1"))` from the root.
inline std::string tree_render(const TreeNode* top) {
  std::string out;
  for (const TreeNode* node = top; node;) {
    if (node != top && nametree::node_first_child(*nametree::node_parent(*node)) != node) {
      out += ' ';
    }
    if (nametree::node_is_attribute(*node)) out += '@';
    out += nametree::node_name(*node);
    if (const int occurrence = nametree::node_occurrence(*node)) {
      out += '#' + std::to_string(occurrence);
    }
    if (auto value = nametree::node_value(*node)) (out += "=\"").append(*value) += '"';
    node = tree_walk_next(
        node, top, [&] { out += '('; }, [&] { out += ')'; });
  }
  return out;
}

// The path from `top` down to `node`, for messages: `/a/b#2/@x`.
inline std::string tree_path(const TreeNode* node, const TreeNode* top) {
  std::string path;
  for (; node && node != top; node = nametree::node_parent(*node)) {
    std::string step = nametree::node_is_attribute(*node) ? "/@" : "/";
    step += nametree::node_name(*node);
    if (const int occurrence = nametree::node_occurrence(*node)) {
      step += '#' + std::to_string(occurrence);
    }
    path.insert(0, step);
  }
  return path.empty() ? "/" : path;
}

// Compares the subtrees under `a` and `b`: names, values, attribute marks, occurrences,
// and shape (children and siblings in order, parent links). Returns an empty string
// when they agree, else the first difference and where it is.
inline std::string tree_difference(const TreeNode* a, const TreeNode* b) {
  const TreeNode* const top_a = a;
  const TreeNode* const top_b = b;
  auto describe = [&](const std::string& what) { return what + " at " + tree_path(a, top_a); };
  auto quoted = [](std::optional<std::string_view> value) {
    return value ? '"' + std::string(*value) + '"' : std::string("none");
  };
  using namespace nametree;
  while (a && b) {
    if (node_name(*a) != node_name(*b)) {
      return describe("name \"" + std::string(node_name(*a)) + "\" vs \"" +
                      std::string(node_name(*b)) + '"');
    }
    if (node_value(*a) != node_value(*b))
      return describe("value " + quoted(node_value(*a)) + " vs " + quoted(node_value(*b)));
    if (node_is_attribute(*a) != node_is_attribute(*b)) return describe("attribute mark differs");
    if (node_occurrence(*a) != node_occurrence(*b)) {
      return describe("occurrence " + std::to_string(node_occurrence(*a)) + " vs " +
                      std::to_string(node_occurrence(*b)));
    }
    const TreeNode* a_child = node_first_child(*a);
    const TreeNode* b_child = node_first_child(*b);
    if (!a_child != !b_child) return describe(a_child ? "extra children" : "missing children");
    if (a_child && (node_parent(*a_child) != a || node_parent(*b_child) != b)) {
      return describe("child without its parent link");
    }
    if (a != top_a && !node_next_sibling(*a) != !node_next_sibling(*b)) {
      return describe(node_next_sibling(*a) ? "extra sibling after" : "missing sibling after");
    }
    a = tree_walk_next(
        a, top_a, [] {}, [] {});
    b = tree_walk_next(
        b, top_b, [] {}, [] {});
  }
  return a || b ? "walks ended apart" : "";
}
