// The rule writer: rule objects gathered in a buffer, their text escaped for JSON, and
// the comma that separates objects.
#include "rule_writer.h"

#include <cstring>

#include "text_escape.h"

namespace {

constexpr std::size_t kMaxEscapeLength = kMaxJsonEscapeLength;
// Room for one piece of text escaped (escapes are copied eight bytes at a time, so two
// bytes more), and for the many short rule objects written between two writes.
constexpr std::size_t kBufferSize = kMaxEscapeLength * kRawPieceSize + 2;

constexpr std::string_view kNameHead = "{\"name\":\"";
constexpr std::string_view kRawHead = "\",\"enabled\":false,\"raw\":\"";
constexpr std::string_view kTail = "\"}";

}  // namespace

RuleWriter make_rule_writer(FILE* out, bool needs_comma) {
  RuleWriter writer;
  writer.out = out;
  writer.needs_comma = needs_comma;
  writer.buffer.reset(new char[kBufferSize]);
  return writer;
}

namespace {

// Makes room for `size` more bytes in the buffer, writing out what it holds if need be.
char* room_for(RuleWriter& writer, std::size_t size) {
  if (kBufferSize - writer.used < size) flush_rules(writer);
  return writer.buffer.get() + writer.used;
}

void append(RuleWriter& writer, std::string_view text) {
  std::memcpy(room_for(writer, text.size()), text.data(), text.size());
  writer.used += text.size();
}

}  // namespace

void begin_rule(RuleWriter& writer, std::string_view name) {
  if (writer.needs_comma) append(writer, ",");
  append(writer, kNameHead);
  write_raw(writer, name);
  append(writer, kRawHead);
}

void write_raw(RuleWriter& writer, std::string_view text) {
  while (!text.empty()) {
    std::string_view piece = text.substr(0, kRawPieceSize);
    text.remove_prefix(piece.size());
    char* start = room_for(writer, kMaxEscapeLength * piece.size() + 2);
    writer.used += static_cast<std::size_t>(json_escape_into(start, piece) - start);
  }
}

void end_rule(RuleWriter& writer) {
  append(writer, kTail);
  writer.needs_comma = true;
}

void flush_rules(RuleWriter& writer) {
  std::fwrite(writer.buffer.get(), 1, writer.used, writer.out);
  writer.used = 0;
}
