// Tests for the shared text escaping: messages, and JSON strings, whose fast kernel and
// stream entries are held against a plain byte-by-byte reading of the rules.
#include "text_escape.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "file_text.h"
#include "json_check.h"

namespace {

// The rules spelled out one character at a time.
std::string json_reference(std::string_view text) {
  std::string escaped;
  for (std::size_t at = 0; at < text.size(); ++at) {
    auto c = static_cast<unsigned char>(text[at]);
    if (c >= 0x80) {
      std::size_t length = 2;
      while (length <= 4 && !utf8_valid(text.substr(at, length))) ++length;
      if (length <= 4 && at + length <= text.size()) {
        escaped += text.substr(at, length);
        at += length - 1;
      } else {
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", c);
        escaped += code;
      }
      continue;
    }
    switch (c) {
      case '"':
        escaped += "\\\"";
        break;
      case '\\':
        escaped += "\\\\";
        break;
      case '\b':
        escaped += "\\b";
        break;
      case '\t':
        escaped += "\\t";
        break;
      case '\n':
        escaped += "\\n";
        break;
      case '\f':
        escaped += "\\f";
        break;
      case '\r':
        escaped += "\\r";
        break;
      default:
        if (c < 0x20) {
          char code[8];
          std::snprintf(code, sizeof code, "\\u%04x", c);
          escaped += code;
        } else {
          escaped += static_cast<char>(c);
        }
    }
  }
  return escaped;
}

// The text escaped in pieces cut at every `step` bytes, each cut character carried on.
std::string escape_in_pieces(std::string_view text, std::size_t step) {
  std::string escaped;
  std::string carried;
  while (!text.empty() || !carried.empty()) {
    std::size_t take = std::min(step, text.size());
    std::string piece = carried + std::string(text.substr(0, take));
    text.remove_prefix(take);
    std::vector<char> out(json_escape_room(piece.size()));
    std::size_t taken = piece.size();
    char* end = text.empty() ? json_escape_into(out.data(), piece)
                             : json_escape_piece(out.data(), piece, taken);
    escaped.append(out.data(), end);
    carried = piece.substr(taken);
  }
  return escaped;
}

std::string escape_into(std::string_view text) {
  std::vector<char> out(json_escape_room(text.size()));
  return std::string(out.data(), json_escape_into(out.data(), text));
}

std::string put(void (*put_text)(FILE*, std::string_view), std::string_view text) {
  FILE* stream = std::tmpfile();
  put_text(stream, text);
  std::string written = stream_text(stream);
  std::fclose(stream);
  return written;
}

TEST(MessageText, EscapesControlBytesOnly) {
  struct Case {
    std::string_view text;
    std::string shown;
  };
  const Case cases[] = {
      {"tmp/a b.rules", "tmp/a b.rules"},
      {"a\nb\rc\td", "a\\nb\\rc\\td"},
      {std::string_view("\0\x01\x1f\x7f", 4), "\\x00\\x01\\x1f\\x7f"},
      {"\x20~\x80\xff\xc3\xa9", "\x20~\x80\xff\xc3\xa9"},
      // A backslash is doubled, so that `a\nb` and a line feed are not shown alike.
      {"tmp/a\\nb", "tmp/a\\\\nb"},
      {"", ""},
      {std::string_view(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    std::string shown = "at ";
    append_message_text(shown, c.text);
    EXPECT_EQ(shown, "at " + c.shown);
  }
}

TEST(JsonEscape, EveryByteByTheRules) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(escape_into(all), json_reference(all));
  EXPECT_EQ(put(put_json_text, all), json_reference(all));
  EXPECT_EQ(json_reference("\x01\x1f\x7f\xc3\xa9\xe9"), "\\u0001\\u001f\x7f\xc3\xa9\\u00e9");
}

// Valid UTF-8 passes as it is; every byte that is not part of it is read as Latin-1,
// wherever the text is cut. The mended text is what the escaped text stands for.
TEST(JsonEscape, BytesOutsideValidUtf8AreWrittenAsLatin1) {
  struct Case {
    std::string text;
    std::string escaped;
  };
  const Case cases[] = {
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"caf\xe9", "caf\\u00e9"},                             // Latin-1
      {"\xc3", "\\u00c3"},                                   // cut short at the end
      {"\xc3(", "\\u00c3("},                                 // cut short by the next byte
      {"\xe2\x82", "\\u00e2\\u0082"},                        // two of three
      {"\xc0\xaf", "\\u00c0\\u00af"},                        // overlong
      {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},             // a surrogate
      {"\xf4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},  // above 0x10ffff
      {"\xa9\xc3\xa9", "\\u00a9\xc3\xa9"},                   // a lone continuation byte
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(escape_into(c.text), c.escaped);
    EXPECT_EQ(json_escaped_size(c.text), c.escaped.size());
    std::string mended;
    append_utf8_mended(mended, c.text);
    EXPECT_EQ(mended, json_decode_string(c.escaped));
    std::string padded = std::string(20, 'a') + c.text + std::string(20, 'b');
    EXPECT_EQ(escape_into(padded), std::string(20, 'a') + c.escaped + std::string(20, 'b'));
  }
  std::mt19937 random(5);
  std::string mixed;
  constexpr std::string_view kPieces[] = {
      "a",    "\"",   "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
      "\xe9", "\x82", "\x01",     "\xf0\x9f"};
  for (int i = 0; i < 3000; ++i) mixed += kPieces[random() % std::size(kPieces)];
  const std::string expected = json_reference(mixed);
  EXPECT_EQ(escape_into(mixed), expected);
  EXPECT_EQ(put(put_json_text, mixed), expected);
  EXPECT_EQ(json_escaped_size(mixed), expected.size());
  std::string mended;
  append_utf8_mended(mended, mixed);
  EXPECT_EQ(mended, json_decode_string(expected));
  for (std::size_t step : {1, 2, 3, 5, 16, 17, 4096}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(escape_in_pieces(mixed, step), expected);
  }
}

// The kernel takes sixteen bytes a step: special bytes at every place of a run, alone, in
// pairs and in runs, and every length around the step.
TEST(JsonEscape, SpecialBytesAtEveryPlaceOfARun) {
  for (std::size_t length = 0; length < 50; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (std::string_view special : {"\"", "\\", "\n", "\x01", "\"\\", "\x01\x02\x03\x04",
                                       "\xc3\xa9", "\xe9", "\xe2\x82\xac\xe9"}) {
        std::string text(length, 'a');
        text.replace(at, std::min(special.size(), length - at), special.substr(0, length - at));
        SCOPED_TRACE(text);
        EXPECT_EQ(escape_into(text), json_reference(text));
        EXPECT_EQ(put(put_json_text, text), json_reference(text));
      }
    }
  }
  std::string long_text(100000, 'x');
  long_text[4095] = '"';
  long_text[4096] = '\n';
  EXPECT_EQ(put(put_json_text, long_text), json_reference(long_text));
}

TEST(JsonEscape, KeepingPairsLeavesSnmpwalksEscapesAsTheyAre) {
  struct Case {
    std::string text;
    std::string written;
  } cases[] = {
      {"a \\\"b\\\"", "a \\\"b\\\""},  // \" stays
      {"C:\\\\x", "C:\\\\x"},          // \\ stays
      {"\\\\\\\"", "\\\\\\\""},        // pairs read from the start: \\ then \"
      {"lone \\x", "lone \\\\x"},      // a backslash before anything else is escaped
      {"end \\", "end \\\\"},          // as is one at the end
      {"raw \"q\"", "raw \\\"q\\\""},  // a quote without its backslash
      {"\\\"\t\x01", "\\\"\\t\\u0001"}, {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(put(put_json_text_keeping_pairs, c.text), c.written);
  }
  std::string long_text(20000, '\\');  // ten thousand pairs
  EXPECT_EQ(put(put_json_text_keeping_pairs, long_text), long_text);
}

}  // namespace
