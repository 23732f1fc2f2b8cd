// Checks the markup reader's XML reading: a table of its rules and one of its faults,
// every input read whole, as a stream and in pieces alike; and against a conforming XML
// reader, expat, on the same tables (the line and column of each fault), on real and
// generated documents, on the markup fuzz corpus, and on the element positions it keeps.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "file_text.h"
#include "nametree/markup_reader.h"
#include "process.h"
#include "random_documents.h"
#include "tree_compare.h"

#if HAVE_EXPAT
#include "expat_tree.h"
#endif

namespace {

using namespace nametree;

ReaderOptions xml_reading(bool keep_positions = false) {
  ReaderOptions options;
  options.xml = true;
  options.keep_positions = keep_positions;
  return options;
}

std::string describe(const ParseResult& result) {
  if (result.tree) return tree_render(&tree_root(*result.tree));
  return std::string(fault_kind_name(result.fault.kind)) + " " + std::to_string(result.fault.line) +
         ":" + std::to_string(result.fault.column) + " " + result.fault.message;
}

ParseResult read_stream(std::string_view text) {
  FILE* stream = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  ParseResult result = markup_parse_stream(stream, nullptr, xml_reading());
  std::fclose(stream);
  return result;
}

ParseResult read_pieces(std::string_view text, const std::vector<std::size_t>& sizes) {
  ReaderPtr reader = markup_reader_create(nullptr, xml_reading());
  for (std::size_t at = 0, i = 0; at < text.size(); ++i) {
    const std::size_t size = sizes[i % sizes.size()];
    markup_feed(*reader, text.substr(at, size));
    at += size;
  }
  return markup_finish(*reader);
}

// The XML reading of `text` whole; EXPECTs that a stream and pieces cut anywhere give the
// same tree or the same fault.
ParseResult read_xml(std::string_view text) {
  ParseResult whole = markup_parse_text(text, nullptr, xml_reading());
  if (text.empty()) return whole;
  const std::string expected = describe(whole);
  EXPECT_EQ(describe(read_stream(text)), expected) << "as a stream";
  static std::mt19937 random(5);
  std::vector<std::size_t> sizes;
  for (int i = 0; i < 30; ++i) sizes.push_back(1 + random() % (random() % 2 ? 5 : 200));
  for (const std::vector<std::size_t>& cut :
       {std::vector<std::size_t>{1}, std::vector<std::size_t>{2, 3}, sizes}) {
    EXPECT_EQ(describe(read_pieces(text, cut)), expected) << "in pieces of " << cut[0];
  }
  return whole;
}

#if HAVE_EXPAT
// "" when the XML reading agrees with expat on `text`, read every way.
std::string compare_with_expat(std::string_view text) {
  return expat_difference(text, read_xml(text));
}
#endif

struct RuleCase {
  std::string_view input;
  std::string_view tree;  // as tree_render writes it
};

TEST(XmlReading, Rules) {
  constexpr RuleCase kCases[] = {
      {R"(<a x="1" y='2'>t</a>)", R"((a="t"(@x="1" @y="2")))"},
      {R"(<a b='x"y' c="p'q"/>)", R"((a(@b="x"y" @c="p'q")))"},
      {R"(<a r="C:\app\" t="C:\tmp"/>)", R"((a(@r="C:\app\" @t="C:\tmp")))"},  // no escapes
      // Attribute values: white space becomes spaces, references are decoded as written.
      {"<a b=\"x\ty\nz\r\nw\rv\" c=\"1&#9;2&#10;3&lt;&amp;\"/>",
       "(a(@b=\"x y z w v\" @c=\"1\t2\n3<&\"))"},
      {"<p>Hello <b>world</b> again</p>", R"((p="Hello  again"(b="world")))"},
      {"<a> x <b/> </a>", R"((a=" x "(b)))"},
      {"<a>\n  <b/>\n</a>", "(a(b))"},
      {"<a>&#32;</a>", R"((a=" "))"},
      {"<a><![CDATA[ <x>&amp; ]]></a>", R"((a=" <x>&amp; "))"},
      {"<a> <![CDATA[]]> </a>", "(a)"},
      {"<a>x<!--c-->y<?p q?>z</a>", R"((a="xyz"))"},
      {"<a>1\r\n2\r3\n</a>", "(a=\"1\n2\n3\n\")"},
      {"<a>x > y ]] ]</a>", R"((a="x > y ]] ]"))"},
      {"<a>&lt;&amp;&gt;&quot;&apos;&#x20AC;&#128512;</a>", "(a=\"<&>\"'€😀\")"},
      {"<a></a>", "(a)"},
      {R"(<a x="1"><x/><x></x></a>)", R"((a(@x#1="1" x#2 x#3)))"},
      {"<p:a xmlns:p='urn:p' p:b='1'/>", R"((p:a(@xmlns:p="urn:p" @p:b="1")))"},
      {"<é Ω名='1'/>", R"((é(@Ω名="1")))"},
      {R"(<?xml version="1.0" encoding="ISO-8859-1" standalone='no'?><r/>)", "(r)"},
      {"\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- c --><?p?>\n<r/>\n<!-- d -->\n", "(r)"},
      {"<!DOCTYPE r PUBLIC \"-//x//y\" 'r.dtd' [\n <!ELEMENT r ANY> <!-- ] > -->"
       " <?p ]?> %pe; <!ATTLIST r a CDATA \"]>\">\n]>\n<r/>",
       "(r)"},
      {"<a\n b\t=\r\n'1'\n/>", R"((a(@b="1")))"},
      {"<a></a >", "(a)"},
  };
  for (const RuleCase& c : kCases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(describe(read_xml(c.input)), c.tree);
#if HAVE_EXPAT
    EXPECT_EQ(compare_with_expat(c.input), "");
#endif
  }
}

struct FaultCase {
  std::string_view input;
  FaultKind kind;
};

constexpr FaultCase kFaults[] = {
    {"<a></b>", FaultKind::kNotProperlyPaired},
    {"<a>\n  <b>\r\n</a>", FaultKind::kNotProperlyPaired},
    {"<é>x</b>", FaultKind::kNotProperlyPaired},
    {"<a>", FaultKind::kUnclosedElement},
    {"<a><b>x\n", FaultKind::kUnclosedElement},
    {"<a/><b/>", FaultKind::kSecondRoot},
    {"<a/>\n x", FaultKind::kTextOutsideRoot},
    {"<a/>&amp;", FaultKind::kTextOutsideRoot},
    {"<a b/>", FaultKind::kAttributeWithoutValue},
    {"<a b></a>", FaultKind::kAttributeWithoutValue},
    {"<a b=c/>", FaultKind::kUnquotedValue},
    {R"(<a b="1" b='2'/>)", FaultKind::kDuplicateAttribute},
    {R"(<a b="<"/>)", FaultKind::kLessThanInValue},
    {"<a>&</a>", FaultKind::kBadReference},
    {"<a>& b</a>", FaultKind::kBadReference},
    {"<a>&x</a>", FaultKind::kBadReference},
    {"<a>&#;</a>", FaultKind::kBadReference},
    {"<a>&#x1g;</a>", FaultKind::kBadReference},
    {R"(<a b="&"/>)", FaultKind::kBadReference},
    {"<a>&nbsp;</a>", FaultKind::kUnknownEntity},
    {R"(<a b="&x;"/>)", FaultKind::kUnknownEntity},
    {"<a>&#0;</a>", FaultKind::kBadCharacterReference},
    {"<a>&#xD800;</a>", FaultKind::kBadCharacterReference},
    {"<a>&#x110000;</a>", FaultKind::kBadCharacterReference},
    {"<a><!-- x</a>", FaultKind::kUnclosedComment},
    {"<a><![CDATA[x</a>", FaultKind::kUnclosedCdata},
    {"<a><?p x</a>", FaultKind::kUnclosedInstruction},
    {"<a", FaultKind::kUnclosedTag},
    {R"(<a b="x)", FaultKind::kUnclosedTag},
    {"<a></a", FaultKind::kUnclosedTag},
    {"<a><!-- x -- y --></a>", FaultKind::kNotWellFormed},
    {"<a>]]></a>", FaultKind::kNotWellFormed},
    {R"(<a b="1"c="2"/>)", FaultKind::kNotWellFormed},
    {"<a></ a>", FaultKind::kNotWellFormed},
    {"<1a/>", FaultKind::kNotWellFormed},
    {"<a><!DOCTYPE a></a>", FaultKind::kNotWellFormed},
    {"<a><?XML x?></a>", FaultKind::kNotWellFormed},
    {"<?xml?><a/>", FaultKind::kNotWellFormed},
    {"<?xml version='1.0' standalone='maybe'?><a/>", FaultKind::kNotWellFormed},
    {"<a>\x01</a>", FaultKind::kBadCharacter},
    {"<a>\xC3(</a>", FaultKind::kBadCharacter},
    {"<a>\xED\xA0\x80</a>", FaultKind::kBadCharacter},
    {"<a b='\xFF'/>", FaultKind::kBadCharacter},
    {"<a><!-- \x02 --></a>", FaultKind::kBadCharacter},
    {" <?xml version='1.0'?><a/>", FaultKind::kMisplacedDeclaration},
    {"<a><?xml version='1.0'?></a>", FaultKind::kMisplacedDeclaration},
    {"<a/><!DOCTYPE a>", FaultKind::kMisplacedDeclaration},
    {"<!-- c -->\n", FaultKind::kNoRootElement},
    {"<a></a>\n</a>", FaultKind::kTextOutsideRoot},
};

TEST(XmlReading, Faults) {
  for (const FaultCase& c : kFaults) {
    SCOPED_TRACE(c.input);
    const ParseResult result = read_xml(c.input);
    ASSERT_FALSE(result.tree);
    EXPECT_EQ(fault_kind_name(result.fault.kind), std::string(fault_kind_name(c.kind)));
    EXPECT_EQ(result.fault.message.back(), '\n');
#if HAVE_EXPAT
    // Where expat finds it.
    const ExpatTree expected = expat_tree(c.input);
    ASSERT_FALSE(expected.tree);
    EXPECT_EQ(std::to_string(result.fault.line) + ":" + std::to_string(result.fault.column),
              std::to_string(expected.line) + ":" + std::to_string(expected.column));
#endif
  }
}

#if HAVE_EXPAT
// References, sound and not, in text and in attribute values: followed by enough bytes to
// be decoded from whole words, and at the end of their text.
TEST(XmlReading, ReferencesAgreeWithExpat) {
  constexpr std::string_view kReferences[] = {
      "&lt;",       "&gt;",        "&amp;",      "&quot;",      "&apos;",     "&ampx;",
      "&lt",        "&l;",         "&Lt;",       "&am;",        "&aposx;",    "&#65;",
      "&#x41;",     "&#xaF;",      "&#9;",       "&#10;",       "&#13;",      "&#31;",
      "&#0;",       "&#127;",      "&#128;",     "&#2047;",     "&#2048;",    "&#55295;",
      "&#55296;",   "&#57344;",    "&#65533;",   "&#65534;",    "&#65535;",   "&#65536;",
      "&#1114111;", "&#1114112;",  "&#xd800;",   "&#xFFFE;",    "&#x10FFFF;", "&#x110000;",
      "&#0000065;", "&#00000065;", "&#x000041;", "&#x0000041;", "&#9999999;", "&#xFFFFFFF;",
      "&#;",        "&#x;",        "&#X41;",     "&#x4g;",      "&#6a;",      "&#6\xC3\xA9;",
      "&#65",       "&# 65;",
  };
  const std::string pad(16, 'z');
  for (std::string_view reference : kReferences) {
    const std::string written(reference);
    for (const std::string& text : {"<a>" + written + pad + "</a>",
                                    "<a b='" + written + pad + "'/>", "<a>" + written + "</a>"}) {
      SCOPED_TRACE(text);
      EXPECT_EQ(compare_with_expat(text), "");
    }
  }
}
#endif

TEST(XmlReading, DeepWideAndLongDocuments) {
  constexpr int kMillion = 1000000;
  std::string deep;
  for (int i = 0; i < kMillion; ++i) deep += "<a>";
  deep += "x";
  for (int i = 0; i < kMillion; ++i) deep += "</a>";
  ParseResult result = markup_parse_text(deep, nullptr, xml_reading());
  ASSERT_TRUE(result.tree);
  std::string wide = "<a";
  for (int i = 0; i < kMillion; ++i) wide += " a" + std::to_string(i) + "='1'";
  wide += " a7='2'/>";
  result = markup_parse_text(wide, nullptr, xml_reading());
  EXPECT_EQ(result.fault.kind, FaultKind::kDuplicateAttribute);
  // A comment of 4 MB fed a byte at a time: pieces wait until they have doubled.
  const std::string comment = "<a><!--" + std::string(4 << 20, '.') + "--></a>";
  EXPECT_EQ(describe(read_pieces(comment, {1})), "(a)");
}

TEST(XmlReading, OnlyUtf8IsRead) {
  const ParseResult result = read_xml(std::string_view("\xFF\xFE<\0a\0/\0>\0", 10));
  EXPECT_EQ(result.fault.kind, FaultKind::kNotUtf8);
  EXPECT_EQ(markup_parse_text("", nullptr, xml_reading()).fault.kind, FaultKind::kNoInput);
  EXPECT_EQ(read_stream("").fault.kind, FaultKind::kNoRootElement);
}

TEST(XmlReading, PositionsAreKeptApartOnlyWhenAsked) {
  const std::string text = "<a>\n <b c='1'\r\n  d='2'/>é<e/></a>";
  ParseResult plain = markup_parse_text(text, nullptr, xml_reading());
  ASSERT_TRUE(plain.tree);
  EXPECT_FALSE(node_position(*plain.tree, *find(tree_root(*plain.tree), "a")));
  ParseResult kept = markup_parse_text(text, nullptr, xml_reading(true));
  ASSERT_TRUE(kept.tree);
  const TreeNode& root = tree_root(*kept.tree);
  struct Expected {
    std::string_view path;
    std::int32_t line, column;
  };
  for (const Expected& e : {Expected{"a", 1, 1}, Expected{"a/b", 2, 2}, Expected{"a/b/@c", 2, 5},
                            Expected{"a/b/@d", 3, 3}, Expected{"a/e", 3, 11}}) {
    SCOPED_TRACE(e.path);
    const std::optional<NodePosition> at = node_position(*kept.tree, *find(root, e.path));
    ASSERT_TRUE(at);
    EXPECT_EQ(at->line, e.line);
    EXPECT_EQ(at->column, e.column);
  }
}

#if HAVE_EXPAT

// The real documents and the examples. The markup fuzz corpus goes through the same
// comparison when the fuzz target replays it (FuzzReplay.markup_reader).
TEST(XmlReadingAgainstExpat, RealDocuments) {
  std::vector<std::filesystem::path> files = {SOURCE_DIR "/examples/markup-tree/catalog.xml",
                                              SOURCE_DIR "/examples/markup-tree/config.xml",
                                              SOURCE_DIR "/examples/markup-tree/config.edited.xml"};
  for (const auto& entry :
       std::filesystem::directory_iterator(SOURCE_DIR "/tests/markup-libxml2/data")) {
    if (entry.path().extension() != ".md") files.push_back(entry.path());
  }
  ASSERT_EQ(files.size(), 13u);
  for (const auto& file : files) {
    SCOPED_TRACE(file.string());
    const std::string text = read_file(file.string());
    ASSERT_TRUE(expat_tree(text).tree);
    EXPECT_EQ(compare_with_expat(text), "");
  }
}

// Spoiled documents, cut short or with a byte changed: where both refuse one, the fault
// is nearly always where expat finds it; the rest are mostly malformed XML declarations
// and text before the root element, where expat's position follows its own tokens.
TEST(XmlReadingAgainstExpat, GeneratedDocuments) {
  XmlDocumentGenerator generator{std::mt19937(20)};
  std::mt19937 random(21);
  int faults = 0;
  int same = 0;
  for (int i = 0; i < 1000; ++i) {
    const std::string document = generator.document();
    SCOPED_TRACE(document);
    const ExpatTree expected = expat_tree(document);
    ASSERT_TRUE(expected.tree) << "the generator must write XML: " << expected.line << ":"
                               << expected.column;
    ASSERT_EQ(compare_with_expat(document), "");
    std::string cut = document.substr(0, random() % document.size());
    std::string changed = document;
    changed[random() % changed.size()] = "<>&'\"/!?-]=x \x01\xC3"[random() % 16];
    for (const std::string& spoiled : {cut, changed}) {
      ASSERT_EQ(compare_with_expat(spoiled), "") << spoiled;
      const ExpatTree refused = expat_tree(spoiled);
      const ParseResult ours = markup_parse_text(spoiled, nullptr, xml_reading());
      if (refused.tree || ours.tree) continue;
      ++faults;
      same += ours.fault.line == refused.line && ours.fault.column == refused.column;
    }
  }
  EXPECT_GT(faults, 1500);
  EXPECT_GE(same, faults * 97 / 100) << same << " of " << faults;
}

// Faults far into a document with every kind of line end and characters past ASCII: lines
// are counted as the reading goes, and the count must still land where expat's does.
TEST(XmlReadingAgainstExpat, FaultsFarIntoADocument) {
  std::string body;
  for (int i = 0; i < 4000; ++i) body += "<e a='1'>t\r\n\xC3\xA9&amp;\rx</e>\n \r";
  for (std::string_view fault :
       {"<e>&nbsp;</e>", "<e a='&x;'/>", "<e></f>", "<e b='' b=''/>", "\x01"}) {
    SCOPED_TRACE(fault);
    const std::string document = "<r>" + body + std::string(fault) + "</r>";
    const ExpatTree refused = expat_tree(document);
    const ParseResult ours = read_xml(document);
    ASSERT_FALSE(refused.tree);
    ASSERT_FALSE(ours.tree);
    EXPECT_EQ(std::to_string(ours.fault.line) + ":" + std::to_string(ours.fault.column),
              std::to_string(refused.line) + ":" + std::to_string(refused.column));
  }
}

TEST(XmlReadingAgainstExpat, ElementPositions) {
  XmlDocumentGenerator generator{std::mt19937(30)};
  for (int i = 0; i < 200; ++i) {
    const std::string document = generator.document();
    SCOPED_TRACE(document);
    const ExpatTree expected = expat_tree(document);
    const ParseResult ours = markup_parse_text(document, nullptr, xml_reading(true));
    ASSERT_TRUE(ours.tree);
    std::vector<NodePosition> starts;
    const TreeNode* top = &tree_root(*ours.tree);
    for (const TreeNode* node = top; node; node = tree_walk_next(
                                               node, top, [] {}, [] {})) {
      if (node == top || node_is_attribute(*node)) continue;
      const std::optional<NodePosition> at = node_position(*ours.tree, *node);
      ASSERT_TRUE(at);
      starts.push_back(*at);
    }
    ASSERT_EQ(starts.size(), expected.element_starts.size());
    for (std::size_t k = 0; k < starts.size(); ++k) {
      EXPECT_EQ(starts[k].line, expected.element_starts[k].line) << "element " << k;
      EXPECT_EQ(starts[k].column, expected.element_starts[k].column) << "element " << k;
    }
  }
}

#else

TEST(XmlReadingAgainstExpat, RealDocuments) {
  SKIP_UNLESS_CI(
      "expat was not found through pkg-config (expat) when this test was configured; "
      "install libexpat1-dev to compare the XML reading with it");
}

#endif

}  // namespace
