// The rule collector: a sorted, pre-order walk of tmp/ that streams every rule line of
// every regular file as a disabled rule object, named by the comment line above it.
#include "rule_collector.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr std::size_t kReadChunk = 1 << 18;  // bytes read from a rule file at a time

// For every byte, the text that stands for it inside a JSON string; empty when the
// byte is written as read.
constexpr std::array<std::array<char, 7>, 256> kEscapes = [] {
  std::array<std::array<char, 7>, 256> table{};
  constexpr char kHex[] = "0123456789abcdef";
  for (int b = 0; b < 0x20; ++b) {
    table[static_cast<std::size_t>(b)] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 15], 0};
  }
  table['\b'] = {'\\', 'b'};
  table['\t'] = {'\\', 't'};
  table['\n'] = {'\\', 'n'};
  table['\f'] = {'\\', 'f'};
  table['\r'] = {'\\', 'r'};
  table['"'] = {'\\', '"'};
  table['\\'] = {'\\', '\\'};
  return table;
}();

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

// Reads a descriptor line by line in large chunks; a line is handed out as a view into
// the chunk, or, when it spans chunks, into `carry`. Lines keep their newline.
struct LineReader {
  int fd = -1;
  std::unique_ptr<char[]> buffer{new char[kReadChunk]};
  std::size_t start = 0;
  std::size_t end = 0;
  std::string carry;
  bool at_end = false;
  bool failed = false;
};

bool fill(LineReader& r) {
  for (;;) {
    ssize_t n = read(r.fd, r.buffer.get(), kReadChunk);
    if (n >= 0) {
      r.start = 0;
      r.end = static_cast<std::size_t>(n);
      if (n == 0) r.at_end = true;
      return n > 0;
    }
    if (errno != EINTR) {
      r.failed = true;
      r.at_end = true;
      return false;
    }
  }
}

bool next_line(LineReader& r, std::string_view& line) {
  r.carry.clear();
  for (;;) {
    if (r.start == r.end && (r.at_end || !fill(r))) {
      line = r.carry;
      return !r.carry.empty();
    }
    const char* begin = r.buffer.get() + r.start;
    std::size_t available = r.end - r.start;
    const void* newline = std::memchr(begin, '\n', available);
    std::size_t length =
        newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - begin) + 1
                : available;
    r.start += length;
    if (newline && r.carry.empty()) {
      line = std::string_view(begin, length);
      return true;
    }
    r.carry.append(begin, length);
    if (newline) {
      line = r.carry;
      return true;
    }
  }
}

constexpr std::string_view kNameHead = "{\"name\":\"";
constexpr std::string_view kRawHead = "\",\"enabled\":false,\"raw\":\"";
constexpr std::string_view kTail = "\"}";

char* put(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// The length a comment name has once its backslashes and quotes are escaped.
std::size_t escaped_name_length(std::string_view name) {
  return name.size() + static_cast<std::size_t>(std::count_if(
                           name.begin(), name.end(), [](char c) { return c == '\\' || c == '"'; }));
}

char* put_escape(char* out, char c) {
  const std::array<char, 7>& escape = kEscapes[static_cast<unsigned char>(c)];
  std::size_t length = escape[1] == 'u' ? 6 : 2;
  std::memcpy(out, escape.data(), length);
  return out + length;
}

// Writes `text` escaped at `out`, which has room for six bytes per byte of text, and
// returns the position after the last byte written. Most bytes are written as read, so
// where SSE2 is there the text is taken sixteen bytes at a time up to the next byte
// to escape.
char* escape_into(char* out, std::string_view text) {
  const char* p = text.data();
  const char* end = p + text.size();
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i last_control = _mm_set1_epi8(0x1f);
  while (end - p >= 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(bytes, last_control), bytes);
    __m128i special = _mm_or_si128(
        control, _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)));
    // Sixteen bytes go out at once; those from the first special byte on are rewritten.
    // The room for six bytes per byte left covers the overshoot.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask == 0) {
      p += 16;
      out += 16;
      continue;
    }
    auto plain = static_cast<unsigned>(__builtin_ctz(mask));
    p += plain;
    out = put_escape(out + plain, *p++);
  }
#endif
  for (; p < end; ++p) {
    out = kEscapes[static_cast<unsigned char>(*p)][0] ? put_escape(out, *p) : (*out = *p, out + 1);
  }
  return out;
}

constexpr std::size_t kMaxEscapeLength = 6;  // \u00XX
// Room for one rule object of a usual line, or a 64 KiB piece of a longer one; always
// more than the head of an object, whose name is at most 999 characters escaped for
// quotes and backslashes (six bytes each once control bytes are escaped too).
constexpr std::size_t kRecordSize = kMaxEscapeLength * (std::size_t{1} << 16);
static_assert(kRecordSize > 64 + kMaxEscapeLength * kMaxRuleNameLength);

}  // namespace

void append_json_escaped(std::string& escaped, std::string_view text) {
  std::size_t old_size = escaped.size();
  escaped.resize(old_size + kMaxEscapeLength * text.size());
  char* end = escape_into(escaped.data() + old_size, text);
  escaped.resize(static_cast<std::size_t>(end - escaped.data()));
}

bool collect_file_rules(int fd, bool first_rule, FILE* out, bool* read_failed) {
  LineReader reader;
  reader.fd = fd;
  std::string name;  // the pending rule name, escaped; empty when there is none
  std::unique_ptr<char[]> record(new char[kRecordSize]);
  std::string_view line;
  while (next_line(reader, line)) {
    std::size_t start = 0;
    while (start < line.size() && is_blank(line[start])) ++start;
    std::size_t end = line.size();
    // One final newline or space goes; a carriage return before it stays.
    if (start < end && (line[end - 1] == '\n' || line[end - 1] == ' ')) --end;
    std::string_view whole = line.substr(0, end);
    std::string_view text = whole.substr(start);
    if (text.empty()) {
      name.clear();  // a blank line separates a comment from the rule below
    } else if (text[0] == '#') {
      std::size_t skip = 1;
      while (skip < text.size() && is_blank(text[skip])) ++skip;
      std::string_view comment = text.substr(skip);
      name.clear();
      if (escaped_name_length(comment) <= kMaxRuleNameLength) append_json_escaped(name, comment);
    } else {
      // The object: "%s{"name":"%s","enabled":false,"raw":"%s"}", put together in the
      // record buffer; a raw line too long for it goes out in several writes.
      char* const begin = record.get();
      char* const limit = begin + kRecordSize - kTail.size();
      char* cursor = begin;
      if (!first_rule) *cursor++ = ',';
      cursor = put(cursor, kNameHead);
      cursor = put(cursor, name);
      cursor = put(cursor, kRawHead);
      for (std::string_view rest = whole;;) {
        std::size_t fits = static_cast<std::size_t>(limit - cursor) / kMaxEscapeLength;
        std::string_view piece = rest.substr(0, fits);
        cursor = escape_into(cursor, piece);
        rest.remove_prefix(piece.size());
        if (rest.empty()) break;
        std::fwrite(begin, 1, static_cast<std::size_t>(cursor - begin), out);
        cursor = begin;
      }
      cursor = put(cursor, kTail);
      std::fwrite(begin, 1, static_cast<std::size_t>(cursor - begin), out);
      first_rule = false;
      name.clear();
    }
  }
  if (read_failed) *read_failed = reader.failed;
  return first_rule;
}

namespace {

struct Frame {
  std::vector<std::string> names;  // the directory's entries in byte order
  std::size_t next = 0;
  std::size_t path_length = 0;  // the directory's own path length in the shared path
  dev_t device = 0;
  ino_t inode = 0;
};

void report(FILE* err, const std::string& path) {
  std::fprintf(err, "failed to open %s\n", path.c_str());
}

// Reads and sorts the names of the directory open at `fd`, so the output never depends
// on the file system's order.
bool read_names(int fd, Frame& frame) {
  int copy = dup(fd);
  if (copy < 0) return false;
  DIR* dir = fdopendir(copy);
  if (!dir) {
    close(copy);
    return false;
  }
  while (dirent* entry = readdir(dir)) {
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    frame.names.emplace_back(name);
  }
  closedir(dir);
  std::sort(frame.names.begin(), frame.names.end());
  return true;
}

// True when ".." can be opened from the directory at `fd`, which the walk needs to
// return from it; a directory that cannot be searched fails this.
bool can_climb_back(int fd) {
  int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return false;
  close(parent);
  return true;
}

bool open_frame(int fd, std::size_t path_length, Frame& frame) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !read_names(fd, frame)) return false;
  frame.path_length = path_length;
  frame.device = st.st_dev;
  frame.inode = st.st_ino;
  return true;
}

// Opens the entry `name` of the directory at `dir_fd` when it is a regular file or a
// link to one, and writes its rules. Directories, links to directories, FIFOs, sockets
// and devices contribute nothing; a FIFO is never opened, as that would wait for a writer.
void collect_entry_rules(int dir_fd, const std::string& name, const std::string& path,
                         bool& first_rule, FILE* out, FILE* err) {
  struct stat st;
  if (fstatat(dir_fd, name.c_str(), &st, 0) != 0) {
    report(err, path);  // a dangling link or a link loop
    return;
  }
  if (!S_ISREG(st.st_mode)) return;
  // O_NONBLOCK keeps a file swapped for a FIFO since the check from blocking the open.
  int fd = openat(dir_fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    report(err, path);
    return;
  }
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    bool read_failed = false;
    first_rule = collect_file_rules(fd, first_rule, out, &read_failed);
    if (read_failed) report(err, path);  // the rules before the failure are kept
  }
  close(fd);
}

}  // namespace

bool collect_rules(bool first_rule, FILE* out, FILE* err) {
  std::string path = "tmp";
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    // No tmp/, or a tmp that is not a directory (a link loop included): no rules and
    // nothing to say.
    if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) report(err, path + "/");
    return first_rule;
  }
  // Only the directory being listed is open; climbing back goes through "..", checked
  // against the device and inode seen on the way down, so depth costs no descriptors.
  std::vector<Frame> stack(1);
  if (!open_frame(fd, path.size(), stack.back())) {
    report(err, path + "/");
    close(fd);
    return first_rule;
  }
  while (!stack.empty() && !std::ferror(out)) {
    Frame& frame = stack.back();
    if (frame.next == frame.names.size()) {
      stack.pop_back();
      if (stack.empty()) break;
      path.resize(stack.back().path_length);
      int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      struct stat st;
      bool same = parent >= 0 && fstat(parent, &st) == 0 && st.st_dev == stack.back().device &&
                  st.st_ino == stack.back().inode;
      close(fd);
      fd = parent;
      if (!same) {
        // The tree moved while it was walked: the way back is lost.
        report(err, path);
        if (parent >= 0) close(parent);
        return first_rule;
      }
      continue;
    }
    const std::string& name = frame.names[frame.next++];
    path.resize(frame.path_length);
    path += '/';
    path += name;
    struct stat st;
    if (fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      report(err, path);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      Frame next;
      if (child < 0 || !can_climb_back(child) || !open_frame(child, path.size(), next)) {
        // Unreadable, or readable but not searchable: none of its entries can be read.
        report(err, path);
        if (child >= 0) close(child);
        continue;
      }
      close(fd);
      fd = child;
      stack.push_back(std::move(next));
      continue;
    }
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)) {
      collect_entry_rules(fd, name, path, first_rule, out, err);
    }
  }
  if (fd >= 0) close(fd);
  return first_rule;
}
