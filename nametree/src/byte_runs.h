// The markup reader's byte-run kernels: the loops that copy runs of character data,
// attribute values and plain characters several bytes a step, and the cutting of a
// stream into the pieces a line-at-a-time read would give. Each has the contract of a
// plain byte loop, which the tests hold it to.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace nametree {

// Characters that, outside a comment, only ever join the token: everything but the
// markup characters, white space, and `-` (which may complete a comment opening).
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> table{};
  for (int i = 0; i < 256; ++i) table[static_cast<std::size_t>(i)] = true;
  for (unsigned char c : std::string_view("<>=\"-\t\n\r ")) table[c] = false;
  return table;
}();

// Characters that end a stretch of character data: the start or end of a tag.
constexpr std::array<bool, 256> kTextEnd = [] {
  std::array<bool, 256> table{};
  table['<'] = table['>'] = true;
  return table;
}();

constexpr std::array<bool, 256> kBlank = [] {
  std::array<bool, 256> table{};
  table[' '] = table['\t'] = table['\n'] = table['\r'] = true;
  return table;
}();

inline bool plain(char c) {
  return kPlain[static_cast<unsigned char>(c)];
}

// Moves a line or column number on. Numbers wrap instead of overflowing on a line of
// more than 2^31 characters.
constexpr std::int32_t advance(std::int32_t number, std::uint32_t by = 1) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(number) + by);
}

// Counts one character read: after a newline the line goes on and the column returns
// to 0; any other character moves the column on.
constexpr void count_position(std::int32_t& line, std::int32_t& column, char c) {
  if (c == '\n') {
    line = advance(line);
    column = 0;
  } else {
    column = advance(column);
  }
}

// Copies a run of character data from [p, stop) to `out`, up to the first byte that may
// end it: a `<`, a `>`, a byte below 0x20 (tab, newline and carriage return among
// them), or a space after a space. A single space joins the run as it is. The byte
// before `p` must be neither a space nor the start of the text. `out` must have room
// for every byte up to `stop`. Returns where the run ends.
inline const char* copy_text_run(const char* p, const char* const stop, char* out) {
#if defined(__SSE2__)
  {
    // Sixteen bytes a step where the processor has SSE2; the steps below finish the run.
    const __m128i below_space = _mm_set1_epi8(0x1F);
    const __m128i space = _mm_set1_epi8(' ');
    const __m128i angle_bit = _mm_set1_epi8(0x02);
    const __m128i angle = _mm_set1_epi8('>');  // `<` too, once its 0x02 bit is set
    unsigned space_before = 0;                 // the last byte of the previous step was a space
    while (stop - p >= 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
      const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, below_space), bytes);
      const __m128i angles = _mm_cmpeq_epi8(_mm_or_si128(bytes, angle_bit), angle);
      const unsigned spaces =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, space)));
      const unsigned ends =
          static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(control, angles))) |
          (spaces & ((spaces << 1) | space_before));
      if (ends) return p + std::countr_zero(ends);
      space_before = spaces >> 15;
      p += 16;
      out += 16;
    }
  }
#endif
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes a step. The lowest flagged byte of `ends` is always a true one, which
    // is all that is used; spaces are flagged exactly, to pair each with the one before.
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7F;
    // Whether the last byte of the previous step was a space (the byte before the run
    // is not one).
    std::uint64_t space_before = p[-1] == ' ' ? 0x80 : 0;
    while (stop - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      std::memcpy(out, &word, sizeof word);
      const std::uint64_t angle = (word | (kOnes * 0x02)) ^ (kOnes * 0x3E);  // `<` or `>`
      const std::uint64_t blank = word ^ (kOnes * 0x20);
      const std::uint64_t spaces = ~(((blank & kLows) + kLows) | blank) & kHighs;
      const std::uint64_t ends = ((word - kOnes * 0x20) & ~word & kHighs) |
                                 ((angle - kOnes) & ~angle & kHighs) |
                                 (spaces & ((spaces << 8) | space_before));
      if (ends) return p + std::countr_zero(ends) / 8;
      space_before = spaces >> 56;
      p += 8;
      out += 8;
    }
  }
  for (; p != stop; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x20 || kTextEnd[c] || (c == ' ' && p[-1] == ' ')) break;
    *out++ = static_cast<char>(c);
  }
  return p;
}

// Skips the spaces from `p` on, up to `end`. Returns the first byte that is not one.
inline const char* skip_spaces(const char* p, const char* const end) {
  constexpr std::uint64_t kSpaces = 0x2020202020202020;
  if constexpr (std::endian::native == std::endian::little) {
    while (end - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      if (const std::uint64_t others = word ^ kSpaces) return p + std::countr_zero(others) / 8;
      p += 8;
    }
  }
  while (p != end && *p == ' ') ++p;
  return p;
}

// Copies the plain characters from [p, stop) to `out`, up to the first that is not
// plain. `out` must have room for every byte up to `stop`. Returns where the run ends.
inline const char* copy_plain_run(const char* p, const char* const stop, char* out) {
  if constexpr (std::endian::native == std::endian::little) {
    // Eight bytes a step, stopping at the first byte that may not be plain: below 0x21,
    // `"`, `-`, or one of `<=>?`. A flagged byte that is plain after all (`?`, a control
    // character) is left to the byte loop below. The lowest flagged byte of each test,
    // and so of all, is a true one.
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighs = 0x8080808080808080;
    while (stop - p >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p, sizeof word);
      std::memcpy(out, &word, sizeof word);
      const std::uint64_t angle = (word | (kOnes * 0x03)) ^ (kOnes * 0x3F);  // `<=>?`
      const std::uint64_t quote = word ^ (kOnes * 0x22);
      const std::uint64_t dash = word ^ (kOnes * 0x2D);
      const std::uint64_t ends =
          ((word - kOnes * 0x21) & ~word & kHighs) | ((angle - kOnes) & ~angle & kHighs) |
          ((quote - kOnes) & ~quote & kHighs) | ((dash - kOnes) & ~dash & kHighs);
      if (ends) {
        const std::size_t plain_bytes = static_cast<std::size_t>(std::countr_zero(ends) / 8);
        p += plain_bytes;
        out += plain_bytes;
        break;
      }
      p += 8;
      out += 8;
    }
  }
  while (p != stop && plain(*p)) *out++ = *p++;
  return p;
}

// Copies an attribute value's characters from [p, stop) to `out`, up to the first `"`,
// counting lines and columns as it goes. `out` must have room for every byte up to
// `stop`. Returns where it stopped.
inline const char* copy_value_run(const char* p, const char* const stop, char* out,
                                  std::int32_t& line, std::int32_t& column) {
  std::int32_t at_line = line;
  std::int32_t at_column = column;
  for (; p != stop && *p != '"'; ++p) {
    count_position(at_line, at_column, *p);
    *out++ = *p;
  }
  line = at_line;
  column = at_column;
  return p;
}

// A stream is read in large blocks, but its bytes are taken as if read a line at a time
// into a buffer of 256 bytes: a piece ends after a newline or after 255
// characters, and a NUL byte drops the rest of the piece it is in.
constexpr std::size_t kStreamPieceLength = 255;

struct StreamPieces {
  std::size_t length = 0;  // characters of the current piece read so far
  bool cut = false;        // a NUL byte has ended what is kept of the current piece
};

// Cuts a block of a stream into the pieces a line-at-a-time read would give, less what
// NUL bytes drop, and hands each to `feed` (a run of whole pieces without a NUL byte
// goes as one). `pieces` carries where the last piece stands from one block to the
// next. Returns false as soon as `feed` does.
template <typename Feed>
bool split_stream_block(StreamPieces& pieces, std::string_view block, Feed&& feed) {
  if (!pieces.cut && !std::memchr(block.data(), '\0', block.size())) {
    // No NUL byte: every character is kept, and only where the last piece stands matters.
    const std::size_t last_newline = block.rfind('\n');
    pieces.length = last_newline == std::string_view::npos
                        ? (pieces.length + block.size()) % kStreamPieceLength
                        : (block.size() - last_newline - 1) % kStreamPieceLength;
    return feed(block);
  }
  while (!block.empty()) {
    const std::string_view span = block.substr(0, kStreamPieceLength - pieces.length);
    const std::size_t newline = span.find('\n');
    const std::string_view piece =
        newline == std::string_view::npos ? span : span.substr(0, newline + 1);
    if (!pieces.cut) {
      const std::size_t nul = piece.find('\0');
      pieces.cut = nul != std::string_view::npos;
      if (!feed(piece.substr(0, nul))) return false;
    }
    pieces.length += piece.size();
    if (newline != std::string_view::npos || pieces.length == kStreamPieceLength) {
      pieces = StreamPieces{};
    }
    block.remove_prefix(piece.size());
  }
  return true;
}

}  // namespace nametree
