// The directory walk: lists the regular files below a directory in a fixed order (a
// directory before its contents, names in byte order), one open file at a time, and
// reports every entry it could not read.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fault.h"
#include "file_identity.h"

// An entry of a directory, by the directory's identity and path and the entry's name.
struct FilePlace {
  FileIdentity directory;
  std::string directory_path;
  std::string name;
};

// What the walk passes over without a word: the program's own output.
struct WalkSkip {
  std::vector<FileIdentity> files;  // regular files, by identity
  // By place: the entries named, and the temporary files made for them beside them (see
  // is_temporary_name), as entries of the walk; and a file opened that is the one now at
  // such a place, or whose own name is such a place, however the walk reached it (a link
  // to the output of another run that is writing it too).
  std::vector<FilePlace> places;
};

struct DirectoryWalk;

struct DirectoryWalkDeleter {
  void operator()(DirectoryWalk* walk) const;
};
using DirectoryWalkPtr = std::unique_ptr<DirectoryWalk, DirectoryWalkDeleter>;

// Starts a walk of the directory `root` (a path relative to the working directory, such
// as "tmp"). What `skip` names is passed over without a word: it is the program's own
// output. A missing root, or a root that is not a directory, is an empty walk without a
// fault; a root that cannot be listed is reported as "failed to read <root>/". Faults
// are added to `faults` in the order they are met, each of kind kEntry, with the path
// shown as messages show it.
DirectoryWalkPtr start_walk(std::string_view root, WalkSkip skip, std::vector<Fault>& faults);

// Opens the next regular file, or a symbolic link to one, and returns its descriptor,
// open for reading until the next call; -1 when the walk is over. `path` is then the
// file's path as walked, beginning with the root. Entries that cannot be opened are
// reported as "failed to open <path>", directories that cannot be listed (or that
// would lead the walk round in a cycle) and files whose identity cannot be had once
// open as "failed to read <path>"; the walk goes on
// with every other entry. Symbolic links to directories are not followed, and FIFOs,
// sockets and devices are never opened.
int next_file(DirectoryWalk& walk, std::string& path);

// Reports that the file last returned could not be read to its end.
void report_read_failure(DirectoryWalk& walk);

// True when every entry below the root was read: nothing was reported.
bool walk_complete(const DirectoryWalk& walk);
