// The replacement file: a temporary file made with mkostemp beside the destination,
// flushed to disk and renamed over it, so the destination always holds either its old
// contents or the complete new ones.
#include "replacement_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "text_escape.h"

namespace {

constexpr mode_t kNewFileMode = 0644;
constexpr std::size_t kStreamBuffer = std::size_t{1} << 16;

void report(const ReplacementFile& file, FILE* err) {
  std::fputs("failed to write ", err);
  put_message_text(err, file.target);
  std::fputc('\n', err);
}

mode_t current_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

std::string directory_of(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Makes a replaced file's data and its new name last through a crash: the file itself,
// then the directory that holds the name.
void sync_directory(const std::string& directory) {
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

void ReplacementFileDeleter::operator()(ReplacementFile* file) const {
  if (file->stream) std::fclose(file->stream);
  if (!file->committed && !file->temporary.empty()) unlink(file->temporary.c_str());
  delete file;
}

ReplacementFilePtr create_replacement(std::string_view target, FILE* err) {
  ReplacementFilePtr file(new ReplacementFile);
  file->target = target;
  file->destination = file->target;
  struct stat st;
  // A symbolic link stays a link: the file it leads to is the one replaced.
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
    if (!S_ISREG(st.st_mode)) {
      report(*file, err);
      return nullptr;
    }
    mode = st.st_mode & 07777;
    file->existing = FileIdentity{st.st_dev, st.st_ino};
  } else if (errno != ENOENT) {
    report(*file, err);
    return nullptr;
  }
  std::string directory = directory_of(file->destination);
  std::string base = file->destination.substr(file->destination.rfind('/') + 1);
  std::string temporary = directory + "/." + base + ".XXXXXX";
  int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) {
    report(*file, err);
    return nullptr;
  }
  file->temporary = temporary;
  // The owner is kept where the user may keep it; otherwise the file becomes the user's.
  if (exists && (st.st_uid != geteuid() || st.st_gid != getegid())) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not allowed: the replacement belongs to whoever wrote it.
    }
  }
  if (fchmod(fd, mode) != 0 || !(file->stream = fdopen(fd, "w"))) {
    if (!file->stream) close(fd);
    report(*file, err);
    return nullptr;
  }
  std::setvbuf(file->stream, nullptr, _IOFBF, kStreamBuffer);
  return file;
}

void replacement_identities(const ReplacementFile& file, std::vector<FileIdentity>& identities) {
  if (file.existing) identities.push_back(*file.existing);
  FileIdentity identity;
  if (file.stream && regular_file_identity(fileno(file.stream), identity)) {
    identities.push_back(identity);
  }
}

bool flush_replacement(ReplacementFile& file, FILE* err) {
  if (std::fflush(file.stream) == 0 && !std::ferror(file.stream)) return true;
  report(file, err);
  return false;
}

bool commit_replacement(ReplacementFile& file, FILE* err) {
  bool ok =
      std::fflush(file.stream) == 0 && !std::ferror(file.stream) && fsync(fileno(file.stream)) == 0;
  ok = std::fclose(file.stream) == 0 && ok;
  file.stream = nullptr;
  if (!ok || rename(file.temporary.c_str(), file.destination.c_str()) != 0) {
    report(file, err);
    return false;
  }
  file.committed = true;
  sync_directory(directory_of(file.destination));
  return true;
}
