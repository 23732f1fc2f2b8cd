// Fuzzes the markup reader with any bytes. The text and the stream entry points, and a
// reader fed the same bytes in pieces, must give the same tree, or all fail with the same
// one message and fault; every tree they give must hold together: parent links, children
// in order, and occurrence numbers that count same-named siblings in order.
//
// The options are checked against the reader without them: decoding references gives the
// tree without it with each value decoded by a plain decoder of this file's own, and
// reading the byte order mark gives the tree of the input without its UTF-8 mark, or a
// fault for the others. With both, text, stream and pieces still agree.
//
// The XML reading gives the same tree or fault every way too, and, where expat is
// installed, the tree expat gives, or a fault where expat refuses the input.
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "fuzz_support.h"
#include "markup_lines.h"
#include "nametree/markup_reader.h"

#if HAVE_EXPAT
#include "expat_tree.h"
#endif

namespace {

using namespace nametree;

// Moves to the next node in pre-order below `top`, through the nodes' own links.
const TreeNode* next_node(const TreeNode* node, const TreeNode* top) {
  if (const TreeNode* child = node_first_child(*node)) return child;
  while (node != top) {
    if (const TreeNode* next = node_next_sibling(*node)) return next;
    node = node_parent(*node);
  }
  return nullptr;
}

std::string name_of(const TreeNode& node) {
  return std::string(node_name(node));
}

// Checks the children of `node`: their parent links, the last child, and their numbering.
void check_children(const TreeNode* node) {
  const TreeNode* first = node_first_child(*node);
  if (!first) return;
  std::unordered_map<std::string_view, int> count;
  const TreeNode* last = nullptr;
  for (const TreeNode& c : node_children(*node)) {
    ++count[node_name(c)];
    last = &c;
  }
  // Only the last child links back: the first finds the parent through all the others.
  expect(node_parent(*first) == node && node_parent(*last) == node, "children lead to the parent",
         name_of(*first));
  expect(node_last_child(*node) == last, "the last child is the one the walk ends on",
         name_of(*first));
  std::unordered_map<std::string_view, int> seen;
  for (const TreeNode& c : node_children(*node)) {
    int expected = count[node_name(c)] == 1 ? 0 : ++seen[node_name(c)];
    expect(node_occurrence(c) == expected, "occurrence counts same-named siblings", name_of(c));
  }
}

void check_tree(NameTree& tree) {
  const TreeNode& root = tree_root(tree);
  expect(!node_parent(root) && node_name(root).empty() && !node_next_sibling(root),
         "the root stands alone, unnamed");
  expect(&tree_current(tree) == &root, "a finished parse is back at the root");
  for (const TreeNode* node = &root; node; node = next_node(node, &root)) check_children(node);
}

std::string value_of(const TreeNode& node) {
  return node_value(node) ? std::string(*node_value(node)) : "(none)";
}

std::string as_written(std::string_view value) {
  return std::string(value);
}

// Compares two trees; the values of `a` are first passed through `value_in_b`.
void expect_same_trees(const NameTree& a, const NameTree& b,
                       std::string (*value_in_b)(std::string_view) = as_written) {
  const TreeNode* x = &tree_root(a);
  const TreeNode* y = &tree_root(b);
  while (x && y) {
    expect(node_name(*x) == node_name(*y), "same names", name_of(*x) + " / " + name_of(*y));
    expect(node_value(*x).has_value() == node_value(*y).has_value() &&
               (!node_value(*x) || value_in_b(*node_value(*x)) == *node_value(*y)),
           "same values", value_of(*x) + " / " + value_of(*y));
    expect(node_is_attribute(*x) == node_is_attribute(*y), "same attribute marks", name_of(*x));
    expect(node_occurrence(*x) == node_occurrence(*y), "same occurrences", name_of(*x));
    expect(!node_first_child(*x) == !node_first_child(*y), "same children", name_of(*x));
    expect(!node_next_sibling(*x) == !node_next_sibling(*y), "same siblings", name_of(*x));
    x = next_node(x, &tree_root(a));
    y = next_node(y, &tree_root(b));
  }
  expect(!x && !y, "same number of nodes");
}

void expect_same_faults(const Fault& a, const Fault& b) {
  expect(a.kind == b.kind && a.line == b.line && a.column == b.column && a.message == b.message,
         "same faults", a.message + " / " + b.message);
}

// Feeds `text` in pieces whose sizes come from `cuts`, then finishes.
ParseResult parse_in_pieces(std::string_view text, std::string_view cuts, FILE* err,
                            ReaderOptions options = {}) {
  ReaderPtr reader = markup_reader_create(err, options);
  if (!reader) std::abort();
  for (std::size_t i = 0; !text.empty(); ++i) {
    const std::size_t size =
        cuts.empty() ? 1 : 1 + static_cast<unsigned char>(cuts[i % cuts.size()]) % 64;
    const std::string_view piece = text.substr(0, size);
    text.remove_prefix(piece.size());
    if (!markup_feed(*reader, piece)) break;
  }
  return markup_finish(*reader);
}

constexpr std::string_view kNotUtf8Message =
    "UTF-16 or UTF-32 byte order mark: only UTF-8 is read\n";

// A message with its position: `<text> at <line>:<column>\n`.
bool positioned(std::string_view err, std::string_view text) {
  if (!err.starts_with(text) || !err.ends_with('\n')) return false;
  std::string_view rest = err.substr(text.size());
  if (!rest.starts_with(" at ")) return false;
  rest = rest.substr(4, rest.size() - 5);
  std::size_t colon = rest.find(':');
  return colon != std::string_view::npos && whole_number(rest.substr(0, colon)) &&
         whole_number(rest.substr(colon + 1));
}

void check_message(std::string_view err, bool xml) {
  if (xml) {
    // Each of the XML reading's messages names where the fault is.
    const std::size_t at = err.rfind(" at ");
    if (err == kNotUtf8Message || err == "No more memory\n" ||
        (at != std::string_view::npos && positioned(err, err.substr(0, at)))) {
      return;
    }
    fail("one of the XML reading's messages", err);
  }
  if (err == "Incomplete xml\n" || err == kNotUtf8Message ||
      positioned(err, "tag is already opened") || positioned(err, "tag is not yet opened")) {
    return;
  }
  for (std::string_view kind : {" is closed at zero level", " is not properly paired"}) {
    std::size_t at = err.find(kind);
    if (err.starts_with("tag ") && at != std::string_view::npos && positioned(err.substr(at), kind))
      return;
  }
  fail("one of the reader's messages", err);
}

// References decoded the plain way, one character at a time: the five entities, and
// `&#` digits `;` or `&#x` hex digits `;` of a Unicode scalar value, as UTF-8.
std::string decoded(std::string_view text) {
  static constexpr std::pair<std::string_view, char> kEntities[] = {
      {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    bool done = false;
    for (const auto& [entity, byte] : kEntities) {
      if (text.substr(i).starts_with(entity)) {
        out += byte;
        i += entity.size();
        done = true;
        break;
      }
    }
    if (done) continue;
    if (text.substr(i).starts_with("&#")) {
      const bool hex = text.substr(i).starts_with("&#x");
      std::size_t j = i + (hex ? 3 : 2);
      unsigned long value = 0;
      bool any = false;
      bool too_big = false;
      for (; j < text.size(); ++j) {
        const char c = text[j];
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) break;
        any = true;
        value = value * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        if (value > 0x10FFFF) too_big = true, value = 0x110000;
      }
      if (any && !too_big && j < text.size() && text[j] == ';' && value != 0 &&
          !(value >= 0xD800 && value <= 0xDFFF)) {
        if (value < 0x80) {
          out += static_cast<char>(value);
        } else if (value < 0x800) {
          out += static_cast<char>(0xC0 | (value >> 6));
          out += static_cast<char>(0x80 | (value & 0x3F));
        } else if (value < 0x10000) {
          out += static_cast<char>(0xE0 | (value >> 12));
          out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (value & 0x3F));
        } else {
          out += static_cast<char>(0xF0 | (value >> 18));
          out += static_cast<char>(0x80 | ((value >> 12) & 0x3F));
          out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
          out += static_cast<char>(0x80 | (value & 0x3F));
        }
        i = j + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

// Reads `raw` with the options as text and in pieces, which must agree, and as a stream
// where it holds no NUL byte, which must agree too. Returns the text's result.
ParseResult parse_with(std::string_view raw, ReaderOptions options, std::string& message) {
  Capture err, pieces_err;
  ParseResult whole = markup_parse_text(raw, err.file, options);
  message = err.take();
  expect(whole.fault.message == message, "the fault holds the message written", message);
  if (raw.empty()) return whole;
  if (whole.tree) {
    expect(message.empty() && whole.fault.kind == FaultKind::kNone, "a tree comes without a fault",
           message);
    check_tree(*whole.tree);
  } else {
    check_message(message, options.xml);
  }
  // The cuts come from the input's own bytes, so the fuzzer explores them too.
  ParseResult pieces = parse_in_pieces(raw, raw.substr(0, 16), pieces_err.file, options);
  expect(pieces_err.take() == message, "pieces say what the text says");
  expect_same_faults(whole.fault, pieces.fault);
  expect(!whole.tree == !pieces.tree, "pieces and text both give a tree or both fail");
  if (whole.tree) expect_same_trees(*whole.tree, *pieces.tree);
  // The XML reading's stream takes a NUL byte as any other, and refuses it.
  if (options.xml || raw.find('\0') == std::string_view::npos) {
    Capture stream_err;
    FILE* stream = fmemopen(const_cast<char*>(raw.data()), raw.size(), "r");
    if (!stream) std::abort();
    ParseResult from_stream = markup_parse_stream(stream, stream_err.file, options);
    std::fclose(stream);
    expect(stream_err.take() == message, "the stream says what the text says");
    expect_same_faults(whole.fault, from_stream.fault);
    expect(!whole.tree == !from_stream.tree, "stream and text both give a tree or both fail");
    if (whole.tree) expect_same_trees(*whole.tree, *from_stream.tree);
  }
  return whole;
}

// The options against the reader without them.
void check_options(std::string_view raw) {
  ReaderOptions decode;
  decode.decode_references = true;
  ReaderOptions mark;
  mark.read_byte_order_mark = true;
  std::string plain_message, decoded_message, mark_message, both_message, rest_message;
  ParseResult plain = parse_with(raw, {}, plain_message);
  ParseResult with_decoding = parse_with(raw, decode, decoded_message);
  expect(plain_message == decoded_message, "decoding changes no fault", decoded_message);
  expect_same_faults(plain.fault, with_decoding.fault);
  expect(!plain.tree == !with_decoding.tree, "decoding gives a tree where the reader does");
  if (plain.tree) expect_same_trees(*plain.tree, *with_decoding.tree, decoded);

  ParseResult with_mark = parse_with(raw, mark, mark_message);
  const bool other_mark = raw.starts_with("\xFE\xFF") || raw.starts_with("\xFF\xFE") ||
                          raw.starts_with(std::string_view("\0\0\xFE\xFF", 4));
  if (other_mark) {
    expect(!with_mark.tree && with_mark.fault.kind == FaultKind::kNotUtf8 &&
               mark_message == kNotUtf8Message,
           "a UTF-16 or UTF-32 mark is a fault", mark_message);
  } else {
    const std::string_view rest = raw.starts_with("\xEF\xBB\xBF") ? raw.substr(3) : raw;
    ParseResult without = parse_with(rest, {}, rest_message);
    expect(rest_message == mark_message, "a UTF-8 mark is skipped", mark_message);
    if (!rest.empty()) expect_same_faults(without.fault, with_mark.fault);
    expect(!without.tree == !with_mark.tree || rest.empty(), "a UTF-8 mark is skipped whole");
    if (without.tree && with_mark.tree) expect_same_trees(*without.tree, *with_mark.tree);
  }
  ReaderOptions both = decode;
  both.read_byte_order_mark = true;
  parse_with(raw, both, both_message);
}
// The XML reading: every way alike, and against expat.
void check_xml(std::string_view raw) {
  ReaderOptions xml;
  xml.xml = true;
  std::string message;
  ParseResult ours = parse_with(raw, xml, message);
#if HAVE_EXPAT
  const std::string difference = expat_difference(raw, ours);
  expect(difference.empty(), "the XML reading reads as expat does", difference);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view raw = as_text(data, size);
  // The text entry point and pieces take NUL bytes like any other character; the reader
  // without options is one of those check_options reads every way.
  check_options(raw);
  check_xml(raw);

  if (!raw.empty()) {
    Capture lines_err, stream_err;
    FILE* stream = fmemopen(const_cast<char*>(raw.data()), raw.size(), "r");
    if (!stream) std::abort();
    ParseResult from_stream = markup_parse_stream(stream, stream_err.file);
    std::fclose(stream);
    ParseResult from_lines = parse_lines(raw, lines_err.file);
    expect(stream_err.take() == lines_err.take(), "the stream says what its lines say");
    expect_same_faults(from_lines.fault, from_stream.fault);
    expect(!from_lines.tree == !from_stream.tree, "stream and lines both give a tree or fail");
    if (from_lines.tree) expect_same_trees(*from_lines.tree, *from_stream.tree);
  }

  // A NUL ends the piece the stream reads it in, so text and stream are compared without
  // them; check_options has compared them where the input holds none.
  std::string text;
  for (char c : raw) {
    if (c != '\0') text += c;
  }
  if (text.empty()) {
    // An empty text is no document; an empty stream is a document with nothing in it.
    Capture text_err, stream_err;
    ParseResult from_text = markup_parse_text(text, text_err.file);
    expect(!from_text.tree && text_err.take().empty(), "an empty text gives nothing");
    FILE* stream = fmemopen(text.data(), text.size(), "r");
    if (!stream) std::abort();
    ParseResult from_stream = markup_parse_stream(stream, stream_err.file);
    std::fclose(stream);
    expect(from_stream.tree && !node_first_child(tree_root(*from_stream.tree)) &&
               stream_err.take().empty(),
           "an empty stream gives a bare root");
  } else if (text.size() != raw.size()) {
    std::string message;
    parse_with(text, {}, message);
  }
  return 0;
}
