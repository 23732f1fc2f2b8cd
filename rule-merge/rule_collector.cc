// The rule collector: every file the walk lists is read once, front to back, into one
// buffer; the unfinished line at its end is carried to the front before the next read,
// and a comment names the rule line below it.
#include "rule_collector.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "text_escape.h"

namespace {

// The read buffer: every line that fits it is read whole before its object is written.
constexpr std::size_t kReadBuffer = std::size_t{1} << 18;
constexpr std::size_t kMaxRuleNameLength = 999;  // longer comment names give no name

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

struct Collector {
  RuleWriter& writer;
  RuleSet* seen = nullptr;  // with --new-only, the raw texts met so far
  std::string name;         // the pending rule name, as read; empty when there is none
  bool long_rules = false;  // with --new-only, a rule line was left out as too long
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
  bool failed = false;             // a read failed: no more is read
  std::unique_ptr<char[]> reread;  // for the few long lines read a second time
};

// Reads what follows the bytes in the buffer into the room after them, in one read: the
// lines that arrive before an error are then handled before it is met.
bool read_more(FileReader& r) {
  while (!r.failed) {
    ssize_t n = r.read_at(r.fd, r.buffer.get() + r.length, kReadBuffer - r.length,
                          r.offset + static_cast<off_t>(r.length));
    if (n >= 0) {
      r.length += static_cast<std::size_t>(n);
      r.at_end = n == 0;
      return true;
    }
    if (errno != EINTR) r.failed = true;
  }
  return false;
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

// With --new-only, whether the rule line goes in: not when its raw text, as the written
// JSON string stands for it, was met before (it is remembered otherwise), nor when the
// written string would be too long to be read back.
bool is_new(Collector& c, std::string_view line) {
  constexpr std::size_t kSureToFit = kMaxNewOnlyRaw / kMaxJsonEscapeLength;
  if (line.size() > kSureToFit &&
      (line.size() > kMaxNewOnlyRaw || json_escaped_size(line) > kMaxNewOnlyRaw)) {
    c.long_rules = true;
    return false;
  }
  bool ascii = true;
  RawHash hash = hash_raw(line, ascii);
  if (ascii || utf8_valid_prefix(line) == line.size()) return add_rule(*c.seen, hash);
  std::string meant;
  append_utf8_mended(meant, line);
  return add_rule(*c.seen, hash_raw(meant));
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
    if (!c.seen || is_new(c, line)) {
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

// Passes the next bytes of a streamed rule on to the writer; a final space is held back
// until the next bytes or the line's end show whether it goes.
void pass_on(Collector& c, LongLine& line, std::string_view piece) {
  if (piece.empty()) return;
  if (line.space_held) {
    line.space_held = false;
    write_raw(c.writer, " ");
  }
  if (piece.back() == ' ') {
    piece.remove_suffix(1);
    line.space_held = true;
  }
  write_raw(c.writer, piece);
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

// The rule at the end of a long line that was not streamed, as its first blanks were
// longer than the buffer. Its bytes are read a second time.
bool finish_unstreamed_rule(Collector& c, FileReader& r, off_t start, std::size_t length) {
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
      // A rule streams when its kind shows in the first piece; with --new-only it is far
      // too long to be merged at all.
      if (!decided && line.kind == LongLine::kRule && line.length == piece.size() && !c.seen) {
        begin_rule(c.writer, c.name);
        line.streaming = true;
      }
      if (line.streaming) pass_on(c, line, piece);
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
  if (newline && line.space_held) write_raw(c.writer, " ");
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
      } else if (c.seen) {
        c.long_rules = true;  // far longer than a string the document can hold
      } else if (!finish_unstreamed_rule(c, r, start, line.length - (final_space ? 1 : 0))) {
        return false;
      }
      c.name.clear();
      break;
  }
  return true;
}

// Reads until the buffer holds the first block of the file, or the whole file when it is
// shorter, or a read fails.
void read_first_block(FileReader& r) {
  while (!r.at_end && r.length < kFirstBlock && read_more(r)) {
  }
}

// True when the bytes begin with the magic of bzip2: "BZh", the block size, then the
// magic of a block or of the end of the stream.
bool is_bzip2(std::string_view head) {
  return head.size() >= 10 && head.starts_with("BZh") && head[3] >= '1' && head[3] <= '9' &&
         (head.substr(4, 6) == "\x31\x41\x59\x26\x53\x59" ||
          head.substr(4, 6) == "\x17\x72\x45\x38\x50\x90");
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

// Kept out of line: called once a file, it would only crowd the registers of the line
// loop it would be put into.
[[gnu::noinline]] bool is_binary(std::string_view first_block) {
  // The magic bytes of the compressed files and archives rule sets come in.
  struct Magic {
    std::size_t offset;
    std::string_view bytes;
  };
  static constexpr Magic kMagics[] = {
      {0, "\x1f\x8b"},  // gzip
      {0, std::string_view("\xfd"
                           "7zXZ\0",
                           6)},  // xz
      {0, "\x28\xb5\x2f\xfd"},   // zstd
      {0, "PK\x03\x04"},         // zip
      {0, "PK\x05\x06"},         // zip, empty
      {0, "PK\x07\x08"},         // zip, spanned
      {257, "ustar"},            // tar (POSIX and GNU)
  };
  if (first_block.find('\0') != std::string_view::npos || is_bzip2(first_block)) return true;
  return std::any_of(std::begin(kMagics), std::end(kMagics), [&](const Magic& magic) {
    return first_block.substr(std::min(magic.offset, first_block.size())).starts_with(magic.bytes);
  });
}

}  // namespace

FileRules collect_file_rules(int fd, RuleWriter& writer, ReadAt read_at, RuleSet* seen) {
  FileReader reader;
  reader.fd = fd;
  reader.read_at = read_at;
  FileRules result;
  // When reading fails in the first block, the lines read whole before it are merged
  // unless what was read is already not text.
  read_first_block(reader);
  if (is_binary(std::string_view(reader.buffer.get(), std::min(reader.length, kFirstBlock)))) {
    result.binary = true;
    return result;
  }
  Collector collector{writer, seen, {}, false};
  result.whole = collect_lines(reader, collector);
  result.long_rules = collector.long_rules;
  flush_rules(writer);
  return result;
}

Collected collect_rules(std::string_view root, WalkSkip skip, RuleWriter& writer,
                        std::vector<Fault>& faults, RuleSet* seen) {
  DirectoryWalkPtr walk = start_walk(root, std::move(skip), faults);
  std::string path;
  bool skipped = false;
  while (!std::ferror(writer.out)) {
    int fd = next_file(*walk, path);
    if (fd < 0) break;
    FileRules file = collect_file_rules(fd, writer, pread, seen);
    if (file.binary)
      faults.push_back(fault_showing(FaultKind::kSkipped, "skipped binary file ", path));
    if (file.long_rules) {
      faults.push_back(fault_showing(FaultKind::kSkipped, "too long rule for -n in ", path));
    }
    skipped = skipped || file.binary || file.long_rules;
    if (!file.whole) report_read_failure(*walk);
  }
  if (!walk_complete(*walk)) return Collected::kIncomplete;
  return skipped ? Collected::kSkipped : Collected::kWhole;
}
