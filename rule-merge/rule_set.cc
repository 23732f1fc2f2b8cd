// The rule set: a 128-bit hash in two 64-bit lanes, sixteen bytes a step, each lane
// mixing the other's state in; the table probes linearly from the low half.
#include "rule_set.h"

#include <cstring>

namespace {

constexpr std::uint64_t kMix1 = 0x87c37b91114253d5;
constexpr std::uint64_t kMix2 = 0x4cf5ad432745937f;
constexpr std::size_t kFirstSlots = 1024;

std::uint64_t rotate(std::uint64_t x, int bits) {
  return (x << bits) | (x >> (64 - bits));
}

std::uint64_t load64(const unsigned char* p) {
  std::uint64_t value;
  std::memcpy(&value, p, 8);
  return value;
}

// Spreads every bit of `x` over all 64.
std::uint64_t finish64(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccd;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53;
  x ^= x >> 33;
  return x;
}

struct Lanes {
  std::uint64_t h1 = 0x6a09e667f3bcc908;
  std::uint64_t h2 = 0xbb67ae8584caa73b;
};

void mix_block(Lanes& h, std::uint64_t k1, std::uint64_t k2) {
  h.h1 ^= rotate(k1 * kMix1, 31) * kMix2;
  h.h1 = (rotate(h.h1, 27) + h.h2) * 5 + 0x52dce729;
  h.h2 ^= rotate(k2 * kMix2, 33) * kMix1;
  h.h2 = (rotate(h.h2, 31) + h.h1) * 5 + 0x38495ab5;
}

}  // namespace

RawHash hash_raw(std::string_view text) {
  bool ascii = true;
  return hash_raw(text, ascii);
}

RawHash hash_raw(std::string_view text, bool& ascii) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080;
  auto p = reinterpret_cast<const unsigned char*>(text.data());
  std::size_t size = text.size();
  Lanes h;
  std::uint64_t seen = 0;  // every word's bits, for the high bit of any byte
  // Four blocks a step: a loop step costs as much as a quarter of a block.
  for (; size >= 64; p += 64, size -= 64) {
    std::uint64_t k[8];
    for (int i = 0; i < 8; ++i) k[i] = load64(p + 8 * i);
    seen |= (k[0] | k[1]) | (k[2] | k[3]) | (k[4] | k[5]) | (k[6] | k[7]);
    for (int i = 0; i < 8; i += 2) mix_block(h, k[i], k[i + 1]);
  }
  for (; size >= 16; p += 16, size -= 16) {
    std::uint64_t k1 = load64(p);
    std::uint64_t k2 = load64(p + 8);
    seen |= k1 | k2;
    mix_block(h, k1, k2);
  }
  // The last block is padded with zeros; the length tells padding from zero bytes.
  unsigned char block[16] = {};
  if (size > 0) std::memcpy(block, p, size);
  seen |= load64(block) | load64(block + 8);
  ascii = (seen & kHighBits) == 0;
  mix_block(h, load64(block), load64(block + 8));
  h.h1 ^= text.size();
  h.h2 ^= text.size();
  h.h1 += h.h2;
  h.h2 += h.h1;
  h.h1 = finish64(h.h1);
  h.h2 = finish64(h.h2);
  h.h1 += h.h2;
  h.h2 += h.h1;
  return {h.h1, h.h2};
}

namespace {

bool is_empty(const RawHash& slot) {
  return slot.low == 0 && slot.high == 0;
}

// The slot that holds `hash`, or the empty one where it would go.
RawHash& find_slot(std::vector<RawHash>& slots, RawHash hash) {
  std::size_t mask = slots.size() - 1;
  for (std::size_t i = hash.low & mask;; i = (i + 1) & mask) {
    RawHash& slot = slots[i];
    if (is_empty(slot) || (slot.low == hash.low && slot.high == hash.high)) return slot;
  }
}

}  // namespace

bool add_rule(RuleSet& set, RawHash hash) {
  if (is_empty(hash)) hash.high = 1;  // all zeros marks an empty slot
  if (set.slots.empty()) set.slots.resize(kFirstSlots);
  RawHash& slot = find_slot(set.slots, hash);
  if (!is_empty(slot)) return false;
  slot = hash;
  if (++set.count * 2 <= set.slots.size()) return true;
  std::vector<RawHash> larger(set.slots.size() * 2);
  for (const RawHash& old : set.slots) {
    if (!is_empty(old)) find_slot(larger, old) = old;
  }
  set.slots.swap(larger);
  return true;
}
