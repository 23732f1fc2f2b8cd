// Tests for the lookups: a child element by name and rank, an attribute by name, and
// paths, on trees read from markup as a user reads them.
#include <gtest/gtest.h>

#include <string>

#include "nametree/markup_reader.h"
#include "tree_compare.h"

namespace {

using namespace nametree;

// Attributes and elements of the same name stand side by side: `port` is an attribute
// and then an element of the second server.
constexpr std::string_view kConfig =
    R"(<config><server id="a"><port>1</port></server>)"
    R"(<server port="9" id="b"><port>2</port><port>3</port></server>)"
    R"(<name>x</name><server id="c"/></config>)";

// A found node as `name=value` (`@name=value` for an attribute), or "none".
std::string describe(const TreeNode* node) {
  if (!node) return "none";
  std::string text = node_is_attribute(*node) ? "@" : "";
  text += node_name(*node);
  if (auto value = node_value(*node)) (text += '=') += *value;
  return text;
}

TEST(NodeLookup, FindsPaths) {
  ParseResult result = markup_parse_text(kConfig);
  ASSERT_TRUE(result.tree);
  const TreeNode& root = tree_root(*result.tree);
  const struct {
    std::string_view path;
    std::string_view expected;
  } cases[] = {
      {"config/server/port", "port=1"},
      {"config/server[1]/port", "port=1"},
      {"config/server[2]/port", "port=2"},  // the element, not the attribute beside it
      {"config/server[2]/port[2]", "port=3"},
      {"config/server[2]/@port", "@port=9"},
      {"config/server[2]/@id", "@id=b"},
      {"config/server/@id", "@id=a"},
      {"config/server[3]/@id", "@id=c"},
      {"config/name", "name=x"},
      {"config/server[4]", "none"},
      {"config/server[2]/port[3]", "none"},
      {"config/server/@port", "none"},
      {"config/missing/port", "none"},
      {"config/@server", "none"},
      // Malformed paths.
      {"", "none"},
      {"/config", "none"},
      {"config/", "none"},
      {"config//name", "none"},
      {"config/server[0]", "none"},
      {"config/server[]", "none"},
      {"config/server[02]", "none"},
      {"config/server[x]", "none"},
      {"config/server[99999999999999999999]", "none"},
      {"config/server[2]x", "none"},
      {"config/server]", "none"},
      {"config/server[2/port", "none"},
      {"config/@server/port", "none"},
      {"config/server/@", "none"},
      {"config/server/@id[1]", "none"},
      {"@", "none"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(describe(find(root, c.path)), c.expected) << c.path;
  }
  // From any node, not only the root.
  const TreeNode* config = node_child(root, "config");
  ASSERT_TRUE(config);
  EXPECT_EQ(describe(find(*config, "server[2]/port")), "port=2");
}

TEST(NodeLookup, ChildrenAndAttributesByName) {
  ParseResult result = markup_parse_text(kConfig);
  ASSERT_TRUE(result.tree);
  const TreeNode& second = *find(tree_root(*result.tree), "config/server[2]");
  // In `<server port="9"><port>`, the element is occurrence 2; node_child counts
  // elements alone. What the paths above reach through these calls is not repeated.
  const TreeNode* port = node_child(second, "port");
  ASSERT_TRUE(port);
  EXPECT_EQ(node_occurrence(*port), 2);
  EXPECT_EQ(node_child(second, "port", 0), nullptr);
  EXPECT_EQ(node_child(second, "id"), nullptr);       // an attribute, not an element
  EXPECT_EQ(node_attribute(*port, "port"), nullptr);  // a node without children
}

// Building a tree under explicit parents: the current node is left alone.
TEST(NodeLookup, AppendsUnderAnExplicitParent) {
  TreePtr tree = tree_create();
  TreeNode& root = tree_root(*tree);
  TreeNode* config = tree_append_child(*tree, root, "config");
  ASSERT_TRUE(config);
  TreeNode* first = tree_append_child(*tree, *config, "server");
  TreeNode* second = tree_append_child(*tree, *config, "server");
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(tree_append_child(*tree, *first, "port"));
  ASSERT_TRUE(tree_set_value(*tree, *tree_append_child(*tree, *second, "port"), "8080"));
  EXPECT_EQ(&tree_current(*tree), &root);
  EXPECT_EQ(tree_render(&root), R"((config(server#1(port) server#2(port="8080"))))");
  // The non-const lookups give nodes that can be changed.
  TreeNode* port = find(root, "config/server[1]/port");
  ASSERT_TRUE(port);
  ASSERT_TRUE(tree_set_value(*tree, *port, "22"));
  EXPECT_EQ(describe(find(root, "config/server/port")), "port=22");
}

}  // namespace
