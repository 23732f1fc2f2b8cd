// Tests for the markup reader: the trees and messages of the forgiving cases, the text
// and stream entry points and character-by-character feeding agreeing on any input, and
// documents a million deep or wide.
#include "markup_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "tree_compare.h"

namespace {

// What one parse gave: the tree (or none) and everything written to err.
struct Outcome {
  std::unique_ptr<NameTree> tree;
  std::string err;
};

// Runs `parse` with an in-memory error stream and collects what it wrote.
template <typename Parse>
Outcome capture(Parse parse) {
  char* text = nullptr;
  std::size_t size = 0;
  FILE* err = open_memstream(&text, &size);
  Outcome outcome;
  outcome.tree = parse(err);
  std::fclose(err);
  outcome.err.assign(text, size);
  std::free(text);
  return outcome;
}

Outcome parse_text(std::string_view input) {
  return capture([&](FILE* err) { return markup_parse_text(input, err); });
}

Outcome parse_stream(std::string_view input) {
  return capture([&](FILE* err) {
    FILE* stream = fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    auto tree = markup_parse_stream(stream, err);
    std::fclose(stream);
    return tree;
  });
}

// Feeds the input one character at a time through markup_feed, ending as a parse does.
Outcome parse_by_character(std::string_view input) {
  return capture([&](FILE* err) -> std::unique_ptr<NameTree> {
    std::unique_ptr<NameTree> tree = tree_create(err);
    for (char c : input) {
      if (!markup_feed(*tree, c)) return nullptr;
    }
    if (tree->current != tree->root) {
      std::fputs("Incomplete xml\n", err);
      return nullptr;
    }
    return tree;
  });
}

// Where `other` departs from `expected`: the message, the outcome, or the tree.
std::string outcome_difference(const Outcome& expected, const Outcome& other) {
  if (expected.err != other.err) return "message \"" + expected.err + "\" vs \"" + other.err + '"';
  if (!expected.tree != !other.tree) return "only one gave a tree";
  if (!expected.tree) return "";
  return tree_difference(expected.tree->root, other.tree->root);
}

// Parses through both entry points and character by character, checks that all three
// agree, and returns the text's outcome.
Outcome parse_every_way(std::string_view input) {
  Outcome text = parse_text(input);
  EXPECT_EQ(outcome_difference(text, parse_stream(input)), "") << "stream";
  EXPECT_EQ(outcome_difference(text, parse_by_character(input)), "") << "by character";
  return text;
}

std::string render(const Outcome& outcome) {
  return outcome.tree ? tree_render(outcome.tree->root) : "none";
}

struct Case {
  std::string_view input;
  std::string_view tree;  // rendered from the root; "none" when the parse fails
  std::string_view err;
};

void check_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    Outcome outcome = parse_every_way(c.input);
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

TEST(MarkupReader, ReleasesItsBuffersAfterAParse) {
  Outcome outcome = parse_text("<r>x</r>");
  ASSERT_TRUE(outcome.tree);
  EXPECT_EQ(outcome.tree->token_buffer, nullptr);
  EXPECT_EQ(outcome.tree->read_buffer, nullptr);
  EXPECT_EQ(outcome.tree->token_capacity, 0);
  EXPECT_EQ(outcome.tree->current, outcome.tree->root);
}

TEST(MarkupReader, FeedingAFinishedTreeStartsAFreshToken) {
  Outcome outcome = parse_text("<r>x</r>");
  ASSERT_TRUE(outcome.tree);
  for (char c : std::string_view("<s/>")) ASSERT_TRUE(markup_feed(*outcome.tree, c));
  EXPECT_EQ(outcome.tree->token_capacity, kTokenStartSize);
  EXPECT_EQ(outcome.tree->root->child->next->name, "s");
}

TEST(MarkupReader, EmptyInput) {
  // An empty text is refused at once; an empty stream reads as an empty document.
  Outcome text = parse_text("");
  EXPECT_EQ(text.tree, nullptr);
  EXPECT_EQ(text.err, "");
  Outcome stream = parse_stream("");
  ASSERT_TRUE(stream.tree);
  EXPECT_EQ(tree_render(stream.tree->root), "");
  EXPECT_EQ(stream.err, "");
}

// A deterministic source of test inputs, the same on every platform.
struct Generator {
  std::mt19937 random;
  std::uint32_t below(std::uint32_t n) {
    return random() % n;
  }
  bool chance(std::uint32_t percent) {
    return below(100) < percent;
  }
  char pick(std::string_view from) {
    return from[below(static_cast<std::uint32_t>(from.size()))];
  }

  std::string word() {
    std::string w(1 + below(6), ' ');
    for (char& c : w) c = pick("abcdefxyz_:.0123456789");
    return w;
  }

  // Text with runs of white space and, now and then, a line far longer than 255.
  // Quotes and backslashes come only now and then, as they may end a value early.
  std::string text() {
    std::string t;
    const bool long_line = chance(8);
    const std::uint32_t words = long_line ? 60 + below(200) : below(6);
    for (std::uint32_t i = 0; i < words; ++i) {
      t += word();
      if (chance(2)) {
        t += pick("\"\\");
      } else {
        t += long_line ? pick("  \t=/?!") : pick("  \t\n\r=/?!");
      }
    }
    return t;
  }

  // A document that is mostly well formed, with every kind of markup the reader knows.
  std::string document() {
    std::string doc = chance(50) ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    std::vector<std::string> open;
    const std::uint32_t steps = 1 + below(60);
    for (std::uint32_t i = 0; i < steps; ++i) {
      switch (below(8)) {
        case 0:
        case 1: {
          const std::string name = word();
          doc += '<' + name;
          for (std::uint32_t n = below(4); n > 0; --n) {
            // Mostly sound values: a stray quote or a final backslash would end them early.
            std::string value = text();
            if (chance(90)) std::erase(value, '"');
            while (chance(90) && !value.empty() && value.back() == '\\') value.pop_back();
            doc += pick(" \n\t") + word() + (chance(90) ? "=\"" : " = \"") + value + '"';
          }
          if (chance(25)) {
            doc += chance(50) ? "/>" : " />";
          } else {
            doc += '>';
            open.push_back(name);
          }
          break;
        }
        case 2:
        case 3:
          if (!open.empty()) {
            doc += "</" + open.back() + (chance(10) ? " >" : ">");
            open.pop_back();
          }
          break;
        case 4:
        case 5:
          doc += text();
          break;
        case 6:
          doc += "<!--" + text() + (chance(50) ? "--" : "---") + ">";
          break;
        default:
          doc += "<?" + word() + " a=\"" + word() + "\"" + (chance(90) ? "?>" : "/>");
          break;
      }
    }
    while (!open.empty() && chance(99)) {
      doc += "</" + open.back() + ">";
      open.pop_back();
    }
    return doc;
  }

  // A few characters changed, so that faults turn up at every kind of position.
  std::string damaged(std::string doc) {
    for (std::uint32_t n = 1 + below(3); n > 0 && !doc.empty(); --n) {
      const std::size_t at = below(static_cast<std::uint32_t>(doc.size()));
      switch (below(3)) {
        case 0:
          doc.erase(at, 1);
          break;
        case 1:
          doc.insert(at, 1, pick("<>\"=/-!? \n"));
          break;
        default:
          doc[at] = pick("<>\"=/-!? \n\\");
          break;
      }
    }
    return doc;
  }

  // Any bytes but NUL, weighted towards the markup characters.
  std::string noise() {
    std::string s(1 + below(700), ' ');
    for (char& c : s) {
      c = chance(70) ? pick("<>=\"/-!? \n\t\r\\ab") : static_cast<char>(1 + below(255));
    }
    return s;
  }
};

TEST(MarkupReader, TextStreamAndCharactersGiveTheSameTree) {
  Generator generator{std::mt19937(20240611)};
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
    ASSERT_EQ(outcome_difference(text, parse_by_character(input)), "") << "by character";
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
    const TreeNode* node = outcome.tree->root;
    for (; node->child; node = node->child) ++depth;
    EXPECT_EQ(depth, kMillion);
    EXPECT_EQ(node->value, "x");
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
    const TreeNode* r = outcome.tree->root->child;
    ASSERT_TRUE(r);
    EXPECT_EQ(r->child->prev->occurrence, kMillion);
    int count = 0;
    for (const TreeNode* a = r->child; a; a = a->next) ++count;
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
    EXPECT_EQ(tree_difference(a.tree->root, b.tree->root), pair.difference);
  }
}

}  // namespace
