// The directory walk: pre-order, siblings in byte order, one listed directory and one
// file open at a time besides the root, so depth costs no descriptors.
#include "directory_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace {

struct WalkFrame {
  std::vector<std::string> names;  // the directory's entries in byte order
  std::size_t next = 0;
  std::size_t path_length = 0;  // the directory's own path length in the walk's path
  FileIdentity identity;
};

void close_fd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads and sorts the names of the directory open at `fd`, so the output never depends
// on the file system's order.
bool read_names(int fd, std::vector<std::string>& names) {
  int copy = dup(fd);
  if (copy < 0) return false;
  DIR* dir = fdopendir(copy);
  if (!dir) {
    close(copy);
    return false;
  }
  bool ok = true;
  for (;;) {
    errno = 0;
    dirent* entry = readdir(dir);
    if (!entry) {
      ok = errno == 0;
      break;
    }
    std::string_view name = entry->d_name;
    if (name == "." || name == "..") continue;
    names.emplace_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  return ok;
}

// True when ".." can be opened from the directory at `fd`: a directory that can be
// listed but not searched fails this, and none of its entries could be opened.
bool can_search(int fd) {
  int parent = openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return false;
  close(parent);
  return true;
}

}  // namespace

struct DirectoryWalk {
  int root_fd = -1;  // kept open: the way back when the tree moves during the walk
  int dir_fd = -1;   // the directory being listed
  int file_fd = -1;  // the file last handed out
  std::vector<WalkFrame> stack;
  std::string path;  // the path of the entry last looked at
  std::string file_path;
  WalkSkip skip;
  std::vector<Fault>* faults = nullptr;
  bool complete = true;
};

void DirectoryWalkDeleter::operator()(DirectoryWalk* walk) const {
  close_fd(walk->file_fd);
  close_fd(walk->dir_fd);
  close_fd(walk->root_fd);
  delete walk;
}

namespace {

void report(DirectoryWalk& walk, std::string_view what, std::string_view path) {
  walk.faults->push_back(fault_showing(FaultKind::kEntry, what, path));
  walk.complete = false;
}

bool identity_at(const std::string& path, FileIdentity& identity) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  identity = {st.st_dev, st.st_ino};
  return true;
}

// True when the file open at `fd` is the output, however the walk reached it: the file
// now at one of the output's places (another run may have renamed its output there since
// this run began), or a file whose own name, as /proc tells it, is such a place or a
// temporary file for it, even one replaced since it was opened.
bool leads_to_output(const DirectoryWalk& walk, int fd, const FileStatus& status) {
  FileIdentity identity;
  for (const FilePlace& place : walk.skip.places) {
    if (identity_at(place.directory_path + "/" + place.name, identity) &&
        same_file(identity, status.identity)) {
      return true;
    }
  }
  if (walk.skip.places.empty()) return false;
  char own_path[PATH_MAX];
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  ssize_t length = readlink(link.c_str(), own_path, sizeof own_path);
  if (length <= 0 || static_cast<std::size_t>(length) == sizeof own_path) return false;
  std::string_view own(own_path, static_cast<std::size_t>(length));
  constexpr std::string_view kGone = " (deleted)";
  if (!status.linked && own.ends_with(kGone)) own.remove_suffix(kGone.size());
  std::size_t slash = own.rfind('/');
  if (slash == std::string_view::npos) return false;
  std::string directory(own.substr(0, slash == 0 ? 1 : slash));
  std::string_view name = own.substr(slash + 1);
  return std::any_of(walk.skip.places.begin(), walk.skip.places.end(), [&](const FilePlace& place) {
    return (name == place.name || is_temporary_name(name, place.name)) &&
           identity_at(directory, identity) && same_file(identity, place.directory);
  });
}

bool on_stack(const DirectoryWalk& walk, const FileIdentity& identity) {
  return std::any_of(walk.stack.begin(), walk.stack.end(),
                     [&](const WalkFrame& frame) { return same_file(frame.identity, identity); });
}

// Enters the directory `name` of the directory being listed, whose path is walk.path.
void enter(DirectoryWalk& walk, const std::string& name) {
  int child = openat(walk.dir_fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  WalkFrame frame;
  frame.path_length = walk.path.size();
  // A directory met again below itself (a bind mount of one of its ancestors) would
  // lead the walk round for ever.
  bool ok = child >= 0 && file_identity(child, frame.identity) && !on_stack(walk, frame.identity) &&
            can_search(child) && read_names(child, frame.names);
  if (!ok) {
    report(walk, "failed to read ", walk.path);
    close_fd(child);
    return;
  }
  close_fd(walk.dir_fd);
  walk.dir_fd = child;
  walk.stack.push_back(std::move(frame));
}

bool has_entries_left(const DirectoryWalk& walk, std::size_t from_level) {
  return std::any_of(walk.stack.begin() + static_cast<std::ptrdiff_t>(from_level), walk.stack.end(),
                     [](const WalkFrame& frame) { return frame.next < frame.names.size(); });
}

// Makes the directory at the top of the stack the one listed again, after the walk has
// left one of its sub-directories. Usually ".." leads there. When the sub-directory was
// moved, the way back goes down from the root by name, checking each directory on the
// way; a directory that is no longer where it was costs only the entries below it.
void climb(DirectoryWalk& walk) {
  int parent = openat(walk.dir_fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FileIdentity identity;
  if (parent >= 0 && file_identity(parent, identity) &&
      same_file(identity, walk.stack.back().identity)) {
    close_fd(walk.dir_fd);
    walk.dir_fd = parent;
    return;
  }
  close_fd(parent);
  int fd = dup(walk.root_fd);
  for (std::size_t level = 1; fd >= 0 && level < walk.stack.size(); ++level) {
    const WalkFrame& above = walk.stack[level - 1];
    const std::string& name = above.names[above.next - 1];
    int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (child < 0 || !file_identity(child, identity) ||
        !same_file(identity, walk.stack[level].identity)) {
      close_fd(child);
      if (has_entries_left(walk, level)) {
        walk.path.resize(walk.stack[level].path_length);
        report(walk, "failed to read ", walk.path);
      }
      walk.stack.resize(level);
      break;
    }
    close(fd);
    fd = child;
  }
  close_fd(walk.dir_fd);
  walk.dir_fd = fd;
  if (fd < 0) {
    // Out of descriptors: nothing more can be reached.
    walk.path.resize(walk.stack.front().path_length);
    report(walk, "failed to read ", walk.path + "/");
    walk.stack.clear();
  }
}

// Opens the entry `name` of the directory being listed when it is a regular file or a
// link to one; -1 otherwise. A FIFO is never opened, as that would wait for a writer.
int open_file(DirectoryWalk& walk, const std::string& name) {
  struct stat st;
  if (fstatat(walk.dir_fd, name.c_str(), &st, 0) != 0) {
    // A dangling link or a link loop cannot be opened; any other failure is one to read
    // what the entry is.
    const bool unreachable = errno == ENOENT || errno == ELOOP || errno == ENOTDIR;
    report(walk, unreachable ? "failed to open " : "failed to read ", walk.path);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) return -1;
  // O_NONBLOCK keeps a file swapped for a FIFO since the check from blocking the open.
  int fd = openat(walk.dir_fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    report(walk, "failed to open ", walk.path);
    return -1;
  }
  // Without its identity the file could be the program's own output.
  std::optional<FileStatus> status = file_status(fd);
  if (!status) {
    report(walk, "failed to read ", walk.path);
    close(fd);
    return -1;
  }
  if (!status->regular ||
      std::any_of(walk.skip.files.begin(), walk.skip.files.end(),
                  [&](const FileIdentity& own) { return same_file(own, status->identity); }) ||
      leads_to_output(walk, fd, *status)) {
    close(fd);
    return -1;
  }
  return fd;
}

// True for the output file's own name, or a leftover of its temporary files, in the
// output's directory: another run's output may be there, and it is never merged.
bool is_output_place(const DirectoryWalk& walk, std::string_view name) {
  return std::any_of(walk.skip.places.begin(), walk.skip.places.end(), [&](const FilePlace& place) {
    return same_file(place.directory, walk.stack.back().identity) &&
           (name == place.name || is_temporary_name(name, place.name));
  });
}

}  // namespace

DirectoryWalkPtr start_walk(std::string_view root, WalkSkip skip, std::vector<Fault>& faults) {
  DirectoryWalkPtr walk(new DirectoryWalk);
  walk->skip = std::move(skip);
  walk->faults = &faults;
  walk->path = root;
  walk->root_fd = open(walk->path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (walk->root_fd < 0) {
    // No root, or a root that is not a directory (a link loop included): nothing to
    // walk and nothing to say.
    if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) {
      report(*walk, "failed to read ", walk->path + "/");
    }
    return walk;
  }
  WalkFrame frame;
  frame.path_length = walk->path.size();
  if (!file_identity(walk->root_fd, frame.identity) || !read_names(walk->root_fd, frame.names)) {
    report(*walk, "failed to read ", walk->path + "/");
    return walk;
  }
  walk->dir_fd = dup(walk->root_fd);
  if (walk->dir_fd < 0) {
    report(*walk, "failed to read ", walk->path + "/");
    return walk;
  }
  walk->stack.push_back(std::move(frame));
  return walk;
}

int next_file(DirectoryWalk& walk, std::string& path) {
  close_fd(walk.file_fd);
  while (!walk.stack.empty()) {
    WalkFrame& frame = walk.stack.back();
    if (frame.next == frame.names.size()) {
      walk.stack.pop_back();
      if (!walk.stack.empty()) climb(walk);
      continue;
    }
    const std::string& name = frame.names[frame.next++];
    walk.path.resize(frame.path_length);
    walk.path += '/';
    walk.path += name;
    // Decided by name alone, before the entry is looked at: another run may rename its
    // temporary file over the output at any moment, and the entry is then gone.
    if (is_output_place(walk, name)) continue;
    struct stat st;
    if (fstatat(walk.dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      // An entry gone since it was listed cannot be opened; one whose kind cannot be
      // told cannot be read.
      report(walk, errno == ENOENT ? "failed to open " : "failed to read ", walk.path);
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      enter(walk, name);
      continue;
    }
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) continue;
    int fd = open_file(walk, name);
    if (fd < 0) continue;
    walk.file_fd = fd;
    walk.file_path = walk.path;
    path = walk.path;
    return fd;
  }
  return -1;
}

void report_read_failure(DirectoryWalk& walk) {
  report(walk, "failed to read ", walk.file_path);
}

bool walk_complete(const DirectoryWalk& walk) {
  return walk.complete;
}
