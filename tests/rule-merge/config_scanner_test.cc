// Tests for the configuration scanner: every fault with its message and offset, the
// insertion point, the first-rule flag and the tree of member names.
#include "config_scanner.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using namespace nametree;

struct Scan {
  std::optional<ScanResult> result;
  std::string err;              // the faults' messages
  bool of_the_document = true;  // every fault of kind kDocument
};

Scan scan(std::string_view document) {
  std::vector<Fault> faults;
  Scan s;
  s.result = scan_config(document, faults);
  for (const Fault& fault : faults) {
    s.err += fault.message;
    s.of_the_document = s.of_the_document && fault.kind == FaultKind::kDocument;
  }
  return s;
}

std::string nested(int levels) {
  return std::string(static_cast<std::size_t>(levels), '{') +
         std::string(static_cast<std::size_t>(levels), '}');
}

TEST(ConfigScanner, ReportsEachFaultWithItsOffset) {
  const std::string long_name(40, 'n');
  const std::string long_number(51, '7');
  std::string escaped_nuls;  // a name of 40 zero bytes as a message shows it
  for (int i = 0; i < 40; ++i) escaped_nuls += "\\x00";
  struct Case {
    std::string document;
    std::string message;
  };
  const Case cases[] = {
      {nested(20), "level goes above 20 at 19\n"},
      {"{\"a", "impaired quotes at 2\n"},
      {"{\"a\\\"bc", "impaired quotes at 5\n"},  // from just past the escaped quote
      {"{\"a\":\"" + std::string(8192, 'x') + "\"}", "too long string value at 6\n"},
      {"{\"a\":1}}", "level goes below zero at 7\n"},
      {"}", "level goes below zero at 0\n"},
      {"{\"" + long_name + "\":1}", "too long name " + long_name + " at 43\n"},
      {"{\"a\":" + long_number + "}", "too long integer value at 55\n"},
      {"{\"a\":-" + std::string(50, '1') + "}", "too long integer value at 55\n"},
      {"{\"a\":1\t}", "unexpected character \\t at 6\n"},
      {"{\"a\":1}\r\n", "unexpected character \\r at 7\n"},
      // Control bytes are shown escaped, so that a message stays one line.
      {"{\"a\":1\n\x01}", "unexpected character \\x01 at 7\n"},
      {"{\"a\":1\x7f}", "unexpected character \\x7f at 6\n"},
      {"{\"a\":1\xc3}", "unexpected character \xc3 at 6\n"},
      {"{\"" + long_name + "\n\r\t\x1b\x7f\xff\":1}",
       "too long name " + long_name + "\\n\\r\\t\\x1b\\x7f\xff at 49\n"},
      {std::string("{\"") + std::string(40, '\0') + "\":1}",
       "too long name " + escaped_nuls + " at 43\n"},
      {"{\"a\":nullx}", "unexpected character x at 9\n"},
      {"{\"a\":1\\}", "unexpected character \\\\ at 6\n"},  // a backslash shown doubled
      {"{\"a\":True}", "unexpected character T at 5\n"},
      {"{\"a\":1e5}", "unexpected character e at 6\n"},
      {"{\"a\":{}", "level remained 1\n"},
      {"{{{", "level remained 3\n"},
      // An even run of backslashes does not escape the quote after it.
      {"{\"a\":\"a\\\\\"b\"}", "unexpected character b at 10\n"},
      // Members and further array objects need an enclosing object.
      {"\"a\":1", "no enclosing object at 3\n"},
      {"{},{}", "no enclosing object at 3\n"},
      // A name too long is found before the missing object around it.
      {"\"" + long_name + "\":1", "too long name " + long_name + " at 42\n"},
      {"[{},{}]", "no enclosing object at 4\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document.substr(0, 80));
    Scan s = scan(c.document);
    EXPECT_FALSE(s.result);
    EXPECT_EQ(s.err, c.message);
    EXPECT_TRUE(s.of_the_document);
  }
}

TEST(ConfigScanner, AcceptsEachLimitExactly) {
  const std::string accepted[] = {
      nested(19),
      "{\"" + std::string(39, 'n') + "\":1}",
      "{\"a\":" + std::string(50, '7') + "}",
      "{\"a\":-" + std::string(49, '7') + "}",
      "{\"a\":\"" + std::string(8191, 'x') + "\"}",
      "{\"a\":1.2.3,\"b\":-}",  // the number's form is not checked
      "{\"rule\":]}",           // brackets are not matched
      "",
      " \n ",
  };
  for (const std::string& document : accepted) {
    SCOPED_TRACE(document.substr(0, 80));
    Scan s = scan(document);
    EXPECT_TRUE(s.result);
    EXPECT_EQ(s.err, "");
  }
}

TEST(ConfigScanner, ChecksStringSegmentsAgainstTheRoomLeft) {
  // The first segment (8000 x and the backslash) leaves 191 bytes of room after it
  // gives 8001 token bytes; a second segment of 191 needs one more for the terminator.
  std::string head = "{\"a\":\"" + std::string(8000, 'x') + "\\\"";
  std::size_t second = head.size();
  Scan fits = scan(head + std::string(190, 'y') + "\"}");
  EXPECT_TRUE(fits.result);
  EXPECT_EQ(node_value(*node_first_child(tree_root(*fits.result->tree)))->size(), 8191u);
  Scan too_long = scan(head + std::string(191, 'y') + "\"}");
  EXPECT_FALSE(too_long.result);
  EXPECT_EQ(too_long.err, "too long string value at " + std::to_string(second) + "\n");
}

TEST(ConfigScanner, FindsTheInsertionPointAndFirstRule) {
  struct Case {
    std::string document;
    std::optional<std::size_t> insertion_point;
    bool first_rule;
  };
  const Case cases[] = {
      {R"({"enabled":false,"rule":[]})", 25, true},
      {R"({"enabled":false,"rule":[{"name":"a","raw":"x"}]})", 47, false},
      {R"({"rule":[{"raw":"x"}]})", 20, true},  // objects without a name member
      {R"({"cfg":{"rule":[]}})", 16, true},     // level 2 while first_rule holds
      {R"({"a":1})", std::nullopt, true},
      {R"({"cfg":{"name":"x","rule":[]}})", std::nullopt, false},
      {R"({"rule":[],"x":[]})", 16, true},  // the last qualifying bracket wins
      {R"({"rule":]})", 8, true},
      {R"({"a":[[1],[2]]})", 13, true},
      {R"({"a":"]","rule":[]})", 17, true},                // brackets inside strings are text
      {R"({"a":{"b":{"rule":[]}}})", std::nullopt, true},  // level 3 never qualifies
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    Scan s = scan(c.document);
    ASSERT_TRUE(s.result) << s.err;
    EXPECT_EQ(s.result->insertion_point, c.insertion_point);
    EXPECT_EQ(s.result->first_rule, c.first_rule);
  }
}

TEST(ConfigScanner, DecodesOnlyQuoteAndBackslashEscapes) {
  struct Case {
    std::string document;
    std::string value;
  };
  const Case cases[] = {
      {R"({"k":"a\"b"})", "a\"b"},
      {R"({"k":"C:\\"})", "C:\\"},
      {R"({"k":"a\\b"})", "a\\b"},
      {R"({"k":"a\\\"b"})", "a\\\"b"},
      {R"({"k":"\n\u0041\/"})", R"(\n\u0041\/)"},
      {R"({"k":"\\\\"})", "\\\\"},
      {R"({"k":true})", "true"},
      {R"({"k":[3,4]})", "3"},  // an array of scalars keeps its first element
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    Scan s = scan(c.document);
    ASSERT_TRUE(s.result) << s.err;
    const TreeNode* k = node_first_child(tree_root(*s.result->tree));
    ASSERT_TRUE(k);
    EXPECT_EQ(node_name(*k), "k");
    EXPECT_EQ(node_value(*k), c.value);
  }
}

TEST(ConfigScanner, MirrorsTheDocumentInTheTree) {
  Scan s = scan(R"({"enabled":false,"a":"","rule":[{"name":"x","v":1},{"name":"y"}]})");
  ASSERT_TRUE(s.result) << s.err;
  const TreeNode* enabled = node_first_child(tree_root(*s.result->tree));
  EXPECT_EQ(node_name(*enabled), "enabled");
  EXPECT_EQ(node_value(*enabled), "false");
  const TreeNode* a = node_next_sibling(*enabled);
  EXPECT_EQ(node_name(*a), "a");
  EXPECT_FALSE(node_value(*a));  // an empty token is not stored
  const TreeNode* rule1 = node_next_sibling(*a);
  const TreeNode* rule2 = node_next_sibling(*rule1);
  EXPECT_EQ(node_name(*rule1), "rule");
  EXPECT_EQ(node_name(*rule2), "rule");
  EXPECT_EQ(node_occurrence(*rule1), 1);
  EXPECT_EQ(node_occurrence(*rule2), 2);
  EXPECT_EQ(node_next_sibling(*rule2), nullptr);
  EXPECT_EQ(node_name(*node_first_child(*rule1)), "name");
  EXPECT_EQ(node_value(*node_first_child(*rule1)), "x");
  EXPECT_EQ(node_value(*node_next_sibling(*node_first_child(*rule1))), "1");
  EXPECT_EQ(node_value(*node_first_child(*rule2)), "y");
}

TEST(ConfigScanner, HangsMembersOfUnnamedObjectsUnderTheNearestNamedLevel) {
  // An object with no member name before it has no node; nothing may crash on it.
  Scan s = scan(R"({"x":{{"a":1},{"b":2}}})");
  ASSERT_TRUE(s.result) << s.err;
  const TreeNode* x = node_first_child(tree_root(*s.result->tree));
  EXPECT_EQ(node_name(*node_first_child(*x)), "a");
  Scan deep = scan("{{{{\"a\":1},{\"b\":2}}}}");
  ASSERT_TRUE(deep.result) << deep.err;
  EXPECT_EQ(node_name(*node_first_child(tree_root(*deep.result->tree))), "a");
}

TEST(ConfigScanner, ValuePrecedesLooksPastBlanksOnly) {
  struct Case {
    std::string document;
    bool expected;
  };
  const Case cases[] = {
      {"[]", false},    {"[ \n ]", false}, {"[1]", true},       {"[{}]", true},
      {"[\"\"]", true}, {"[1,]", false},   {"{\"a\":]", false}, {"{]", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(value_precedes(c.document, c.document.size() - 1), c.expected);
  }
}

// With --new-only the scanner finds the `raw` strings of the rule array's objects, and
// only those: not outside the array, not deeper, not a value that is no single string.
TEST(ConfigScanner, FindsTheRawsOfTheRuleArray) {
  struct Case {
    std::string document;
    std::vector<std::string> raws;  // decoded
  };
  const Case cases[] = {
      {R"({"rule":[{"name":"a","raw":"x"},{"raw" : "y\"z" }]})", {"x", "y\"z"}},
      // The member's name and its value as JSON reads them; a value JSON refuses is left out.
      {R"({"rule":[{"r\u0061w":"\u0061\n"},{"raw":"\x"},{"ra\w":"no"}]})", {"a\n"}},
      {R"({"raw":"top","rule":[{"raw":1},{"raw":"a"},{"raw":["b"]},{"raw":"c" 1}],"x":{"raw":"d"}})",
       {"a"}},
      {R"({"cfg":{"rule":[{"raw":"deep"}]}})", {"deep"}},
      {R"({"cfg":{"rule":[{"raw":"deep"}]},"other":[{"raw":"o"}]})", {"o"}},
      {R"({"rule":[[{"raw":"a"}],{"raw":"b"}],"x":[{"raw":"no"}],"rule2":[]})", {}},
      {R"({"rule":[[{"raw":"a"}],{"raw":"b"}]})", {"a", "b"}},
      {R"({"rule":[{"r":{"raw":"inner"}}]})", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    std::vector<Fault> faults;
    std::optional<ScanResult> scan = scan_config(c.document, faults, true);
    ASSERT_TRUE(scan);
    EXPECT_EQ(scan->rule_raws, c.raws);
    EXPECT_TRUE(scan_config(c.document, faults)->rule_raws.empty());
    EXPECT_TRUE(faults.empty());
  }
}

}  // namespace
