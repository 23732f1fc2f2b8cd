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
#include "rule_writer.h"

constexpr std::size_t kMaxRuleNameLength = 999;  // longer comment names give no name

// Reads up to `size` bytes at `offset` of the file open at `fd`, as pread does.
using ReadAt = ssize_t (*)(int fd, void* buffer, std::size_t size, off_t offset);

// Walks the directory `root` and writes one rule object per rule line of every regular
// file below it (the files in `skip` aside). Entries that cannot be read are reported
// to `err`; returns false when there was any.
bool collect_rules(std::string_view root, std::vector<FileIdentity> skip, RuleWriter& writer,
                   FILE* err);

// Writes the rule objects for the lines of the file open at `fd`, read with `read_at`,
// and flushes the writer.
// A line counts once its newline or the end of the file has been read: returns false
// when reading fails before the end, and the line being read then is not written.
// Memory stays the same whatever the length of a line: a line longer than the read
// buffer is read once to find its end and class, and once more to be written.
bool collect_file_rules(int fd, RuleWriter& writer, ReadAt read_at = pread);
