// Tests for the markup writer: the text it writes, compact and indented, its escapes, the
// trees it refuses with their messages, write errors, and trees read back as written.
#include "nametree/markup_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "nametree/markup_reader.h"
#include "tree_compare.h"

namespace {

using namespace nametree;

TreePtr read(std::string_view text) {
  ParseResult result = markup_parse_text(text);
  EXPECT_TRUE(result.tree) << result.fault.message;
  return std::move(result.tree);
}

std::string written(const TreeNode& node, WriterOptions options = {}) {
  std::string out = "kept|";  // the writer appends
  WriteFault fault;
  EXPECT_TRUE(markup_write_text(out, node, options, &fault)) << fault.message;
  EXPECT_EQ(fault.kind, WriteFaultKind::kNone);
  EXPECT_EQ(out.substr(0, 5), "kept|");
  return out.substr(5);
}

TEST(MarkupWriter, WritesCompactAndIndented) {
  const struct {
    std::string_view markup;
    std::string_view compact;
    std::string_view indented;
  } cases[] = {
      {R"(<r a="1" b=""><c>t</c><d/><c>u</c></r>)", R"(<r a="1" b=""><c>t</c><d/><c>u</c></r>)",
       "<r a=\"1\" b=\"\">\n  <c>t</c>\n  <d/>\n  <c>u</c>\n</r>\n"},
      // Text and elements side by side: all on one line, whatever lies below.
      {"<doc><p>Hi<b>x<i/></b></p><q><s/></q></doc>", "<doc><p>Hi<b>x<i/></b></p><q><s/></q></doc>",
       "<doc>\n  <p>Hi<b>x<i/></b></p>\n  <q>\n    <s/>\n  </q>\n</doc>\n"},
      {"", "", ""},  // the root alone: no element
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.markup);
    TreePtr tree = c.markup.empty() ? tree_create() : read(c.markup);
    ASSERT_TRUE(tree);
    EXPECT_EQ(written(tree_root(*tree)), c.compact);
    EXPECT_EQ(written(tree_root(*tree), {.indent = true}), c.indented);
  }
}

TEST(MarkupWriter, WritesTheSubtreeUnderANodeAndTheDeclaration) {
  TreePtr tree = read(R"(<r><c id="1">t</c><c><d>u</d></c></r>)");
  const TreeNode& root = tree_root(*tree);
  EXPECT_EQ(written(*find(root, "r/c[2]")), "<c><d>u</d></c>");
  EXPECT_EQ(written(*find(root, "r/c[2]"), {.indent = true}), "<c>\n  <d>u</d>\n</c>\n");
  EXPECT_EQ(written(*find(root, "r/c"), {.declaration = true}),
            R"(<?xml version="1.0" encoding="UTF-8"?><c id="1">t</c>)");
  EXPECT_EQ(written(root, {.indent = true, .declaration = true}),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>\n  <c id=\"1\">t</c>\n  <c>\n    "
            "<d>u</d>\n  </c>\n</r>\n");
}

// Values that XML must escape, set by hand; attributes after an element go to the tag.
TEST(MarkupWriter, EscapesTextAndAttributeValues) {
  TreePtr tree = tree_create();
  TreeNode& root = tree_root(*tree);
  TreeNode* e = tree_append_child(*tree, root, "e");
  TreeNode* child = tree_append_child(*tree, *e, "c");
  TreeNode* a = tree_append_child(*tree, *e, "a");
  TreeNode* empty = tree_append_child(*tree, *e, "n");  // an attribute without a value
  ASSERT_TRUE(e && child && a && empty);
  node_set_attribute_mark(*a, true);
  node_set_attribute_mark(*empty, true);
  const std::string_view text = "<&>\"' \t\n\r]]>\xc3\xa9";
  ASSERT_TRUE(tree_set_value(*tree, *e, text));
  ASSERT_TRUE(tree_set_value(*tree, *a, text));
  EXPECT_EQ(written(root),
            "<e a=\"&lt;&amp;>&quot;' &#9;&#10;&#13;]]>\xc3\xa9\" n=\"\">"
            "&lt;&amp;&gt;\"' \t\n&#13;]]&gt;\xc3\xa9<c/></e>");
  // White space alone starts with a reference, or it would read back as no value (the
  // fuzz target reads back every value the reading gives, white space of each kind).
  TreeNode* w = tree_append_child(*tree, root, "w");
  ASSERT_TRUE(w && tree_set_value(*tree, *w, " \t"));
  EXPECT_EQ(written(*w), "<w>&#32;\t</w>");
}

TEST(MarkupWriter, RefusesWhatXmlCannotHoldAndWritesNothing) {
  const struct {
    const char* what;
    void (*build)(NameTree& tree, TreeNode& top);
    WriteFaultKind kind;
    std::string_view message;
  } cases[] = {
      {"a blank in a name", [](NameTree& t, TreeNode& top) { tree_append_child(t, top, "a b"); },
       WriteFaultKind::kNotXmlName, "name \"a b\" is not an XML name\n"},
      {"a digit first", [](NameTree& t, TreeNode& top) { tree_append_child(t, top, "1a"); },
       WriteFaultKind::kNotXmlName, "name \"1a\" is not an XML name\n"},
      {"the empty name", [](NameTree& t, TreeNode& top) { tree_append_child(t, top, ""); },
       WriteFaultKind::kNotXmlName, "name \"\" is not an XML name\n"},
      {"not UTF-8 in a name",
       [](NameTree& t, TreeNode& top) { tree_append_child(t, top, "a\xff\"\\"); },
       WriteFaultKind::kNotXmlName, "name \"a\xff\\\"\\\\\" is not an XML name\n"},
      {"a control byte in a value",
       [](NameTree& t, TreeNode& top) {
         tree_set_value(t, *tree_append_child(t, top, "v"), std::string_view("ok\0", 3));
       },
       WriteFaultKind::kNotXmlText, "value of \"v\" is not XML text at byte 2\n"},
      {"a surrogate in a value",
       [](NameTree& t, TreeNode& top) {
         tree_set_value(t, *tree_append_child(t, top, "v"), "\xed\xa0\x80");
       },
       WriteFaultKind::kNotXmlText, "value of \"v\" is not XML text at byte 0\n"},
      {"U+FFFE in a value",
       [](NameTree& t, TreeNode& top) {
         tree_set_value(t, *tree_append_child(t, top, "v"), "a\xef\xbf\xbe");
       },
       WriteFaultKind::kNotXmlText, "value of \"v\" is not XML text at byte 1\n"},
      {"an attribute twice, an element between",
       [](NameTree& t, TreeNode& top) {
         for (const char* name : {"x", "x", "x"}) tree_append_child(t, top, name);
         node_set_attribute_mark(*node_first_child(top), true);
         node_set_attribute_mark(*node_last_child(top), true);
       },
       WriteFaultKind::kRepeatedAttribute, "attribute \"x\" is given twice\n"},
      {"a node below an attribute",
       [](NameTree& t, TreeNode& top) {
         TreeNode* a = tree_append_child(t, top, "a");
         node_set_attribute_mark(*a, true);
         tree_append_child(t, *a, "b");
       },
       WriteFaultKind::kBelowAttribute, "node \"b\" is below an attribute\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TreePtr tree = tree_create();
    TreeNode& top = *tree_append_child(*tree, tree_root(*tree), "top");
    c.build(*tree, top);
    for (const TreeNode* node : {&tree_root(*tree), &top}) {
      std::string out = "kept";
      WriteFault fault;
      EXPECT_FALSE(markup_write_text(out, *node, {}, &fault));
      EXPECT_EQ(out, "kept");
      EXPECT_EQ(fault.kind, c.kind) << write_fault_kind_name(fault.kind);
      EXPECT_EQ(fault.message, c.message);
      EXPECT_TRUE(fault.node);
    }
    FILE* stream = std::tmpfile();
    ASSERT_TRUE(stream);
    EXPECT_FALSE(markup_write_stream(stream, tree_root(*tree)));
    EXPECT_EQ(std::ftell(stream), 0);
    std::fclose(stream);
  }
}

// The root stands for the document: it holds no text and no attributes of its own.
TEST(MarkupWriter, RefusesTheRootsTextAndAttributes) {
  TreePtr tree = tree_create();
  TreeNode& root = tree_root(*tree);
  TreeNode* a = tree_append_child(*tree, root, "a");
  node_set_attribute_mark(*a, true);
  WriteFault fault;
  std::string out;
  EXPECT_FALSE(markup_write_text(out, root, {}, &fault));
  EXPECT_EQ(fault.message, "attribute \"a\" is outside any element\n");
  EXPECT_FALSE(markup_write_text(out, *a, {}, &fault));
  EXPECT_EQ(fault.message, "attribute \"a\" is outside any element\n");
  ASSERT_TRUE(tree_remove_node(*tree, *a));
  ASSERT_TRUE(tree_set_value(*tree, root, "x"));
  EXPECT_FALSE(markup_write_text(out, root, {}, &fault));
  EXPECT_EQ(fault.kind, WriteFaultKind::kOutsideElement);
  EXPECT_EQ(fault.message, "text is outside any element\n");
  EXPECT_EQ(out, "");
}

// The writer walks the tree in a loop: a million levels need no deep stack.
TEST(MarkupWriter, WritesAMillionLevelsDeep) {
  constexpr std::size_t kDepth = 1000000;
  TreePtr tree = tree_create();
  for (std::size_t i = 0; i < kDepth; ++i) ASSERT_TRUE(tree_add_child(*tree, "d"));
  ASSERT_TRUE(tree_set_value(*tree, tree_current(*tree), "x"));
  std::string out;
  ASSERT_TRUE(markup_write_text(out, tree_root(*tree)));
  EXPECT_EQ(out.size(), kDepth * 7 + 1);
  EXPECT_EQ(out.substr(kDepth * 3 - 6, 15), "<d><d>x</d></d>");
}

// A full device takes the bytes into the stream's buffer and fails when it is flushed.
TEST(MarkupWriter, ReportsAWriteError) {
  FILE* full = std::fopen("/dev/full", "w");
  if (!full) GTEST_SKIP() << "no /dev/full";
  TreePtr tree = read("<a><b>text</b></a>");
  WriteFault fault;
  EXPECT_FALSE(markup_write_stream(full, tree_root(*tree), {}, &fault));
  EXPECT_EQ(fault.kind, WriteFaultKind::kWriteError);
  EXPECT_EQ(fault.message, "write error: No space left on device\n");
  std::fclose(full);
}

// What is written reads back as the same tree through a stream, in chunks, for a tree of
// many nodes. (The fuzz target checks a text written whole on every tree the reading builds.)
TEST(MarkupWriter, WrittenStreamReadsBackAsTheSameTree) {
  std::string big = "<big>";
  for (int i = 0; i < 20000; ++i) {
    big += "<item n=\"" + std::to_string(i) + "\"><v>&lt;" + std::to_string(i) + "&amp;</v></item>";
  }
  big += "</big>";
  ParseResult first = markup_parse_text(big, nullptr, {.xml = true});
  ASSERT_TRUE(first.tree) << first.fault.message;
  for (const bool indent : {false, true}) {
    FILE* stream = std::tmpfile();
    ASSERT_TRUE(stream);
    ASSERT_TRUE(markup_write_stream(stream, tree_root(*first.tree), {.indent = indent}));
    std::rewind(stream);
    ParseResult again = markup_parse_stream(stream, nullptr, {.xml = true});
    std::fclose(stream);
    ASSERT_TRUE(again.tree) << again.fault.message;
    EXPECT_EQ(tree_difference(&tree_root(*first.tree), &tree_root(*again.tree)), "");
  }
}

}  // namespace
