// The rule set: the raw texts of rules met so far, kept only as 128-bit hashes, so that
// --new-only can pass over a rule line seen before whatever its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RawHash {
  std::uint64_t low = 0;
  std::uint64_t high = 0;
};

// Hashes a text given in pieces of any sizes: the same bytes give the same hash however
// they are cut.
struct RawHasher {
  std::uint64_t h1 = 0x6a09e667f3bcc908;
  std::uint64_t h2 = 0xbb67ae8584caa73b;
  std::uint64_t length = 0;
  unsigned char tail[16] = {};  // the bytes of an unfinished 16-byte block
  std::size_t tail_size = 0;
};

void hash_more(RawHasher& hasher, std::string_view piece);
RawHash hash_result(const RawHasher& hasher);
RawHash hash_raw(std::string_view text);

// An open-addressing table of hashes that doubles when more than half full: 32 to 64
// bytes a rule.
struct RuleSet {
  std::vector<RawHash> slots;
  std::size_t count = 0;
};

// Adds `hash` to the set; false when it was there already.
bool add_rule(RuleSet& set, RawHash hash);

// Decodes the text of a JSON string, as written between its quotes, into `decoded`:
// the two-character escapes and \uXXXX (as UTF-8, a surrogate pair as one character).
// False for an escape JSON does not have, or one cut short.
bool decode_json_string(std::string_view text, std::string& decoded);
