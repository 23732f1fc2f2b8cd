// Tests for the shared text escaping: messages, and JSON strings, whose fast kernel and
// stream entries are held against a plain byte-by-byte reading of the rules.
#include "text_escape.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "file_text.h"

namespace {

// The rules spelled out one byte at a time.
std::string json_reference(std::string_view text) {
  std::string escaped;
  for (unsigned char c : text) {
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
      {"\x20~\x80\xff\\", "\x20~\x80\xff\\"},
      {"", ""},
      {std::string_view(), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(put(put_message_text, c.text), c.shown);
  }
}

TEST(JsonEscape, EveryByteByTheRules) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  EXPECT_EQ(escape_into(all), json_reference(all));
  EXPECT_EQ(put(put_json_text, all), json_reference(all));
  EXPECT_EQ(json_reference("\x01\x1f\x7f\xc3\xa9"), "\\u0001\\u001f\x7f\xc3\xa9");
}

// The kernel takes sixteen bytes a step: special bytes at every place of a run, alone, in
// pairs and in runs, and every length around the step.
TEST(JsonEscape, SpecialBytesAtEveryPlaceOfARun) {
  for (std::size_t length = 0; length < 50; ++length) {
    for (std::size_t at = 0; at < length; ++at) {
      for (std::string_view special : {"\"", "\\", "\n", "\x01", "\"\\", "\x01\x02\x03\x04"}) {
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
