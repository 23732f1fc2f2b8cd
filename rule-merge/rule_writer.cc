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

// Writes the bytes of a character cut short that the text ends with: each is not part
// of valid UTF-8.
void end_text(RuleWriter& writer) {
  if (writer.pending_size == 0) return;
  char* start = room_for(writer, json_escape_room(writer.pending_size));
  writer.used += static_cast<std::size_t>(
      json_escape_into(start, std::string_view(writer.pending, writer.pending_size)) - start);
  writer.pending_size = 0;
}

// Adds the first bytes of `text` to the character cut short by the last piece, until it
// is whole or a byte shows that it is no character; returns the rest of the text.
std::string_view complete_pending(RuleWriter& writer, std::string_view text) {
  while (writer.pending_size > 0 && !text.empty()) {
    writer.pending[writer.pending_size] = text[0];
    const char* begin = writer.pending;
    int length = utf8_length(begin, begin + writer.pending_size + 1);
    if (length != 0) {
      ++writer.pending_size;
      text.remove_prefix(1);
    }
    if (length >= 0) end_text(writer);
  }
  return text;
}

}  // namespace

void begin_rule(RuleWriter& writer, std::string_view name) {
  if (writer.needs_comma) append(writer, ",");
  append(writer, kNameHead);
  if (!name.empty()) {  // most rules have none
    write_raw(writer, name);
    end_text(writer);
  }
  append(writer, kRawHead);
}

void write_raw(RuleWriter& writer, std::string_view text) {
  if (writer.pending_size > 0) text = complete_pending(writer, text);
  while (!text.empty()) {
    std::string_view piece = text.substr(0, kRawPieceSize);
    char* start = room_for(writer, kMaxEscapeLength * piece.size() + 2);
    std::size_t taken = 0;
    writer.used += static_cast<std::size_t>(json_escape_piece(start, piece, taken) - start);
    text.remove_prefix(taken);
    if (text.empty()) return;
    if (text.size() == piece.size() - taken) {
      // The text ends inside a character: the next piece may complete it.
      std::memcpy(writer.pending, text.data(), text.size());
      writer.pending_size = text.size();
      return;
    }
  }
}

void end_rule(RuleWriter& writer) {
  end_text(writer);
  append(writer, kTail);
  writer.needs_comma = true;
}

void flush_rules(RuleWriter& writer) {
  std::fwrite(writer.buffer.get(), 1, writer.used, writer.out);
  writer.used = 0;
}
