// The XML reading: a reader of well-formed XML 1.0 that builds the name tree by the
// markup reader's rules, and refuses any other input with a fault at the character
// where a conforming reader finds it.
//
// Input is read in buffers. A construct (a tag, a comment, a reference, ...) is taken
// only once the buffer holds enough of it to decide it, and takes effect on the tree
// only then; what is left undecided at a buffer's end waits for the next bytes. So a
// text, a stream and pieces cut anywhere give the same tree and the same fault.
#include "xml_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "quick_reference.h"
#include "tree_storage.h"

namespace nametree {

namespace {

constexpr std::size_t kStreamBlockSize = std::size_t{1} << 16;  // read from a stream at once
constexpr std::ptrdiff_t kCountAhead = 1 << 15;  // bytes read before their lines are counted
// Past this many attributes in one tag, repeated names are looked up in a set instead of
// by comparing each name with those before it.
constexpr std::size_t kAttributeSetSize = 16;

enum class Stage : std::uint8_t {
  kStart,    // nothing read yet: a byte order mark or an XML declaration may come
  kProlog,   // before the root element
  kContent,  // within the root element
  kEpilog,   // after the root element
};

// What a step made of the bytes before it.
enum class Step : std::uint8_t {
  kDone,   // taken; the position has moved past it
  kMore,   // undecided until more bytes come; nothing has been taken
  kFault,  // the read ends with a fault
};

// Bytes gathered run after run: the character data of the open elements. Its room
// grows by doubling, and is handed out before it is filled, so that a run is copied
// sixteen bytes a step while it is scanned, without a call per run.
struct TextBuffer {
  std::unique_ptr<char[]> bytes;
  std::size_t used = 0;
  std::size_t capacity = 0;

  std::size_t size() const {
    return used;
  }
  // Room for `more` bytes past the end; std::bad_alloc when memory runs out.
  char* room(std::size_t more) {
    if (capacity - used < more) grow(more);
    return bytes.get() + used;
  }
  void grow(std::size_t more) {
    std::size_t grown = std::max<std::size_t>(2 * capacity, 256);
    while (grown - used < more) grown *= 2;
    std::unique_ptr<char[]> moved(new char[grown]);
    if (used) std::memcpy(moved.get(), bytes.get(), used);
    bytes = std::move(moved);
    capacity = grown;
  }
  void append(const char* p, std::size_t n) {
    char* const at = room(n);
    if (n) std::memcpy(at, p, n);
    used += n;
  }
  void push_back(char c) {
    *room(1) = c;
    ++used;
  }
  // Appends [p, q), bytes of a buffer that ends at `end`: a short run is stored sixteen
  // bytes at once, without a call.
  void append_scanned(const char* p, const char* q, const char* end) {
    const std::size_t n = static_cast<std::size_t>(q - p);
    if (n <= 16 && end - p >= 16) {
      std::memcpy(room(16), p, 16);
      used += n;
    } else {
      append(p, n);
    }
  }
  // Appends the first `size` bytes of `encoded`, the lowest first.
  void put(std::uint32_t encoded, std::size_t size) {
    std::memcpy(room(sizeof encoded), &encoded, sizeof encoded);
    used += size;
  }
  void resize(std::size_t n) {
    used = n;
  }  // only ever shorter
  std::string_view view(std::size_t from) const {
    return {bytes.get() + from, used - from};
  }
};

}  // namespace

struct XmlReader {
  TreePtr tree;
  TreeNode* root = nullptr;
  TreeNode* current = nullptr;  // the element open innermost, or the root
  FILE* err = nullptr;
  Fault fault;
  bool spent = false;
  bool keep_positions = false;
  Stage stage = Stage::kStart;
  bool doctype_seen = false;
  // The character data of the open elements, outermost first, and where each element's
  // own begins: an element's value is what lies past its start when it closes.
  TextBuffer value;
  std::vector<std::size_t> value_starts;
  // The run of character data being read, since the last markup: where it begins in
  // `value`, and whether it holds more than white space written as such.
  std::size_t run_start = 0;
  bool run_content = false;
  // Character data that is all of an element's so far, still where it was read: the
  // end tag that may follow gives it to the element without copying it twice. Taken into
  // `value` by any other markup, and before the bytes it lies in go.
  const char* pending = nullptr;
  std::size_t pending_size = 0;
  // Positions. `counted` is a byte of the buffer being read; `line` is its line, and
  // `column` counts the characters before it on that line.
  const char* counted = nullptr;
  std::int32_t line = 1;
  std::int32_t column = 0;
  bool after_cr = false;  // the last byte counted was a carriage return
  // Reading in pieces: the bytes not yet taken, and the size they must reach before
  // they are looked at again, so that a long construct fed a byte at a time costs
  // linear time.
  std::string carry;
  std::size_t wait_for = 0;
  // The stored names of the attributes of the tag being read.
  std::vector<const char*> attribute_names;
  std::unordered_set<const char*> attribute_set;
  std::string scratch;  // an attribute value that needs more than copying
};

void XmlReaderRelease::operator()(XmlReader* reader) const noexcept {
  delete reader;
}

namespace {

using Bytes = const unsigned char*;

Bytes bytes(const char* p) {
  return reinterpret_cast<Bytes>(p);
}

// ---- Positions ----

// The bytes of [p, end) that are `a` or `b`; with `continuation`, the bytes that
// continue a UTF-8 sequence (0x80 to 0xBF) instead.
template <bool continuation = false>
std::size_t count_bytes(const char* p, const char* end, char a = 0, char b = 0) {
  std::size_t total = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i first = _mm_set1_epi8(a);
  const __m128i second = _mm_set1_epi8(b);
  const __m128i below = _mm_set1_epi8(-64);  // as signed bytes, 0x80 to 0xBF are below it
  while (end - p >= 16) {
    // Per-byte counts, summed before any of them can pass 255.
    __m128i counts = zero;
    for (int step = 0; step < 255 && end - p >= 16; ++step, p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i hits =
          continuation ? _mm_cmplt_epi8(bytes, below)
                       : _mm_or_si128(_mm_cmpeq_epi8(bytes, first), _mm_cmpeq_epi8(bytes, second));
      counts = _mm_sub_epi8(counts, hits);
    }
    const __m128i sums = _mm_sad_epu8(counts, zero);
    total += static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
  }
#endif
  for (; p != end; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    total += continuation ? (c & 0xC0) == 0x80 : (*p == a || *p == b);
  }
  return total;
}

struct LineEnds {
  std::size_t feeds = 0;
  std::size_t returns = 0;
};

// The line feeds and the carriage returns of [p, end), counted in one pass.
LineEnds count_line_ends(const char* p, const char* end) {
  LineEnds total;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  while (end - p >= 16) {
    // Per-byte counts, summed before any of them can pass 255: at most 63 steps of four
    // blocks, then the blocks left one at a time.
    __m128i feeds = zero;
    __m128i returns = zero;
    const auto count = [&](const char* at) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
      feeds = _mm_sub_epi8(feeds, _mm_cmpeq_epi8(bytes, lf));
      returns = _mm_sub_epi8(returns, _mm_cmpeq_epi8(bytes, cr));
    };
    const std::size_t steps = std::min<std::size_t>(static_cast<std::size_t>(end - p) / 64, 63);
    for (std::size_t step = 0; step < steps; ++step, p += 64) {
      count(p);
      count(p + 16);
      count(p + 32);
      count(p + 48);
    }
    if (steps < 63) {
      for (; end - p >= 16; p += 16) count(p);
    }
    const auto sum = [&](__m128i counts) {
      const __m128i sums = _mm_sad_epu8(counts, zero);
      return static_cast<std::size_t>(_mm_cvtsi128_si32(sums)) +
             static_cast<std::size_t>(_mm_cvtsi128_si32(_mm_srli_si128(sums, 8)));
    };
    total.feeds += sum(feeds);
    total.returns += sum(returns);
  }
#endif
  for (; p != end; ++p) {
    total.feeds += *p == '\n';
    total.returns += *p == '\r';
  }
  return total;
}

// Moves the count on to `p`: a carriage return, a line feed, and the pair of them end
// a line; a column counts characters, not the bytes of their UTF-8 encoding.
void count_to(XmlReader& r, const char* p) {
  const char* const q = r.counted;
  r.counted = p;
  if (p == q) return;
  const std::size_t size = static_cast<std::size_t>(p - q);
  const LineEnds counted = count_line_ends(q, p);
  if (counted.returns == 0) {
    // Line feeds alone end lines, as in most documents: the one pass has counted them.
    if (counted.feeds == 0) {
      r.column += static_cast<std::int32_t>(size - count_bytes<true>(q, p));
    } else {
      const char* const last_lf = static_cast<const char*>(memrchr(q, '\n', size));
      r.line += static_cast<std::int32_t>(counted.feeds - (r.after_cr && *q == '\n' ? 1 : 0));
      const char* const tail = last_lf + 1;
      r.column = static_cast<std::int32_t>(static_cast<std::size_t>(p - tail) -
                                           count_bytes<true>(tail, p));
    }
    r.after_cr = false;
    return;
  }
  const char* const last_lf = static_cast<const char*>(memrchr(q, '\n', size));
  const char* const last_cr = static_cast<const char*>(memrchr(q, '\r', size));
  const char* const last_end = std::max(last_lf, last_cr);
  if (!last_end) {
    r.column += static_cast<std::int32_t>(size - count_bytes<true>(q, p));
    r.after_cr = false;
    return;
  }
  // Every line end starts a line, but a line feed right after a carriage return.
  std::size_t ends = count_bytes(q, last_end + 1, '\n', last_cr ? '\r' : '\n');
  if (last_cr) {
    if (r.after_cr && *q == '\n') --ends;
    for (const char* cr = q; (cr = static_cast<const char*>(
                                  std::memchr(cr, '\r', static_cast<std::size_t>(last_end - cr))));
         ++cr) {
      if (cr[1] == '\n') --ends;
    }
  } else if (r.after_cr && *q == '\n') {
    --ends;
  }
  r.line += static_cast<std::int32_t>(ends);
  const char* const tail = last_end + 1;
  r.column =
      static_cast<std::int32_t>(static_cast<std::size_t>(p - tail) - count_bytes<true>(tail, p));
  r.after_cr = tail == p && *last_end == '\r';
}

NodePosition position_at(XmlReader& r, const char* p) {
  count_to(r, p);
  return {r.line, r.column + 1};
}

// ---- Faults ----

// Records the fault that ends the read, at `at`, and writes its message: `head`, then
// `name`, then `tail`, then the position.
Step fail_at(XmlReader& r, FaultKind kind, NodePosition at, std::string_view head,
             std::string_view name = {}, std::string_view tail = {}) {
  char position[32];
  std::snprintf(position, sizeof position, " at %d:%d\n", at.line, at.column);
  if (r.err) {
    for (std::string_view piece : {head, name, tail, std::string_view(position)}) {
      if (!piece.empty()) std::fwrite(piece.data(), 1, piece.size(), r.err);
    }
  }
  r.fault.kind = kind;
  r.fault.line = at.line;
  r.fault.column = at.column;
  try {
    r.fault.message.assign(head).append(name).append(tail).append(position);
  } catch (const std::bad_alloc&) {
    r.fault.message.clear();  // the kind and the position still tell
  }
  r.spent = true;
  return Step::kFault;
}

Step fail(XmlReader& r, FaultKind kind, const char* at, std::string_view head,
          std::string_view name = {}, std::string_view tail = {}) {
  return fail_at(r, kind, position_at(r, at), head, name, tail);
}

Step fail_no_memory(XmlReader& r, const char* at) {
  return fail(r, FaultKind::kNoMemory, at, "no more memory");
}

Step not_well_formed(XmlReader& r, const char* at, std::string_view what) {
  return fail(r, FaultKind::kNotWellFormed, at, what);
}

// ---- Characters ----

// What a byte is to the character data scanner: one that may need more than copying.
constexpr std::array<bool, 256> kTextSpecial = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<std::size_t>(c)] = true;
  for (int c = 0x80; c < 0x100; ++c) table[static_cast<std::size_t>(c)] = true;
  table['\t'] = table['\n'] = false;
  table['<'] = table['&'] = table[']'] = true;
  return table;
}();

constexpr std::array<bool, 256> kNameStart = [] {
  std::array<bool, 256> table{};
  for (int c = 'a'; c <= 'z'; ++c) table[static_cast<std::size_t>(c)] = true;
  for (int c = 'A'; c <= 'Z'; ++c) table[static_cast<std::size_t>(c)] = true;
  table['_'] = table[':'] = true;
  return table;
}();

constexpr std::array<bool, 256> kNameByte = [] {
  std::array<bool, 256> table = kNameStart;
  for (int c = '0'; c <= '9'; ++c) table[static_cast<std::size_t>(c)] = true;
  table['-'] = table['.'] = true;
  return table;
}();

constexpr std::array<bool, 256> kWhite = [] {
  std::array<bool, 256> table{};
  table[' '] = table['\n'] = table['\t'] = table['\r'] = true;
  return table;
}();

bool white(char c) {
  return kWhite[static_cast<unsigned char>(c)];
}

const char* skip_white(const char* p, const char* end) {
  // Most runs are none or a single space; longer ones, such as a line end and an
  // indentation run between tags, go sixteen bytes a step.
  if (p == end || !white(*p)) return p;
  if (++p == end || !white(*p)) return p;
#if defined(__SSE2__)
  while (end - p >= 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i blanks = _mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(b, _mm_set1_epi8('\n'))),
        _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('\t')),
                     _mm_cmpeq_epi8(b, _mm_set1_epi8('\r'))));
    const unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(blanks)) & 0xFFFF;
    if (others) return p + std::countr_zero(others);
    p += 16;
  }
#endif
  while (p != end && white(*p)) ++p;
  return p;
}

// The length of the UTF-8 sequence at `p` and its code point; 0 when it is no valid
// UTF-8 or no character XML allows; -1 when the bytes end before it does (and what there
// is may still begin a valid one).
int read_character(const char* p, const char* end, std::uint32_t& code) {
  const Bytes b = bytes(p);
  const std::ptrdiff_t available = end - p;
  const unsigned char c = b[0];
  if (c < 0x80) {
    code = c;
    return c >= 0x20 || c == '\t' || c == '\n' || c == '\r' ? 1 : 0;
  }
  int length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (c < 0xC2) return 0;
  if (c < 0xE0) {
    length = 2;
    code = c & 0x1F;
  } else if (c < 0xF0) {
    length = 3;
    code = c & 0x0F;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c < 0xF5) {
    length = 4;
    code = c & 0x07;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  for (int i = 1; i < length; ++i) {
    if (i >= available) return -1;
    const unsigned char next = b[i];
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    code = code << 6 | (next & 0x3F);
  }
  if (code == 0xFFFE || code == 0xFFFF) return 0;
  return length;
}

bool name_start_code(std::uint32_t c) {
  return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
         (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
         (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
         (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
         (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
         (c >= 0x10000 && c <= 0xEFFFF);
}

bool name_code(std::uint32_t c) {
  return name_start_code(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) ||
         (c >= 0x203F && c <= 0x2040);
}

// The end of the name that starts at `p`: `p` itself when none starts there. A name
// that runs to `end` (or into a character cut by it) ends there.
const char* name_end(const char* p, const char* end) {
  // The common case first: a name of ASCII characters.
  if (p != end && kNameStart[static_cast<unsigned char>(*p)]) {
    const char* q = p + 1;
#if defined(__SSE2__)
    // Sixteen bytes a step: most names end within the first, at a byte found without a
    // branch per byte.
    const __m128i lower = _mm_set1_epi8(0x20);
    const __m128i letter_shift = _mm_set1_epi8(static_cast<char>(0x80 - 'a'));
    const __m128i letter_limit = _mm_set1_epi8(static_cast<char>(0x80 + 26));
    const __m128i digit_shift = _mm_set1_epi8(static_cast<char>(0x80 - '0'));
    const __m128i digit_limit = _mm_set1_epi8(static_cast<char>(0x80 + 10));
    while (end - q >= 16) {
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
      // As signed bytes, a shifted letter or digit is below its limit; setting the 0x20
      // bit makes a capital a small letter and nothing else one.
      const __m128i letters =
          _mm_cmplt_epi8(_mm_add_epi8(_mm_or_si128(b, lower), letter_shift), letter_limit);
      const __m128i digits = _mm_cmplt_epi8(_mm_add_epi8(b, digit_shift), digit_limit);
      const __m128i marks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('_')),
                                                      _mm_cmpeq_epi8(b, _mm_set1_epi8(':'))),
                                         _mm_or_si128(_mm_cmpeq_epi8(b, _mm_set1_epi8('-')),
                                                      _mm_cmpeq_epi8(b, _mm_set1_epi8('.'))));
      const unsigned others = ~static_cast<unsigned>(_mm_movemask_epi8(
                                  _mm_or_si128(_mm_or_si128(letters, digits), marks))) &
                              0xFFFF;
      if (others) {
        q += std::countr_zero(others);
        if (static_cast<unsigned char>(*q) < 0x80) return q;
        break;
      }
      q += 16;
    }
#endif
    while (q != end && kNameByte[static_cast<unsigned char>(*q)]) ++q;
    if (q == end || static_cast<unsigned char>(*q) < 0x80) return q;
  }
  bool first = true;
  while (p != end) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c < 0x80) {
      if (!(first ? kNameStart[c] : kNameByte[c])) break;
      ++p;
    } else {
      std::uint32_t code = 0;
      const int length = read_character(p, end, code);
      if (length < 0) return end;
      if (length == 0 || !(first ? name_start_code(code) : name_code(code))) break;
      p += length;
    }
    first = false;
  }
  return p;
}

// Appends [p, end) with its line ends made line feeds: a carriage return, alone or
// before a line feed, becomes one line feed. Kept out of line, as is the full reading of
// a reference: the character data scanner that calls them then needs a smaller frame.
[[gnu::noinline]] void append_lines(TextBuffer& out, const char* p, const char* end) {
  if (end - p == 1 && *p != '\r') {
    // Most often a single space before text that follows markup.
    out.push_back(*p);
    return;
  }
  while (p != end) {
    const char* cr =
        static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(end - p)));
    if (!cr) {
      out.append(p, static_cast<std::size_t>(end - p));
      return;
    }
    out.append(p, static_cast<std::size_t>(cr - p));
    out.push_back('\n');
    p = cr + 1;
    if (p != end && *p == '\n') ++p;
  }
}

// ---- References ----

struct Entity {
  std::string_view name;
  char byte;
};

constexpr Entity kEntities[] = {
    {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''},
};

// The value of each hexadecimal digit; 0xFF for any other byte.
constexpr std::array<std::uint8_t, 256> kDigitValue = [] {
  std::array<std::uint8_t, 256> table{};
  table.fill(0xFF);
  for (int c = 0; c < 10; ++c)
    table[static_cast<std::size_t>('0' + c)] = static_cast<std::uint8_t>(c);
  for (int c = 0; c < 6; ++c) {
    table[static_cast<std::size_t>('a' + c)] = table[static_cast<std::size_t>('A' + c)] =
        static_cast<std::uint8_t>(10 + c);
  }
  return table;
}();

// Writes `value` as UTF-8 to `out`.
template <typename Out>
void put_utf8(std::uint32_t value, Out& out) {
  const auto byte = [](std::uint32_t bits) { return static_cast<char>(bits); };
  char bytes[4];
  std::size_t size;
  if (value < 0x80) {
    bytes[0] = byte(value);
    size = 1;
  } else if (value < 0x800) {
    bytes[0] = byte(0xC0 | value >> 6);
    bytes[1] = byte(0x80 | (value & 0x3F));
    size = 2;
  } else if (value < 0x10000) {
    bytes[0] = byte(0xE0 | value >> 12);
    bytes[1] = byte(0x80 | (value >> 6 & 0x3F));
    bytes[2] = byte(0x80 | (value & 0x3F));
    size = 3;
  } else {
    bytes[0] = byte(0xF0 | value >> 18);
    bytes[1] = byte(0x80 | (value >> 12 & 0x3F));
    bytes[2] = byte(0x80 | (value >> 6 & 0x3F));
    bytes[3] = byte(0x80 | (value & 0x3F));
    size = 4;
  }
  out.append(bytes, size);
}

bool xml_character(std::uint32_t c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// Reads the reference at `p` (its `&`) and appends what it stands for to `out`, moving
// `p` past it.
//
// In an attribute value (`tag` its tag's `<`, and `tag_at` its position when counted), an
// unknown entity is reported at the tag, as a conforming reader reports it. A reference
// cut short by the end of the input is reported at its `&`.
template <typename Out>
[[gnu::noinline]] Step read_reference(XmlReader& r, const char*& p, const char* end, bool at_end,
                                      Out& out, const char* tag = nullptr,
                                      const NodePosition* tag_at = nullptr) {
  const char* q = p + 1;
  const auto cut = [&]() {
    return at_end ? fail(r, FaultKind::kBadReference, p, "& starts no reference") : Step::kMore;
  };
  if (q == end) return cut();
  if (*q == '#') {
    ++q;
    const bool hex = q != end && *q == 'x';
    if (hex) ++q;
    const char* const digits = q;
    const std::uint32_t base = hex ? 16 : 10;
    std::uint32_t value = 0;
    for (; q != end; ++q) {
      const std::uint32_t digit = kDigitValue[static_cast<unsigned char>(*q)];
      if (digit >= base) break;
      value = std::min<std::uint32_t>(value * base + digit, 0x110000);
    }
    if (q == end) return cut();
    if (*q != ';' || q == digits) {
      return fail(r, FaultKind::kBadReference, q, "& starts no reference");
    }
    if (!xml_character(value)) {
      return fail(r, FaultKind::kBadCharacterReference, p,
                  "reference to a character XML does not allow");
    }
    put_utf8(value, out);
    p = q + 1;
    return Step::kDone;
  }
  // The five entities, as they are most often written.
  if (end - q >= 5) {
    if (std::memcmp(q, "amp;", 4) == 0 || std::memcmp(q, "lt;", 3) == 0 ||
        std::memcmp(q, "gt;", 3) == 0) {
      out.push_back(*q == 'a' ? '&' : *q == 'l' ? '<' : '>');
      p = q + (*q == 'a' ? 4 : 3);
      return Step::kDone;
    }
    if (std::memcmp(q, "quot;", 5) == 0 || std::memcmp(q, "apos;", 5) == 0) {
      out.push_back(*q == 'q' ? '"' : '\'');
      p = q + 5;
      return Step::kDone;
    }
  }
  const char* const name = q;
  q = name_end(q, end);
  if (q == name) return fail(r, FaultKind::kBadReference, q, "& starts no reference");
  if (q == end) return cut();
  if (*q != ';') return fail(r, FaultKind::kBadReference, q, "& starts no reference");
  const std::string_view entity(name, static_cast<std::size_t>(q - name));
  for (const Entity& known : kEntities) {
    if (known.name.size() != entity.size() || known.name[0] != entity[0]) continue;
    if (entity == known.name) {
      out.push_back(known.byte);
      p = q + 1;
      return Step::kDone;
    }
  }
  if (tag) {
    const NodePosition at = tag_at ? *tag_at : position_at(r, tag);
    return fail_at(r, FaultKind::kUnknownEntity, at, "unknown entity ", entity);
  }
  return fail(r, FaultKind::kUnknownEntity, p, "unknown entity ", entity);
}

// ---- Character data ----

// Ends the run of character data at a piece of markup: a run of white space alone is
// no part of the value.
void end_run(XmlReader& r) {
  if (!r.run_content) r.value.resize(r.run_start);
  r.run_start = r.value.size();
  r.run_content = false;
}

// Takes the pending character data into `value`.
void take_pending(XmlReader& r) {
  if (!r.pending) return;
  r.value.append(r.pending, r.pending_size);
  r.pending = nullptr;
}

#if defined(__SSE2__)
// One bit for each of the sixteen bytes of `b` that kTextSpecial marks.
inline unsigned special_mask(__m128i b) {
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i tab = _mm_set1_epi8('\t');
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i bracket = _mm_set1_epi8(']');
  // Below 0x20 as signed bytes: the control characters and every byte from 0x80.
  const __m128i low = _mm_andnot_si128(_mm_or_si128(_mm_cmpeq_epi8(b, tab), _mm_cmpeq_epi8(b, lf)),
                                       _mm_cmplt_epi8(b, space));
  const __m128i marks = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(b, lt), _mm_cmpeq_epi8(b, amp)),
                                     _mm_cmpeq_epi8(b, bracket));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(low, marks)));
}
#endif

// The first byte from `p` on that kTextSpecial marks, or `end`.
const char* next_special(const char* p, const char* end) {
#if defined(__SSE2__)
  while (end - p >= 16) {
    const unsigned mask = special_mask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    if (mask) return p + std::countr_zero(mask);
    p += 16;
  }
#endif
  while (p != end && !kTextSpecial[static_cast<unsigned char>(*p)]) ++p;
  return p;
}

// The first byte from `p` on that ends the plain part of an attribute value: its quote,
// `&`, `<`, a control character or a byte past ASCII; or `end`.
const char* next_in_value(const char* p, const char* end, char quote) {
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quotes = _mm_set1_epi8(quote);
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i amp = _mm_set1_epi8('&');
  while (end - p >= 16) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmplt_epi8(b, space), _mm_cmpeq_epi8(b, quotes)),
                     _mm_or_si128(_mm_cmpeq_epi8(b, lt), _mm_cmpeq_epi8(b, amp)));
    if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(stops))) {
      return p + std::countr_zero(mask);
    }
    p += 16;
  }
#endif
  for (; p != end; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == static_cast<unsigned char>(quote) || c < 0x20 || c >= 0x80 || c == '&' || c == '<') {
      break;
    }
  }
  return p;
}

// Appends the bytes from `p` on up to the first that kTextSpecial marks, or `end`, to
// `out`; returns where it stopped.
const char* append_plain(TextBuffer& out, const char* p, const char* end) {
#if defined(__SSE2__)
  // The end of the bytes kept and of the room, held apart from `out` while bytes are
  // stored, which the compiler would otherwise read back after each store.
  char* at = out.room(16);
  char* limit = at + (out.capacity - out.used);
  while (end - p >= 16) {
    if (limit - at < 16) {
      out.used = static_cast<std::size_t>(at - out.bytes.get());
      at = out.room(16);
      limit = at + (out.capacity - out.used);
    }
    // The sixteen bytes are stored whole; only those before a marked one count.
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), b);
    const unsigned mask = special_mask(b);
    if (mask) {
      const int kept = std::countr_zero(mask);
      out.used = static_cast<std::size_t>(at + kept - out.bytes.get());
      return p + kept;
    }
    at += 16;
    p += 16;
  }
  out.used = static_cast<std::size_t>(at - out.bytes.get());
#endif
  const char* const q = next_special(p, end);
  out.append(p, static_cast<std::size_t>(q - p));
  return q;
}

// Reads character data up to the next `<` (left at `p`) or the end of the bytes.
Step read_text(XmlReader& r, const char*& p, const char* end, bool at_end) {
  if (!r.run_content) {
    // White space at a run's start is kept back until the run shows more than that.
    const char* q = skip_white(p, end);
    if (q == end) {
      // A carriage return at the end waits: a line feed may pair with it.
      if (!at_end && q != p && q[-1] == '\r') --q;
      append_lines(r.value, p, q);
      p = q;
      return Step::kDone;
    }
    if (*q == '<') {
      p = q;
      return Step::kDone;
    }
    if (q != p) append_lines(r.value, p, q);
    p = q;
    r.run_content = true;
  }
  while (p != end) {
    if (r.value.size() == r.value_starts.back()) {
      const char* q = next_special(p, end);
      if (q != end && *q == '<') {
        // All the element's character data so far, in one piece: kept where it is.
        r.pending = p;
        r.pending_size = static_cast<std::size_t>(q - p);
        p = q;
        return Step::kDone;
      }
      r.value.append_scanned(p, q, end);
      p = q;
    } else {
      p = append_plain(r.value, p, end);
    }
    if (p == end) break;
    const unsigned char c = static_cast<unsigned char>(*p);
    switch (c) {
      case '<':
        return Step::kDone;
      case '&': {
        if (end - p >= kQuickReferenceBytes) {
          if (const QuickReference reference = quick_reference(p); reference.decoded) {
            r.value.put(reference.utf8, reference.size);
            p += reference.taken;
            continue;
          }
        }
        const Step step = read_reference(r, p, end, at_end, r.value);
        if (step != Step::kDone) return step == Step::kMore ? Step::kDone : step;
        continue;
      }
      case ']':
        if (end - p < 3 && !at_end) return Step::kDone;  // may begin `]]>`
        if (end - p >= 3 && p[1] == ']' && p[2] == '>') {
          return not_well_formed(r, p + 2, "]]> in character data");
        }
        r.value.push_back(']');
        ++p;
        continue;
      case '\r':
        if (p + 1 == end && !at_end) return Step::kDone;
        r.value.push_back('\n');
        p += p + 1 != end && p[1] == '\n' ? 2 : 1;
        continue;
      default: {
        std::uint32_t code = 0;
        const int length = read_character(p, end, code);
        if (length < 0 && !at_end) return Step::kDone;
        if (length <= 0) {
          return fail(r, FaultKind::kBadCharacter, p, "character XML does not allow");
        }
        r.value.append(p, static_cast<std::size_t>(length));
        p += length;
      }
    }
  }
  return Step::kDone;
}

// ---- Markup other than tags ----

// Checks the characters of [p, end) up to `stop`, a terminator found by the caller;
// false after a fault at the first one XML does not allow.
// With `cut`, `stop` is the end of the input, and a character it cuts short is left to the
// fault of what it leaves open.
bool check_characters(XmlReader& r, const char* p, const char* stop, bool cut = false) {
  while (p != stop) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c >= 0x20 && c < 0x80) {
      ++p;
      continue;
    }
    std::uint32_t code = 0;
    const int length = read_character(p, stop, code);
    if (length < 0 && cut) return true;
    if (length <= 0) {
      fail(r, FaultKind::kBadCharacter, p, "character XML does not allow");
      return false;
    }
    p += length;
  }
  return true;
}

// Finds `terminator` from `p` on; `end` when the bytes hold none.
const char* find(const char* p, const char* end, std::string_view terminator) {
  const std::string_view rest(p, static_cast<std::size_t>(end - p));
  const std::size_t at = rest.find(terminator);
  return at == std::string_view::npos ? end : p + at;
}

// A comment from its `<!--` at `p`: no `--` in it but the one that ends it.
Step read_comment(XmlReader& r, const char*& p, const char* end, bool at_end) {
  const char* const text = p + 4;
  const char* const dashes = find(text, end, "--");
  if (dashes == end || dashes + 2 == end) {
    if (!at_end) return Step::kMore;
    if (!check_characters(r, text, dashes, dashes == end)) return Step::kFault;
    return fail(r, FaultKind::kUnclosedComment, p, "unterminated comment");
  }
  if (!check_characters(r, text, dashes)) return Step::kFault;
  if (dashes[2] != '>') return not_well_formed(r, dashes + 2, "-- in a comment");
  p = dashes + 3;
  return Step::kDone;
}

// A processing instruction, or the XML declaration, from its `<?` at `p`.
Step read_instruction(XmlReader& r, const char*& p, const char* end, bool at_end) {
  const char* const target = p + 2;
  const char* q = name_end(target, end);
  if (q == end) {
    return at_end
               ? fail(r, FaultKind::kUnclosedInstruction, p, "unterminated processing instruction")
               : Step::kMore;
  }
  if (q == target) return not_well_formed(r, q, "processing instruction without a target");
  if (!white(*q) && *q != '?') return not_well_formed(r, q, "white space expected");
  const std::string_view name(target, static_cast<std::size_t>(q - target));
  if (name.size() == 3 && (name[0] | 0x20) == 'x' && (name[1] | 0x20) == 'm' &&
      (name[2] | 0x20) == 'l') {
    if (name == "xml") {
      return fail(r, FaultKind::kMisplacedDeclaration, p, "XML declaration not at the start");
    }
    return not_well_formed(r, q, "processing instruction target reserved for XML");
  }
  const char* close = find(q, end, "?>");
  if (close == end) {
    if (!at_end) return Step::kMore;
    if (!check_characters(r, q, end, true)) return Step::kFault;
    return fail(r, FaultKind::kUnclosedInstruction, p, "unterminated processing instruction");
  }
  if (q != close && !white(*q)) return not_well_formed(r, q, "white space expected");
  if (!check_characters(r, q, close)) return Step::kFault;
  p = close + 2;
  return Step::kDone;
}

// The XML declaration from its `<?xml` at `p`: version, then encoding and standalone,
// each optional, in that order. The encoding is not followed: input is read as UTF-8.
Step read_declaration(XmlReader& r, const char*& p, const char* end, bool at_end) {
  const char* const close = find(p, end, "?>");
  if (close == end) {
    return at_end
               ? fail(r, FaultKind::kUnclosedInstruction, p, "unterminated processing instruction")
               : Step::kMore;
  }
  const char* q = p + 5;
  const auto bad = [&](const char* at) {
    return not_well_formed(r, at, "malformed XML declaration");
  };
  constexpr std::string_view kPseudo[] = {"version", "encoding", "standalone"};
  std::size_t next = 0;  // the pseudo-attribute that may come next
  for (;;) {
    const char* const before = q;
    q = skip_white(q, close);
    if (q == close) break;
    if (q == before) return bad(q);
    const char* const name = q;
    q = name_end(q, close);
    const std::string_view given(name, static_cast<std::size_t>(q - name));
    std::size_t which = next;
    while (which < 3 && given != kPseudo[which]) ++which;
    if (which == 3 || (next == 0 && which != 0)) return bad(name);
    next = which + 1;
    q = skip_white(q, close);
    if (q == close || *q != '=') return bad(q);
    q = skip_white(q + 1, close);
    if (q == close || (*q != '"' && *q != '\'')) return bad(q);
    const char quote = *q++;
    const char* const text = q;
    while (q != close && *q != quote) {
      const char c = *q;
      const bool allowed = which == 0   ? kNameByte[static_cast<unsigned char>(c)]
                           : which == 1 ? (kNameByte[static_cast<unsigned char>(c)] && c != ':')
                                        : (c >= 'a' && c <= 'z');
      if (!allowed) return bad(q);
      ++q;
    }
    if (q == close) return bad(q);
    const std::string_view said(text, static_cast<std::size_t>(q - text));
    if (said.empty() || (which == 1 && !kNameStart[static_cast<unsigned char>(said[0])]) ||
        (which == 2 && said != "yes" && said != "no")) {
      return bad(text);
    }
    ++q;
  }
  if (next == 0) return bad(q);
  p = close + 2;
  return Step::kDone;
}

// A CDATA section from its `<![CDATA[` at `p`: its characters join the value as they
// are, line ends made line feeds.
Step read_cdata(XmlReader& r, const char*& p, const char* end, bool at_end) {
  const char* const text = p + 9;
  const char* const close = find(text, end, "]]>");
  if (close == end) {
    if (!at_end) return Step::kMore;
    if (!check_characters(r, text, end, true)) return Step::kFault;
    // Found where a `]` or `]]` at the end, which may begin the `]]>` that closes it,
    // begins.
    const char* at = end;
    for (int i = 0; i < 2 && at != text && at[-1] == ']'; ++i) --at;
    return fail(r, FaultKind::kUnclosedCdata, at, "unterminated CDATA section");
  }
  if (!check_characters(r, text, close)) return Step::kFault;
  end_run(r);
  append_lines(r.value, text, close);
  r.run_start = r.value.size();
  p = close + 3;
  return Step::kDone;
}

// Skips a quoted literal from its quote at `q`; `end` when it does not close.
const char* skip_literal(const char* q, const char* end) {
  const char* close =
      static_cast<const char*>(std::memchr(q + 1, *q, static_cast<std::size_t>(end - q - 1)));
  return close ? close + 1 : end;
}

// The document type declaration from its `<!DOCTYPE` at `p`. Its internal subset is
// skipped by its literals, comments and processing instructions; the declarations in it
// are not checked, and what they declare is not used.
Step read_doctype(XmlReader& r, const char*& p, const char* end, bool at_end) {
  // Cut short by the end of the input, it is reported where the token it cuts begins
  // (the declaration's own `<!DOCTYPE`, a keyword, a literal), else at the end, as a
  // conforming reader reports it.
  const auto cut = [&](const char* at = nullptr) {
    return at_end ? fail(r, FaultKind::kUnclosedDeclaration, at ? at : end,
                         "unterminated document type declaration")
                  : Step::kMore;
  };
  const char* q = p + 9;
  if (q == end) return cut(p);
  if (!white(*q)) return not_well_formed(r, q, "white space expected");
  q = skip_white(q, end);
  const char* const name = q;
  q = name_end(q, end);
  if (q == end) return cut();
  if (q == name) return not_well_formed(r, q, "name expected");
  // An external identifier: SYSTEM and a literal, or PUBLIC and two literals.
  const char* const before = q;
  q = skip_white(q, end);
  if (q == end) return cut();
  if (q != before && kNameStart[static_cast<unsigned char>(*q)]) {
    const char* const keyword = q;
    q = name_end(q, end);
    if (q == end) return cut(keyword);
    const std::string_view said(keyword, static_cast<std::size_t>(q - keyword));
    int literals = said == "SYSTEM" ? 1 : said == "PUBLIC" ? 2 : 0;
    if (literals == 0) return not_well_formed(r, keyword, "SYSTEM or PUBLIC expected");
    for (; literals > 0; --literals) {
      if (!white(*q)) return not_well_formed(r, q, "white space expected");
      q = skip_white(q, end);
      if (q == end) return cut();
      if (*q != '"' && *q != '\'') return not_well_formed(r, q, "literal expected");
      const char* const literal = q;
      q = skip_literal(q, end);
      if (q == end) return cut(literal);
      if (!check_characters(r, literal + 1, q - 1)) return Step::kFault;
    }
    q = skip_white(q, end);
    if (q == end) return cut();
  }
  for (;;) {
    const char c = *q;
    if (c == '>') break;
    if (c == '[') {
      ++q;
      for (;;) {
        q = skip_white(q, end);
        if (q == end) return cut();
        if (*q == ']') break;
        const std::string_view rest(q, static_cast<std::size_t>(end - q));
        if (rest.size() < 4 && !at_end) return Step::kMore;
        if (rest.starts_with("<!--")) {
          q = find(q + 4, end, "-->");
          if (q == end) return cut();
          q += 3;
        } else if (rest.starts_with("<?")) {
          q = find(q + 2, end, "?>");
          if (q == end) return cut();
          q += 2;
        } else if (rest.starts_with("<!")) {
          q += 2;
          while (q != end && *q != '>') {
            q = *q == '"' || *q == '\'' ? skip_literal(q, end) : q + 1;
          }
          if (q == end) return cut();
          ++q;
        } else if (*q == '%') {
          const char* const entity = q + 1;
          q = name_end(entity, end);
          if (q == end) return cut();
          if (q == entity || *q != ';')
            return not_well_formed(r, q, "malformed parameter entity reference");
          ++q;
        } else {
          return not_well_formed(r, q, "markup declaration expected");
        }
      }
      q = skip_white(q + 1, end);
      if (q == end) return cut();
      if (*q != '>') return not_well_formed(r, q, "> expected");
      break;
    }
    return not_well_formed(r, q, "malformed document type declaration");
  }
  p = q + 1;
  r.doctype_seen = true;
  return Step::kDone;
}

// ---- Tags ----

// Whether a start tag at `p` is whole in the bytes, up to its `>` or a `<` that ends it
// with a fault.
bool tag_is_whole(const char* p, const char* end) {
  char quote = 0;
  for (const char* q = p + 1; q != end; ++q) {
    const char c = *q;
    if (c == '<') return true;
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return true;
    }
  }
  return false;
}

bool record_position(XmlReader& r, const TreeNode* node, NodePosition at) {
  try {
    r.tree->positions.emplace(node, StoredPosition{at.line, at.column});
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// An attribute value from its opening quote at `q`, normalized and with references
// decoded, in `value` (a view of the bytes, or of r.scratch). Moves `q` past the
// closing quote.
// kMore when the input ends before the value does.
Step read_attribute_value(XmlReader& r, const char*& q, const char* end, const char* tag,
                          const NodePosition* tag_at, std::string_view& value) {
  const char quote = *q++;
  const char* const start = q;
  // The plain case: no reference, no white space but spaces, no byte past ASCII.
  q = next_in_value(q, end, quote);
  if (q != end && *q == quote) {
    value = std::string_view(start, static_cast<std::size_t>(q - start));
    ++q;
    return Step::kDone;
  }
  std::string& out = r.scratch;
  out.assign(start, static_cast<std::size_t>(q - start));
  while (q != end && *q != quote) {
    const unsigned char c = static_cast<unsigned char>(*q);
    if (c == '<') return fail(r, FaultKind::kLessThanInValue, q, "< in an attribute value");
    if (c == '&') {
      if (end - q >= kQuickReferenceBytes) {
        if (const QuickReference reference = quick_reference(q); reference.decoded) {
          char bytes[4];
          std::memcpy(bytes, &reference.utf8, sizeof bytes);
          out.append(bytes, reference.size);
          q += reference.taken;
          continue;
        }
      }
      if (const Step step = read_reference(r, q, end, false, out, tag, tag_at); step != Step::kDone)
        return step;
      continue;
    }
    if (c == '\r') {
      out.push_back(' ');
      q += q + 1 != end && q[1] == '\n' ? 2 : 1;
      continue;
    }
    if (c == '\n' || c == '\t') {
      out.push_back(' ');
      ++q;
      continue;
    }
    if (c >= 0x80) {
      std::uint32_t code = 0;
      const int length = read_character(q, end, code);
      if (length < 0) return Step::kMore;  // the input ends within the character
      if (length == 0) return fail(r, FaultKind::kBadCharacter, q, "character XML does not allow");
      out.append(q, static_cast<std::size_t>(length));
      q += length;
    } else if (c >= 0x20) {
      // The plain run up to the next byte that needs more than copying.
      const char* const run = q;
      q = next_in_value(q + 1, end, quote);
      out.append(run, static_cast<std::size_t>(q - run));
    } else {
      return fail(r, FaultKind::kBadCharacter, q, "character XML does not allow");
    }
  }
  if (q == end) return Step::kMore;
  value = out;
  ++q;
  return Step::kDone;
}

bool repeated_attribute(XmlReader& r, const char* stored) {
  std::vector<const char*>& names = r.attribute_names;
  if (names.size() < kAttributeSetSize) {
    if (std::find(names.begin(), names.end(), stored) != names.end()) return true;
    names.push_back(stored);
    if (names.size() == kAttributeSetSize) r.attribute_set.insert(names.begin(), names.end());
    return false;
  }
  return !r.attribute_set.insert(stored).second;
}

// A start tag or an empty-element tag from its `<` at `p`, whole in the bytes or cut
// only by the end of the input.
Step read_start_tag(XmlReader& r, const char*& p, const char* end) {
  NodePosition tag_at{};
  bool tag_counted = false;
  if (r.keep_positions) {
    tag_at = position_at(r, p);
    tag_counted = true;
  }
  const auto unterminated = [&]() {
    if (!tag_counted) tag_at = position_at(r, p);
    return fail_at(r, FaultKind::kUnclosedTag, tag_at, "unterminated tag");
  };
  const char* q = p + 1;
  const char* const name = q;
  q = name_end(q, end);
  if (q == end) return unterminated();
  if (q == name) return not_well_formed(r, q, "name expected");
  TreeNode* element = tree_append_child(*r.tree, *r.current,
                                        std::string_view(name, static_cast<std::size_t>(q - name)));
  if (!element) return fail_no_memory(r, name);
  if (r.keep_positions && !record_position(r, element, tag_at)) return fail_no_memory(r, name);
  r.attribute_names.clear();
  if (!r.attribute_set.empty()) r.attribute_set.clear();
  const char* first_attribute = nullptr;  // its stored name
  for (;;) {
    const char* const before = q;
    // Most often one space, then the next attribute's name.
    if (end - q >= 2 && q[0] == ' ' && kNameStart[static_cast<unsigned char>(q[1])]) {
      ++q;
    } else {
      q = skip_white(q, end);
    }
    if (q == end) return unterminated();
    const char c = *q;
    if (c == '>') {
      end_run(r);
      try {
        r.value_starts.push_back(r.value.size());
      } catch (const std::bad_alloc&) {
        return fail_no_memory(r, q);
      }
      r.current = element;
      r.run_start = r.value.size();
      p = q + 1;
      return Step::kDone;
    }
    if (c == '/') {
      if (q + 1 == end) return unterminated();
      if (q[1] != '>') return not_well_formed(r, q + 1, "> expected");
      end_run(r);
      p = q + 2;
      return Step::kDone;
    }
    if (c == '<') return not_well_formed(r, q, "< in a tag");
    if (q == before) return not_well_formed(r, q, "white space expected");
    const char* const attribute = q;
    q = name_end(q, end);
    if (q == end) return unterminated();
    if (q == attribute) return not_well_formed(r, q, "name expected");
    const std::string_view attribute_name(attribute, static_cast<std::size_t>(q - attribute));
    // Most often `="`, with no white space around the `=`.
    if (!(end - q >= 2 && q[0] == '=' && q[1] == '"')) {
      q = skip_white(q, end);
      if (q == end) return unterminated();
      if (*q != '=') {
        return fail(r, FaultKind::kAttributeWithoutValue, q, "attribute ", attribute_name,
                    " has no value");
      }
      q = skip_white(q + 1, end);
      if (q == end) return unterminated();
      if (*q != '"' && *q != '\'') {
        return fail(r, FaultKind::kUnquotedValue, q, "attribute value without quotes");
      }
    } else {
      ++q;
    }
    std::string_view value;
    if (const Step step =
            read_attribute_value(r, q, end, p, tag_counted ? &tag_at : nullptr, value);
        step != Step::kDone) {
      return step == Step::kMore ? unterminated() : step;
    }
    TreeNode* node = tree_append_child(*r.tree, *element, attribute_name);
    if (!node) return fail_no_memory(r, attribute);
    // The first attribute of a tag can repeat none: it joins the names looked up only
    // once a second one comes.
    bool repeated = false;
    if (!first_attribute) {
      first_attribute = node->name();
    } else {
      try {
        if (r.attribute_names.empty()) r.attribute_names.push_back(first_attribute);
        repeated = repeated_attribute(r, node->name());
      } catch (const std::bad_alloc&) {
        return fail_no_memory(r, attribute);
      }
    }
    if (repeated) {
      return fail(r, FaultKind::kDuplicateAttribute, attribute, "attribute ", attribute_name,
                  " is given twice");
    }
    if (r.keep_positions && !record_position(r, node, position_at(r, attribute))) {
      return fail_no_memory(r, attribute);
    }
    if (!tree_set_value(*r.tree, *node, value)) return fail_no_memory(r, attribute);
    node->name_and_marks |= kAttributeMark;
  }
}

// Whether the `size` bytes at `a` and at `b` are the same: for the short names of tags,
// a few word compares without a call.
bool same_bytes(const char* a, const char* b, std::size_t size) {
  const auto word = [](const char* at) {
    std::uint64_t w;
    std::memcpy(&w, at, sizeof w);
    return w;
  };
  const auto half = [](const char* at) {
    std::uint32_t w;
    std::memcpy(&w, at, sizeof w);
    return w;
  };
  if (size >= 8) {
    // Whole words, the last one overlapping the one before it.
    for (std::size_t i = 0; i + 8 < size; i += 8) {
      if (word(a + i) != word(b + i)) return false;
    }
    return word(a + size - 8) == word(b + size - 8);
  }
  if (size >= 4) return half(a) == half(b) && half(a + size - 4) == half(b + size - 4);
  for (std::size_t i = 0; i < size; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

// An end tag from its `</` at `p`.
Step read_end_tag(XmlReader& r, const char*& p, const char* end, bool at_end) {
  const auto cut = [&]() {
    return at_end ? fail(r, FaultKind::kUnclosedTag, p, "unterminated tag") : Step::kMore;
  };
  const char* const name = p + 2;
  const std::string_view open = r.current->name_view();
  const char* q = name + open.size();
  // Most often the tag names the element open, and `>` follows at once.
  if (!(end - name > static_cast<std::ptrdiff_t>(open.size()) && *q == '>' &&
        same_bytes(name, open.data(), open.size()))) {
    q = name_end(name, end);
    if (q == end) return cut();
    if (q == name) return not_well_formed(r, q, "name expected");
    const std::string_view closed(name, static_cast<std::size_t>(q - name));
    q = skip_white(q, end);
    if (q == end) return cut();
    if (*q != '>') return not_well_formed(r, q, "> expected");
    if (closed != open) {
      return fail(r, FaultKind::kNotProperlyPaired, name, "tag ", closed,
                  " is not properly paired");
    }
  }
  const std::size_t start = r.value_starts.back();
  if (r.pending && r.value.size() == start) {
    const std::string_view text(r.pending, r.pending_size);
    r.pending = nullptr;
    if (!tree_set_value(*r.tree, *r.current, text)) return fail_no_memory(r, q);
  }
  take_pending(r);
  end_run(r);
  r.value_starts.pop_back();
  if (r.value.size() > start) {
    if (!tree_set_value(*r.tree, *r.current, r.value.view(start))) {
      return fail_no_memory(r, q);
    }
    r.value.resize(start);
  }
  r.current = r.current->parent();
  r.run_start = r.value.size();
  if (r.value_starts.empty()) r.stage = Stage::kEpilog;
  p = q + 1;
  return Step::kDone;
}

// Whether the bytes from `p` may begin `text` but are too few to tell.
bool may_begin(const char* p, const char* end, std::string_view text) {
  const std::size_t have = static_cast<std::size_t>(end - p);
  return have < text.size() && text.starts_with(std::string_view(p, have));
}

bool begins(const char* p, const char* end, std::string_view text) {
  return std::string_view(p, static_cast<std::size_t>(end - p)).starts_with(text);
}

// Markup from its `<` at `p`, in the content or out of it. `tags_whole` says every
// start tag at `p` is whole in the bytes.
Step read_markup(XmlReader& r, const char*& p, const char* end, bool at_end, bool tags_whole) {
  const bool in_content = r.stage == Stage::kContent;
  if (r.pending && (p + 1 == end || p[1] != '/')) take_pending(r);
  if (p + 1 == end)
    return at_end ? fail(r, FaultKind::kUnclosedTag, p, "unterminated tag") : Step::kMore;
  switch (p[1]) {
    case '/':
      if (in_content) return read_end_tag(r, p, end, at_end);
      if (r.stage == Stage::kEpilog) {
        return fail(r, FaultKind::kTextOutsideRoot, p + 1, "markup after the root element");
      }
      return not_well_formed(r, p + 1, "closing tag with no element open");
    case '?': {
      const Step step = read_instruction(r, p, end, at_end);
      if (step == Step::kDone && in_content) end_run(r);
      return step;
    }
    case '!': {
      const char* const after = p + 2;
      if (may_begin(after, end, "--") || may_begin(after, end, "[CDATA[") ||
          may_begin(after, end, "DOCTYPE")) {
        if (!at_end) return Step::kMore;
        return fail(r, FaultKind::kUnclosedTag, p, "unterminated tag");
      }
      if (begins(after, end, "--")) {
        const Step step = read_comment(r, p, end, at_end);
        if (step == Step::kDone && in_content) end_run(r);
        return step;
      }
      if (in_content && begins(after, end, "[CDATA[")) return read_cdata(r, p, end, at_end);
      if (begins(after, end, "DOCTYPE")) {
        if (r.stage == Stage::kProlog && !r.doctype_seen) return read_doctype(r, p, end, at_end);
        if (r.stage != Stage::kContent) {
          return fail(r, FaultKind::kMisplacedDeclaration, p,
                      "document type declaration not before the root element");
        }
      }
      if (r.stage == Stage::kEpilog) {
        return fail(r, FaultKind::kTextOutsideRoot, p, "markup after the root element");
      }
      // Found at the first character that none of the openings allowed here can take.
      std::size_t matched = 0;
      for (std::string_view opening :
           {std::string_view("--"),
            in_content ? std::string_view("[CDATA[") : std::string_view("DOCTYPE")}) {
        const std::string_view rest(
            after, std::min<std::size_t>(static_cast<std::size_t>(end - after), opening.size()));
        std::size_t same = 0;
        while (same < rest.size() && rest[same] == opening[same]) ++same;
        matched = std::max(matched, same);
      }
      return not_well_formed(r, after + matched, "comment, CDATA section or declaration expected");
    }
    default:
      if (r.stage == Stage::kEpilog) {
        if (!kNameStart[static_cast<unsigned char>(p[1])] &&
            static_cast<unsigned char>(p[1]) < 0x80) {
          return fail(r, FaultKind::kTextOutsideRoot, p + 1, "markup after the root element");
        }
        return fail(r, FaultKind::kSecondRoot, p, "second root element");
      }
      if (!tags_whole && !at_end && !tag_is_whole(p, end)) return Step::kMore;
      {
        const bool root = r.stage != Stage::kContent;
        const Step step = read_start_tag(r, p, end);
        if (step == Step::kDone && root) {
          r.stage = r.current == r.root ? Stage::kEpilog : Stage::kContent;
        }
        return step;
      }
  }
}

// Looks at the start of the input: a byte order mark, then an XML declaration.
Step read_start(XmlReader& r, const char*& p, const char* end, bool at_end) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view kOtherMarks[] = {"\xFE\xFF", "\xFF\xFE",
                                              std::string_view("\0\0\xFE\xFF", 4)};
  if (!at_end) {
    for (std::string_view mark : kOtherMarks) {
      if (may_begin(p, end, mark)) return Step::kMore;
    }
    if (may_begin(p, end, kUtf8Mark) || may_begin(p, end, "<?xml ")) return Step::kMore;
  }
  for (std::string_view mark : kOtherMarks) {
    if (begins(p, end, mark)) {
      r.fault = Fault{FaultKind::kNotUtf8, 1, 0,
                      "UTF-16 or UTF-32 byte order mark: only UTF-8 is read\n"};
      if (r.err) std::fputs(r.fault.message.c_str(), r.err);
      r.spent = true;
      return Step::kFault;
    }
  }
  if (begins(p, end, kUtf8Mark)) {
    // The mark is no character of the document, and takes no column.
    p += kUtf8Mark.size();
    r.counted = p;
    if (!at_end && may_begin(p, end, "<?xml ")) return Step::kMore;
  }
  if (begins(p, end, "<?xml") && end - p > 5 && (white(p[5]) || p[5] == '?')) {
    // Undecided, a mark taken is taken again with the rest of the declaration.
    if (const Step step = read_declaration(r, p, end, at_end); step != Step::kDone) return step;
  }
  r.stage = Stage::kProlog;
  return Step::kDone;
}

const char* read_bytes(XmlReader& r, const char* p, const char* end, bool at_end);

// Reads [p, end) as far as it can be decided; returns where it stopped, or none after
// a fault. At the end of the input (`at_end`) it stops only at `end`.
const char* read(XmlReader& r, const char* p, const char* end, bool at_end) {
  const char* const stop = read_bytes(r, p, end, at_end);
  take_pending(r);  // the bytes it lies in may go
  return stop;
}

const char* read_bytes(XmlReader& r, const char* p, const char* end, bool at_end) {
  r.counted = p;
  if (r.stage == Stage::kStart) {
    const char* q = p;
    const Step step = read_start(r, q, end, at_end);
    if (step == Step::kFault) return nullptr;
    if (step == Step::kMore) {
      r.counted = p;  // the mark is counted again with the rest
      return p;
    }
    p = q;
  }
  // A start tag before the last `<` of the bytes is whole in them: a `<` ends any tag.
  const char* last_lt = nullptr;
  if (!at_end) {
    const std::string_view all(p, static_cast<std::size_t>(end - p));
    const std::size_t at = all.rfind('<');
    last_lt = at == std::string_view::npos ? p : p + at;
  }
  while (p != end) {
    if (r.stage == Stage::kContent) {
      if (*p != '<') {
        const Step step = read_text(r, p, end, at_end);
        if (step == Step::kFault) return nullptr;
        if (p == end || *p != '<') return p;
      }
    } else {
      p = skip_white(p, end);
      if (p == end) break;
      if (*p != '<') {
        if (r.stage == Stage::kEpilog) {
          fail(r, FaultKind::kTextOutsideRoot, p, "character data after the root element");
        } else {
          // Found where a name that starts it ends, as a conforming reader finds it.
          const char* const at = name_end(p, end);
          if (at == end && !at_end) return p;
          fail(r, FaultKind::kTextOutsideRoot, at, "character data before the root element");
        }
        return nullptr;
      }
    }
    Step step;
    if (r.stage == Stage::kContent && end - p >= 2 && p[1] == '/') {
      // The commonest markup, the tags within the root element, taken at once.
      step = read_end_tag(r, p, end, at_end);
    } else if (r.stage == Stage::kContent && end - p >= 2 &&
               kNameStart[static_cast<unsigned char>(p[1])] && (at_end || p < last_lt)) {
      take_pending(r);
      step = read_start_tag(r, p, end);
    } else {
      step = read_markup(r, p, end, at_end, at_end || p < last_lt);
    }
    if (step == Step::kFault) return nullptr;
    if (step == Step::kMore) return p;
    // Lines are counted while the bytes are still in the cache, not in one pass at the end.
    if (p - r.counted > kCountAhead) count_to(r, p);
  }
  return p;
}

// The checks at the end of the input, once every byte is read.
ParseResult finish(XmlReader& r, const char* end) {
  r.spent = true;
  if (r.stage == Stage::kStart || r.stage == Stage::kProlog) {
    fail(r, FaultKind::kNoRootElement, end, "no root element");
    return {nullptr, r.fault};
  }
  if (r.stage == Stage::kContent) {
    fail(r, FaultKind::kUnclosedElement, end, "element ", node_name(*r.current), " is not closed");
    return {nullptr, r.fault};
  }
  const NodePosition at = position_at(r, end);
  return {std::move(r.tree), Fault{FaultKind::kNone, at.line, at.column, ""}};
}

bool start(XmlReader& r, FILE* err, ReaderOptions options) {
  r.err = err;
  r.keep_positions = options.keep_positions;
  r.tree = tree_create();
  if (!r.tree) {
    r.fault = Fault{FaultKind::kNoMemory, 1, 0, "No more memory\n"};
    if (err) std::fputs("No more memory\n", err);
    r.spent = true;
    return false;
  }
  r.root = r.current = &tree_root(*r.tree);
  return true;
}

}  // namespace

XmlReaderPtr xml_reader_create(FILE* err, ReaderOptions options) {
  XmlReaderPtr reader(new (std::nothrow) XmlReader);
  if (!reader) {
    if (err) std::fputs("No more memory\n", err);
    return nullptr;
  }
  if (!start(*reader, err, options)) return nullptr;
  return reader;
}

bool xml_feed(XmlReader& r, std::string_view piece) {
  if (r.spent) return false;
  try {
    if (r.carry.empty()) {
      const char* const end = piece.data() + piece.size();
      const char* p = read(r, piece.data(), end, false);
      if (!p) return false;
      count_to(r, p);
      r.carry.assign(p, end);
    } else {
      r.carry.append(piece);
      if (r.carry.size() < r.wait_for) return true;
      const char* const start = r.carry.data();
      const char* p = read(r, start, start + r.carry.size(), false);
      if (!p) return false;
      count_to(r, p);
      r.carry.erase(0, static_cast<std::size_t>(p - start));
    }
  } catch (const std::bad_alloc&) {
    fail_at(r, FaultKind::kNoMemory, NodePosition{r.line, r.column + 1}, "no more memory");
    return false;
  }
  r.wait_for = 2 * r.carry.size();
  return true;
}

ParseResult xml_finish(XmlReader& r) {
  if (r.spent) {
    if (r.fault.kind != FaultKind::kNone) return {nullptr, r.fault};
    return {nullptr, Fault{FaultKind::kNoInput, r.line, r.column, ""}};
  }
  const char* const start = r.carry.data();
  const char* const end = start + r.carry.size();
  try {
    if (!read(r, start, end, true)) return {nullptr, r.fault};
  } catch (const std::bad_alloc&) {
    fail_no_memory(r, end);
    return {nullptr, r.fault};
  }
  return finish(r, end);
}

ParseResult xml_parse_stream(FILE* stream, FILE* err, ReaderOptions options) {
  XmlReader r;
  if (!start(r, err, options)) return {nullptr, r.fault};
  std::vector<char> buffer;
  std::size_t held = 0;  // bytes at the buffer's start not yet taken
  try {
    buffer.resize(2 * kStreamBlockSize);
    bool at_eof = false;
    while (!at_eof) {
      // Bytes held back are looked at again only once they have doubled, so that a long
      // construct costs linear time.
      const std::size_t want = std::max(2 * held, held + kStreamBlockSize);
      if (buffer.size() < want) buffer.resize(std::max(want, 2 * buffer.size()));
      std::size_t total = held;
      while (total < want) {
        const std::size_t got = std::fread(buffer.data() + total, 1, buffer.size() - total, stream);
        if (got == 0) {
          at_eof = true;
          break;
        }
        total += got;
      }
      if (total == held) break;
      const char* const start_byte = buffer.data();
      const char* p = read(r, start_byte, start_byte + total, false);
      if (!p) return {nullptr, r.fault};
      count_to(r, p);
      held = static_cast<std::size_t>(start_byte + total - p);
      std::memmove(buffer.data(), p, held);
    }
    const char* const end = buffer.data() + held;
    if (std::ferror(stream)) {
      // A stream cut short must not pass for a shorter document.
      r.counted = buffer.data();
      fail_at(r, FaultKind::kReadError, NodePosition{r.line, r.column + 1}, "read error");
      return {nullptr, r.fault};
    }
    if (!read(r, buffer.data(), end, true)) return {nullptr, r.fault};
    return finish(r, end);
  } catch (const std::bad_alloc&) {
    fail_at(r, FaultKind::kNoMemory, NodePosition{r.line, r.column + 1}, "no more memory");
    return {nullptr, r.fault};
  }
}

ParseResult xml_parse_text(std::string_view text, FILE* err, ReaderOptions options) {
  XmlReader r;
  if (!start(r, err, options)) return {nullptr, r.fault};
  const char* const end = text.data() + text.size();
  try {
    if (!read(r, text.data(), end, true)) return {nullptr, r.fault};
  } catch (const std::bad_alloc&) {
    fail_no_memory(r, end);
    return {nullptr, r.fault};
  }
  return finish(r, end);
}

}  // namespace nametree
