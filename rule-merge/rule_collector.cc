// The rule collector: every line of every file the walk lists is classified as blank,
// comment or rule as it is read, in large chunks; a comment names the rule line below it.
#include "rule_collector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace {

constexpr std::size_t kReadChunk = 1 << 18;  // bytes read from a rule file at a time

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// What is known of a line from the bytes read of it so far. Only a comment's name is
// kept, and of that no more than can still give a name.
struct LineClass {
  enum Kind {
    kBlank,         // nothing but spaces and tabs so far
    kCommentStart,  // a `#`, then blanks
    kComment,       // the name has begun
    kRule,
  };
  Kind kind = kBlank;
  std::size_t length = 0;  // bytes of the line, its newline aside
  char last = 0;           // its last byte
  std::string name;
  std::size_t name_length = 0;  // counted with backslashes and quotes escaped
};

void classify(LineClass& line, std::string_view piece) {
  if (piece.empty()) return;
  line.length += piece.size();
  line.last = piece.back();
  std::size_t i = 0;
  if (line.kind == LineClass::kBlank) {
    while (i < piece.size() && is_blank(piece[i])) ++i;
    if (i == piece.size()) return;
    if (piece[i] != '#') {
      line.kind = LineClass::kRule;
      return;
    }
    line.kind = LineClass::kCommentStart;
    ++i;
  }
  if (line.kind == LineClass::kCommentStart) {
    while (i < piece.size() && is_blank(piece[i])) ++i;
    if (i == piece.size()) return;
    line.kind = LineClass::kComment;
  }
  if (line.kind == LineClass::kComment) {
    // One more byte than the limit is kept: a final space may still be taken off.
    for (; i < piece.size() && line.name_length <= kMaxRuleNameLength + 1; ++i) {
      line.name_length += piece[i] == '\\' || piece[i] == '"' ? 2 : 1;
      line.name += piece[i];
    }
  }
}

struct FileReader {
  int fd = -1;
  ReadAt read_at = nullptr;
  std::unique_ptr<char[]> buffer{new char[kReadChunk]};
  off_t offset = 0;  // the file offset of buffer[0]
  std::size_t length = 0;
  std::size_t position = 0;
  std::unique_ptr<char[]> reread;  // for lines longer than what the buffer holds
};

// Reads `size` bytes at `offset`, or fewer at the end of the file; -1 on an error.
ssize_t read_fully(FileReader& r, char* into, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = r.read_at(r.fd, into + done, size - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

// Reads what follows the bytes in the buffer, in one read: the lines that arrive before
// an error are then handled before it is met. Returns false on an error; at the end of
// the file the buffer is left empty.
bool read_next_chunk(FileReader& r) {
  r.offset += static_cast<off_t>(r.length);
  r.length = 0;
  r.position = 0;
  for (;;) {
    ssize_t n = r.read_at(r.fd, r.buffer.get(), kReadChunk, r.offset);
    if (n >= 0) {
      r.length = static_cast<std::size_t>(n);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

// Writes the `length` bytes of a rule line at `start` that the buffer no longer holds.
bool write_reread(FileReader& r, RuleWriter& writer, off_t start, std::size_t length) {
  if (!r.reread) r.reread.reset(new char[kRawPieceSize]);
  while (length > 0) {
    std::size_t piece = std::min(length, kRawPieceSize);
    // The file shrank, or reading failed, since the line was first read.
    if (read_fully(r, r.reread.get(), piece, start) != static_cast<ssize_t>(piece)) return false;
    write_raw(writer, std::string_view(r.reread.get(), piece));
    start += static_cast<off_t>(piece);
    length -= piece;
  }
  return true;
}

bool collect_lines(int fd, RuleWriter& writer, ReadAt read_at) {
  FileReader r;
  r.fd = fd;
  r.read_at = read_at;
  std::string name;  // the pending rule name, as read; empty when there is none
  for (;;) {
    if (r.position == r.length) {
      if (!read_next_chunk(r)) return false;
      if (r.length == 0) return true;
    }
    const off_t start = r.offset + static_cast<off_t>(r.position);
    const char* const in_buffer = r.buffer.get() + r.position;
    bool held = true;  // the whole line is still in the buffer
    bool newline = false;
    LineClass line;
    for (;;) {
      const char* begin = r.buffer.get() + r.position;
      std::size_t available = r.length - r.position;
      const void* found = std::memchr(begin, '\n', available);
      std::size_t take =
          found ? static_cast<std::size_t>(static_cast<const char*>(found) - begin) : available;
      classify(line, std::string_view(begin, take));
      r.position += take;
      if (found) {
        ++r.position;
        newline = true;
        break;
      }
      held = false;
      if (!read_next_chunk(r)) return false;  // the line is unfinished: it is not written
      if (r.length == 0) break;
    }
    // One final newline or space goes; a carriage return before it stays.
    std::size_t length = line.length;
    if (!newline && line.last == ' ') --length;
    switch (line.kind) {
      case LineClass::kBlank:
        name.clear();  // a blank line separates a comment from the rule below
        break;
      case LineClass::kCommentStart:
        name.clear();
        break;
      case LineClass::kComment:
        if (!newline && line.last == ' ') {
          // When the name was cut short it is too long either way.
          line.name.pop_back();
          --line.name_length;
        }
        name.clear();
        if (line.name_length <= kMaxRuleNameLength) name = line.name;
        break;
      case LineClass::kRule:
        begin_rule(writer, name);
        if (held) {
          write_raw(writer, std::string_view(in_buffer, length));
        } else if (!write_reread(r, writer, start, length)) {
          end_rule(writer);  // the object stays whole; the run reports the failure
          return false;
        }
        end_rule(writer);
        name.clear();
        break;
    }
    if (!newline) return true;
  }
}

}  // namespace

bool collect_file_rules(int fd, RuleWriter& writer, ReadAt read_at) {
  bool whole = collect_lines(fd, writer, read_at);
  flush_rules(writer);
  return whole;
}

bool collect_rules(std::string_view root, std::vector<FileIdentity> skip, RuleWriter& writer,
                   FILE* err) {
  DirectoryWalkPtr walk = start_walk(root, std::move(skip), err);
  std::string path;
  while (!std::ferror(writer.out)) {
    int fd = next_file(*walk, path);
    if (fd < 0) break;
    if (!collect_file_rules(fd, writer)) report_read_failure(*walk);
  }
  return walk_complete(*walk);
}
