// Tests for reading the shape of a line: what it leaves open, where its value lies, and
// that feeding it in pieces of any size finds the same as feeding it whole.
#include "line_scan.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ShapeCase {
  std::string line;
  OpenValue before;
  LineKind kind;
  std::string value;  // the bytes between value_begin and value_end
  OpenValue next;
};

const ShapeCase kCases[] = {
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"en\"\n", OpenValue::kNone, LineKind::kWalkLine, "en",
     OpenValue::kNone},
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"en\n", OpenValue::kNone, LineKind::kWalkLine, "en",
     OpenValue::kString},
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"en\r\n", OpenValue::kNone, LineKind::kWalkLine, "en\r",
     OpenValue::kString},
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"en\\\"\n", OpenValue::kNone, LineKind::kWalkLine,
     "en\\\"", OpenValue::kString},
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"en\\\\\"\r\n", OpenValue::kNone, LineKind::kWalkLine,
     "en\\\\", OpenValue::kNone},
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: \"a\" b\r\n", OpenValue::kNone, LineKind::kWalkLine,
     "a\" b", OpenValue::kNone},
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: plain\n", OpenValue::kNone, LineKind::kWalkLine, "plain",
     OpenValue::kBareString},
    {"iso.3.6.1.2.1.2.2.1.2.1 = STRING: ", OpenValue::kNone, LineKind::kWalkLine, "",
     OpenValue::kBareString},
    // After a STRING without quotes, a line goes on with it unless it looks like a walk line.
    {"a \"b\" \\ c\r\n", OpenValue::kBareString, LineKind::kBarePart, "a \"b\" \\ c",
     OpenValue::kBareString},
    {"\n", OpenValue::kBareString, LineKind::kBarePart, "", OpenValue::kBareString},
    {"x =y\n", OpenValue::kBareString, LineKind::kBarePart, "x =y", OpenValue::kBareString},
    {"IF-MIB::ifAlias.2 = STRING: \n", OpenValue::kBareString, LineKind::kWalkLine, "",
     OpenValue::kBareString},
    {"iso.3 = INTEGER: up(1)\n", OpenValue::kBareString, LineKind::kWalkLine, "up(1)",
     OpenValue::kNone},
    {std::string(256, 'x') + " = INTEGER: 1\n", OpenValue::kBareString, LineKind::kBarePart,
     std::string(256, 'x') + " = INTEGER: 1", OpenValue::kBareString},
    {std::string(255, 'x') + " = INTEGER: 1\n", OpenValue::kBareString, LineKind::kWalkLine, "1",
     OpenValue::kNone},
    {"x = STRING: \"", OpenValue::kNone, LineKind::kWalkLine, "", OpenValue::kString},
    {"= STRING: \"a\"\n", OpenValue::kNone, LineKind::kWalkLine, "a", OpenValue::kNone},
    {"STRING: \"a\n", OpenValue::kNone, LineKind::kWalkLine, "\"a", OpenValue::kNone},
    {"a:b = STRING: \"c: d\n", OpenValue::kNone, LineKind::kWalkLine, "c: d", OpenValue::kString},
    {"a: b = STRING: \"c\"\n", OpenValue::kNone, LineKind::kWalkLine, "b = STRING: \"c\"",
     OpenValue::kNone},
    {"iso.3 = Hex-STRING: 00 11 \n", OpenValue::kNone, LineKind::kWalkLine, "00 11 ",
     OpenValue::kHex},
    {"iso.3 = INTEGER: 5 \"\n", OpenValue::kNone, LineKind::kWalkLine, "5 \"", OpenValue::kNone},
    {"no colon here\n", OpenValue::kNone, LineKind::kWalkLine, "", OpenValue::kNone},
    {"end of it\" \t\r\n", OpenValue::kString, LineKind::kStringPart, "end of it",
     OpenValue::kNone},
    {"still going\r\n", OpenValue::kString, LineKind::kStringPart, "still going\r",
     OpenValue::kString},
    {"iso.3 = STRING: \"looks like a line\"\n", OpenValue::kString, LineKind::kStringPart,
     "iso.3 = STRING: \"looks like a line", OpenValue::kNone},
    {"\\\"\\\\\n", OpenValue::kString, LineKind::kStringPart, "\\\"\\\\", OpenValue::kString},
    {"\n", OpenValue::kString, LineKind::kStringPart, "", OpenValue::kString},
    {"  65 72 6E \n", OpenValue::kHex, LineKind::kHexPart, "65 72 6E ", OpenValue::kHex},
    {"ab\tCD\r\n", OpenValue::kHex, LineKind::kHexPart, "ab\tCD", OpenValue::kHex},
    {"ab", OpenValue::kHex, LineKind::kHexPart, "ab", OpenValue::kHex},
    {"ab\r", OpenValue::kHex, LineKind::kWalkLine, "", OpenValue::kNone},
    {"abc\n", OpenValue::kHex, LineKind::kWalkLine, "", OpenValue::kNone},
    {"a b\n", OpenValue::kHex, LineKind::kWalkLine, "", OpenValue::kNone},
    {" \n", OpenValue::kHex, LineKind::kWalkLine, "", OpenValue::kNone},
    {"0G\n", OpenValue::kHex, LineKind::kWalkLine, "", OpenValue::kNone},
    {"iso.3 = Hex-STRING: 00 \n", OpenValue::kHex, LineKind::kWalkLine, "00 ", OpenValue::kHex},
    {R"(x = STRING: "a\\\"b\\" c)"
     "\n",
     OpenValue::kNone, LineKind::kWalkLine, R"(a\\\"b\\" c)", OpenValue::kNone},
    {R"(x = STRING: "\\\")"
     "\n",
     OpenValue::kNone, LineKind::kWalkLine, R"(\\\")", OpenValue::kString},
    {"x: = STRING: \"a\n", OpenValue::kNone, LineKind::kWalkLine, "= STRING: \"a",
     OpenValue::kNone},
    {"x = Hex-STRING:\n", OpenValue::kNone, LineKind::kWalkLine, "", OpenValue::kNone},
    {"x = Hex-STRING:: 00\n", OpenValue::kNone, LineKind::kWalkLine, "00", OpenValue::kNone},
};

std::string value_of(const std::string& line, const LineShape& shape) {
  if (shape.kind == LineKind::kWalkLine && shape.colon == kNoColon) return "";
  return line.substr(shape.value_begin, shape.value_end - shape.value_begin);
}

TEST(LineScan, FindsTheShapeOfALine) {
  for (const ShapeCase& c : kCases) {
    SCOPED_TRACE(c.line);
    LineShape shape = scan_line(c.line, c.before);
    EXPECT_EQ(shape.kind, c.kind);
    EXPECT_EQ(value_of(c.line, shape), c.value);
    EXPECT_EQ(shape.next, c.next);
  }
}

// The quick reading of lines that are not kept finds what the whole reading finds.
TEST(LineScan, QuickReadingFindsWhatALineLeavesOpen) {
  for (const ShapeCase& c : kCases) {
    SCOPED_TRACE(c.line);
    if (surely_walk_line(c.line, c.before)) {
      EXPECT_EQ(c.kind, LineKind::kWalkLine);
      EXPECT_EQ(walk_line_next(c.line), c.next);
    }
    EXPECT_EQ(walk_line_next(c.line), scan_line(c.line, OpenValue::kNone).next);
  }
  EXPECT_FALSE(surely_walk_line("", OpenValue::kHex));
  EXPECT_FALSE(surely_walk_line("iso.3 = INTEGER: 1\n", OpenValue::kString));
  EXPECT_TRUE(surely_walk_line("iso.3 = INTEGER: 1\n", OpenValue::kHex));
}

TEST(LineScan, PiecesOfAnySizeFindTheSameShape) {
  for (const ShapeCase& c : kCases) {
    LineShape whole = scan_line(c.line, c.before);
    for (std::size_t size = 1; size <= c.line.size(); ++size) {
      SCOPED_TRACE(c.line + " in pieces of " + std::to_string(size));
      LineScanner scanner = scan_start(c.before);
      for (std::size_t at = 0; at < c.line.size(); at += size) {
        scan_feed(scanner, std::string_view(c.line).substr(at, size));
      }
      LineShape pieces = scan_finish(scanner);
      EXPECT_EQ(pieces.kind, whole.kind);
      EXPECT_EQ(pieces.colon, whole.colon);
      EXPECT_EQ(pieces.string_value, whole.string_value);
      EXPECT_EQ(pieces.value_begin, whole.value_begin);
      EXPECT_EQ(pieces.value_end, whole.value_end);
      EXPECT_EQ(pieces.next, whole.next);
    }
  }
}

}  // namespace
