// The rule set: the raw texts of rules met so far, kept only as 128-bit hashes, so that
// --new-only can pass over a rule line seen before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

struct RawHash {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
};

RawHash hash_raw(std::string_view text);
// The same, telling besides whether every byte of `text` is below 0x80.
RawHash hash_raw(std::string_view text, bool& ascii);

// An open-addressing table of hashes that doubles when more than half full: 32 to 64
// bytes a rule, and up to 96 for the moment it doubles (the old table and the new).
struct RuleSet {
  std::vector<RawHash> slots;
  std::size_t count = 0;
};

// Adds `hash` to the set; false when it was there already.
bool add_rule(RuleSet& set, RawHash hash);
