// The rule set: a 128-bit hash in two 64-bit lanes, sixteen bytes a step, each lane
// mixing the other's state in; the table probes linearly from the low half.
#include "rule_set.h"

#include <algorithm>
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

void mix_block(RawHasher& h, std::uint64_t k1, std::uint64_t k2) {
  h.h1 ^= rotate(k1 * kMix1, 31) * kMix2;
  h.h1 = (rotate(h.h1, 27) + h.h2) * 5 + 0x52dce729;
  h.h2 ^= rotate(k2 * kMix2, 33) * kMix1;
  h.h2 = (rotate(h.h2, 31) + h.h1) * 5 + 0x38495ab5;
}

}  // namespace

void hash_more(RawHasher& h, std::string_view piece) {
  auto p = reinterpret_cast<const unsigned char*>(piece.data());
  std::size_t size = piece.size();
  h.length += size;
  if (h.tail_size > 0) {
    std::size_t take = std::min(size, 16 - h.tail_size);
    std::memcpy(h.tail + h.tail_size, p, take);
    h.tail_size += take;
    p += take;
    size -= take;
    if (h.tail_size < 16) return;
    mix_block(h, load64(h.tail), load64(h.tail + 8));
    h.tail_size = 0;
  }
  for (; size >= 16; p += 16, size -= 16) mix_block(h, load64(p), load64(p + 8));
  std::memcpy(h.tail, p, size);
  h.tail_size = size;
}

RawHash hash_result(const RawHasher& hasher) {
  RawHasher h = hasher;
  // The last block is padded with zeros; the length tells padding from zero bytes.
  unsigned char block[16] = {};
  std::memcpy(block, h.tail, h.tail_size);
  mix_block(h, load64(block), load64(block + 8));
  h.h1 ^= h.length;
  h.h2 ^= h.length;
  h.h1 += h.h2;
  h.h2 += h.h1;
  h.h1 = finish64(h.h1);
  h.h2 = finish64(h.h2);
  h.h1 += h.h2;
  h.h2 += h.h1;
  return {h.h1, h.h2};
}

RawHash hash_raw(std::string_view text) {
  RawHasher hasher;
  hash_more(hasher, text);
  return hash_result(hasher);
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

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The four hex digits of a \u escape at `at`, or -1.
long read_hex4(std::string_view text, std::size_t at) {
  if (at + 4 > text.size()) return -1;
  long value = 0;
  for (std::size_t i = at; i < at + 4; ++i) {
    int digit = hex_value(text[i]);
    if (digit < 0) return -1;
    value = value * 16 + digit;
  }
  return value;
}

void put_utf8(std::string& out, unsigned long code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xc0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xe0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (code >> 18));
    out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (code & 0x3f));
  }
}

}  // namespace

bool decode_json_string(std::string_view text, std::string& decoded) {
  decoded.clear();
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t backslash = text.find('\\', i);
    if (backslash == std::string_view::npos) backslash = text.size();
    decoded.append(text.substr(i, backslash - i));
    i = backslash;
    if (i == text.size()) break;
    if (i + 1 == text.size()) return false;
    char e = text[i + 1];
    i += 2;
    constexpr std::string_view kEscaped = "\"\\/bfnrt";
    constexpr std::string_view kMeant = "\"\\/\b\f\n\r\t";
    if (std::size_t k = kEscaped.find(e); k != std::string_view::npos) {
      decoded += kMeant[k];
      continue;
    }
    if (e != 'u') return false;
    long code = read_hex4(text, i);
    if (code < 0) return false;
    i += 4;
    if (code >= 0xd800 && code < 0xdc00 && i + 1 < text.size() && text[i] == '\\' &&
        text[i + 1] == 'u') {
      long low = read_hex4(text, i + 2);
      if (low >= 0xdc00 && low < 0xe000) {
        code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
        i += 6;
      }
    }
    put_utf8(decoded, static_cast<unsigned long>(code));
  }
  return true;
}
