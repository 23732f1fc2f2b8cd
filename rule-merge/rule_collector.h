// The rule collector: turns the lines of the plain-text files under tmp/ into disabled
// rule objects {"name":…,"enabled":false,"raw":…}, written as the lines are read.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <string_view>
#include <vector>

#include "directory_walk.h"
#include "fault.h"
#include "rule_set.h"
#include "rule_writer.h"

// With --new-only, the longest raw text written (escaped) that is merged: a longer string
// would be refused by the scanner when the merged document is read back.
constexpr std::size_t kMaxNewOnlyRaw = 8191;
// A file whose first block holds a zero byte or an archive's magic bytes is not text.
constexpr std::size_t kFirstBlock = 4096;

// Reads up to `size` bytes at `offset` of the file open at `fd`, as pread does.
using ReadAt = ssize_t (*)(int fd, void* buffer, std::size_t size, off_t offset);

enum class Collected {
  kWhole,       // every entry read, every rule line merged
  kSkipped,     // every entry read, but binary files or (with --new-only) too long rules
                // left out
  kIncomplete,  // some entries could not be read, or not to their end
};

// Walks the directory `root` and writes one rule object per rule line of every regular
// file below it (what `skip` names aside). Adds to `faults`, in order, the walk's faults
// and, for each file, "skipped binary file <path>" and "too long rule for -n in <path>"
// (of kind kSkipped) and "failed to read <path>" (when reading fails before the end).
// With `seen` (--new-only), a rule line whose raw text is in the set, or was met earlier
// in the run, is passed over.
Collected collect_rules(std::string_view root, WalkSkip skip, RuleWriter& writer,
                        std::vector<Fault>& faults, RuleSet* seen = nullptr);

// What reading one file gave, besides its rule objects.
struct FileRules {
  bool whole = true;        // false when reading failed before the end
  bool binary = false;      // not text: none of its lines was read for rules
  bool long_rules = false;  // with `seen`, rule lines left out as longer than kMaxNewOnlyRaw
};

// Writes the rule objects for the lines of the file open at `fd`, read with `read_at`,
// and flushes the writer. Every byte is read once, in order. A binary file gives none:
// one whose first block (kFirstBlock bytes, or the whole file when it is shorter) holds
// a zero byte, or begins with the magic bytes of gzip, bzip2, xz, zstd, zip or a tar
// archive.
// A line counts once its newline or the end of the file has been read: an object is
// written only then, for every line that fits the 256 KiB read buffer. Returns false
// when reading fails before the end; the line being read then is not written, unless it
// is a longer rule line already being written: its object is then closed with the
// bytes read. Memory stays the same whatever the length of a line. A longer rule line
// is read a second time only when its first 256 KiB are blanks. With `seen`, a rule line
// whose raw text was met before, or whose written raw would be longer than
// kMaxNewOnlyRaw, is passed over.
FileRules collect_file_rules(int fd, RuleWriter& writer, ReadAt read_at = pread,
                             RuleSet* seen = nullptr);
