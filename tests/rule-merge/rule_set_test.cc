// Tests for the rule set of --new-only: a table that keeps each hash once as it grows.
#include "rule_set.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RuleSet, HashTellsZeroBytesFromPadding) {
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

}  // namespace
