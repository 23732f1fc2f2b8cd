// File identity: fstat's device and inode, and the temporary names beside an output.
#include "file_identity.h"

#include <sys/stat.h>

#include <algorithm>

namespace {

constexpr std::size_t kMaxNameLength = 255;  // NAME_MAX of Linux file systems

}  // namespace

bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.inode == b.inode;
}

bool file_identity(int fd, FileIdentity& identity) {
  std::optional<FileStatus> status = file_status(fd);
  if (!status) return false;
  identity = status->identity;
  return true;
}

std::optional<FileStatus> file_status(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return std::nullopt;
  return FileStatus{{st.st_dev, st.st_ino}, S_ISREG(st.st_mode), st.st_nlink > 0};
}

std::string temporary_name_prefix(std::string_view target) {
  constexpr std::size_t kMaxTarget = kMaxNameLength - 2 - kTemporarySuffixLength;
  std::string prefix = ".";
  prefix += target.substr(0, kMaxTarget);
  prefix += '.';
  return prefix;
}

bool is_temporary_name(std::string_view name, std::string_view target) {
  std::string prefix = temporary_name_prefix(target);
  if (name.size() != prefix.size() + kTemporarySuffixLength || !name.starts_with(prefix)) {
    return false;
  }
  return std::all_of(name.end() - kTemporarySuffixLength, name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}
