// Tests for the markup reader: the trees and faults of the forgiving cases, the text and
// stream entry points and feeding in pieces cut anywhere agreeing on any input, and
// documents a million deep or wide.
#include "nametree/markup_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "markup_lines.h"
#include "random_documents.h"
#include "tree_compare.h"

namespace {

using namespace nametree;

// What one read gave: the tree (or none), the fault, and everything written to err.
struct Outcome {
  TreePtr tree;
  Fault fault;
  std::string err;
};

// Runs `parse` with an in-memory error stream and collects what it wrote, which must be
// the fault's own message.
template <typename Parse>
Outcome capture(Parse parse) {
  char* text = nullptr;
  std::size_t size = 0;
  FILE* err = open_memstream(&text, &size);
  ParseResult result = parse(err);
  std::fclose(err);
  Outcome outcome{std::move(result.tree), std::move(result.fault), std::string(text, size)};
  std::free(text);
  EXPECT_EQ(outcome.fault.message, outcome.err);
  EXPECT_EQ(!outcome.tree, outcome.fault.kind != FaultKind::kNone);
  return outcome;
}

Outcome parse_text(std::string_view input, ReaderOptions options = {}) {
  return capture([&](FILE* err) { return markup_parse_text(input, err, options); });
}

Outcome parse_stream(std::string_view input, ReaderOptions options = {}) {
  return capture([&](FILE* err) {
    FILE* stream = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    ParseResult result = markup_parse_stream(stream, err, options);
    std::fclose(stream);
    return result;
  });
}

// Feeds the input in pieces of the given sizes (the last size repeats), then finishes.
Outcome parse_in_pieces(std::string_view input, const std::vector<std::size_t>& sizes,
                        ReaderOptions options = {}) {
  return capture([&](FILE* err) {
    ReaderPtr reader = markup_reader_create(err, options);
    std::size_t next = 0;
    while (!input.empty()) {
      const std::size_t size = std::min(input.size(), sizes[std::min(next++, sizes.size() - 1)]);
      if (!markup_feed(*reader, input.substr(0, size))) break;
      input.remove_prefix(size);
    }
    return markup_finish(*reader);
  });
}

// Where `other` departs from `expected`: the message, the fault, the outcome, or the tree.
std::string outcome_difference(const Outcome& expected, const Outcome& other) {
  if (expected.err != other.err) return "message \"" + expected.err + "\" vs \"" + other.err + '"';
  if (expected.fault.kind != other.fault.kind || expected.fault.line != other.fault.line ||
      expected.fault.column != other.fault.column) {
    return std::string("fault ") + fault_kind_name(expected.fault.kind) + " vs " +
           fault_kind_name(other.fault.kind);
  }
  if (!expected.tree != !other.tree) return "only one gave a tree";
  if (!expected.tree) return "";
  return tree_difference(&tree_root(*expected.tree), &tree_root(*other.tree));
}

// Cuts of a text: whole, a byte at a time, and at random places.
std::vector<std::vector<std::size_t>> cuttings(std::mt19937& random) {
  std::vector<std::vector<std::size_t>> result = {{1}, {2}, {255}, {256}, {257}};
  std::vector<std::size_t> sizes;
  for (int i = 0; i < 40; ++i) sizes.push_back(1 + random() % (random() % 2 ? 7 : 300));
  result.push_back(sizes);
  return result;
}

// Parses through both entry points and in pieces cut in several ways, checks that all
// agree, and returns the text's outcome.
Outcome parse_every_way(std::string_view input, ReaderOptions options = {}) {
  static std::mt19937 random(7);
  Outcome text = parse_text(input, options);
  EXPECT_EQ(outcome_difference(text, parse_stream(input, options)), "") << "stream";
  for (const std::vector<std::size_t>& sizes : cuttings(random)) {
    EXPECT_EQ(outcome_difference(text, parse_in_pieces(input, sizes, options)), "")
        << "pieces of " << testing::PrintToString(sizes);
  }
  return text;
}

std::string render(const Outcome& outcome) {
  return outcome.tree ? tree_render(&tree_root(*outcome.tree)) : "none";
}

struct Case {
  std::string_view input;
  std::string_view tree;  // rendered from the root; "none" when the parse fails
  std::string_view err;
};

void check_cases(const std::vector<Case>& cases, ReaderOptions options = {}) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Outcome outcome = parse_every_way(c.input, options);
    EXPECT_EQ(render(outcome), c.tree);
    EXPECT_EQ(outcome.err, c.err);
  }
}

TEST(MarkupReader, BuildsElementsAttributesAndText) {
  check_cases({
      {R"(<a x="1" y="2">t</a>)", R"((a="t"(@x="1" @y="2")))", ""},
      {R"(<a href="p/">x</a>)", R"((a="x"(@href="p/")))", ""},
      {R"(<a><b>1</b><c><d/></c></a>)", R"((a(b="1" c(d))))", ""},
      {R"(<a b="1"><b/></a>)", R"((a(@b#1="1" b#2)))", ""},
      {R"(<a><b/><c/><b/><b/></a>)", R"((a(b#1 c b#2 b#3)))", ""},
      {R"(<a t="x>y" u="a=b"/>)", R"((a(@t="x>y" @u="a=b")))", ""},
      {"<a\tx=\"1\"\r\n/>", R"((a(@x="1")))", ""},
      {R"(<a>x=y "q"</a>)", R"((a="x=y "q""))", ""},
      {R"(<a></a >)", R"((a))", ""},
      {R"(<a x></a>)", R"((a))", ""},
  });
}

TEST(MarkupReader, EmptyElementsLeaveTheirParentCurrent) {
  check_cases({
      {R"(<br/>)", R"((br))", ""},
      {R"(<br />)", R"((br))", ""},
      {R"(<br x="1"/>)", R"((br(@x="1")))", ""},
      {R"(<p><br/><br />x<br x="1"/></p>)", R"((p="x"(br#1 br#2 br#3(@x="1"))))", ""},
      {R"(<p><br/ >y</p>)", R"((p="y"(br)))", ""},
  });
}

TEST(MarkupReader, FoldsWhiteSpaceAndKeepsTheLastTextRun) {
  check_cases({
      {"<a>  x   y  </a>", R"((a="x y"))", ""},
      {"<a>\n\tx\r\n\t y\n</a>", R"((a="x y"))", ""},
      {"<a>one<b/>two</a>", R"((a="two"(b)))", ""},
      {"<a>one<b/>  \n </a>", R"((a="one"(b)))", ""},
      {"<a>x<!-- c -->y</a>", R"((a="y"))", ""},
      {"<a><b>in</b>out</a>", R"((a="out"(b="in")))", ""},
      {"hi <r/>", R"(="hi"(r))", ""},
      {"<r/>tail", R"((r))", ""},
  });
}

TEST(MarkupReader, FoldsWhiteSpaceAtEveryPlaceOfALongRun) {
  // Long runs are scanned several bytes a step: each kind of byte that may end a run,
  // or only look as if it might, at every place of the first steps.
  const std::vector<std::pair<std::string, std::string>> breaks = {
      {" ", " "},      {"  ", " "}, {"   ", " "},     {"\n", " "},
      {" \n\t ", " "}, {"\r", " "}, {"\x01", "\x01"}, {"\xc3\xa9", "\xc3\xa9"},
      {"?", "?"},      {"-", "-"}};
  for (const auto& [inside, folded] : breaks) {
    for (std::size_t before = 1; before <= 40; ++before) {
      SCOPED_TRACE(testing::PrintToString(inside) + " after " + std::to_string(before));
      const std::string head(before, 'a');
      const std::string tail(40, 'b');
      const std::string body = head + inside + tail;
      // The same run as character data, as an attribute value and in a tag's name.
      Outcome outcome = parse_every_way("<p v=\"" + body + "\">" + body + "</p>");
      EXPECT_EQ(render(outcome), "(p=\"" + head + folded + tail + "\"(@v=\"" + body + "\"))");
      EXPECT_EQ(outcome.err, "");
      // A run that a piece cuts short: at every place of it.
      const std::string input = "<p>" + body + "</p>";
      const Outcome whole = parse_text(input);
      for (std::size_t cut = 1; cut < input.size(); ++cut) {
        ASSERT_EQ(outcome_difference(whole, parse_in_pieces(input, {cut, input.size()})), "")
            << "cut at " << cut;
      }
      if (inside.find_first_of(" \n\r") == std::string::npos) {
        outcome = parse_every_way("<" + body + "></" + body + ">");
        EXPECT_EQ(render(outcome), "(" + body + ")");
        EXPECT_EQ(outcome.err, "");
      }
    }
  }
}

TEST(MarkupReader, KeepsEscapedQuotesInValues) {
  check_cases({
      {R"(<a t="\"q\"">x</a>)", R"((a="x"(@t="\"q\"")))", ""},
      {R"(<a t="">x</a>)", R"((a="x"(@t="")))", ""},
      // A backslash before the closing quote escapes it, so the value runs on.
      {R"(<a t="c:\" u="/>)", R"((a(@t="c:\" u=")))", ""},
  });
}

TEST(MarkupReader, SkipsCommentsAndProcessingInstructions) {
  check_cases({
      {R"(<?xml version="1.0"?><r/>)", R"((@version="1.0" r))", ""},
      {"<!-- a -- b --><r/>", "(r)", ""},
      {"<r><!-- a--b ---></r>", "(r)", ""},
      {"<r><!----></r>", "(r)", ""},
      {"<r><!-- <x> \"q\" = --></r>", "(r)", ""},
      {R"(<a><?pi x="1"?></a>)", R"((a(@x="1")))", ""},
      // No parent above the root: it stays current.
      {R"(<?pi a="1"/><r/>)", R"((@a="1" r))", ""},
      {R"(<?pi "v"?><r/>)", R"(@="v"(r))", ""},
  });
}

TEST(MarkupReader, ForgivesOddMarkup) {
  check_cases({
      {"<a <b></b></a>", "(a(b))", ""},
      // The slash of the inner empty element does not also close the outer one.
      {"<a <b/></a>", "(a(b))", ""},
      {R"(<a <b x="1"/></a>)", R"((a(b(@x="1"))))", ""},
      {R"(<a x = "1"></a>)", R"((a(@="1")))", ""},
      {"<!-- open", "", ""},
      {"<r/><a", "(r)", ""},
      {R"(<r/><?p "open)", "(r)", ""},
  });
}

TEST(MarkupReader, ReportsFaultsWithTheirPosition) {
  check_cases({
      {"<a></b>", "none", "tag b is not properly paired at 1:7\n"},
      {"</a>", "none", "tag a is closed at zero level at 1:4\n"},
      {"<a><b></b>", "none", "Incomplete xml\n"},
      {"<a>x</a>>", "none", "tag is not yet opened at 1:9\n"},
      {"<a<b>", "none", "tag is already opened at 1:3\n"},
      {"<!DOCTYPE x><r/>", "none", "Incomplete xml\n"},
      {"<a>\n</b>", "none", "tag b is not properly paired at 2:4\n"},
      {"<a>\r\n\r\n x</a>\n>", "none", "tag is not yet opened at 4:1\n"},
      {"<a>\n\n</a></a>", "none", "tag a is closed at zero level at 3:8\n"},
      // Unquoted values leave the attribute node current.
      {"<a x=y></a>", "none", "tag a is not properly paired at 1:11\n"},
      {">", "none", "tag is not yet opened at 1:1\n"},
  });
}

TEST(MarkupReader, GrowsTheTokenForLongRuns) {
  for (std::size_t length : {255u, 256u, 257u, 511u, 512u, 513u, 5000u}) {
    SCOPED_TRACE(length);
    const std::string text(length, 't');
    const std::string name(length, 'n');
    const std::string value(length, 'v');
    Outcome outcome =
        parse_every_way("<" + name + " k=\"" + value + "\">" + text + "</" + name + ">");
    EXPECT_EQ(render(outcome), "(" + name + "=\"" + text + "\"(@k=\"" + value + "\"))");
    EXPECT_EQ(outcome.err, "");
    // Folded white space: the token holds "ab ab ab ..." across each doubling.
    std::string spaced;
    std::string folded;
    for (std::size_t i = 0; i < length / 3; ++i) {
      spaced += "ab \n\t ";
      folded += i ? " ab" : "ab";
    }
    outcome = parse_every_way("<p>\n " + spaced + "</p>");
    EXPECT_EQ(render(outcome), "(p=\"" + folded + "\")");
  }
}

TEST(MarkupReader, FaultsCarryTheirKindAndPosition) {
  struct Row {
    std::string_view input;
    FaultKind kind;
    int line;
    int column;
  };
  const Row rows[] = {
      {"<a></b>", FaultKind::kNotProperlyPaired, 1, 7},
      {"</a>", FaultKind::kClosedAtZeroLevel, 1, 4},
      {"<a>\n<b></b>", FaultKind::kIncomplete, 2, 7},
      {"<a>x</a>\n\n>", FaultKind::kTagNotYetOpened, 3, 1},
      {"<a<b>", FaultKind::kTagAlreadyOpened, 1, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.input);
    Outcome outcome = parse_every_way(row.input);
    EXPECT_EQ(outcome.fault.kind, row.kind);
    EXPECT_EQ(outcome.fault.line, row.line);
    EXPECT_EQ(outcome.fault.column, row.column);
  }
}

TEST(MarkupReader, NamesInMessagesEndAtANulByte) {
  // The message is text: a name with a NUL byte is cut there, as printf cuts it.
  Outcome outcome = parse_text(std::string_view("<a></b\0c>", 9));
  EXPECT_EQ(outcome.err, "tag b is not properly paired at 1:9\n");
}

TEST(MarkupReader, WithoutAnErrorStreamTheFaultStillTells) {
  ParseResult result = markup_parse_text("<a></b>");
  EXPECT_EQ(result.tree, nullptr);
  EXPECT_EQ(result.fault.kind, FaultKind::kNotProperlyPaired);
  EXPECT_EQ(result.fault.message, "tag b is not properly paired at 1:7\n");
}

TEST(MarkupReader, ASpentReaderTakesNoMorePieces) {
  ReaderPtr reader = markup_reader_create();
  ASSERT_TRUE(markup_feed(*reader, "<r/>"));
  ParseResult result = markup_finish(*reader);
  ASSERT_TRUE(result.tree);
  EXPECT_FALSE(markup_feed(*reader, "<s/>"));
  EXPECT_EQ(markup_finish(*reader).tree, nullptr);
  EXPECT_EQ(tree_render(&tree_root(*result.tree)), "(r)");

  // After a fault, later pieces are ignored and the fault stays.
  reader = markup_reader_create();
  EXPECT_FALSE(markup_feed(*reader, "<a></b>"));
  EXPECT_FALSE(markup_feed(*reader, "</a>"));
  EXPECT_EQ(markup_finish(*reader).fault.message, "tag b is not properly paired at 1:7\n");
}

TEST(MarkupReader, EmptyInput) {
  // An empty text is refused at once; an empty stream reads as an empty document, and
  // so does a reader fed nothing.
  Outcome text = parse_text("");
  EXPECT_EQ(text.tree, nullptr);
  EXPECT_EQ(text.fault.kind, FaultKind::kNoInput);
  EXPECT_EQ(text.err, "");
  for (bool stream : {true, false}) {
    Outcome empty = stream ? parse_stream("") : parse_in_pieces("", {1});
    ASSERT_TRUE(empty.tree);
    EXPECT_EQ(tree_render(&tree_root(*empty.tree)), "");
    EXPECT_EQ(empty.err, "");
  }
  EXPECT_EQ(markup_parse_stream(nullptr).fault.kind, FaultKind::kNoInput);
}

// A stream that gives `text` and then fails.
FILE* failing_stream(std::string& text) {
  cookie_io_functions_t io{};
  io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
    std::string& rest = *static_cast<std::string*>(cookie);
    if (rest.empty()) {
      errno = EIO;
      return -1;
    }
    const std::size_t n = std::min(size, rest.size());
    std::memcpy(buffer, rest.data(), n);
    rest.erase(0, n);
    return static_cast<ssize_t>(n);
  };
  return fopencookie(&text, "r", io);
}

// The stream as read a line at a time: what the stream entry point, reading larger blocks,
// must match.
Outcome parse_lines(std::string_view input) {
  return capture([&](FILE* err) { return ::parse_lines(input, err); });
}

TEST(MarkupReader, ANulByteInAStreamEndsItsLinePiece) {
  using namespace std::string_literals;
  const std::string long_text(300, 't');
  const std::string inputs[] = {
      "<a>x\0y</a>\n</a>"s,
      "<a>x\0y\n</a>"s,
      "<a>\0\0\n\0</a>\n</a>"s,
      "<a>"s + long_text + "\0</a>\n</a>",
      "<a>"s + std::string(252, 'u') + "\0" + long_text + "</a>",
      "<a>"s + std::string(253, 'u') + "\0" + long_text + "</a>",
      "<a>"s + long_text + long_text + "\0" + long_text + "</a>\n</a>",
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    EXPECT_EQ(outcome_difference(parse_lines(input), parse_stream(input)), "");
  }
  // Blocks of the stream's own size, with NUL bytes only in some of them.
  std::string big = "<r>";
  for (int i = 0; i < 40000; ++i) big += i % 9000 == 5 ? "<a>x\0y</a>\n</a>"s : "<a>x</a>\n"s;
  big += "</r>";
  EXPECT_EQ(outcome_difference(parse_lines(big), parse_stream(big)), "");
}

TEST(MarkupReader, AStreamThatCannotBeReadIsAFault) {
  // Cut short after a whole element, the stream must not pass for a shorter document.
  for (std::string text : {std::string(""), std::string("<r/>\n<s>x</s>")}) {
    SCOPED_TRACE(text);
    const std::string expected = text.empty() ? "read error at 1:0\n" : "read error at 2:8\n";
    Outcome outcome = capture([&](FILE* err) {
      FILE* stream = failing_stream(text);
      ParseResult result = markup_parse_stream(stream, err);
      std::fclose(stream);
      return result;
    });
    EXPECT_EQ(outcome.tree, nullptr);
    EXPECT_EQ(outcome.fault.kind, FaultKind::kReadError);
    EXPECT_EQ(outcome.err, expected);
  }
}

TEST(MarkupReader, TextStreamAndPiecesGiveTheSameTree) {
  MarkupDocumentGenerator generator{std::mt19937(20240611)};
  int trees = 0;
  int faults = 0;
  int long_lines = 0;
  for (int i = 0; i < 3000; ++i) {
    std::string input;
    switch (i % 3) {
      case 0:
        input = generator.document();
        break;
      case 1:
        input = generator.damaged(generator.document());
        break;
      default:
        input = generator.noise();
        break;
    }
    if (input.empty()) continue;
    std::size_t longest = 0;
    for (std::size_t start = 0; start < input.size();) {
      const std::size_t end = std::min(input.find('\n', start), input.size());
      longest = std::max(longest, end - start);
      start = end + 1;
    }
    if (longest > 255) ++long_lines;
    SCOPED_TRACE("input " + std::to_string(i) + ": " + input);
    Outcome text = parse_text(input);
    ASSERT_EQ(outcome_difference(text, parse_stream(input)), "") << "stream";
    ASSERT_EQ(outcome_difference(text, parse_in_pieces(input, {1})), "") << "by character";
    // Pieces cut at random places, small and large.
    std::vector<std::size_t> sizes;
    for (int n = 0; n < 8; ++n) sizes.push_back(1 + generator.below(n % 2 ? 5 : 400));
    ASSERT_EQ(outcome_difference(text, parse_in_pieces(input, sizes)), "")
        << "pieces of " << testing::PrintToString(sizes);
    if (text.tree) {
      ++trees;
    } else {
      // A failed parse writes exactly one message.
      ASSERT_EQ(std::count(text.err.begin(), text.err.end(), '\n'), 1);
      ++faults;
    }
  }
  // Both outcomes must be well represented for the property to mean anything.
  EXPECT_GT(trees, 1000);
  EXPECT_GT(faults, 1000);
  EXPECT_GT(long_lines, 1000);
}

TEST(MarkupReader, LinesAroundTheReadBufferSize) {
  // Text runs that end just before, at and after each 255-character piece of the stream.
  for (std::size_t length = 250; length <= 520; ++length) {
    SCOPED_TRACE(length);
    std::string input = "<r>" + std::string(length - 3, 'x') + "\n<b a=\"" +
                        std::string(length, 'v') + "\"/>" + std::string(length, 'y') + "</r>>";
    Outcome outcome = parse_every_way(input);
    EXPECT_EQ(outcome.err, "tag is not yet opened at 2:" + std::to_string(2 * length + 14) + "\n");
  }
}

constexpr int kMillion = 1000000;

std::string repeat(std::string_view piece, int times) {
  std::string out;
  out.reserve(piece.size() * static_cast<std::size_t>(times));
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(MarkupReader, DocumentAMillionLevelsDeep) {
  const std::string document = repeat("<a>", kMillion) + "x" + repeat("</a>", kMillion);
  for (bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "stream" : "text");
    Outcome outcome = stream ? parse_stream(document) : parse_text(document);
    ASSERT_TRUE(outcome.tree);
    int depth = 0;
    const TreeNode* node = &tree_root(*outcome.tree);
    for (; node_first_child(*node); node = node_first_child(*node)) ++depth;
    EXPECT_EQ(depth, kMillion);
    EXPECT_EQ(node_value(*node), "x");
  }
  // Left open, the whole depth is released on the way out.
  Outcome open = parse_text(repeat("<a>", kMillion));
  EXPECT_EQ(open.tree, nullptr);
  EXPECT_EQ(open.err, "Incomplete xml\n");
}

TEST(MarkupReader, DocumentWithAMillionSiblings) {
  const std::string document = "<r>" + repeat("<a/>", kMillion) + "</r>";
  for (bool stream : {false, true}) {
    SCOPED_TRACE(stream ? "stream" : "text");
    Outcome outcome = stream ? parse_stream(document) : parse_text(document);
    ASSERT_TRUE(outcome.tree);
    const TreeNode* r = node_first_child(tree_root(*outcome.tree));
    ASSERT_TRUE(r);
    EXPECT_EQ(node_occurrence(*node_last_child(*r)), kMillion);
    int count = 0;
    for ([[maybe_unused]] const TreeNode& a : node_children(*r)) ++count;
    EXPECT_EQ(count, kMillion);
  }
}

TEST(MarkupReader, ComparisonNamesTheFirstDifference) {
  struct Pair {
    std::string_view a;
    std::string_view b;
    std::string_view difference;
  };
  const Pair pairs[] = {
      {"<r><a/></r>", "<r><a/></r>", ""},
      {"<r><a/></r>", "<r><b/></r>", R"(name "a" vs "b" at /r/a)"},
      {"<r><a>1</a></r>", "<r><a>2</a></r>", R"(value "1" vs "2" at /r/a)"},
      {"<r><a/></r>", "<r><a>2</a></r>", R"(value none vs "2" at /r/a)"},
      {R"(<r a="1"/>)", "<r><a>1</a></r>", "attribute mark differs at /r/@a"},
      {"<r><a/><a/></r>", "<r><a/><b/></r>", "occurrence 1 vs 0 at /r/a#1"},
      {"<r><a/></r>", "<r><a><b/></a></r>", "missing children at /r/a"},
      {"<r><a/><b/></r>", "<r><a/></r>", "extra sibling after at /r/a"},
  };
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(std::string(pair.a) + " vs " + std::string(pair.b));
    Outcome a = parse_text(pair.a);
    Outcome b = parse_text(pair.b);
    ASSERT_TRUE(a.tree && b.tree);
    EXPECT_EQ(tree_difference(&tree_root(*a.tree), &tree_root(*b.tree)), pair.difference);
  }
}

// Markup as XML writers write it, with the options; each case read every way.
TEST(ReaderOptions, DecodesReferencesInTextAndAttributeValues) {
  ReaderOptions options;
  options.decode_references = true;
  check_cases(
      {
          {"<a>fish &lt;&gt;&amp;&quot;&apos;</a>", R"((a="fish <>&"'"))", ""},
          {R"(<a x="&quot;q&quot; &#65;&#x42;&#x6a;"/>)", R"((a(@x=""q" ABj")))", ""},
          {"<a>&#233; &#x20AC; &#x1F600; &#x7F; &#x10FFFF; &#0000065;</a>",
           "(a=\"\u00e9 \u20ac \U0001F600 \x7f \xF4\x8F\xBF\xBF A\")", ""},
          // Unknown, malformed or out of range: as written.
          {"<a>&nbsp; &AMP; &#X41; &#; &#x; &#-1; &#1a; &amp &lt</a>",
           R"((a="&nbsp; &AMP; &#X41; &#; &#x; &#-1; &#1a; &amp &lt"))", ""},
          {"<a>&#0; &#xD800; &#xDFFF; &#x110000; &#99999999999999999999;</a>",
           R"((a="&#0; &#xD800; &#xDFFF; &#x110000; &#99999999999999999999;"))", ""},
          // A reference decodes once: `&amp;lt;` is `&lt;` as text.
          {"<a>&amp;lt; &&amp; &amp;&amp;</a>", R"((a="&lt; && &&"))", ""},
          // After white space is folded: a reference to white space keeps it.
          {"<a> x&#32;&#32;\n y &#10;</a>", "(a=\"x   y \n\")", ""},
          // Names stay as written.
          {R"(<a&amp; b&lt;="1"/>)", R"((a&amp;(@b&lt;="1")))", ""},
          // Markup characters made by a reference are text, not markup.
          {"<a>&lt;b&gt;</a>", R"((a="<b>"))", ""},
      },
      options);
}

TEST(ReaderOptions, ReadsTheByteOrderMark) {
  ReaderOptions options;
  options.read_byte_order_mark = true;
  const std::string_view not_utf8 = "UTF-16 or UTF-32 byte order mark: only UTF-8 is read\n";
  check_cases(
      {
          {"\xEF\xBB\xBF<a>x</a>", R"((a="x"))", ""},
          // Not counted: the fault is where it would be without the mark.
          {"\xEF\xBB\xBF>", "none", "tag is not yet opened at 1:1\n"},
          {"\xEF\xBB\xBF", "", ""},
          // Only at the start, and only whole.
          {"<a>\xEF\xBB\xBF</a>", "(a=\"\xEF\xBB\xBF\")", ""},
          {"\xEF\xBB<a/>", "=\"\xEF\xBB\"(a)", ""},
          {"\xEF", "", ""},
          {"\xFE", "", ""},
          {"\xFE\xFF<a/>", "none", not_utf8},
          {"\xFF\xFE<a/>", "none", not_utf8},
          {std::string_view("\xFF\xFE\0\0<\0\0\0", 8), "none", not_utf8},
          {std::string_view("\0\0\xFE\xFF\0\0\0<", 8), "none", not_utf8},
          {"\xFE\xFF", "none", not_utf8},
      },
      options);
  // NUL bytes that begin no mark stay in a text; a stream drops the rest of their line.
  const std::string_view nuls("\0\0<a/>", 7);
  EXPECT_EQ(render(parse_text(nuls, options)), std::string_view("=\"\0\0\"(a)", 8));
  EXPECT_EQ(outcome_difference(parse_text(nuls, options), parse_in_pieces(nuls, {1}, options)), "");
}

// Without the options, marks and references are text, as they always were.
TEST(ReaderOptions, OffByDefault) {
  check_cases({
      {"\xEF\xBB\xBF<a>x</a>", "=\"\xEF\xBB\xBF\"(a=\"x\")", ""},
      {"\xFF\xFE<a/>", "=\"\xFF\xFE\"(a)", ""},
      {"<a x=\"&#65;\">fish &amp; chips</a>", R"((a="fish &amp; chips"(@x="&#65;")))", ""},
  });
}

}  // namespace
