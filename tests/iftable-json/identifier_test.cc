// Tests for key derivation: the column names, the prefixes, and the length bound.
#include "identifier.h"

#include <gtest/gtest.h>

#include <string>

#include "report_text.h"

namespace {

struct Case {
  std::string name;
  std::string expected;
};

TEST(MakeIdentifier, DerivesEveryReportKey) {
  for (const std::vector<ReportColumn>* columns : {&kReportColumns, &kIfxReportColumns}) {
    for (const ReportColumn& column : *columns) {
      SCOPED_TRACE(column.mib_name);
      EXPECT_EQ(make_identifier(column.mib_name), column.key);
    }
  }
}

TEST(MakeIdentifier, PrefixesAndConversion) {
  const Case cases[] = {
      {"type", "rsrvd_type"},
      {"macro_rules", "rsrvd_undescore_macro_rules"},  // reserved and holding '_'
      {"snake_case", "undescore_snake_case"},
      {"plain", "plain"},
      {"foo-bar", "foo_bar"},
      {"a-B", "a__b"},  // a '-' rules out every prefix but the reserved one
      {"a_b-C", "a_b__c"},
      {"Foo", "camel__foo"},
      {"Type", "camel__type"},  // reserved words compare exactly
      {"types", "types"},
      {"typ", "typ"},
      {"ifInNUcastPkts", "camel_if_in_n_ucast_pkts"},
      {"ABC", "camel__a_b_c"},
      {"x9Z", "camel_x9_z"},
      {"", ""},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // bytes above ASCII are not letters here
      {"\xc3\x89t\xc3\xa9", "\xc3\x89t\xc3\xa9"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(make_identifier(c.name), c.expected);
  }
}

TEST(MakeIdentifier, EveryReservedWordGetsItsPrefix) {
  for (std::string_view word : reserved_words) {
    SCOPED_TRACE(word);
    std::string expected = "rsrvd_";
    if (word.find('_') != std::string_view::npos) expected += "undescore_";
    expected += word;
    EXPECT_EQ(make_identifier(word), expected);
  }
}

TEST(MakeIdentifier, StopsAtTheBoundPrefixesIncluded) {
  const Case cases[] = {
      {std::string(300, 'a'), std::string(253, 'a')},
      {std::string(253, 'a'), std::string(253, 'a')},
      {std::string(252, 'a'), std::string(252, 'a')},
      {"a_" + std::string(298, 'b'), "undescore_a_" + std::string(241, 'b')},
      // "camel_" and 246 letters make 252: the capital still adds its two characters.
      {std::string(246, 'a') + "B", "camel_" + std::string(246, 'a') + "_b"},
      // At 253 the conversion stops before the capital.
      {std::string(247, 'a') + "B", "camel_" + std::string(247, 'a')},
      {"type" + std::string(300, '-'), "type" + std::string(249, '_')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name.substr(0, 8) + "... of " + std::to_string(c.name.size()));
    std::string_view result = make_identifier(c.name);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ(result.data()[result.size()], '\0');
  }
}

TEST(MakeIdentifier, EachCallOverwritesTheLast) {
  std::string_view first = make_identifier("ifIndex");
  const char* where = first.data();
  std::string_view second = make_identifier("plain");
  EXPECT_EQ(second.data(), where);
  EXPECT_STREQ(where, "plain");
}

}  // namespace
