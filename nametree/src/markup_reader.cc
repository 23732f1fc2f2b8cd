// The markup reader's state machine, fed a piece at a time, and its entry points for a
// whole text and for a stream.
#include "nametree/markup_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "byte_runs.h"
#include "references.h"
#include "tree_storage.h"
#include "xml_reader.h"

namespace nametree {

constexpr std::int32_t kTokenStartSize = 256;  // the token buffer doubles from here
constexpr std::size_t kStreamBlockSize = std::size_t{1} << 16;  // read from a stream at once

struct MarkupReader {
  TreePtr tree;
  // The element (or attribute) open, under which the next node goes: the reader's own
  // cursor, always the last child of its parent, so that climbing takes one step.
  TreeNode* current = nullptr;
  TreeNode* root = nullptr;
  FILE* err = nullptr;  // where faults are also written, when given
  // The token: the run of characters gathered since the last structural event.
  std::unique_ptr<char[]> token_buffer;
  char* token_position = nullptr;  // where the next token character goes
  std::int32_t token_capacity = 0;
  std::int32_t line = 1;
  std::int32_t column = 0;
  // What is being read, as kInTag and the like; none of them: character data.
  std::uint8_t mode = 0;
  bool spent = false;  // finished, or stopped by a fault
  Fault fault;
  ReaderOptions options;
  // Whether the start of the input still has to be looked at for a byte order mark, and
  // the first bytes held back meanwhile, which may begin one.
  bool mark_pending = false;
  std::uint8_t mark_held = 0;
  char mark_bytes[4] = {};
  XmlReaderPtr xml;  // the XML reading, which then takes every piece
};

constexpr std::uint8_t kInTag = 1;         // a tag's name
constexpr std::uint8_t kInAttributes = 2;  // a tag's attributes, after its name
constexpr std::uint8_t kInValue = 4;       // an attribute's value, within its quotes
constexpr std::uint8_t kInComment = 8;

void ReaderRelease::operator()(MarkupReader* reader) const noexcept {
  delete reader;
}

namespace {

std::string_view token(const MarkupReader& r) {
  const char* start = r.token_buffer.get();
  return {start, static_cast<std::size_t>(r.token_position - start)};
}

void empty_token(MarkupReader& r) {
  r.token_position = r.token_buffer.get();
}

bool token_empty(const MarkupReader& r) {
  return r.token_position == r.token_buffer.get();
}

bool ends_with(const MarkupReader& r, char c) {
  return !token_empty(r) && r.token_position[-1] == c;
}

// Records the fault that ends the read and writes its message: `head`, then `name` up
// to any NUL byte in it, then `tail`, then the position when `positioned`.
void report(MarkupReader& r, FaultKind kind, std::string_view head, std::string_view name = {},
            std::string_view tail = {}, bool positioned = true) {
  name = name.substr(0, name.find('\0'));
  char position[32] = "";
  if (positioned) std::snprintf(position, sizeof position, " at %d:%d\n", r.line, r.column);
  if (r.err) {
    for (std::string_view piece : {head, name, tail, std::string_view(position)}) {
      if (!piece.empty()) std::fwrite(piece.data(), 1, piece.size(), r.err);
    }
  }
  r.fault.kind = kind;
  r.fault.line = r.line;
  r.fault.column = r.column;
  try {
    r.fault.message.assign(head).append(name).append(tail).append(position);
  } catch (const std::bad_alloc&) {
    r.fault.message.clear();  // the kind and the position still tell
  }
  r.spent = true;
}

void report_no_memory(MarkupReader& r) {
  report(r, FaultKind::kNoMemory, "no more memory");
}

// The root has no parent: where a step would climb above it, the root stays current.
void climb(MarkupReader& r) {
  if (TreeNode* parent = node_parent(*r.current)) r.current = parent;
}

bool add_child(MarkupReader& r, std::string_view name) {
  if (TreeNode* node = tree_append_child(*r.tree, *r.current, name)) {
    r.current = node;
    return true;
  }
  report_no_memory(r);
  return false;
}

bool set_value(MarkupReader& r, std::string_view value) {
  if (tree_set_value(*r.tree, *r.current, value)) return true;
  report_no_memory(r);
  return false;
}

// The token as a value: with the option, its references decoded in place.
std::string_view value_token(MarkupReader& r) {
  if (r.options.decode_references) {
    char* const start = r.token_buffer.get();
    const std::size_t size = token(r).size();
    r.token_position = start + decode_references(start, size);
  }
  return token(r);
}

// Character data ends at a `<`: it becomes the current element's value, without the
// space a trailing run of white space left.
bool finish_text(MarkupReader& r) {
  // The space a trailing run of white space left goes before references are decoded, so
  // that `&#32;` keeps the space it stands for.
  if (r.token_position[-1] == ' ') --r.token_position;
  return set_value(r, value_token(r));
}

bool finish_attribute_value(MarkupReader& r) {
  if (!set_value(r, value_token(r))) return false;
  node_set_attribute_mark(*r.current, true);
  climb(r);
  return true;
}

bool finish_tag_name(MarkupReader& r) {
  std::string_view name = token(r);
  if (!name.empty() && name.front() == '/') {
    name.remove_prefix(1);
    if (r.current == r.root) {
      report(r, FaultKind::kClosedAtZeroLevel, "tag ", name, " is closed at zero level");
      return false;
    }
    if (name != node_name(*r.current)) {
      report(r, FaultKind::kNotProperlyPaired, "tag ", name, " is not properly paired");
      return false;
    }
    r.current = node_parent(*r.current);
    return true;
  }
  if (!name.empty() && name.back() == '/') {
    // An empty element: the slash leaves the token, so the self-closing test of the
    // same `>` does not see it again.
    --r.token_position;
    name.remove_suffix(1);
    if (!add_child(r, name)) return false;
    r.current = node_parent(*r.current);
    return true;
  }
  if (!name.empty() && name.front() == '?') return true;  // a processing instruction
  return add_child(r, name);
}

// Doubles the token buffer, keeping the token; false after "no more memory".
bool grow_token(MarkupReader& r) {
  // The capacity is a signed 32-bit count; a token that would need more is refused
  // like any other allocation that cannot be made.
  if (r.token_capacity > std::numeric_limits<std::int32_t>::max() / 2) {
    report_no_memory(r);
    return false;
  }
  const std::int32_t capacity = r.token_capacity * 2;
  char* grown = new (std::nothrow) char[static_cast<std::size_t>(capacity)];
  if (!grown) {
    report_no_memory(r);
    return false;
  }
  const std::size_t length = token(r).size();
  if (length > 0) std::memcpy(grown, r.token_buffer.get(), length);
  r.token_buffer.reset(grown);
  r.token_position = grown + length;
  r.token_capacity = capacity;
  return true;
}

bool token_full(const MarkupReader& r) {
  return r.token_position == r.token_buffer.get() + r.token_capacity;
}

// Counts the position and interprets one character that is not plain, or any character
// inside a comment. The token has room for one more character.
bool feed_markup(MarkupReader& r, char c) {
  // The position is counted before the character is read, so a fault names the
  // character that caused it.
  count_position(r.line, r.column, c);

  if (r.mode & kInComment) {
    // Only runs of `-` and `>` are kept, enough to see the closing `-->`.
    if (c == '>' || c == '-') {
      *r.token_position++ = c;
      const std::string_view t = token(r);
      if (t.size() >= 3 && t.substr(t.size() - 3) == "-->") {
        r.mode &= static_cast<std::uint8_t>(~kInComment);
        empty_token(r);
      }
    } else {
      empty_token(r);
    }
    return true;
  }

  if (r.mode & kInValue) {
    // A quote after a backslash stays in the value together with the backslash.
    if (c == '"' && !ends_with(r, '\\')) {
      if (!finish_attribute_value(r)) return false;
      r.mode &= static_cast<std::uint8_t>(~kInValue);
      empty_token(r);
      return true;
    }
    *r.token_position++ = c;
    return true;
  }

  switch (c) {
    case '"':
      if (!(r.mode & kInAttributes)) break;
      r.mode |= kInValue;
      return true;

    case '<':
      if (!token_empty(r)) {
        if (!finish_text(r)) return false;
        empty_token(r);
      }
      // Only a tag name being read refuses a `<`: among the attributes it opens a child
      // element of the element still open.
      if (r.mode & kInTag) {
        report(r, FaultKind::kTagAlreadyOpened, "tag is already opened");
        return false;
      }
      r.mode |= kInTag;
      return true;

    case '>':
      if (!(r.mode & (kInTag | kInAttributes))) {
        report(r, FaultKind::kTagNotYetOpened, "tag is not yet opened");
        return false;
      }
      if ((r.mode & kInTag) && !finish_tag_name(r)) return false;
      if ((r.mode & kInAttributes) && ends_with(r, '/')) climb(r);
      r.mode &= static_cast<std::uint8_t>(~(kInTag | kInAttributes));
      empty_token(r);
      return true;

    case '=':
      if (!(r.mode & kInAttributes)) break;
      // The attribute node becomes current, so the value that follows lands on it.
      if (!add_child(r, token(r))) return false;
      empty_token(r);
      return true;

    case ' ':
    case '\t':
    case '\n':
    case '\r':
      if (r.mode & (kInTag | kInAttributes)) {
        if ((r.mode & kInTag) && !finish_tag_name(r)) return false;
        r.mode &= static_cast<std::uint8_t>(~kInTag);
        r.mode |= kInAttributes;
        empty_token(r);
        return true;
      }
      // In text, leading white space is dropped and every run shrinks to one space.
      if (!token_empty(r) && !ends_with(r, ' ')) *r.token_position++ = ' ';
      return true;

    default:
      break;
  }

  *r.token_position++ = c;
  if ((r.mode & kInTag) && token(r) == "!--") {
    r.mode |= kInComment;
    r.mode &= static_cast<std::uint8_t>(~kInTag);
    empty_token(r);
  }
  return true;
}

// Feeds one character. A failure to grow the token comes before the position is
// counted, and so reports the position of the previous character.
bool feed_one(MarkupReader& r, char c) {
  if (token_full(r) && !grow_token(r)) return false;
  if (plain(c) && !(r.mode & kInComment)) {
    r.column = advance(r.column);
    *r.token_position++ = c;
    return true;
  }
  return feed_markup(r, c);
}

bool in_text(const MarkupReader& r) {
  return r.mode == 0;
}

// Character data up to the next `<` or `>`, as far as the token has room for: runs of
// bytes that only join the token are copied whole, and white space is appended as one
// space unless the token is empty or already ends with one. Returns where it stopped.
const char* feed_text(MarkupReader& r, const char* p, const char* const end) {
  char* const start = r.token_buffer.get();
  char* const limit = start + r.token_capacity;
  char* out = r.token_position;
  std::int32_t line = r.line;
  std::int32_t column = r.column;
  while (p != end && out != limit) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (kTextEnd[c]) break;
    if (kBlank[c]) {
      count_position(line, column, static_cast<char>(c));
      if (out != start && out[-1] != ' ') *out++ = ' ';
      // The token now is empty or ends with a space: spaces that follow only count.
      const char* const after = ++p;
      p = skip_spaces(p, end);
      column = advance(column, static_cast<std::uint32_t>(p - after));
      continue;
    }
    // The first byte joins the token whatever it is; the run goes on from the next.
    const char* const stop = p + std::min(end - p, limit - out);
    *out = static_cast<char>(c);
    const char* const run_end = copy_text_run(p + 1, stop, out + 1);
    out += run_end - p;
    column = advance(column, static_cast<std::uint32_t>(run_end - p));
    p = run_end;
  }
  r.token_position = out;
  r.line = line;
  r.column = column;
  return p;
}

// Feeds every character of [p, end) in order, exactly as feed_one would one by one,
// with the commonest cases kept in loops of their own: character data, attribute
// values, and runs of characters that only join the token; and the `<` that ends
// character data, the `>` or white space that ends a tag's name, and the white space,
// `=` and `"` between attributes taken without a call.
bool feed_span(MarkupReader& r, const char* p, const char* const end) {
  while (p != end) {
    char* const buffer_end = r.token_buffer.get() + r.token_capacity;
    if (in_text(r)) {
      if (r.token_position == buffer_end && !grow_token(r)) return false;
      p = feed_text(r, p, end);
      if (p != end && *p == '<' && r.token_position != r.token_buffer.get() + r.token_capacity) {
        // A tag opens, as feed_markup takes it: the text so far becomes the value.
        ++p;
        r.column = advance(r.column);
        if (!token_empty(r)) {
          if (!finish_text(r)) return false;
          empty_token(r);
        }
        r.mode = kInTag;
        continue;
      }
      if (p != end && kTextEnd[static_cast<unsigned char>(*p)] && !feed_one(r, *p++)) {
        return false;
      }
      continue;
    }
    if (r.mode & kInValue) {
      // Only a `"` ends a value: every other character joins it.
      char* out = r.token_position;
      const char* const stop = p + std::min(end - p, buffer_end - out);
      const char* const run = p;
      p = copy_value_run(p, stop, out, r.line, r.column);
      out += p - run;
      r.token_position = out;
      if (p == end) break;
      if (out == buffer_end) {
        if (!grow_token(r)) return false;
        continue;
      }
      // The closing quote, unless a backslash stands before it (see feed_markup).
      if (out == r.token_buffer.get() || out[-1] != '\\') {
        ++p;
        r.column = advance(r.column);
        if (!finish_attribute_value(r)) return false;
        r.mode &= static_cast<std::uint8_t>(~kInValue);
        empty_token(r);
        continue;
      }
      if (!feed_one(r, *p++)) return false;
      continue;
    }
    if (plain(*p) && !(r.mode & kInComment)) {
      char* out = r.token_position;
      const char* const stop = p + std::min(end - p, buffer_end - out);
      const char* const run = p;
      p = copy_plain_run(p, stop, out);
      out += p - run;
      r.token_position = out;
      r.column = advance(r.column, static_cast<std::uint32_t>(p - run));
      if (p == end) break;
      if (out == buffer_end) {
        if (!grow_token(r)) return false;
        continue;
      }
      // What most often follows a tag's name, as feed_markup takes it: the end of the
      // tag, or white space before its attributes.
      if (r.mode != kInTag) continue;
      const char c = *p;
      if (c == '>') {
        ++p;
        r.column = advance(r.column);
        if (!finish_tag_name(r)) return false;
        r.mode = 0;
        empty_token(r);
      } else if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
        ++p;
        count_position(r.line, r.column, c);
        if (!finish_tag_name(r)) return false;
        r.mode = kInAttributes;
        empty_token(r);
      }
      continue;
    }
    if (r.mode == kInAttributes && r.token_position != buffer_end) {
      // Among the attributes, the commonest characters that are not plain, as
      // feed_markup takes them.
      const char c = *p;
      if (c == ' ' || c == '\n' || c == '\t' || c == '\r') {
        ++p;
        count_position(r.line, r.column, c);
        empty_token(r);
        continue;
      }
      if (c == '"') {
        ++p;
        r.column = advance(r.column);
        r.mode |= kInValue;
        continue;
      }
      if (c == '=') {
        ++p;
        r.column = advance(r.column);
        if (!add_child(r, token(r))) return false;
        empty_token(r);
        continue;
      }
    }
    if (!feed_one(r, *p++)) return false;
  }
  return true;
}

// Sets up a reader in place; false after "No more memory\n".
bool start(MarkupReader& r, FILE* err, ReaderOptions options) {
  r.err = err;
  r.options = options;
  r.mark_pending = options.read_byte_order_mark;
  r.tree = tree_create();
  r.token_buffer.reset(new (std::nothrow) char[kTokenStartSize]);
  if (!r.tree || !r.token_buffer) {
    report(r, FaultKind::kNoMemory, "No more memory\n", {}, {}, false);
    return false;
  }
  r.root = r.current = &tree_root(*r.tree);
  r.token_position = r.token_buffer.get();
  r.token_capacity = kTokenStartSize;
  return true;
}

// What the first bytes of an input say about a byte order mark.
enum class Mark : std::uint8_t { kNone, kUtf8, kOther, kNeedMore };

// Looks at `start`, the first bytes of an input (all of them when `at_end`), for a byte
// order mark: UTF-8's, or one of UTF-16 or UTF-32 (`FF FE` begins both little-endian
// marks). kNeedMore while the bytes so far may still begin a mark.
Mark byte_order_mark(std::string_view start, bool at_end) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view kOtherMarks[] = {"\xFE\xFF", "\xFF\xFE",
                                              std::string_view("\0\0\xFE\xFF", 4)};
  if (start.starts_with(kUtf8Mark)) return Mark::kUtf8;
  for (std::string_view mark : kOtherMarks) {
    if (start.starts_with(mark)) return Mark::kOther;
  }
  if (!at_end) {
    for (std::string_view mark : kOtherMarks) {
      if (mark.starts_with(start)) return Mark::kNeedMore;
    }
    if (kUtf8Mark.starts_with(start)) return Mark::kNeedMore;
  }
  return Mark::kNone;
}

void report_not_utf8(MarkupReader& r) {
  report(r, FaultKind::kNotUtf8, "UTF-16 or UTF-32 byte order mark: only UTF-8 is read\n", {}, {},
         false);
}

// Takes what a byte order mark at the start of the input asks for, once the bytes held
// back and those of `piece` tell: UTF-8's leaves `piece` without it, and the bytes held
// back that begin no mark are fed first. False after a fault.
bool take_byte_order_mark(MarkupReader& r, std::string_view& piece, bool at_end) {
  const std::size_t held_before = r.mark_held;
  const std::size_t taken = std::min(piece.size(), sizeof r.mark_bytes - held_before);
  if (taken > 0) std::memcpy(r.mark_bytes + held_before, piece.data(), taken);
  r.mark_held = static_cast<std::uint8_t>(held_before + taken);
  switch (byte_order_mark(std::string_view(r.mark_bytes, r.mark_held), at_end)) {
    case Mark::kNeedMore:
      piece = {};  // all of it is held back
      return true;
    case Mark::kUtf8:
      r.mark_pending = false;
      piece.remove_prefix(3 - held_before);
      return true;
    case Mark::kOther:
      r.mark_pending = false;
      report_not_utf8(r);
      return false;
    case Mark::kNone:
      break;
  }
  r.mark_pending = false;
  return feed_span(r, r.mark_bytes, r.mark_bytes + held_before);
}

ParseResult failed(const MarkupReader& r) {
  return {nullptr, r.fault};
}

}  // namespace

std::optional<NodePosition> node_position(const NameTree& tree, const TreeNode& node) {
  const auto found = tree.positions.find(&node);
  if (found == tree.positions.end()) return std::nullopt;
  return NodePosition{found->second.line, found->second.column};
}

ReaderPtr markup_reader_create(FILE* err, ReaderOptions options) {
  ReaderPtr reader(new (std::nothrow) MarkupReader);
  if (!reader) {
    if (err) std::fputs("No more memory\n", err);
    return nullptr;
  }
  if (options.xml) {
    reader->xml = xml_reader_create(err, options);
    if (!reader->xml) return nullptr;
    return reader;
  }
  if (!start(*reader, err, options)) return nullptr;
  return reader;
}

bool markup_feed(MarkupReader& reader, std::string_view piece) {
  if (reader.xml) return xml_feed(*reader.xml, piece);
  if (reader.spent) return false;
  if (reader.mark_pending && !take_byte_order_mark(reader, piece, false)) return false;
  return feed_span(reader, piece.data(), piece.data() + piece.size());
}

ParseResult markup_finish(MarkupReader& reader) {
  if (reader.xml) return xml_finish(*reader.xml);
  if (reader.fault.kind != FaultKind::kNone) return failed(reader);
  if (reader.spent) return {nullptr, Fault{FaultKind::kNoInput, reader.line, reader.column, ""}};
  if (reader.mark_pending) {
    // The input ended within what may have begun a mark.
    std::string_view rest;
    if (!take_byte_order_mark(reader, rest, true)) return failed(reader);
  }
  reader.spent = true;
  reader.token_buffer.reset();
  reader.token_position = nullptr;
  reader.token_capacity = 0;
  // Nothing else is checked at the end: text after the last tag, and a tag, value or
  // comment left open, are dropped.
  if (reader.current != reader.root) {
    report(reader, FaultKind::kIncomplete, "Incomplete xml\n", {}, {}, false);
    reader.tree.reset();
    return failed(reader);
  }
  return {std::move(reader.tree), Fault{FaultKind::kNone, reader.line, reader.column, ""}};
}

ParseResult markup_parse_text(std::string_view text, FILE* err, ReaderOptions options) {
  if (text.empty()) return {nullptr, Fault{FaultKind::kNoInput, 1, 0, ""}};
  if (options.xml) return xml_parse_text(text, err, options);
  MarkupReader reader;
  if (start(reader, err, options)) markup_feed(reader, text);
  return markup_finish(reader);
}

ParseResult markup_parse_stream(FILE* stream, FILE* err, ReaderOptions options) {
  if (!stream) return {nullptr, Fault{FaultKind::kNoInput, 1, 0, ""}};
  if (options.xml) return xml_parse_stream(stream, err, options);
  MarkupReader reader;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[kStreamBlockSize]);
  if (!start(reader, err, options)) return failed(reader);
  if (!buffer) {
    report(reader, FaultKind::kNoMemory, "No more memory\n", {}, {}, false);
    return failed(reader);
  }
  StreamPieces pieces;
  std::size_t got = 0;
  while ((got = std::fread(buffer.get(), 1, kStreamBlockSize, stream)) > 0) {
    std::string_view block(buffer.get(), got);
    // The mark is looked for in the stream's own first bytes, before NUL bytes cut
    // pieces short: UTF-32's begins with two of them. A block comes short only at the
    // end of the stream, and the first is longer than any mark otherwise.
    if (reader.mark_pending && !take_byte_order_mark(reader, block, got < kStreamBlockSize)) {
      break;
    }
    if (!split_stream_block(pieces, block,
                            [&](std::string_view piece) { return markup_feed(reader, piece); }))
      break;
  }
  if (reader.fault.kind == FaultKind::kNone && std::ferror(stream)) {
    // A stream cut short must not pass for a shorter document.
    report(reader, FaultKind::kReadError, "read error");
  }
  return markup_finish(reader);
}

}  // namespace nametree
