// The directory walk: lists the regular files below a directory in a fixed order (a
// directory before its contents, names in byte order), one open file at a time, and
// reports every entry it could not read.
#pragma once

#include <sys/types.h>

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A file as the system knows it, whatever its path.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
};

struct DirectoryWalk;

struct DirectoryWalkDeleter {
  void operator()(DirectoryWalk* walk) const;
};
using DirectoryWalkPtr = std::unique_ptr<DirectoryWalk, DirectoryWalkDeleter>;

// Starts a walk of the directory `root` (a path relative to the working directory, such
// as "tmp"). Regular files whose identity is in `skip` are passed over without a word:
// they are the program's own output. A missing root, or a root that is not a
// directory, is an empty walk without a message; a root that cannot be listed is
// reported as "failed to read <root>/". Messages go to `err`.
DirectoryWalkPtr start_walk(std::string_view root, std::vector<FileIdentity> skip, FILE* err);

// Opens the next regular file, or a symbolic link to one, and returns its descriptor,
// open for reading until the next call; -1 when the walk is over. `path` is then the
// file's path as walked, beginning with the root. Entries that cannot be opened are
// reported as "failed to open <path>", directories that cannot be listed (or that
// would lead the walk round in a cycle) as "failed to read <path>"; the walk goes on
// with every other entry. Symbolic links to directories are not followed, and FIFOs,
// sockets and devices are never opened.
int next_file(DirectoryWalk& walk, std::string& path);

// Reports that the file last returned could not be read to its end.
void report_read_failure(DirectoryWalk& walk);

// True when every entry below the root was read: nothing was reported.
bool walk_complete(const DirectoryWalk& walk);

// The identity of the file open at `fd`, when it is a regular file.
bool regular_file_identity(int fd, FileIdentity& identity);
