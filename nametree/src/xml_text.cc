// XML names and characters over UTF-8 text.
#include "xml_text.h"

#include <array>
#include <cstdint>

namespace nametree {

namespace {

constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// Decodes the UTF-8 character at `at` and moves `at` past it. A malformed, overlong or
// cut short sequence, a surrogate and anything above U+10FFFF give kNoCharacter, with
// `at` left where it was.
char32_t next_character(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  std::size_t length;
  char32_t c;
  char32_t least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1F;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0F;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07;
    least = 0x10000;
  } else {
    return kNoCharacter;
  }
  if (text.size() - at < length) return kNoCharacter;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(at + i);
    if ((next & 0xC0) != 0x80) return kNoCharacter;
    c = c << 6 | (next & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return kNoCharacter;
  at += length;
  return c;
}

struct Range {
  char32_t first;
  char32_t last;
};

// NameStartChar beyond ASCII.
constexpr std::array<Range, 12> kNameStart = {{
    {0xC0, 0xD6},
    {0xD8, 0xF6},
    {0xF8, 0x2FF},
    {0x370, 0x37D},
    {0x37F, 0x1FFF},
    {0x200C, 0x200D},
    {0x2070, 0x218F},
    {0x2C00, 0x2FEF},
    {0x3001, 0xD7FF},
    {0xF900, 0xFDCF},
    {0xFDF0, 0xFFFD},
    {0x10000, 0xEFFFF},
}};
// What NameChar adds beyond ASCII.
constexpr std::array<Range, 3> kNameRest = {{{0xB7, 0xB7}, {0x300, 0x36F}, {0x203F, 0x2040}}};

template <std::size_t N>
bool in_ranges(const std::array<Range, N>& ranges, char32_t c) {
  for (const Range& range : ranges) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

bool is_name_start(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
  return in_ranges(kNameStart, c);
}

bool is_name_character(char32_t c) {
  if (c < 0x80) return is_name_start(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
  return in_ranges(kNameStart, c) || in_ranges(kNameRest, c);
}

bool is_xml_character(char32_t c) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
  return c <= 0xD7FF || (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

}  // namespace

bool is_xml_name(std::string_view name) {
  std::size_t at = 0;
  while (at < name.size()) {
    const bool first = at == 0;
    const char32_t c = next_character(name, at);
    if (c == kNoCharacter || !(first ? is_name_start(c) : is_name_character(c))) return false;
  }
  return !name.empty();
}

std::size_t first_non_xml_character(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    // Printable ASCII, the bulk of most text, needs no decoding.
    if (byte >= 0x20 && byte < 0x80) {
      ++at;
      continue;
    }
    const std::size_t start = at;
    const char32_t c = next_character(text, at);
    if (c == kNoCharacter || !is_xml_character(c)) return start;
  }
  return std::string_view::npos;
}

}  // namespace nametree
