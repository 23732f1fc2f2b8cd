// The rule collector: every file the walk lists is read once, front to back, into one
// buffer; the unfinished line at its end is carried to the front before the next read,
// and a comment names the rule line below it.
#include "rule_collector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The read buffer: every line that fits it is read whole before its object is written.
constexpr std::size_t kReadBuffer = std::size_t{1} << 18;

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

struct Collector {
  RuleWriter& writer;
  RuleSet* seen = nullptr;  // with --new-only, the raw texts met so far
  std::string name;         // the pending rule name, as read; empty when there is none
};

struct FileReader {
  int fd = -1;
  ReadAt read_at = nullptr;
  std::unique_ptr<char[]> buffer{new char[kReadBuffer]};
  off_t offset = 0;         // the file offset of buffer[0]
  std::size_t length = 0;   // bytes in the buffer
  std::size_t start = 0;    // where the line being read begins
  std::size_t scanned = 0;  // no line feed stands between start and here
  bool at_end = false;
  std::unique_ptr<char[]> reread;  // for the few long lines read a second time
};

// Reads what follows the bytes in the buffer into the room after them, in one read: the
// lines that arrive before an error are then handled before it is met.
bool read_more(FileReader& r) {
  for (;;) {
    ssize_t n = r.read_at(r.fd, r.buffer.get() + r.length, kReadBuffer - r.length,
                          r.offset + static_cast<off_t>(r.length));
    if (n >= 0) {
      r.length += static_cast<std::size_t>(n);
      r.at_end = n == 0;
      return true;
    }
    if (errno != EINTR) return false;
  }
}

// The pending name a comment line gives: its text after the `#` and the blanks that
// follow, unless that is longer than the limit once escaped.
void take_name(Collector& c, std::string_view comment) {
  std::size_t i = 0;
  while (i < comment.size() && is_blank(comment[i])) ++i;
  comment.remove_prefix(i);
  std::size_t escaped = comment.size();
  if (escaped <= kMaxRuleNameLength && 2 * escaped > kMaxRuleNameLength) {
    escaped += static_cast<std::size_t>(std::count_if(
        comment.begin(), comment.end(), [](char b) { return b == '\\' || b == '"'; }));
  }
  if (escaped <= kMaxRuleNameLength) {
    c.name.assign(comment);
  } else {
    c.name.clear();
  }
}

// With --new-only, false for a raw text met before; it is remembered otherwise.
bool is_new(Collector& c, RawHash hash) {
  return !c.seen || add_rule(*c.seen, hash);
}

// A line the buffer holds whole, its line feed aside.
void take_line(Collector& c, std::string_view line, bool newline) {
  // One final line feed or space goes; a carriage return before it stays.
  if (!newline && !line.empty() && line.back() == ' ') line.remove_suffix(1);
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  if (i == line.size()) {
    c.name.clear();  // a blank line separates a comment from the rule below
  } else if (line[i] == '#') {
    take_name(c, line.substr(i + 1));
  } else {
    if (!c.seen || is_new(c, hash_raw(line))) {
      begin_rule(c.writer, c.name);
      write_raw(c.writer, line);
      end_rule(c.writer);
    }
    c.name.clear();
  }
}

// What is known of a line longer than the buffer from the bytes read of it so far. Only
// a comment's name is kept, and of that no more than can still give a name.
struct LongLine {
  enum Kind {
    kBlank,         // nothing but spaces and tabs so far
    kCommentStart,  // a `#`, then blanks
    kComment,       // the name has begun
    kRule,
  };
  Kind kind = kBlank;
  std::size_t length = 0;  // bytes of the line, its line feed aside
  char last = 0;           // its last byte
  std::string name;
  std::size_t name_length = 0;  // counted with backslashes and quotes escaped
  // The rule's bytes go out as they are read: its kind was known from the first piece.
  bool streaming = false;
  bool space_held = false;  // a final space not yet passed on
  RawHasher hasher;
};

void classify(LongLine& line, std::string_view piece) {
  line.length += piece.size();
  line.last = piece.back();
  std::size_t i = 0;
  if (line.kind == LongLine::kBlank) {
    while (i < piece.size() && is_blank(piece[i])) ++i;
    if (i == piece.size()) return;
    if (piece[i] != '#') {
      line.kind = LongLine::kRule;
      return;
    }
    line.kind = LongLine::kCommentStart;
    ++i;
  }
  if (line.kind == LongLine::kCommentStart) {
    while (i < piece.size() && is_blank(piece[i])) ++i;
    if (i == piece.size()) return;
    line.kind = LongLine::kComment;
  }
  if (line.kind == LongLine::kComment) {
    // One more byte than the limit is kept: a final space may still be taken off.
    std::size_t end = i;
    for (; end < piece.size() && line.name_length <= kMaxRuleNameLength + 1; ++end) {
      line.name_length += piece[end] == '\\' || piece[end] == '"' ? 2 : 1;
    }
    line.name.append(piece.substr(i, end - i));
  }
}

void pass_raw(Collector& c, LongLine& line, std::string_view piece) {
  if (line.streaming) write_raw(c.writer, piece);
  if (c.seen) hash_more(line.hasher, piece);
}

// Passes the next bytes of a streamed rule on, to the writer or to the hasher; a final
// space is held back until the next bytes or the line's end show whether it goes.
void pass_on(Collector& c, LongLine& line, std::string_view piece) {
  if (piece.empty()) return;
  if (line.space_held) {
    line.space_held = false;
    pass_raw(c, line, " ");
  }
  if (piece.back() == ' ') {
    piece.remove_suffix(1);
    line.space_held = true;
  }
  pass_raw(c, line, piece);
}

// Reads `length` bytes at `start` again, a piece at a time, for `each`. False when the
// file shrank, or reading failed, since the bytes were first read.
template <typename Each>
bool reread(FileReader& r, off_t start, std::size_t length, Each each) {
  if (!r.reread) r.reread.reset(new char[kRawPieceSize]);
  while (length > 0) {
    std::size_t piece = std::min(length, kRawPieceSize);
    std::size_t done = 0;
    while (done < piece) {
      ssize_t n =
          r.read_at(r.fd, r.reread.get() + done, piece - done, start + static_cast<off_t>(done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<std::size_t>(n);
    }
    each(std::string_view(r.reread.get(), piece));
    start += static_cast<off_t>(piece);
    length -= piece;
  }
  return true;
}

// The rule at the end of a long line that was not streamed: its first blanks were
// longer than the buffer, or --new-only must see the whole line before it is written.
// Its bytes are read a second time.
bool finish_unstreamed_rule(Collector& c, FileReader& r, LongLine& line, off_t start,
                            std::size_t length, bool hashed) {
  if (c.seen) {
    if (!hashed) {
      line.hasher = RawHasher();
      if (!reread(r, start, length, [&](std::string_view p) { hash_more(line.hasher, p); })) {
        return false;
      }
    }
    if (!is_new(c, hash_result(line.hasher))) return true;
  }
  begin_rule(c.writer, c.name);
  bool whole = reread(r, start, length, [&](std::string_view p) { write_raw(c.writer, p); });
  end_rule(c.writer);  // the object stays valid JSON; the run reports the failure
  return whole;
}

// Reads the line that fills the whole buffer to its end, in the same single pass: a rule
// whose kind its first bytes tell goes out as it is read. False when reading fails; a
// rule already begun is then closed with the bytes it has.
bool take_long_line(Collector& c, FileReader& r) {
  const off_t start = r.offset;
  LongLine line;
  bool from_start = true;  // every byte of the rule went through pass_on
  bool newline = false;
  for (;;) {
    const char* begin = r.buffer.get();
    const void* found = std::memchr(begin, '\n', r.length);
    std::size_t take =
        found ? static_cast<std::size_t>(static_cast<const char*>(found) - begin) : r.length;
    std::string_view piece(begin, take);
    if (!piece.empty()) {
      bool decided = line.kind == LongLine::kRule;
      classify(line, piece);
      if (!decided && line.kind == LongLine::kRule) {
        from_start = line.length == piece.size();
        if (from_start && !c.seen) {
          begin_rule(c.writer, c.name);
          line.streaming = true;
        }
      }
      if (line.kind == LongLine::kRule && from_start) pass_on(c, line, piece);
    }
    if (found) {
      newline = true;
      r.start = r.scanned = take + 1;
      break;
    }
    r.offset += static_cast<off_t>(r.length);
    r.length = r.start = r.scanned = 0;
    if (!read_more(r)) {
      if (line.streaming) end_rule(c.writer);
      return false;
    }
    if (r.at_end) break;
  }
  if (newline && line.space_held) pass_raw(c, line, " ");
  bool final_space = !newline && line.last == ' ';
  switch (line.kind) {
    case LongLine::kBlank:
    case LongLine::kCommentStart:
      c.name.clear();
      break;
    case LongLine::kComment:
      if (final_space) {
        // When the name was cut short it is too long either way.
        line.name.pop_back();
        --line.name_length;
      }
      c.name.clear();
      if (line.name_length <= kMaxRuleNameLength) c.name = line.name;
      break;
    case LongLine::kRule:
      if (line.streaming) {
        end_rule(c.writer);
      } else if (!finish_unstreamed_rule(c, r, line, start, line.length - (final_space ? 1 : 0),
                                         from_start)) {
        return false;
      }
      c.name.clear();
      break;
  }
  return true;
}

bool collect_lines(FileReader& r, Collector& c) {
  for (;;) {
    const char* base = r.buffer.get();
    const void* found = std::memchr(base + r.scanned, '\n', r.length - r.scanned);
    if (found) {
      auto end = static_cast<std::size_t>(static_cast<const char*>(found) - base);
      take_line(c, std::string_view(base + r.start, end - r.start), true);
      r.start = r.scanned = end + 1;
      continue;
    }
    r.scanned = r.length;
    if (r.at_end) {
      if (r.start < r.length) {
        take_line(c, std::string_view(base + r.start, r.length - r.start), false);
      }
      return true;
    }
    if (r.start > 0) {
      // The unfinished line goes to the front; the rest of it is read after it.
      std::memmove(r.buffer.get(), base + r.start, r.length - r.start);
      r.offset += static_cast<off_t>(r.start);
      r.length -= r.start;
      r.scanned = r.length;
      r.start = 0;
    }
    if (r.length == kReadBuffer) {
      if (!take_long_line(c, r)) return false;
      continue;
    }
    if (!read_more(r)) return false;
  }
}

}  // namespace

bool collect_file_rules(int fd, RuleWriter& writer, ReadAt read_at, RuleSet* seen) {
  FileReader reader;
  reader.fd = fd;
  reader.read_at = read_at;
  Collector collector{writer, seen, {}};
  bool whole = collect_lines(reader, collector);
  flush_rules(writer);
  return whole;
}

bool collect_rules(std::string_view root, WalkSkip skip, RuleWriter& writer, FILE* err,
                   RuleSet* seen) {
  DirectoryWalkPtr walk = start_walk(root, std::move(skip), err);
  std::string path;
  while (!std::ferror(writer.out)) {
    int fd = next_file(*walk, path);
    if (fd < 0) break;
    if (!collect_file_rules(fd, writer, pread, seen)) report_read_failure(*walk);
  }
  return walk_complete(*walk);
}
