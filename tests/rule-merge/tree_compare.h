// Test helpers for name trees: a compact rendering for exact expectations, and a
// comparison that names the first difference. Both walk the tree through its own
// links, so trees a million levels deep need no more stack than flat ones.
#pragma once

#include <cstdio>
#include <string>

#include "name_tree.h"

// Moves to the next node in pre-order within the subtree of `top`, calling `enter` on
// descending into a node's children and `leave` on climbing out of them. Returns none
// at the end of the subtree.
template <typename Enter, typename Leave>
const TreeNode* tree_walk_next(const TreeNode* node, const TreeNode* top, Enter enter,
                               Leave leave) {
  if (node->child) {
    enter();
    return node->child;
  }
  while (node != top) {
    if (node->next) return node->next;
    node = node->parent;
    leave();
  }
  return nullptr;
}

// One node as `[@]name[#occurrence][="value"]`, then its children in parentheses:
// `<a x="1">t</a>` reads as `(a="t"(@x="1"))` from the root.
inline std::string tree_render(const TreeNode* top) {
  std::string out;
  for (const TreeNode* node = top; node;) {
    if (node != top && node->prev->next == node) out += ' ';
    if (node->attribute_mark) out += '@';
    out += node->name;
    if (node->occurrence) out += '#' + std::to_string(node->occurrence);
    if (node->value) out += "=\"" + *node->value + '"';
    node = tree_walk_next(
        node, top, [&] { out += '('; }, [&] { out += ')'; });
  }
  return out;
}

// The path from `top` down to `node`, for messages: `/a/b#2/@x`.
inline std::string tree_path(const TreeNode* node, const TreeNode* top) {
  std::string path;
  for (; node && node != top; node = node->parent) {
    std::string step = '/' + std::string(node->attribute_mark ? "@" : "") + node->name;
    if (node->occurrence) step += '#' + std::to_string(node->occurrence);
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
  auto quoted = [](const std::optional<std::string>& value) {
    return value ? '"' + *value + '"' : std::string("none");
  };
  while (a && b) {
    if (a->name != b->name) return describe("name \"" + a->name + "\" vs \"" + b->name + '"');
    if (a->value != b->value)
      return describe("value " + quoted(a->value) + " vs " + quoted(b->value));
    if (a->attribute_mark != b->attribute_mark) return describe("attribute mark differs");
    if (a->occurrence != b->occurrence) {
      return describe("occurrence " + std::to_string(a->occurrence) + " vs " +
                      std::to_string(b->occurrence));
    }
    if (!a->child != !b->child) return describe(a->child ? "extra children" : "missing children");
    if (a->child && (a->child->parent != a || b->child->parent != b)) {
      return describe("child without its parent link");
    }
    if (a != top_a && !a->next != !b->next) {
      return describe(a->next ? "extra sibling after" : "missing sibling after");
    }
    a = tree_walk_next(
        a, top_a, [] {}, [] {});
    b = tree_walk_next(
        b, top_b, [] {}, [] {});
  }
  return a || b ? "walks ended apart" : "";
}
