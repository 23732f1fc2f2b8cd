// Tests for the name tree: occurrence numbering, children in order, values, and release
// of very deep and very wide trees without recursion.
#include "nametree/name_tree.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace nametree;

std::vector<int> occurrences(const TreeNode& parent) {
  std::vector<int> result;
  for (const TreeNode& n : node_children(parent)) result.push_back(node_occurrence(n));
  return result;
}

void add_siblings(NameTree& tree, const std::vector<std::string_view>& names) {
  TreeNode& parent = tree_current(tree);
  for (std::string_view name : names) {
    tree_set_current(tree, parent);
    ASSERT_TRUE(tree_add_child(tree, name));
  }
  tree_set_current(tree, parent);
}

// Adds `name` under the root, whatever is current.
void add_to_root(NameTree& tree, std::string_view name) {
  tree_set_current(tree, tree_root(tree));
  ASSERT_TRUE(tree_add_child(tree, name));
}

TEST(NameTree, CreateGivesEmptyRootAsCurrent) {
  TreePtr tree = tree_create();
  ASSERT_TRUE(tree);
  const TreeNode& root = tree_root(*tree);
  EXPECT_EQ(&root, &tree_current(*tree));
  EXPECT_EQ(node_name(root), "");
  EXPECT_EQ(node_value(root), std::nullopt);
  EXPECT_EQ(node_parent(root), nullptr);
  EXPECT_EQ(node_next_sibling(root), nullptr);
  EXPECT_EQ(node_first_child(root), nullptr);
  EXPECT_EQ(node_last_child(root), nullptr);
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
    TreePtr tree = tree_create();
    add_siblings(*tree, c.names);
    EXPECT_EQ(occurrences(tree_root(*tree)), c.expected);
  }
}

TEST(NameTree, ChildrenComeInInsertionOrder) {
  TreePtr tree = tree_create();
  add_siblings(*tree, {"a", "b", "c"});
  const TreeNode& root = tree_root(*tree);
  std::vector<std::string_view> names;
  for (const TreeNode& child : node_children(root)) {
    EXPECT_EQ(node_parent(child), &root);
    names.push_back(node_name(child));
  }
  EXPECT_EQ(names, (std::vector<std::string_view>{"a", "b", "c"}));
  EXPECT_EQ(node_name(*node_last_child(root)), "c");
  EXPECT_EQ(node_next_sibling(*node_last_child(root)), nullptr);
}

TEST(NameTree, AddedNodeBecomesCurrentSoTheNextGoesUnderIt) {
  TreePtr tree = tree_create();
  ASSERT_TRUE(tree_add_child(*tree, "a"));
  ASSERT_TRUE(tree_add_child(*tree, "b"));
  const TreeNode& b = tree_current(*tree);
  EXPECT_EQ(node_name(b), "b");
  EXPECT_EQ(node_name(*node_parent(b)), "a");
  EXPECT_EQ(node_last_child(*node_parent(b)), &b);
}

TEST(NameTree, ValuesAreCopiedAndReplaced) {
  TreePtr tree = tree_create();
  ASSERT_TRUE(tree_add_child(*tree, "a"));
  TreeNode& a = tree_current(*tree);
  std::string text = "first value";
  ASSERT_TRUE(tree_set_value(*tree, a, text));
  text = "changed";  // the tree holds its own copy
  EXPECT_EQ(node_value(a), "first value");
  // Shorter, empty, and longer than anything before: each replaces the last.
  for (std::string_view value : {"short", "", "a value longer than the first one", "x"}) {
    ASSERT_TRUE(tree_set_value(*tree, a, value));
    EXPECT_EQ(node_value(a), value);
  }
  // An empty value is a value: it differs from none.
  ASSERT_TRUE(tree_add_child(*tree, "b"));
  EXPECT_EQ(node_value(tree_current(*tree)), std::nullopt);
  ASSERT_TRUE(tree_set_value(*tree, tree_current(*tree), ""));
  EXPECT_EQ(node_value(tree_current(*tree)), "");
}

// A value may be set from a view into the tree itself: the node's own value, a part of
// it, another node's value or a name. Under AddressSanitizer an overlapping copy fails,
// under UndefinedBehaviorSanitizer a copy from a null pointer.
TEST(NameTree, SetsAValueFromAViewIntoTheTree) {
  struct Case {
    const char* what;
    std::string_view (*view)(const TreeNode& self, const TreeNode& other);
    std::string_view expected;
  };
  const Case cases[] = {
      {"own tail", [](const TreeNode& s, const TreeNode&) { return node_value(s)->substr(2); },
       "cdefgh"},
      {"own head", [](const TreeNode& s, const TreeNode&) { return node_value(s)->substr(0, 3); },
       "abc"},
      {"own whole", [](const TreeNode& s, const TreeNode&) { return *node_value(s); }, "abcdefgh"},
      {"other, longer", [](const TreeNode&, const TreeNode& o) { return *node_value(o); },
       "a value longer than the node's own"},
      {"other, part",
       [](const TreeNode&, const TreeNode& o) { return node_value(o)->substr(2, 5); }, "value"},
      {"a name", [](const TreeNode& s, const TreeNode&) { return node_name(s); }, "self"},
      // An empty view may have no bytes at all behind it (a null pointer).
      {"empty, no bytes", [](const TreeNode&, const TreeNode&) { return std::string_view(); }, ""},
  };
  for (const Case& c : cases) {
    TreePtr tree = tree_create();
    TreeNode* self = tree_append_child(*tree, tree_root(*tree), "self");
    TreeNode* other = tree_append_child(*tree, tree_root(*tree), "other");
    ASSERT_TRUE(self && other);
    ASSERT_TRUE(tree_set_value(*tree, *self, "abcdefgh"));
    ASSERT_TRUE(tree_set_value(*tree, *other, "a value longer than the node's own"));
    ASSERT_TRUE(tree_set_value(*tree, *self, c.view(*self, *other))) << c.what;
    EXPECT_EQ(node_value(*self), c.expected) << c.what;
    EXPECT_EQ(node_value(*other), "a value longer than the node's own") << c.what;
  }
}

TEST(NameTree, KeepsNamesAndValuesOfAnySize) {
  // Around the size at which a text gets a block of its own, and across many blocks.
  TreePtr tree = tree_create();
  std::vector<std::string> texts;
  for (std::size_t size : {0u, 1u, 16383u, 16384u, 16385u, 65536u, 70000u, 300u, 5u}) {
    for (int i = 0; i < 20; ++i) texts.push_back(std::string(size, static_cast<char>('a' + i)));
  }
  for (const std::string& text : texts) {
    add_to_root(*tree, text);
    ASSERT_TRUE(tree_set_value(*tree, tree_current(*tree), text + "!"));
  }
  std::size_t i = 0;
  for (const TreeNode& child : node_children(tree_root(*tree))) {
    ASSERT_LT(i, texts.size());
    EXPECT_EQ(node_name(child), texts[i]);
    EXPECT_EQ(node_value(child), texts[i] + "!");
    ++i;
  }
  EXPECT_EQ(i, texts.size());
}

// A large tree fills many blocks, the later ones mapped on their own: every node must keep
// its name, value and place, whatever block it and its texts landed in.
TEST(NameTree, KeepsEveryNodeAcrossGrowingBlocks) {
  constexpr int kGroups = 4000;
  constexpr int kPerGroup = 100;  // 400,000 nodes: some 16 MB of nodes and 15 MB of values
  const auto value_of = [](int group, int i) {
    std::string value = std::to_string(group * kPerGroup + i);
    value.resize(value.size() + static_cast<std::size_t>((group + i) % 64), '.');
    if (i == 50 && group % 1000 == 999) value.resize(3 << 20, 'L');  // a block of its own
    return value;
  };
  TreePtr tree = tree_create();
  for (int group = 0; group < kGroups; ++group) {
    add_to_root(*tree, "group");
    TreeNode& parent = tree_current(*tree);
    for (int i = 0; i < kPerGroup; ++i) {
      tree_set_current(*tree, parent);
      ASSERT_TRUE(tree_add_child(*tree, i % 3 ? "n" : "m"));
      ASSERT_TRUE(tree_set_value(*tree, tree_current(*tree), value_of(group, i)));
    }
  }
  int group = 0;
  for (const TreeNode& parent : node_children(tree_root(*tree))) {
    ASSERT_LT(group, kGroups);
    ASSERT_EQ(node_occurrence(parent), group + 1);
    int i = 0;
    for (const TreeNode& child : node_children(parent)) {
      ASSERT_EQ(node_name(child), i % 3 ? "n" : "m");
      ASSERT_EQ(node_value(child), value_of(group, i)) << group << ' ' << i;
      if (i % 25 == 0) {
        ASSERT_EQ(node_parent(child), &parent);
      }
      ++i;
    }
    ASSERT_EQ(i, kPerGroup);
    ++group;
  }
  EXPECT_EQ(group, kGroups);
}

TEST(NameTree, DestroyAcceptsNone) {
  tree_destroy(nullptr);
}

// A million levels or a million siblings must be released without a deep stack.
TEST(NameTree, ReleasesMillionLevelsDeep) {
  TreePtr tree = tree_create();
  for (int i = 0; i < 1000000; ++i) ASSERT_TRUE(tree_add_child(*tree, "d"));
  tree_destroy(std::move(tree));
}

TEST(NameTree, ReleasesMillionSiblings) {
  TreePtr tree = tree_create();
  for (int i = 0; i < 1000000; ++i) add_to_root(*tree, i % 2 ? "odd" : "even");
  EXPECT_EQ(node_occurrence(*node_last_child(tree_root(*tree))), 500000);
  tree_destroy(std::move(tree));
}

// Wide parents number their children through an index: the numbers must be the same
// as those of the walk back through the siblings, for every width around the switch.
TEST(NameTree, NumbersWideParentsLikeNarrowOnes) {
  std::mt19937 random(11);
  for (int width : {31, 32, 33, 34, 64, 200}) {
    SCOPED_TRACE(width);
    TreePtr tree = tree_create();
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
    EXPECT_EQ(occurrences(tree_root(*tree)), expected);
  }
}

TEST(NameTree, MillionDifferentlyNamedSiblingsStayLinear) {
  TreePtr tree = tree_create();
  for (int i = 0; i < 1000000; ++i) add_to_root(*tree, "n" + std::to_string(i % 500000));
  const TreeNode& first = *node_first_child(tree_root(*tree));
  EXPECT_EQ(node_occurrence(first), 1);
  EXPECT_EQ(node_occurrence(*node_last_child(tree_root(*tree))), 2);
  EXPECT_EQ(node_occurrence(*node_next_sibling(first)), 1);
}

TEST(NameTree, ReleasesMixedShapes) {
  // Siblings with children of their own, then a climb back up.
  TreePtr tree = tree_create();
  for (int i = 0; i < 1000; ++i) {
    add_to_root(*tree, "s");
    for (int j = 0; j < 100; ++j) ASSERT_TRUE(tree_add_child(*tree, "c"));
  }
  tree_destroy(std::move(tree));
}

// The children of a node as `name#occurrence`, for whole expectations.
std::string numbered_children(const TreeNode& parent) {
  std::string out;
  for (const TreeNode& child : node_children(parent)) {
    if (!out.empty()) out += ' ';
    out += node_name(child);
    out += '#' + std::to_string(node_occurrence(child));
  }
  return out;
}

// Removing renumbers the holders of the removed name, and a parent keeps numbering and
// linking new children after it; wide parents (32 children or more) keep their indexes
// right, so every row is also run with 40 other children in front.
TEST(NameTree, RemovesANodeAndNumbersItsNameAgain) {
  struct Case {
    std::vector<std::string_view> names;
    std::size_t removed;
    std::string_view expected;  // after the removal and then adding `a` and `z`
  };
  const Case cases[] = {
      {{"a", "b", "a"}, 0, "b#0 a#1 a#2 z#0"},
      {{"a", "b", "a"}, 2, "a#1 b#0 a#2 z#0"},
      {{"a", "b"}, 1, "a#1 a#2 z#0"},  // the last child: the new one follows the one before
      {{"a"}, 0, "a#0 z#0"},           // the only child
      {{"x", "a", "y"}, 1, "x#0 y#0 a#0 z#0"},
  };
  for (const bool wide : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::PrintToString(c.names) + " less " + std::to_string(c.removed) +
                   (wide ? ", wide" : ""));
      TreePtr tree = tree_create();
      TreeNode& root = tree_root(*tree);
      std::string filler;
      for (int i = 0; wide && i < 40; ++i) {
        ASSERT_TRUE(tree_append_child(*tree, root, "f" + std::to_string(i)));
        filler += "f" + std::to_string(i) + "#0 ";
      }
      std::vector<TreeNode*> nodes;
      for (std::string_view name : c.names) nodes.push_back(tree_append_child(*tree, root, name));
      ASSERT_TRUE(tree_remove_node(*tree, *nodes[c.removed]));
      ASSERT_TRUE(tree_append_child(*tree, root, "a"));
      ASSERT_TRUE(tree_append_child(*tree, root, "z"));
      EXPECT_EQ(numbered_children(root), filler + std::string(c.expected));
      EXPECT_EQ(node_name(*node_last_child(root)), "z");
      EXPECT_EQ(node_parent(*node_last_child(root)), &root);
    }
  }
}

TEST(NameTree, RemovesASubtreeAndMovesTheCurrentNodeOutOfIt) {
  TreePtr tree = tree_create();
  TreeNode& root = tree_root(*tree);
  ASSERT_TRUE(tree_add_child(*tree, "keep"));
  tree_set_current(*tree, root);
  ASSERT_TRUE(tree_add_child(*tree, "drop"));
  TreeNode& drop = tree_current(*tree);
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(tree_add_child(*tree, i % 2 ? "x" : "y"));
  // Wide parents below the removed node leave the indexes too.
  for (int i = 0; i < 50; ++i) ASSERT_TRUE(tree_append_child(*tree, tree_current(*tree), "w"));

  EXPECT_FALSE(tree_remove_node(*tree, root));
  ASSERT_TRUE(tree_remove_node(*tree, drop));
  EXPECT_EQ(&tree_current(*tree), &root);
  EXPECT_EQ(numbered_children(root), "keep#0");

  // A current node elsewhere stays current.
  TreeNode& keep = *node_first_child(root);
  TreeNode* gone = tree_append_child(*tree, root, "gone");
  tree_set_current(*tree, keep);
  ASSERT_TRUE(tree_remove_node(*tree, *gone));
  EXPECT_EQ(&tree_current(*tree), &keep);
}

// Mutable traversal edits a tree in place: values set and children removed in one loop.
TEST(NameTree, EditsThroughMutableTraversal) {
  TreePtr tree = tree_create();
  TreeNode& root = tree_root(*tree);
  for (std::string_view name : {"a", "b", "a", "c", "a"}) {
    ASSERT_TRUE(tree_append_child(*tree, root, name));
  }
  for (MutableChildIterator at = node_children(root).begin(); at != MutableChildIterator{};) {
    TreeNode& child = *at++;  // step past the child before it may go
    // Each removal numbers the later `a`s again: the first of them is always #1, and
    // the last, left alone, #0.
    if (node_name(child) == "a" && node_occurrence(child) == 1) {
      ASSERT_TRUE(tree_remove_node(*tree, child));
    } else {
      ASSERT_TRUE(tree_set_value(*tree, child, "kept"));
    }
  }
  EXPECT_EQ(numbered_children(root), "b#0 c#0 a#0");
  TreeNode* first = node_first_child(root);
  ASSERT_TRUE(first);
  EXPECT_EQ(node_value(*node_next_sibling(*first)), "kept");
  EXPECT_EQ(node_last_child(root), node_next_sibling(*node_next_sibling(*first)));
}

}  // namespace
