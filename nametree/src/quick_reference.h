// The references documents use most, decoded from a few word loads without a branch that
// depends on which reference it is: the five entities, and character references of up to
// seven decimal or six hexadecimal digits. Anything else (a longer or unknown reference,
// a malformed one, a character XML does not allow) is left to the full reading, which
// also finds its fault.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace nametree {

// The bytes quick_reference may look at, from the `&` on.
inline constexpr std::ptrdiff_t kQuickReferenceBytes = 12;

struct QuickReference {
  std::uint32_t utf8 = 0;   // the character's UTF-8 bytes, the first in the lowest byte
  std::uint32_t size = 0;   // how many of them
  std::uint32_t taken = 0;  // the bytes of the reference, `&` to `;`
  bool decoded = false;     // false when the reference is left to the full reading
};

namespace quick_reference_detail {

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighs = 0x8080808080808080;

// The bytes of `text` as a little-endian word, the first in the lowest byte.
template <std::size_t N>
constexpr std::uint64_t word(const char (&text)[N]) {
  std::uint64_t w = 0;
  for (std::size_t i = N - 1; i-- > 0;) w = w << 8 | static_cast<unsigned char>(text[i]);
  return w;
}

struct Entity {
  std::uint64_t bytes;  // the name and `;`
  std::uint64_t mask;
  std::uint32_t character;
  std::uint32_t taken;
};

// Indexed by the first letter's low three bits, exclusive or the second's bits 1 to 3.
inline constexpr Entity kEntities[8] = {
    {1, 0, 0, 0},
    {word("apos;"), 0xFFFFFFFFFF, '\'', 6},
    {1, 0, 0, 0},
    {word("quot;"), 0xFFFFFFFFFF, '"', 6},
    {1, 0, 0, 0},
    {word("gt;"), 0xFFFFFF, '>', 4},
    {word("lt;"), 0xFFFFFF, '<', 4},
    {word("amp;"), 0xFFFFFFFF, '&', 5},
};

// Per byte, the high bit set where `x` (bytes below 0x80) is at least `low`.
constexpr std::uint64_t at_least(std::uint64_t x, unsigned low) {
  return (x + kOnes * (0x80 - low)) & kHighs;
}

}  // namespace quick_reference_detail

// Decodes the reference whose `&` is at `amp`; kQuickReferenceBytes bytes from `amp` must
// be readable.
inline QuickReference quick_reference(const char* amp) {
  using namespace quick_reference_detail;
  if constexpr (std::endian::native != std::endian::little) {
    return {};
  } else {
    std::uint64_t w;
    std::memcpy(&w, amp + 1, sizeof w);
    // Where the reading goes on depends on nothing but where the first `;` is, so that
    // it need not wait for the rest.
    const std::uint64_t semicolons = w ^ kOnes * ';';
    const std::uint32_t taken =
        2 + static_cast<std::uint32_t>(
                std::countr_zero(((semicolons - kOnes) & ~semicolons & kHighs) | 1ULL << 63)) /
                8;
    if ((w & 0xFF) != '#') {
      // The five entities: the first two letters pick the one it may be, and one compare
      // tells whether it is.
      const Entity& entity = kEntities[(w ^ (w >> 9)) & 7];  // first ^ second >> 1
      return {entity.character, 1, taken, (w & entity.mask) == entity.bytes};
    }
    // A character reference: `&#` digits `;` or `&#x` digits `;`. The digits are found
    // and their value taken without a branch: their count and base vary from one
    // reference to the next.
    const std::uint32_t hex = (w >> 8 & 0xFF) == 'x';
    const std::uint64_t if_hex = 0 - static_cast<std::uint64_t>(hex);
    std::uint64_t digits;
    std::memcpy(&digits, amp + 2, sizeof digits);
    digits >>= 8 * hex;
    const std::uint64_t ascii = digits & ~kHighs;
    const std::uint64_t decimal = at_least(ascii, '0') & ~at_least(ascii, '9' + 1);
    const std::uint64_t lower = ascii | kOnes * 0x20;
    const std::uint64_t letter = at_least(lower, 'a') & ~at_least(lower, 'f' + 1);
    const std::uint64_t is_digit = (decimal | (letter & if_hex)) & ~(digits & kHighs);
    const std::uint32_t count =
        static_cast<std::uint32_t>(std::countr_zero((~is_digit & kHighs) | 1ULL << 63)) / 8;
    const std::uint32_t kept = count + (count == 0);  // 1 to 7
    // The digits' values, one a byte, the first one highest, behind zero bytes; then
    // pairs, fours and eights of them joined, in base 10 or 16.
    const std::uint64_t aligned = digits << (8 * (8 - kept));
    const std::uint64_t base = 10 + 6 * hex;
    std::uint64_t value = (aligned & kOnes * 0x0F) + (aligned >> 6 & kOnes) * 9;
    value = value * (base << 8 | 1) >> 8;
    value = (value & 0x00FF00FF00FF00FF) * (base * base << 16 | 1) >> 16;
    value = (value & 0x0000FFFF0000FFFF) * (base * base * base * base << 32 | 1) >> 32;
    const std::uint32_t code = static_cast<std::uint32_t>(value);
    // Only characters of the first plane but the surrogates and controls are taken here.
    const bool numeric =
        (count == kept) & (taken == 3 + hex + count) & (code - 0x20 < 0xD800 - 0x20);

    const std::uint32_t c6 = 0x80 | (code & 0x3F);
    const std::uint32_t two = (0xC0 | code >> 6) | c6 << 8;
    const std::uint32_t three = (0xE0 | code >> 12) | (0x80 | (code >> 6 & 0x3F)) << 8 | c6 << 16;
    const std::uint32_t size = 1u + (code >= 0x80) + (code >= 0x800);
    const std::uint32_t if_one = 0 - static_cast<std::uint32_t>(size == 1);
    const std::uint32_t if_two = 0 - static_cast<std::uint32_t>(size == 2);
    const std::uint32_t utf8 = (code & if_one) | (two & if_two) | (three & ~(if_one | if_two));
    return {utf8, size, taken, numeric};
  }
}

}  // namespace nametree
