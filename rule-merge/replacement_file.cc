// The replacement file: a file without a name (O_TMPFILE) in the destination's
// directory, flushed to disk, linked under a temporary name and renamed over the
// destination, so the destination always holds either its old contents or the complete
// new ones, and no other run can see the file while it is written.
#include "replacement_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

constexpr mode_t kNewFileMode = 0644;
constexpr std::size_t kStreamBuffer = std::size_t{1} << 16;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr int kNameTries = 100;

// The named temporary file a signal must remove; empty when there is none.
char cleanup_path[PATH_MAX + 1];
volatile sig_atomic_t cleanup_set = 0;

void remove_and_die(int signal_number) {
  if (cleanup_set) unlink(cleanup_path);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

void remove_on_signals(const std::string& path) {
  if (path.size() > PATH_MAX) return;
  cleanup_set = 0;
  std::memcpy(cleanup_path, path.c_str(), path.size() + 1);
  cleanup_set = 1;
  for (int signal_number : kCleanupSignals) {
    // A signal the caller chose to ignore (nohup, a background job) stays ignored.
    struct sigaction before {};
    if (sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_and_die;
    sigemptyset(&action.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal_number, &action, nullptr);
  }
}

void forget_on_signals() {
  cleanup_set = 0;
}

mode_t current_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// Makes a replaced file's data and its new name last through a crash: the file itself,
// then the directory that holds the name.
void sync_directory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// A fresh temporary name for the unnamed file, of the same form mkostemp gives.
std::string temporary_name(const std::string& name, unsigned long long& state) {
  constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string temporary = temporary_name_prefix(name);
  for (std::size_t i = 0; i < kTemporarySuffixLength; ++i) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    temporary += kLetters[(state >> 33) % (sizeof kLetters - 1)];
  }
  return temporary;
}

// Gives the unnamed file a temporary name in its directory, where the rename can take it.
bool link_unnamed(ReplacementFile& file) {
  int fd = fileno(file.stream);
  std::string proc_path = "/proc/self/fd/" + std::to_string(fd);
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long state = static_cast<unsigned long long>(now.tv_nsec) ^
                             (static_cast<unsigned long long>(getpid()) << 32);
  for (int i = 0; i < kNameTries; ++i) {
    std::string name = temporary_name(file.name, state);
    file.temporary = file.directory + "/" + name;
    remove_on_signals(file.temporary);
    int linked =
        linkat(AT_FDCWD, proc_path.c_str(), file.directory_fd, name.c_str(), AT_SYMLINK_FOLLOW);
    if (linked != 0 && errno == ENOENT) {
      // No /proc: the descriptor itself, where the user may link it so.
      linked = linkat(fd, "", file.directory_fd, name.c_str(), AT_EMPTY_PATH);
    }
    if (linked == 0) return true;
    forget_on_signals();
    file.temporary.clear();
    if (errno != EEXIST) return false;
  }
  return false;
}

}  // namespace

Fault write_fault(std::string_view target) {
  return fault_showing(FaultKind::kWrite, "failed to write ", target);
}

std::string directory_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

void ReplacementFileDeleter::operator()(ReplacementFile* file) const {
  if (file->stream) std::fclose(file->stream);
  if (!file->committed && !file->temporary.empty()) unlink(file->temporary.c_str());
  forget_on_signals();
  if (file->directory_fd >= 0) close(file->directory_fd);
  delete file;
}

ReplacementFilePtr create_replacement(std::string_view target, bool unnamed) {
  ReplacementFilePtr file(new ReplacementFile);
  file->target = target;
  file->destination = file->target;
  struct stat st;
  // A link to a file stays a link: the file it leads to is the one replaced. A dangling
  // link leads nowhere that could be checked, and is replaced by a regular file.
  if (lstat(file->target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* resolved = realpath(file->target.c_str(), nullptr);
    if (resolved) {
      file->destination = resolved;
      std::free(resolved);
    }
  }
  mode_t mode = kNewFileMode & ~current_umask();
  bool exists = stat(file->destination.c_str(), &st) == 0;
  if (exists) {
    // Replacing a device, a FIFO or a directory by a regular file is never wanted.
    if (!S_ISREG(st.st_mode)) return nullptr;
    mode = st.st_mode & 07777;
    file->existing = FileIdentity{st.st_dev, st.st_ino};
  } else if (errno != ENOENT) {
    return nullptr;
  }
  file->directory = directory_of(file->destination);
  file->name = file->destination.substr(file->destination.rfind('/') + 1);
  file->directory_fd = open(file->directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (file->directory_fd < 0) return nullptr;
  int fd = unnamed ? openat(file->directory_fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode) : -1;
  if (fd < 0) {
    // A file system without files that have no name: a named one, removed by signals.
    std::string temporary = file->directory + "/" + temporary_name_prefix(file->name) + "XXXXXX";
    fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    file->temporary = temporary;
    remove_on_signals(file->temporary);
  }
  // The owner is kept where the user may keep it; otherwise the file becomes the user's.
  if (exists && (st.st_uid != geteuid() || st.st_gid != getegid())) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not allowed: the replacement belongs to whoever wrote it.
    }
  }
  if (fchmod(fd, mode) != 0 || !(file->stream = fdopen(fd, "w"))) {
    if (!file->stream) close(fd);
    return nullptr;
  }
  std::setvbuf(file->stream, nullptr, _IOFBF, kStreamBuffer);
  return file;
}

bool flush_replacement(ReplacementFile& file) {
  return std::fflush(file.stream) == 0 && !std::ferror(file.stream);
}

bool commit_replacement(ReplacementFile& file) {
  bool ok =
      std::fflush(file.stream) == 0 && !std::ferror(file.stream) && fsync(fileno(file.stream)) == 0;
  ok = ok && (!file.temporary.empty() || link_unnamed(file));
  ok = std::fclose(file.stream) == 0 && ok;
  file.stream = nullptr;
  std::string temporary_name = file.temporary.substr(file.temporary.rfind('/') + 1);
  if (!ok || renameat(file.directory_fd, temporary_name.c_str(), file.directory_fd,
                      file.name.c_str()) != 0) {
    return false;
  }
  file.committed = true;
  forget_on_signals();
  sync_directory(file.directory);
  return true;
}
