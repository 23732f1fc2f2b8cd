// The rule collector: turns the lines of the plain-text files under tmp/ into disabled
// rule objects {"name":…,"enabled":false,"raw":…}, written as the lines are read.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <vector>

#include "directory_walk.h"
#include "rule_set.h"
#include "rule_writer.h"

constexpr std::size_t kMaxRuleNameLength = 999;  // longer comment names give no name

// Reads up to `size` bytes at `offset` of the file open at `fd`, as pread does.
using ReadAt = ssize_t (*)(int fd, void* buffer, std::size_t size, off_t offset);

// Walks the directory `root` and writes one rule object per rule line of every regular
// file below it (what `skip` names aside). Entries that cannot be read are reported to
// `err`; returns false when there was any. With `seen` (--new-only), a rule line whose
// raw text is in the set, or was met earlier in the run, is passed over.
bool collect_rules(std::string_view root, WalkSkip skip, RuleWriter& writer, FILE* err,
                   RuleSet* seen = nullptr);

// Writes the rule objects for the lines of the file open at `fd`, read with `read_at`,
// and flushes the writer. Every byte is read once, in order.
// A line counts once its newline or the end of the file has been read: an object is
// written only then, for every line that fits the 256 KiB read buffer. Returns false
// when reading fails before the end; the line being read then is not written, unless it
// is a longer rule line already being written: its object is then closed with the
// bytes read. Memory stays the same whatever the length of a line. A longer rule line
// is read a second time only when its first 256 KiB are blanks, or with `seen`.
bool collect_file_rules(int fd, RuleWriter& writer, ReadAt read_at = pread,
                        RuleSet* seen = nullptr);
