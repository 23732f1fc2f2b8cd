// Tests for the rule set of --new-only: hashes that do not depend on how the text is
// cut, a table that keeps each hash once as it grows, and JSON strings decoded as
// the document means them.
#include "rule_set.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

TEST(RuleSet, HashIsTheSameHoweverTheTextIsCut) {
  std::mt19937 random(16);
  std::string text;
  for (int i = 0; i < 70; ++i) text += static_cast<char>(random());
  const RawHash whole = hash_raw(text);
  for (std::size_t a = 0; a <= text.size(); ++a) {
    for (std::size_t b = a; b <= text.size(); b += 5) {
      RawHasher hasher;
      hash_more(hasher, std::string_view(text).substr(0, a));
      hash_more(hasher, std::string_view(text).substr(a, b - a));
      hash_more(hasher, std::string_view(text).substr(b));
      RawHash cut = hash_result(hasher);
      ASSERT_TRUE(cut.low == whole.low && cut.high == whole.high) << a << " " << b;
    }
  }
  // Zero bytes at the end are not the padding of the last block.
  RawHash shorter = hash_raw(std::string(15, '\0'));
  RawHash longer = hash_raw(std::string(16, '\0'));
  EXPECT_FALSE(shorter.low == longer.low && shorter.high == longer.high);
}

TEST(RuleSet, KeepsEachHashOnceAsItGrows) {
  RuleSet set;
  for (int i = 0; i < 100000; ++i) ASSERT_TRUE(add_rule(set, hash_raw(std::to_string(i))));
  for (int i = 0; i < 100000; ++i) ASSERT_FALSE(add_rule(set, hash_raw(std::to_string(i))));
  EXPECT_EQ(set.count, 100000u);
  EXPECT_LE(set.slots.size(), 4 * set.count);
  // The hash of all zeros marks an empty slot, yet is kept like any other.
  EXPECT_TRUE(add_rule(set, RawHash{}));
  EXPECT_FALSE(add_rule(set, RawHash{}));
}

TEST(RuleSet, DecodesJsonStrings) {
  struct Case {
    std::string text;
    bool valid;
    std::string decoded;
  };
  const Case cases[] = {
      {"alert \\\"x\\\" \\\\ y", true, "alert \"x\" \\ y"},
      {"\\/\\b\\f\\n\\r\\t", true, "/\b\f\n\r\t"},
      {"\\u0061\\u0000\\u001F", true, std::string("a\0\x1f", 3)},
      {"\\u00e9\\u20AC", true, "\xc3\xa9\xe2\x82\xac"},
      {"\\ud83d\\ude00", true, "\xf0\x9f\x98\x80"},
      {"\\ud83d x", true, "\xed\xa0\xbd x"},  // a lone surrogate, as it is
      {"\xc3\xa9", true, "\xc3\xa9"},
      {"\\x41", false, ""},
      {"a\\", false, ""},
      {"\\u12", false, ""},
      {"\\u12g4", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string decoded;
    EXPECT_EQ(decode_json_string(c.text, decoded), c.valid);
    if (c.valid) {
      EXPECT_EQ(decoded, c.decoded);
    }
  }
}

}  // namespace
