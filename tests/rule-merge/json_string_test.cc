// Tests for the JSON string decoding: strings decoded as the document means them.
#include "json_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(JsonString, DecodesAsTheDocumentMeansIt) {
  struct Case {
    std::string text;
    bool valid;
    std::string decoded;
  };
  const Case cases[] = {
      {"alert \\\"x\\\" \\\\ y", true, "alert \"x\" \\ y"},
      {"\\/\\b\\f\\n\\r\\t", true, "/\b\f\n\r\t"},
      {"\\u0061\\u0000\\u001F", true, std::string("a\0\x1f", 3)},
      {"\\u00e9\\u20AC", true, "\xc3\xa9\xe2\x82\xac"},
      {"\\ud83d\\ude00", true, "\xf0\x9f\x98\x80"},
      {"\\ud83d x", true, "\xed\xa0\xbd x"},  // a lone surrogate, as it is
      {"\xc3\xa9", true, "\xc3\xa9"},
      {"caf\xe9", true, "caf\xc3\xa9"},  // Latin-1, as a rule line's byte is written
      {"\\x41", false, ""},
      {"a\\", false, ""},
      {"\\u12", false, ""},
      {"\\u12g4", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string decoded;
    EXPECT_EQ(decode_json_string(c.text, decoded), c.valid);
    if (c.valid) {
      EXPECT_EQ(decoded, c.decoded);
    }
  }
}

}  // namespace
