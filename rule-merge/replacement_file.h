// The replacement file: output meant for a named file is written to a temporary file
// beside it, which takes the file's place only once the output is complete.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "directory_walk.h"

struct ReplacementFile {
  std::string target;       // the file to replace, as named
  std::string destination;  // the target, or the file it links to, which is replaced
  std::string temporary;    // the temporary file in the destination's directory
  std::optional<FileIdentity> existing;
  FILE* stream = nullptr;
  bool committed = false;
};

struct ReplacementFileDeleter {
  // Closes and removes the temporary file unless it has taken the target's place.
  void operator()(ReplacementFile* file) const;
};
using ReplacementFilePtr = std::unique_ptr<ReplacementFile, ReplacementFileDeleter>;

// Creates the temporary file for `target`. A new target will get mode 0644 less the
// umask, an existing one keeps its mode. On failure (no such directory, no permission,
// a target that is not a regular file) writes "failed to write <target>" to `err` and
// returns none.
ReplacementFilePtr create_replacement(std::string_view target, FILE* err);

// The identities of the files output to `file` must not be read back from: the
// temporary file, and the target when it exists.
void replacement_identities(const ReplacementFile& file, std::vector<FileIdentity>& identities);

// Writes out what the stream still holds. On failure writes "failed to write <target>"
// to `err` and returns false.
bool flush_replacement(ReplacementFile& file, FILE* err);

// Flushes the temporary file to disk and renames it over the target. On failure writes
// "failed to write <target>" to `err`, removes the temporary file, leaves the target as
// it was and returns false.
bool commit_replacement(ReplacementFile& file, FILE* err);
