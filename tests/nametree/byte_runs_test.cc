// Tests for the markup reader's byte-run kernels, each against the plain byte loop it
// stands for, over random bytes at every alignment and length, and for the cutting of a
// stream into the pieces of a line-at-a-time read.
#include "byte_runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace nametree;

// Random bytes drawn mostly from the ones the kernels look at.
std::string random_bytes(std::mt19937& random, std::size_t size) {
  static constexpr unsigned char kAlphabet[] = {' ',  ' ',  ' ', '<', '>',  '\n', '\t', '\r',
                                                '"',  '=',  '-', '?', 0x00, 0x1F, 0x21, 0x7F,
                                                0x80, 0xFF, 'a', 'b', '\\', '&',  '/',  '!'};
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    c = static_cast<char>(random() % 2 ? 'x' : kAlphabet[random() % sizeof kAlphabet]);
  }
  return bytes;
}

// What a kernel gave: where it stopped, and the bytes it copied up to there.
struct Run {
  std::size_t end;
  std::string copied;
  bool operator==(const Run&) const = default;
};

template <typename Kernel, typename Stops>
void expect_like_plain_loop(Kernel kernel, Stops stops_at, bool needs_byte_before) {
  std::mt19937 random(7);
  for (int round = 0; round < 20000; ++round) {
    const std::size_t size = random() % 80;
    std::string text = "x" + random_bytes(random, size);
    const std::size_t from = 1 + (size ? random() % size : 0);
    if (needs_byte_before && text[from - 1] == ' ') text[from - 1] = 'x';
    const std::size_t stop = from + (text.size() > from ? random() % (text.size() - from + 1) : 0);
    std::string out(text.size() + 16, '\0');
    const char* end = kernel(text.data() + from, text.data() + stop, out.data());
    const Run got{static_cast<std::size_t>(end - text.data()),
                  out.substr(0, static_cast<std::size_t>(end - text.data()) - from)};
    std::size_t at = from;
    while (at != stop && !stops_at(text, at)) ++at;
    const Run expected{at, text.substr(from, at - from)};
    ASSERT_EQ(got, expected) << "round " << round;
  }
}

TEST(ByteRuns, TextRunStopsWhereAPlainLoopDoes) {
  expect_like_plain_loop(
      copy_text_run,
      [](const std::string& t, std::size_t at) {
        const unsigned char c = static_cast<unsigned char>(t[at]);
        return c < 0x20 || c == '<' || c == '>' || (c == ' ' && t[at - 1] == ' ');
      },
      true);
}

TEST(ByteRuns, PlainRunStopsWhereAPlainLoopDoes) {
  expect_like_plain_loop(
      copy_plain_run,
      [](const std::string& t, std::size_t at) {
        return std::string_view("<>=\"-\t\n\r ").find(t[at]) != std::string_view::npos;
      },
      false);
}

TEST(ByteRuns, SpacesAreSkippedWhereAPlainLoopStops) {
  // It copies nothing: the skipped bytes are copied after it, to compare the same way.
  expect_like_plain_loop(
      [](const char* p, const char* stop, char* out) {
        const char* end = skip_spaces(p, stop);
        std::copy(p, end, out);
        return end;
      },
      [](const std::string& t, std::size_t at) { return t[at] != ' '; }, false);
}

TEST(ByteRuns, ValueRunStopsAtAQuoteAndCountsPositions) {
  std::mt19937 random(11);
  for (int round = 0; round < 5000; ++round) {
    const std::string text = random_bytes(random, random() % 60);
    std::string out(text.size(), '\0');
    std::int32_t line = 3;
    std::int32_t column = 5;
    const char* end =
        copy_value_run(text.data(), text.data() + text.size(), out.data(), line, column);
    std::int32_t expected_line = 3;
    std::int32_t expected_column = 5;
    std::size_t at = 0;
    for (; at < text.size() && text[at] != '"'; ++at) {
      if (text[at] == '\n') {
        ++expected_line;
        expected_column = 0;
      } else {
        ++expected_column;
      }
    }
    ASSERT_EQ(static_cast<std::size_t>(end - text.data()), at);
    ASSERT_EQ(out.substr(0, at), text.substr(0, at));
    ASSERT_EQ(line, expected_line);
    ASSERT_EQ(column, expected_column);
  }
}

// What a line-at-a-time read into 256 bytes keeps of a stream: each piece (up to a
// newline, or 255 bytes) less everything from its first NUL byte on.
std::string kept_by_lines(std::string_view stream) {
  std::string kept;
  while (!stream.empty()) {
    std::string_view piece = stream.substr(0, 255);
    if (const std::size_t newline = piece.find('\n'); newline != std::string_view::npos) {
      piece = piece.substr(0, newline + 1);
    }
    stream.remove_prefix(piece.size());
    kept += piece.substr(0, piece.find('\0'));
  }
  return kept;
}

TEST(ByteRuns, StreamBlocksKeepWhatLinesKeep) {
  std::mt19937 random(5);
  for (int round = 0; round < 3000; ++round) {
    std::string stream = random_bytes(random, random() % 1200);
    // Long lines without a newline, so that pieces of 255 bytes are cut too.
    if (round % 2) std::erase(stream, '\n');
    std::string kept;
    StreamPieces pieces;
    std::string_view rest = stream;
    while (!rest.empty()) {
      const std::size_t block = 1 + random() % 700;
      ASSERT_TRUE(split_stream_block(pieces, rest.substr(0, block), [&](std::string_view piece) {
        kept += piece;
        return true;
      }));
      rest.remove_prefix(std::min(block, rest.size()));
    }
    ASSERT_EQ(kept, kept_by_lines(stream)) << "round " << round;
  }
  // A feed that refuses stops the cutting.
  StreamPieces pieces;
  int calls = 0;
  EXPECT_FALSE(split_stream_block(pieces, std::string_view("a\0b\nc\n", 6), [&](std::string_view) {
    ++calls;
    return false;
  }));
  EXPECT_EQ(calls, 1);
}

}  // namespace
