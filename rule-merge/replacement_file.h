// The replacement file: output meant for a named file is written to a temporary file
// beside it, which takes the file's place only once the output is complete.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "fault.h"
#include "file_identity.h"

struct ReplacementFile {
  std::string target;       // the file to replace, as named
  std::string destination;  // the target, or the file it links to, which is replaced
  std::string directory;    // the destination's directory
  std::string name;         // the destination's name in it
  int directory_fd = -1;
  // The named temporary file, when the file system gives no file without a name.
  std::string temporary;
  std::optional<FileIdentity> existing;
  FILE* stream = nullptr;
  bool committed = false;
};

struct ReplacementFileDeleter {
  // Closes and removes the temporary file unless it has taken the target's place.
  void operator()(ReplacementFile* file) const;
};
using ReplacementFilePtr = std::unique_ptr<ReplacementFile, ReplacementFileDeleter>;

// The fault of every failure below: "failed to write <target>".
Fault write_fault(std::string_view target);

// Creates the temporary file for `target`: a file without a name in the destination's
// directory (O_TMPFILE), or, where the file system refuses that, a named one that
// SIGINT, SIGTERM, SIGHUP and SIGPIPE remove. A new target will get mode 0644 less the
// umask, an existing one keeps its mode. Returns none on failure (no such directory, no
// permission, a target that is not a regular file). With `unnamed` false the named
// temporary file is made at once.
ReplacementFilePtr create_replacement(std::string_view target, bool unnamed = true);

// The directory that holds the file at `path`, as a path.
std::string directory_of(const std::string& path);

// Writes out what the stream still holds; false on failure.
bool flush_replacement(ReplacementFile& file);

// Flushes the temporary file to disk, names it and renames it over the target. On
// failure removes the temporary file, leaves the target as it was and returns false.
bool commit_replacement(ReplacementFile& file);
