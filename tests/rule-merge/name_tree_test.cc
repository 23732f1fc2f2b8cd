// Tests for the name tree: occurrence numbering, the sibling ring, and release
// of very deep and very wide trees without recursion.
#include "name_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::vector<int> occurrences(const TreeNode* parent) {
  std::vector<int> result;
  for (const TreeNode* n = parent->child; n; n = n->next) result.push_back(n->occurrence);
  return result;
}

void add_siblings(NameTree& tree, const std::vector<std::string_view>& names) {
  TreeNode* parent = tree.current;
  for (std::string_view name : names) {
    tree.current = parent;
    ASSERT_TRUE(tree_add_child(tree, name));
  }
  tree.current = parent;
}

TEST(NameTree, CreateGivesEmptyRootAsCurrent) {
  auto tree = tree_create(stderr);
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->root, tree->current);
  EXPECT_EQ(tree->root->name, "");
  EXPECT_EQ(tree->root->parent, nullptr);
  EXPECT_EQ(tree->root->prev, tree->root);
  EXPECT_EQ(tree->line, 1);
  EXPECT_EQ(tree->column, 0);
  EXPECT_EQ(tree->token_capacity, 256);
  EXPECT_EQ(tree->read_buffer_size, 256);
}

TEST(NameTree, NumbersRepeatedNamesInArrivalOrder) {
  struct Case {
    std::vector<std::string_view> names;
    std::vector<int> expected;
  };
  const Case cases[] = {
      {{"a", "b", "a"}, {1, 0, 2}},
      {{"a", "a", "a"}, {1, 2, 3}},
      {{"a", "A"}, {0, 0}},  // names differing only in case differ
      {{"x", "a", "y", "a", "z", "a"}, {0, 1, 0, 2, 0, 3}},
      {{"only"}, {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.names));
    auto tree = tree_create(stderr);
    add_siblings(*tree, c.names);
    EXPECT_EQ(occurrences(tree->root), c.expected);
  }
}

TEST(NameTree, SiblingRingClosesOnFirstChild) {
  auto tree = tree_create(stderr);
  add_siblings(*tree, {"a", "b", "c"});
  TreeNode* a = tree->root->child;
  TreeNode* b = a->next;
  TreeNode* c = b->next;
  EXPECT_EQ(c->next, nullptr);
  EXPECT_EQ(a->prev, c);
  EXPECT_EQ(b->prev, a);
  EXPECT_EQ(c->prev, b);
  for (TreeNode* n : {a, b, c}) EXPECT_EQ(n->parent, tree->root);
}

TEST(NameTree, AddedNodeBecomesCurrentSoTheNextGoesUnderIt) {
  auto tree = tree_create(stderr);
  ASSERT_TRUE(tree_add_child(*tree, "a"));
  ASSERT_TRUE(tree_add_child(*tree, "b"));
  EXPECT_EQ(tree->current->name, "b");
  EXPECT_EQ(tree->current->parent->name, "a");
  EXPECT_EQ(tree->current->prev, tree->current);  // an only child points at itself
}

TEST(NameTree, DestroyAcceptsNone) {
  tree_destroy(nullptr);
}

// A million levels or a million siblings must be released without a deep stack.
TEST(NameTree, ReleasesMillionLevelsDeep) {
  auto tree = tree_create(stderr);
  for (int i = 0; i < 1000000; ++i) ASSERT_TRUE(tree_add_child(*tree, "d"));
  tree_destroy(std::move(tree));
}

TEST(NameTree, ReleasesMillionSiblings) {
  auto tree = tree_create(stderr);
  for (int i = 0; i < 1000000; ++i) {
    tree->current = tree->root;
    ASSERT_TRUE(tree_add_child(*tree, i % 2 ? "odd" : "even"));
  }
  EXPECT_EQ(tree->root->prev, tree->root);
  EXPECT_EQ(tree->root->child->prev->occurrence, 500000);
  tree_destroy(std::move(tree));
}

// Wide parents number their children through an index: the numbers must be the same
// as those of the walk back through the siblings, for every width around the switch.
TEST(NameTree, NumbersWideParentsLikeNarrowOnes) {
  std::mt19937 random(11);
  for (int width : {31, 32, 33, 34, 64, 200}) {
    SCOPED_TRACE(width);
    auto tree = tree_create(stderr);
    std::vector<std::string> names;
    for (int i = 0; i < width; ++i)
      names.push_back(std::string(1, static_cast<char>('a' + random() % 6)));
    std::vector<std::string_view> views(names.begin(), names.end());
    add_siblings(*tree, views);
    // The expected numbers: 0 for a name used once, else the rank among its holders.
    std::vector<int> expected;
    for (int i = 0; i < width; ++i) {
      int before = 0, total = 0;
      for (int j = 0; j < width; ++j) {
        if (names[static_cast<std::size_t>(j)] != names[static_cast<std::size_t>(i)]) continue;
        ++total;
        if (j < i) ++before;
      }
      expected.push_back(total == 1 ? 0 : before + 1);
    }
    EXPECT_EQ(occurrences(tree->root), expected);
  }
}

TEST(NameTree, MillionDifferentlyNamedSiblingsStayLinear) {
  auto tree = tree_create(stderr);
  for (int i = 0; i < 1000000; ++i) {
    tree->current = tree->root;
    ASSERT_TRUE(tree_add_child(*tree, "n" + std::to_string(i % 500000)));
  }
  EXPECT_EQ(tree->root->child->occurrence, 1);
  EXPECT_EQ(tree->root->child->prev->occurrence, 2);
  EXPECT_EQ(tree->root->child->next->occurrence, 1);
}

TEST(NameTree, ReleasesMixedShapes) {
  // Siblings with children of their own, then a climb back up.
  auto tree = tree_create(stderr);
  for (int i = 0; i < 1000; ++i) {
    tree->current = tree->root;
    ASSERT_TRUE(tree_add_child(*tree, "s"));
    for (int j = 0; j < 100; ++j) ASSERT_TRUE(tree_add_child(*tree, "c"));
  }
  tree_destroy(std::move(tree));
}

}  // namespace
